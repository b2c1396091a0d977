#pragma once

#include "host/host.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class Prompter;
class SshChannel;

// A server reached with the system's OpenSSH client, so that the user's
// ~/.ssh/config, agent, ProxyJump and known hosts work as in a terminal.
//
// connectToHost() opens one master connection (ControlMaster, its control
// socket in a private folder) and finds out how to be root there: logged
// in as root, or through sudo (without a password, or with one asked once
// through the Prompter and kept in memory for the connection's life only).
// Every call then is one ssh command over that connection: a small POSIX
// sh program (sh and coreutils on the server, nothing installed), its data
// on standard input and output. ssh's own prompts (password, passphrase,
// unknown host key) come to the Prompter through SSH_ASKPASS, which is
// this program itself: main() must hand over to SshAskpass::run() when
// SshAskpass::requested() (see remote/askpass.h).
//
// Errors as on the local host, plus EHOSTDOWN when the connection failed
// or is lost (lastConnectionError() says why), ECANCELED when the user
// cancelled a prompt, EACCES when root is refused on the server.
// A ProcessResult of a command the connection did not carry to its end
// has hostError EHOSTDOWN; a remote exit code 255 is an exit code.
//
// Calls are synchronous for the caller; the calling thread's event loop
// runs meanwhile (the window's wait indicator on the GUI thread). They may
// come from worker threads too. connectToHost(), disconnectFromHost() and
// the destructor belong to the thread that made the host (the GUI thread).
class SshHost : public Host
{
public:
    struct Settings {
        QString destination;    // [USER@]HOST, or a Host of ~/.ssh/config
        QStringList sshOptions; // given to ssh before the destination (-F FILE, -p PORT)
        QString sshProgram = QStringLiteral("ssh");
        QString askpassProgram; // empty: this program
        int connectTimeoutSeconds = 10;
        // A connection silent this long (interval times count) is dead.
        int aliveIntervalSeconds = 1;
        int aliveCountMax = 5;
        // Run as the login user, never through sudo (queries only).
        QStringList loginUserPrograms{QStringLiteral("ntpq")};
    };

    enum class Failure {
        None,
        NotConnected,   // never connected, or disconnected on purpose
        Unreachable,    // no route, no such name, no answer
        Refused,        // nothing listens on the port
        Authentication, // the server did not accept the login
        HostKey,        // the host key was not accepted (or has changed)
        Lost,           // an open connection ended (or stopped answering)
        RootRefused,    // not root, and sudo refused (or is missing)
        Cancelled,      // the user cancelled a prompt
        Other,
    };
    enum class RootAccess { None, Login, Sudo, SudoWithPassword };

    SshHost(const Settings& settings, Prompter* prompter);
    ~SshHost() override;

    // Connects (again, after a loss) and becomes root: 0, EHOSTDOWN,
    // ECANCELED or EACCES. A host that cannot become root is left
    // disconnected, never half-working.
    int connectToHost();
    void disconnectFromHost();
    bool isConnected() const;
    Failure lastFailure() const;
    // Why the last connect failed or the connection ended, for the user.
    QString lastConnectionError() const;
    RootAccess rootAccess() const;
    // Called on the host's thread when an open connection is lost.
    void setConnectionLostHandler(const std::function<void()>& handler);

    // Empty when `destination` can be given to ssh; otherwise why not.
    static QString destinationProblem(const QString& destination);

    QString name() const override;
    QVector<HostReply> query(const QVector<HostRequest>& requests) override;
    QVector<HostProcess> processes(const QString& proc) override;
    int makeFolder(const QString& path, uint mode) override;
    int removeFile(const QString& path) override;
    ReplaceOutcome replaceFile(const FileReplacement& replacement) override;
    ProcessJob* start(const QString& program, const QStringList& arguments,
                      const ProcessOptions& options) override;
    ProcessSession* startSession(const QString& program, const QStringList& arguments) override;

private:
    class Private;
    std::unique_ptr<Waiting> busy() const;

    std::unique_ptr<Private> d;
};
