#pragma once

#include <QByteArray>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

// Helpers shared by the widget tests: answering modal dialogs and message
// boxes from a timer (the code under test runs them with exec()), and a
// throw-away configuration file that the pages read and write.
namespace TestHelpers
{

// Waits (up to `timeoutMs`) for a modal widget to appear and runs `answer`
// on it inside the nested event loop.
void onNextModal(std::function<void(QWidget*)> answer, int timeoutMs = 5000);

struct BoxSeen {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget* parent = nullptr;
};

// Answers the next message box with `button` and records what it showed.
void answerNextBox(QMessageBox::StandardButton button, BoxSeen* seen = nullptr);
// Answers the next message box by clicking the button with this object name
// or text.
void answerNextBoxWith(const QString& buttonNameOrText, BoxSeen* seen = nullptr);

// Rejects every modal widget still open (after a failed check), returning
// how many there were, so a failing test cannot hang the suite.
int rejectOpenModals();

// True when no top-level widget other than those in `allowed` is visible.
bool noStrayWindows();

// The bytes of a file; empty when it cannot be read.
QByteArray readFile(const QString& path);
// Replaces a file's content; false unless all of it was written.
bool writeFile(const QString& path, const QByteArray& content);

// A file of tests/config/data/ntpq: output captured from the daemons. Found
// through NTPSM_SOURCE_DIR, which CTest sets.
QString ntpqFixturePath(const char* name);

// The lines of a configuration text whose first word is `key`.
QStringList linesOf(const QByteArray& text, const QString& key);

// A temporary ntp.conf that the program uses instead of /etc/ntp.conf while
// this object lives.
class ConfFile
{
public:
    explicit ConfFile(const QByteArray& content = QByteArray());
    ~ConfFile();
    QString path() const;
    QString dir() const { return m_dir.path(); }
    QByteArray read() const;
    void write(const QByteArray& content) const;

private:
    QTemporaryDir m_dir;
};

} // namespace TestHelpers
