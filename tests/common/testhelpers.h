#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

#include "tests/common/testfiles.h"

class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

// Helpers shared by the widget tests: answering modal dialogs and message
// boxes (the code under test runs them with exec()), typing, and working
// with the rows of a list.
namespace TestHelpers
{

// Answers the next modal widget in the manner of the ExecCloseHelper of Qt's
// own message box test: a timer waits (up to `timeoutMs`) for the active
// modal widget and runs `answer` on it inside the nested event loop that
// shows it. The running test fails when no modal widget shows up in time or
// none showed up before the test ended (rejectOpenModals() in cleanup()
// checks), so a watcher never outlives its test.
void onNextModal(std::function<void(QWidget*)> answer, int timeoutMs = 5000);

// Like onNextModal(), but `answer` tells whether it could answer: when it
// returns false the running test fails and the modal widget is rejected, so
// that the test cannot hang.
void onNextModalChecked(std::function<bool(QWidget*)> answer, int timeoutMs = 5000);

// Answers the next modal widget, which must be a `Dialog`: `answer` works on
// it, and a dialog still open afterwards is rejected.
template <class Dialog> void onNextDialog(std::function<void(Dialog*)> answer, int timeoutMs = 5000)
{
    onNextModalChecked(
        [answer](QWidget* modal) {
            auto* dialog = qobject_cast<Dialog*>(modal);
            if (!dialog)
                return false;
            answer(dialog);
            if (dialog->isVisible())
                dialog->reject();
            return true;
        },
        timeoutMs);
}

// Runs `open`, which is to show a `Dialog`, and lets `fill` work on it; a
// dialog still open afterwards is rejected. Returns whether it was seen (the
// test fails when it was not).
template <class Dialog>
bool withDialog(const std::function<void()>& open, std::function<void(Dialog*)> fill)
{
    bool seen = false;
    onNextDialog<Dialog>([&seen, &fill](Dialog* dialog) {
        seen = true;
        fill(dialog);
    });
    open();
    return seen;
}

struct BoxSeen {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget* parent = nullptr;
};

// Answers the next message box with `button` and records what it showed.
// The test fails if the next modal widget is no message box or has no such
// button.
void answerNextBox(QMessageBox::StandardButton button, BoxSeen* seen = nullptr);
// Answers the next message boxes in turn, one button each, recording each
// box in `seen` (one entry per box shown).
void answerBoxesInTurn(QList<QMessageBox::StandardButton> buttons, QList<BoxSeen>* seen);
// Answers the next message box by clicking the button with this object name
// or text.
void answerNextBoxWith(const QString& buttonNameOrText, BoxSeen* seen = nullptr);

// Runs `action` while rejecting every modal widget that shows up in it;
// returns how many did.
int rejectModalsDuring(const std::function<void()>& action);

// Clears up after a test: rejects every modal widget still open and drops
// every watcher still waiting for one, returning how many there were, so a
// failing test cannot hang the suite. Every widget test's cleanup() checks
// that it is 0.
int rejectOpenModals();

// True when no dialog is visible.
bool noStrayWindows();

// Types `text` into `widget` one character at a time, as the keyboard would
// (QTest::keyClicks handles Latin-1 only).
void typeText(QWidget* widget, const QString& text);
// Clears `edit` and types `text` into it.
void retypeText(QLineEdit* edit, const QString& text);
// Sends a key press of `key` to `widget`.
void sendKey(QWidget* widget, Qt::Key key);

// The texts of every column of `item`.
QStringList rowTexts(const QTreeWidgetItem* item, int columns = -1);
// Every row of `list` as its texts joined by "|", in the order shown.
QStringList listRows(const QTreeWidget* list, int columns = -1);
// Makes the first row whose `column` reads `text` current; the calling test
// fails when there is none.
void selectRow(QTreeWidget* list, const QString& text, int column = 0);

// Opens the page named `title` from `window`'s navigation tree, as a click
// on it does (pages are built when first opened); the calling test fails
// when the tree has no such page.
void openPage(QWidget* window, const QString& title);
// `Page`, opened in `window`: null when it could not be.
template <class Page> Page* openPage(QWidget* window)
{
    openPage(window, Page::pageTitle());
    return window->findChild<Page*>();
}
// Opens every page of `window`'s navigation tree in turn.
void openEveryPage(QWidget* window);

// Sends a context menu request to `target` and answers the popup it opens:
// chooses the entry with the object name `choose` (none: closes the popup).
// Returns the popup's entries as "text+" (enabled) or "text-"; empty when no
// popup opened.
QStringList runContextMenu(QWidget* target, const QString& choose = QString());

} // namespace TestHelpers
