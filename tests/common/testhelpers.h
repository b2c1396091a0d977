#pragma once

#include <QByteArray>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <sys/resource.h>

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

// The lines of a configuration text whose first word is `key`.
QStringList linesOf(const QByteArray& text, const QString& key);

// A temporary ntp.conf that the program uses instead of /etc/ntp.conf while
// this object lives, with a folder of its own for the copies kept before
// each write.
class ConfFile
{
public:
    explicit ConfFile(const QByteArray& content = QByteArray());
    ~ConfFile();
    QString path() const;
    QString dir() const { return m_dir.path(); }
    QByteArray read() const;
    void write(const QByteArray& content) const;
    // Where copies of the file are kept before it is replaced (created by
    // the first copy).
    QString backupDir() const;

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_backupRoot;
};

// Lowers the largest file size this process may write, for one scope: like
// a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    sighandler_t m_oldHandler;
};

} // namespace TestHelpers
