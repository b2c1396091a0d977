#pragma once

#include "remote/sshhost.h"

#include <QProcess>
#include <QScopedPointer>
#include <QTemporaryDir>

// A real OpenSSH server playing the remote machine, with nothing of the
// real system at risk: the test process moves into a network namespace of
// its own (loopback only) before it does anything else, and sshd runs in
// there in a mount namespace of its own, whose /etc is a throw-away copy
// (with the test's users, passwords and sudoers lines) and whose /run is
// empty. Host and client keys are made for the run; the client side uses
// only its own ssh_config and known_hosts.
class SshTestServer
{
public:
    static constexpr int port = 2222;
    static constexpr int closedPort = 2223;

    // From main(), while the process has one thread: the private network.
    static void enterPrivateNetwork();
    static SshTestServer& instance();

    // Starts the server once; false, with the reason, when it cannot run here.
    bool start(QString* whyNot);
    // How the client reaches `user`: root, or "ntpsudo" (sudo with its
    // password), "ntpauto" (sudo without one), "ntpplain" (no sudo).
    SshHost::Settings settings(const QString& user) const;
    static QByteArray passwordOf(const QString& user);
    QString knownHostsFile() const { return m_work.filePath(QStringLiteral("known_hosts")); }
    QString hostKeyLine() const { return m_hostKeyLine; }
    // The server's /etc as seen from here (the server sees it as /etc).
    QString etcFolder() const { return m_work.filePath(QStringLiteral("etc")); }

    // The sshd processes that serve connections (the listener left out).
    QList<qint64> connectionProcesses() const;
    void signalConnections(int signal) const;

private:
    SshTestServer() = default;
    ~SshTestServer();
    bool prepare(QString* whyNot);
    bool makeEtc(QString* whyNot);
    bool waitForPort() const;

    QTemporaryDir m_work;
    QProcess m_sshd;
    qint64 m_listener = 0;
    QString m_hostKeyLine;
    bool m_started = false;
    QString m_failure;
};
