#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>
#include <sys/resource.h>

// File helpers shared by every test, widget-free so that the configuration
// tests need Qt Core only.
namespace TestHelpers
{

// The bytes of a file; empty when it cannot be read.
QByteArray readFile(const QString& path);
// Replaces a file's content; false unless all of it was written.
bool writeFile(const QString& path, const QByteArray& content);

// The lines of a configuration text whose first word is `key`.
QStringList linesOf(const QByteArray& text, const QString& key);

// A file of the source tree, by its path from the tree's top, found through
// NTPSM_SOURCE_DIR (CTest sets it); empty when it cannot be found.
QString sourceFile(const QString& relativePath);

// `list`, sorted: for comparing rows whose order does not matter.
QStringList sorted(QStringList list);

// A configuration text of `lines` lines. With `distinct` > 0 it holds only
// that many different lines, repeated; otherwise nearly every line differs.
QByteArray generatedConfig(int lines, int distinct = 0);
// `text` with `count` random edits: runs of one to three lines replaced,
// inserted or removed; the same edits for the same seed.
QByteArray withRandomEdits(const QByteArray& text, int count, quint32 seed);

// What the real `patch` program makes of `before` with the unified diff
// `diff`; `*error` is its complaint (an offset or fuzz counts as one) and
// stays empty when every hunk applied exactly where it said.
QByteArray patchedByPatch(const QByteArray& before, const QByteArray& diff, QString* error);

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
    // Where copies of the file are kept before it is replaced (created by
    // the first copy).
    QString backupDir() const;

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_backupRoot;
};

// Runs the shell command `script` as the user nobody (setpriv, no groups,
// no capabilities), as a hostile local user would; true when it exited 0.
bool runAsNobody(const QString& script);

// A file of tests/daemon/data/ntpq: output captured from the daemons. Found
// through NTPSM_SOURCE_DIR, which CTest sets.
QString ntpqFixturePath(const char* name);

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
