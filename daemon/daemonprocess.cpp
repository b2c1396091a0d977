#include "daemon/daemonprocess.h"

#include "daemon/ntpconfpath.h"
#include "host/host.h"
#include "host/hostpath.h"

namespace
{
// A passwd file of a large site stays far below this.
constexpr qint64 passwdLimit = 4 * 1024 * 1024;

// Where a package or an administrator installs the daemon.
bool isSystemProgramFolder(const QString& folder)
{
    static const QStringList folders = {
        QStringLiteral("/usr/sbin"),       QStringLiteral("/usr/bin"),
        QStringLiteral("/sbin"),           QStringLiteral("/bin"),
        QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/local/bin"),
    };
    return folders.contains(folder);
}

// Whether the program at `executable` (a path of the host) can only have
// been put there by root.
bool isInstalledProgram(Host& host, const QString& executable)
{
    if (fileNameOfPath(executable) != QLatin1String("ntpd") ||
        !isSystemProgramFolder(folderOfPath(executable)))
        return false;
    const QStringList folders = pathsDownTo(folderOfPath(executable));
    QVector<HostRequest> requests;
    for (const QString& folder : folders)
        requests.append({HostRequest::Status, systemPath(folder)});
    requests.append({HostRequest::Status, systemPath(executable)});
    const QVector<HostReply> replies = host.query(requests);
    if (replies.size() != requests.size())
        return false;
    for (int i = 0; i < folders.size(); ++i) {
        const FileStatus& folder = replies.at(i).status;
        if (!folder.isDirectory() || !onlyRootMayChange(folder))
            return false;
    }
    const FileStatus& program = replies.constLast().status;
    return program.isRegular() && onlyRootMayChange(program);
}

// The daemon's accounts, from a passwd file only root may change.
QSet<uint> daemonAccounts(Host& host)
{
    FileContent passwd;
    if (host.readFile(systemPath(QStringLiteral("/etc/passwd")), passwdLimit, &passwd) != 0 ||
        !onlyRootMayChange(passwd.status))
        return {};
    return daemonAccountUids(passwd.bytes);
}
} // namespace

QSet<uint> daemonAccountUids(const QByteArray& passwd)
{
    QSet<uint> uids;
    for (const QByteArray& line : passwd.split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3 || (fields.at(0) != "ntpsec" && fields.at(0) != "ntp"))
            continue;
        bool ok = false;
        const uint uid = fields.at(2).toUInt(&ok);
        // A process whose user is unknown never matches.
        if (ok && uid != HostProcess::unknownUid)
            uids.insert(uid);
    }
    return uids;
}

QString executableOfLink(const QString& link)
{
    const QString deleted = QStringLiteral(" (deleted)");
    return link.endsWith(deleted) ? link.left(link.size() - deleted.size()) : link;
}

QVector<DaemonProcess> installedDaemonProcesses(Host& host, const QVector<HostProcess>& processes)
{
    QVector<DaemonProcess> daemons;
    QSet<uint> accounts;
    bool accountsRead = false;
    for (const HostProcess& process : processes) {
        const QString executable = executableOfLink(process.executable);
        if (!process.inOurNetwork || process.commandLine.isEmpty() ||
            fileNameOfPath(executable) != QLatin1String("ntpd"))
            continue;
        if (process.uid != 0) {
            if (!accountsRead) {
                accounts = daemonAccounts(host);
                accountsRead = true;
            }
            if (!accounts.contains(process.uid))
                continue;
        }
        if (!isInstalledProgram(host, executable))
            continue;
        daemons.append({process.pid, process.commandLine.mid(1), process.workingDirectory});
    }
    return daemons;
}

bool isRootsProgram(Host& host, const QString& path)
{
    const FileStatus status = host.status(path, true);
    return status.isRegular() && (status.mode & 0111) != 0 && onlyRootMayChange(status);
}
