#include "remote/sshchannel.h"

#include "remote/remotescript.h"

#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace
{
// What ssh's standard error keeps of a command: the end, where the reason is.
constexpr int errorLimit = 64 * 1024;
// A refused session (the server's MaxSessions) is tried again this often.
constexpr int sessionAttempts = 20;
constexpr int sessionRetryMs = 100;

} // namespace

QProcessEnvironment SshChannel::clientEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // A command over the master never authenticates: nothing to ask.
    environment.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("never"));
    return environment;
}

namespace
{
void keepEnd(QByteArray* buffer, int limit)
{
    if (buffer->size() > 2 * limit)
        buffer->remove(0, buffer->size() - limit);
}

void pause(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool sessionRefused(const SshChannel::Result& result)
{
    return result.exitCode == 255 && result.errors.contains("open refused");
}
} // namespace

void SshProcess::setupChildProcess()
{
    ::setsid();
    if (endWithParent)
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
}

SshChannel::SshChannel(const SshHost::Settings& settings, const QString& controlPath)
    : m_settings(settings), m_controlPath(controlPath)
{
}

QByteArray SshChannel::newNonce()
{
    QByteArray bytes(16, '\0');
    QRandomGenerator::system()->generate(reinterpret_cast<quint32*>(bytes.data()),
                                         reinterpret_cast<quint32*>(bytes.data() + 16));
    return "ntpsm" + bytes.toHex();
}

QByteArray SshChannel::remoteCommand(const QByteArray& nonce, int programSize, bool asRoot,
                                     SshHost::RootAccess access) const
{
    // Any login shell runs this (sh, bash, zsh, csh, fish): one exec of a
    // single-quoted word, and sh does the rest.
    const QByteArray bootstrap =
        "IFS= read -r m; [ \"$m\" = " + nonce +
        " ] || exit 121; eval \"$(dd bs=" + QByteArray::number(programSize) +
        " count=1 iflag=fullblock status=none)\"";
    const QByteArray shell = "/bin/sh -c " + RemoteScript::quoted(bootstrap);
    if (!asRoot || access == SshHost::RootAccess::Login)
        return "exec " + shell;
    if (access == SshHost::RootAccess::Sudo)
        return "exec sudo -n -- " + shell;
    // -k: sudo always reads the password line, even with a ticket left.
    return "exec sudo -k -S -p '' -- " + shell;
}

QStringList SshChannel::neutralOptions()
{
    // Nothing of the user's configuration that would run, forward or
    // print anything besides the commands: no agent or X11 forwarding, no
    // port forwardings, tunnels, local or configured remote command.
    return {QStringLiteral("-T"),
            QStringLiteral("-x"),
            QStringLiteral("-a"),
            QStringLiteral("-o"),
            QStringLiteral("ClearAllForwardings=yes"),
            QStringLiteral("-o"),
            QStringLiteral("Tunnel=no"),
            QStringLiteral("-o"),
            QStringLiteral("PermitLocalCommand=no"),
            QStringLiteral("-o"),
            QStringLiteral("RemoteCommand=none")};
}

QStringList SshChannel::clientArguments(const QByteArray& command) const
{
    QStringList arguments = m_settings.sshOptions + neutralOptions();
    arguments << QStringLiteral("-S")
              << m_controlPath
              // Over the master only: should it be gone, the command fails
              // at once instead of opening a connection of its own.
              << QStringLiteral("-o") << QStringLiteral("ControlMaster=no") << QStringLiteral("-o")
              << QStringLiteral("ControlPersist=no") << QStringLiteral("-o")
              << QStringLiteral("ProxyCommand=false") << QStringLiteral("-q")
              << QStringLiteral("--") << m_settings.destination << QString::fromLatin1(command);
    return arguments;
}

bool SshChannel::launch(const QByteArray& program, bool asRoot, Launch* launch) const
{
    const QByteArray marker = newNonce();
    QMutexLocker lock(&m_mutex);
    // Root is not known yet while the connection is being opened.
    if (!m_connected || (asRoot && m_access == SshHost::RootAccess::None))
        return false;
    launch->arguments = clientArguments(remoteCommand(marker, program.size(), asRoot, m_access));
    launch->input.clear();
    launch->input.reserve(m_sudoPassword.bytes().size() + marker.size() + program.size() + 2);
    if (asRoot && m_access == SshHost::RootAccess::SudoWithPassword) {
        launch->input += m_sudoPassword.bytes();
        launch->input += '\n';
    }
    launch->input += marker + '\n' + program;
    return true;
}

namespace
{
SshChannel::Result execute(const QString& sshProgram, const SshChannel::Launch& launch,
                           int timeoutMs, qint64 outputLimit)
{
    SshChannel::Result result;
    QEventLoop loop;
    SshProcess process;
    process.setProcessEnvironment(SshChannel::clientEnvironment());
    bool timedOut = false;
    bool tooLong = false;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, [&] {
        result.output += process.readAllStandardOutput();
        if (result.output.size() > outputLimit && !tooLong) {
            tooLong = true;
            process.kill();
        }
    });
    QObject::connect(&process, &QProcess::readyReadStandardError, &loop, [&] {
        result.errors += process.readAllStandardError();
        keepEnd(&result.errors, errorLimit);
    });
    QObject::connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                     &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    timer.start(timeoutMs);
    process.start(sshProgram, launch.arguments);
    process.write(launch.input);
    process.closeWriteChannel();
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(2000);
    }
    result.output += process.readAllStandardOutput();
    result.errors += process.readAllStandardError();
    if (process.error() == QProcess::FailedToStart)
        result.error = EHOSTDOWN;
    else if (timedOut)
        result.error = ETIMEDOUT;
    else if (tooLong)
        result.error = EFBIG;
    else if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}
} // namespace

SshChannel::Result SshChannel::run(const QByteArray& program, const QByteArray& input, bool asRoot,
                                   int timeoutMs, qint64 outputLimit)
{
    Result result;
    const quint64 connection = m_connection;
    for (int attempt = 0; attempt < sessionAttempts; ++attempt) {
        Launch launch;
        if (!this->launch(program, asRoot, &launch)) {
            result.error = EHOSTDOWN;
            return result;
        }
        launch.input += input;
        result = execute(m_settings.sshProgram, launch, timeoutMs, outputLimit);
        wipe(&launch.input);
        if (!sessionRefused(result))
            break;
        pause(sessionRetryMs);
    }
    result.connection = connection;
    return result;
}

SshChannel::Result SshChannel::runCommand(const QByteArray& command, const QByteArray& input,
                                          int timeoutMs, qint64 outputLimit)
{
    Launch launch;
    launch.arguments = clientArguments(command);
    launch.input = input;
    const quint64 connection = m_connection;
    Result result = execute(m_settings.sshProgram, launch, timeoutMs, outputLimit);
    wipe(&launch.input);
    result.connection = connection;
    return result;
}

int SshChannel::failureOf(const Result& result)
{
    if (result.error != 0)
        return result.error;
    if (result.exitCode == 255 || result.exitCode < 0) {
        // ssh's own failure: the master is gone (or going).
        QMutexLocker lock(&m_mutex);
        if (result.connection == m_connection && m_connected.exchange(false)) {
            m_lostNotice = true;
            m_access = SshHost::RootAccess::None;
            m_sudoPassword.clear();
        }
        return EHOSTDOWN;
    }
    if (result.exitCode == 121 || result.errors.contains("sudo"))
        return EACCES;
    return EIO;
}

void SshChannel::setConnected(SshHost::RootAccess access, SecretBytes&& sudoPassword)
{
    QMutexLocker lock(&m_mutex);
    m_access = access;
    m_sudoPassword = std::move(sudoPassword);
    m_lostNotice = false;
    ++m_connection;
    m_connected = true;
}

void SshChannel::setDisconnected()
{
    QMutexLocker lock(&m_mutex);
    m_connected = false;
    m_access = SshHost::RootAccess::None;
    m_sudoPassword.clear();
}

SshHost::RootAccess SshChannel::rootAccess() const
{
    QMutexLocker lock(&m_mutex);
    return m_access;
}
