#include "tests/common/testhelpers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace TestHelpers
{

namespace
{

// Waits for the next modal widget and answers it; fails the running test when
// none comes in time or the answer cannot be given.
class ModalWatcher : public QObject
{
public:
    ModalWatcher(std::function<bool(QWidget*)> answer, int timeoutMs)
        : m_answer(std::move(answer)), m_timeoutMs(timeoutMs), m_timerId(startTimer(10))
    {
        m_clock.start();
    }

    // Watchers that have not answered yet.
    static QList<QPointer<ModalWatcher>>& pending()
    {
        static QList<QPointer<ModalWatcher>> watchers;
        return watchers;
    }

protected:
    void timerEvent(QTimerEvent*) override
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            stop();
            const bool answered = m_answer(modal);
            // Only now: the answer may wait with QTest::qWait(), which
            // deletes what is due for deletion.
            deleteLater();
            if (!answered) {
                QTest::qFail("the modal widget could not be answered", __FILE__, __LINE__);
                if (auto* dialog = qobject_cast<QDialog*>(modal))
                    dialog->reject();
                else
                    modal->close();
            }
        } else if (m_clock.elapsed() > m_timeoutMs) {
            stop();
            deleteLater();
            QTest::qFail("no modal widget showed up in time", __FILE__, __LINE__);
        }
    }

private:
    // Answers once only, even if the answer opens another event loop.
    void stop()
    {
        killTimer(m_timerId);
        pending().removeAll(this);
    }

    std::function<bool(QWidget*)> m_answer;
    int m_timeoutMs;
    int m_timerId;
    QElapsedTimer m_clock;
};

void record(QMessageBox* box, BoxSeen* seen)
{
    if (!seen)
        return;
    seen->shown = true;
    seen->title = box->windowTitle();
    seen->text = box->text();
    seen->icon = box->icon();
    seen->parent = box->parentWidget();
}

} // namespace

void onNextModalChecked(std::function<bool(QWidget*)> answer, int timeoutMs)
{
    ModalWatcher::pending().append(new ModalWatcher(std::move(answer), timeoutMs));
}

void onNextModal(std::function<void(QWidget*)> answer, int timeoutMs)
{
    onNextModalChecked(
        [answer](QWidget* modal) {
            answer(modal);
            return true;
        },
        timeoutMs);
}

void answerNextBox(QMessageBox::StandardButton button, BoxSeen* seen)
{
    onNextModalChecked([button, seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box || !box->button(button))
            return false;
        record(box, seen);
        box->button(button)->click();
        return true;
    });
}

void answerBoxesInTurn(QList<QMessageBox::StandardButton> buttons, QList<BoxSeen>* seen)
{
    if (buttons.isEmpty())
        return;
    onNextModalChecked([buttons, seen](QWidget* modal) mutable {
        auto* box = qobject_cast<QMessageBox*>(modal);
        const QMessageBox::StandardButton button = buttons.takeFirst();
        if (!box || !box->button(button))
            return false;
        seen->append(BoxSeen());
        record(box, &seen->last());
        box->button(button)->click();
        answerBoxesInTurn(buttons, seen);
        return true;
    });
}

void answerNextBoxWith(const QString& buttonNameOrText, BoxSeen* seen)
{
    onNextModalChecked([buttonNameOrText, seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return false;
        record(box, seen);
        for (QAbstractButton* b : box->buttons()) {
            if (b->objectName() == buttonNameOrText || b->text() == buttonNameOrText) {
                b->click();
                return true;
            }
        }
        return false;
    });
}

int rejectModalsDuring(const std::function<void()>& action)
{
    int count = 0;
    QTimer rejecter;
    QObject::connect(&rejecter, &QTimer::timeout, [&count] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible()) {
            ++count;
            dialog->reject();
        }
    });
    rejecter.start(10);
    action();
    return count;
}

int rejectOpenModals()
{
    int count = 0;
    for (const QPointer<ModalWatcher>& watcher : ModalWatcher::pending()) {
        qWarning("a watcher still waited for a modal widget that never showed up");
        delete watcher.data();
        ++count;
    }
    ModalWatcher::pending().clear();
    while (QWidget* modal = QApplication::activeModalWidget()) {
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (!dialog)
            break;
        qWarning("a %s was left open", dialog->metaObject()->className());
        dialog->reject();
        QApplication::processEvents();
        ++count;
        if (count > 20)
            break;
    }
    return count;
}

bool noStrayWindows()
{
    QApplication::processEvents();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && qobject_cast<QDialog*>(widget))
            return false;
    }
    return true;
}

void typeText(QWidget* widget, const QString& text)
{
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &release);
    }
}

void retypeText(QLineEdit* edit, const QString& text)
{
    edit->clear();
    typeText(edit, text);
}

void sendKey(QWidget* widget, Qt::Key key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
}

QStringList rowTexts(const QTreeWidgetItem* item, int columns)
{
    QStringList texts;
    if (columns < 0)
        columns = item->treeWidget() ? item->treeWidget()->columnCount() : item->columnCount();
    for (int column = 0; column < columns; ++column)
        texts << item->text(column);
    return texts;
}

QStringList listRows(const QTreeWidget* list, int columns)
{
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << rowTexts(list->topLevelItem(i), columns).join(QLatin1Char('|'));
    return rows;
}

void selectRow(QTreeWidget* list, const QString& text, int column)
{
    const QList<QTreeWidgetItem*> found = list->findItems(text, Qt::MatchExactly, column);
    QVERIFY2(!found.isEmpty(), qPrintable(QStringLiteral("no row reads ") + text));
    list->setCurrentItem(found.first());
}

void openPage(QWidget* window, const QString& title)
{
    auto* tree = window->findChild<QTreeWidget*>(QStringLiteral("twList"));
    QVERIFY2(tree, "the window has no navigation tree");
    const QList<QTreeWidgetItem*> found =
        tree->findItems(title, Qt::MatchExactly | Qt::MatchRecursive);
    QVERIFY2(!found.isEmpty(), qPrintable(QStringLiteral("no page is named ") + title));
    tree->setCurrentItem(found.first());
}

void openEveryPage(QWidget* window)
{
    auto* tree = window->findChild<QTreeWidget*>(QStringLiteral("twList"));
    QVERIFY2(tree, "the window has no navigation tree");
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        tree->setCurrentItem(*it);
}

QStringList runContextMenu(QWidget* target, const QString& choose)
{
    QStringList entries;
    QPointer<QMenu> seen;
    QTimer poller;
    // Acts one tick after first seeing the popup, once it runs its own loop.
    QObject::connect(&poller, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || !menu->isVisible() || menu != seen) {
            seen = menu;
            return;
        }
        seen = nullptr;
        for (QAction* action : menu->actions())
            entries << action->text() + QLatin1String(action->isEnabled() ? "+" : "-");
        QAction* chosen = choose.isEmpty() ? nullptr : menu->findChild<QAction*>(choose);
        if (chosen && chosen->isEnabled()) {
            menu->setActiveAction(chosen);
            QTest::keyClick(menu, Qt::Key_Return);
        } else {
            menu->close();
        }
    });
    poller.start(10);
    const QPoint pos(5, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
    QApplication::sendEvent(target, &event);
    return entries;
}

} // namespace TestHelpers
