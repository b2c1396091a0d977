#include "tests/remote/sshtestserver.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTcpSocket>
#include <QTest>

#include <QCoreApplication>

#include <cerrno>
#include <crypt.h>
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
QString& isolationProblem()
{
    static QString problem = QStringLiteral("the private network was not entered");
    return problem;
}

struct TestUser {
    const char* name;
    uint uid;
    const char* password;
    const char* sudoers; // the line after the name, or nullptr
};
const TestUser users[] = {
    {"ntpsudo", 60101, "sudo pass 1", "ALL=(ALL:ALL) ALL"},
    {"ntpauto", 60102, "auto pass 2", "ALL=(ALL:ALL) NOPASSWD: ALL"},
    {"ntpplain", 60103, "plain pass 3", nullptr},
};

bool write(const QString& path, const QByteArray& bytes,
           QFile::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    return file.open(mode) && file.write(bytes) == bytes.size();
}

QByteArray read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// /etc/passwd (or group) with root's home moved into the test folder, so
// that no rc file of the real /root runs, and the test's entries added.
QByteArray withEntries(const QByteArray& old, const QByteArray& added, const QByteArray& rootHome)
{
    QByteArray text;
    for (const QByteArray& line : old.split('\n')) {
        if (line.isEmpty())
            continue;
        QList<QByteArray> fields = line.split(':');
        if (!rootHome.isEmpty() && fields.value(0) == "root" && fields.size() == 7)
            fields[5] = rootHome;
        text += fields.join(':') + '\n';
    }
    return text + added;
}
} // namespace

void SshTestServer::enterPrivateNetwork()
{
    if (::geteuid() != 0) {
        isolationProblem() = QStringLiteral("not root (the server needs namespaces)");
        return;
    }
    if (::unshare(CLONE_NEWNET) != 0) {
        isolationProblem() = QStringLiteral("no network namespace: %1").arg(errno);
        return;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    struct ifreq request = {};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ::ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (fd >= 0)
        ::close(fd);
    isolationProblem() = up ? QString() : QStringLiteral("loopback cannot be brought up");
}

SshTestServer& SshTestServer::instance()
{
    static SshTestServer server;
    return server;
}

SshTestServer::~SshTestServer()
{
    if (m_sshd.state() != QProcess::NotRunning) {
        m_sshd.terminate();
        m_sshd.waitForFinished(3000);
    }
}

QByteArray SshTestServer::passwordOf(const QString& user)
{
    for (const TestUser& entry : users) {
        if (user == QLatin1String(entry.name))
            return entry.password;
    }
    return QByteArray();
}

bool SshTestServer::start(QString* whyNot)
{
    if (!m_started && m_failure.isEmpty() && !prepare(&m_failure) && m_failure.isEmpty())
        m_failure = QStringLiteral("the server did not start");
    m_started = m_failure.isEmpty();
    *whyNot = m_failure;
    return m_started;
}

bool SshTestServer::prepare(QString* whyNot)
{
    if (!isolationProblem().isEmpty()) {
        *whyNot = isolationProblem();
        return false;
    }
    for (const char* needed : {"/usr/sbin/sshd", "/usr/bin/sudo", "/usr/bin/ssh-keygen"}) {
        if (!QFile::exists(QLatin1String(needed))) {
            *whyNot = QStringLiteral("%1 is missing").arg(QLatin1String(needed));
            return false;
        }
    }
    const QString work = m_work.path();
    ::chmod(QFile::encodeName(work).constData(), 0755);
    for (const char* key : {"host_key", "client_key"}) {
        if (!run(QStringLiteral("ssh-keygen"),
                 {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                  QStringLiteral("-N"), QString(), QStringLiteral("-f"),
                  m_work.filePath(QLatin1String(key))})) {
            *whyNot = QStringLiteral("ssh-keygen failed");
            return false;
        }
    }
    const QByteArray hostKey = read(m_work.filePath(QStringLiteral("host_key.pub"))).trimmed();
    m_hostKeyLine = QStringLiteral("[127.0.0.1]:%1 %2").arg(port).arg(QString::fromLatin1(hostKey));
    QDir(work).mkpath(QStringLiteral("keys"));
    const QByteArray clientKey = read(m_work.filePath(QStringLiteral("client_key.pub")));
    for (const char* user : {"root", "ntpsudo", "ntpauto", "ntpplain"})
        write(m_work.filePath(QStringLiteral("keys/") + QLatin1String(user)), clientKey);
    if (!makeEtc(whyNot))
        return false;
    write(m_work.filePath(QStringLiteral("known_hosts")), m_hostKeyLine.toLatin1() + '\n');
    write(m_work.filePath(QStringLiteral("ssh_config")),
          QStringLiteral("Host *\n  HostName 127.0.0.1\n  Port %1\n  IdentityFile %2/client_key\n"
                         "  IdentitiesOnly yes\n  GlobalKnownHostsFile /dev/null\n"
                         "  NumberOfPasswordPrompts 1\n")
              .arg(port)
              .arg(work)
              .toLocal8Bit());
    write(m_work.filePath(QStringLiteral("sshd_config")),
          QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2/host_key\n"
                         "AuthorizedKeysFile %2/keys/%u\nPermitRootLogin prohibit-password\n"
                         "PasswordAuthentication yes\nKbdInteractiveAuthentication no\n"
                         "StrictModes no\nUsePAM no\nPrintMotd no\nUseDNS no\n"
                         "PidFile %2/sshd.pid\nLogLevel VERBOSE\nMaxStartups 50\n")
              .arg(port)
              .arg(work)
              .toLocal8Bit());
    // sshd and every session see the copy as /etc, and an empty /run.
    m_sshd.setProcessChannelMode(QProcess::ForwardedChannels);
    // sshd goes with the test even when the test crashes: a stray one would
    // keep CTest waiting on the output it shares.
    m_sshd.start(QStringLiteral("setpriv"),
                 {QStringLiteral("--pdeathsig"), QStringLiteral("TERM"), QStringLiteral("--"),
                  QStringLiteral("unshare"), QStringLiteral("--mount"),
                  QStringLiteral("--propagation"), QStringLiteral("private"), QStringLiteral("--"),
                  QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                  QStringLiteral("mount --bind \"$1/etc\" /etc && "
                                 "mount -t tmpfs -o mode=755 tmpfs /run && mkdir /run/sshd && "
                                 "exec /usr/sbin/sshd -D -f \"$1/sshd_config\" -E \"$1/sshd.log\""),
                  QStringLiteral("sh"), work});
    if (!waitForPort()) {
        *whyNot =
            QStringLiteral("sshd did not start: %1")
                .arg(QString::fromLocal8Bit(read(m_work.filePath(QStringLiteral("sshd.log")))));
        return false;
    }
    m_listener = read(m_work.filePath(QStringLiteral("sshd.pid"))).trimmed().toLongLong();
    return m_listener > 0;
}

bool SshTestServer::makeEtc(QString* whyNot)
{
    const QString etc = m_work.filePath(QStringLiteral("etc"));
    if (!run(QStringLiteral("cp"), {QStringLiteral("-a"), QStringLiteral("/etc"), etc})) {
        *whyNot = QStringLiteral("/etc could not be copied");
        return false;
    }
    const QString home = m_work.filePath(QStringLiteral("home"));
    QDir(home).mkpath(QStringLiteral("root"));
    QByteArray passwd, shadow, group, sudoers = "Defaults !lecture, !syslog\n";
    for (const TestUser& user : users) {
        const QByteArray name(user.name);
        const QByteArray uid = QByteArray::number(user.uid);
        QDir(home).mkpath(QLatin1String(user.name));
        ::chown(QFile::encodeName(home + QLatin1Char('/') + QLatin1String(user.name)).constData(),
                user.uid, user.uid);
        passwd += name + ":x:" + uid + ':' + uid + "::" + QFile::encodeName(home) + '/' + name +
                  ":/bin/sh\n";
        struct crypt_data data = {};
        shadow += name + ':' + QByteArray(::crypt_r(user.password, "$6$ntpsmtest$", &data)) +
                  ":19000:0:99999:7:::\n";
        group += name + ":x:" + uid + ":\n";
        if (user.sudoers)
            sudoers += name + ' ' + user.sudoers + '\n';
    }
    const QByteArray rootHome = QFile::encodeName(home + QStringLiteral("/root"));
    const bool written =
        write(etc + QStringLiteral("/passwd"),
              withEntries(read(etc + QStringLiteral("/passwd")), passwd, rootHome)) &&
        write(etc + QStringLiteral("/shadow"),
              withEntries(read(etc + QStringLiteral("/shadow")), shadow, QByteArray())) &&
        write(etc + QStringLiteral("/group"),
              withEntries(read(etc + QStringLiteral("/group")), group, QByteArray())) &&
        write(etc + QStringLiteral("/sudoers.d/ntpsm-test"), sudoers);
    ::chmod(QFile::encodeName(etc + QStringLiteral("/sudoers.d/ntpsm-test")).constData(), 0440);
    if (!written)
        *whyNot = QStringLiteral("the copy of /etc could not be changed");
    return written;
}

bool SshTestServer::waitForPort() const
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (socket.waitForConnected(100))
            return true;
        QTest::qWait(50);
    }
    return false;
}

SshHost::Settings SshTestServer::settings(const QString& user) const
{
    SshHost::Settings settings;
    settings.destination = user + QStringLiteral("@127.0.0.1");
    settings.sshOptions =
        QStringList{QStringLiteral("-F"), m_work.filePath(QStringLiteral("ssh_config")),
                    QStringLiteral("-o"), QStringLiteral("UserKnownHostsFile=") + knownHostsFile()};
    settings.askpassProgram = QCoreApplication::applicationFilePath();
    return settings;
}

QList<qint64> SshTestServer::connectionProcesses() const
{
    QHash<qint64, qint64> parents;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QByteArray stat = read(QStringLiteral("/proc/%1/stat").arg(entry));
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            parents.insert(entry.toLongLong(), fields.at(1).toLongLong());
    }
    QList<qint64> found;
    for (auto it = parents.constBegin(); it != parents.constEnd(); ++it) {
        if (QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(it.key())) !=
            QLatin1String("/usr/sbin/sshd"))
            continue;
        // Below the listener: its children, and theirs.
        for (qint64 up = it.value(); up > 1; up = parents.value(up)) {
            if (up == m_listener) {
                found << it.key();
                break;
            }
        }
    }
    return found;
}

void SshTestServer::signalConnections(int signal) const
{
    for (const qint64 pid : connectionProcesses())
        ::kill(pid_t(pid), signal);
}
