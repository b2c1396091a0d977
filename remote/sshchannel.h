#pragma once

#include "remote/secret.h"
#include "remote/sshhost.h"

#include <QMutex>
#include <QProcess>

#include <atomic>

// An ssh process that never has a terminal: it runs in a session of its
// own, so that ssh can only ask through askpass.
class SshProcess : public QProcess
{
public:
    // The master connection: ended when the thread that started it (the
    // program's main thread) ends, so that it never outlives the program.
    bool endWithParent = false;

protected:
    void setupChildProcess() override;
};

// What each command over the master connection needs, shared by the host
// and the jobs it starts (which may outlive it). Thread-safe.
//
// Each command is one `ssh -S SOCKET ... -- HOST 'exec [sudo] /bin/sh -c
// BOOTSTRAP'`. Standard input carries, in this order: the sudo password
// line (when sudo wants one), a marker line, the sh program, and the
// program's own input. The bootstrap checks the marker (so a password that
// sudo did not read is never taken for anything) and reads exactly the
// program's length, which leaves the rest of the input whole. The marker
// is seen on the server's process list; the nonce that frames the
// program's records is not (it travels inside the program), so that
// nothing the login prints can pass for a record.
class SshChannel
{
public:
    SshChannel(const SshHost::Settings& settings, const QString& controlPath);

    struct Launch {
        QStringList arguments; // for settings.sshProgram
        QByteArray input;
    };
    // How to run `program` (from RemoteScript::program()); false when there
    // is no connection.
    bool launch(const QByteArray& program, bool asRoot, Launch* launch) const;
    // Options of the master and of every command.
    static QStringList neutralOptions();
    // The ssh arguments of a command with `remoteCommand` over the master.
    QStringList clientArguments(const QByteArray& remoteCommand) const;

    struct Result {
        int error = 0;     // EHOSTDOWN, EACCES (sudo), ETIMEDOUT, EFBIG, EIO
        int exitCode = -1; // ssh's
        QByteArray output;
        QByteArray errors;
        // The connection the call went over (a call that outlives its
        // connection must not mark the next one as lost).
        quint64 connection = 0;
    };
    // Runs `program` to its end; the calling thread's event loop runs
    // meanwhile (the window's wait indicator on the GUI thread).
    Result run(const QByteArray& program, const QByteArray& input, bool asRoot, int timeoutMs,
               qint64 outputLimit);
    // Runs `remoteCommand` itself (no program) with `input`.
    Result runCommand(const QByteArray& remoteCommand, const QByteArray& input, int timeoutMs,
                      qint64 outputLimit);
    // The failure of a command that left its records unfinished: the
    // connection's when ssh says so (and then it is marked lost).
    int failureOf(const Result& result);

    void setConnected(SshHost::RootAccess access, SecretBytes&& sudoPassword);
    void setDisconnected();
    bool isConnected() const { return m_connected; }
    // Counts the connections made: each setConnected() is a new one.
    quint64 connection() const { return m_connection; }
    SshHost::RootAccess rootAccess() const;
    // A command found the master gone before the host saw it end.
    bool takeLostNotice() { return m_lostNotice.exchange(false); }

    const SshHost::Settings& settings() const { return m_settings; }
    static QByteArray newNonce();
    // The environment of every command over the master.
    static QProcessEnvironment clientEnvironment();

private:
    QByteArray remoteCommand(const QByteArray& marker, int programSize, bool asRoot,
                             SshHost::RootAccess access) const;

    const SshHost::Settings m_settings;
    const QString m_controlPath;
    mutable QMutex m_mutex;
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_lostNotice{false};
    std::atomic<quint64> m_connection{0};
    SshHost::RootAccess m_access = SshHost::RootAccess::None;
    SecretBytes m_sudoPassword;
};
