#include "daemon/daemonsetup.h"

#include <QMap>
#include <QRegularExpression>

#include <algorithm>

#include "daemon/daemonprocess.h"
#include "daemon/ntpconfpath.h"
#include "daemon/shellassignments.h"
#include "host/host.h"
#include "host/hostpath.h"
#include "host/processrunner.h"

namespace
{
// Long enough for a slow disk, short enough not to hold up the window.
constexpr int versionQueryLimitMs = 5000;
// The package database of a large installation stays far below this.
constexpr qint64 packageDatabaseLimit = 64 * 1024 * 1024;
// Defaults files and pid files are a few lines.
constexpr qint64 smallFileLimit = 1024 * 1024;

DaemonSetup& current()
{
    static DaemonSetup setup;
    return setup;
}

struct InstalledDaemon {
    DaemonFlavour flavour = DaemonFlavour::None;
    QString version;
};

// "ntpd ntpsec-1.2.2" or "ntpd 4.2.8p15@1.3728-o ...". OpenNTPD's ntpd knows
// no --version and answers with its usage, which matches neither.
InstalledDaemon parseVersionOutput(const QByteArray& output)
{
    const QString text = QString::fromUtf8(output);
    static const QRegularExpression ntpsec(QStringLiteral("ntpsec-([0-9][0-9A-Za-z.]*)"));
    static const QRegularExpression classic(
        QStringLiteral("^ntpd ([0-9]+\\.[0-9]+\\.[0-9A-Za-z]+)"),
        QRegularExpression::MultilineOption);
    QRegularExpressionMatch match = ntpsec.match(text);
    if (match.hasMatch())
        return {DaemonFlavour::Ntpsec, match.captured(1)};
    match = classic.match(text);
    if (match.hasMatch())
        return {DaemonFlavour::Classic, match.captured(1)};
    return {};
}

// The value after `field` ("Package:") of a line that starts with it.
bool fieldValue(const QByteArray& line, const char* field, QString* value)
{
    if (!line.startsWith(field))
        return false;
    *value = QString::fromUtf8(line.mid(int(qstrlen(field))).trimmed());
    return true;
}

// Package name -> version of every package dpkg lists as installed.
QMap<QString, QString> installedPackages(const QByteArray& database)
{
    QMap<QString, QString> packages;
    QString name, status, version;
    auto endParagraph = [&] {
        // "install ok installed", "hold ok installed": the third word counts.
        if (!name.isEmpty() && status.section(QLatin1Char(' '), 2, 2) == QLatin1String("installed"))
            packages.insert(name, version);
        name.clear();
        status.clear();
        version.clear();
    };
    for (const QByteArray& raw : database.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty())
            endParagraph();
        else if (!fieldValue(line, "Package:", &name) && !fieldValue(line, "Status:", &status))
            fieldValue(line, "Version:", &version);
    }
    endParagraph();
    return packages;
}

// "1:4.2.8p15+dfsg-1" -> "4.2.8p15"; "1.2.2+dfsg1-1+deb12u1" -> "1.2.2"
QString upstreamVersion(QString version)
{
    version = version.section(QLatin1Char(':'), -1);
    static const QRegularExpression end(QStringLiteral("[+~-].*$"));
    return version.remove(end);
}

// A program the detection may run (or hand to the service commands) as
// root: only root can have put it there or changed it.
bool isRootsProgramFile(const FileStatus& status)
{
    return status.isRegular() && (status.mode & 0111) != 0 && onlyRootMayChange(status);
}

// Everything detection reads of the machine's files, asked for at once: one
// round trip on a remote host.
struct MachineFiles {
    QMap<QString, QString> packages;
    FileStatus ntpdProgram;
    QByteArray ntpsecDefaults;
    bool ntpsecDefaultsUntrusted = false; // there, but others could have written it
    bool ntpsecDhcpCopy = false;
    bool classicDhcpCopy = false;
    bool classicConf = false;
    FileStatus classicScript;
    FileStatus ntpsecScript;
    bool systemdRuns = false;
    QString servicePid; // of the pid file both daemons' scripts and units write
};

// Read, and nobody but root can have written it.
bool readFromRootsFile(const HostReply& reply)
{
    return reply.error == 0 && onlyRootMayChange(reply.status);
}

QString pidIn(const HostReply& pidFile)
{
    return readFromRootsFile(pidFile) ? QString::fromLatin1(pidFile.bytes).trimmed() : QString();
}

MachineFiles lookAtMachine(Host& host)
{
    enum {
        Dpkg,
        Ntpd,
        Defaults,
        NtpsecDhcp,
        ClassicDhcp,
        ClassicConf,
        ClassicScript,
        NtpsecScript,
        Systemd,
        PidFile,
        Count
    };
    QVector<HostRequest> requests(Count);
    requests[Dpkg] = {HostRequest::ReadFile, dpkgStatusPath(), packageDatabaseLimit, true};
    requests[Ntpd] = {HostRequest::StatusFollowing, ntpdProgramPath()};
    requests[Defaults] = {HostRequest::ReadFile, ntpsecDefaultsPath(), smallFileLimit, true};
    requests[NtpsecDhcp] = {HostRequest::StatusFollowing, ntpsecDhcpConfPath()};
    requests[ClassicDhcp] = {HostRequest::StatusFollowing, classicDhcpConfPath()};
    requests[ClassicConf] = {HostRequest::StatusFollowing, classicConfPath()};
    requests[ClassicScript] = {HostRequest::StatusFollowing, classicInitScriptPath()};
    requests[NtpsecScript] = {HostRequest::StatusFollowing, ntpsecInitScriptPath()};
    requests[Systemd] = {HostRequest::StatusFollowing, systemdRuntimePath()};
    requests[PidFile] = {HostRequest::ReadFile, ntpdPidFilePath(), smallFileLimit, true};
    QVector<HostReply> replies = host.query(requests);
    replies.resize(Count); // a host that answered fewer: the rest is unknown
    const auto there = [&replies](int i) {
        return replies.at(i).error == 0;
    };
    MachineFiles files;
    files.packages = installedPackages(replies.at(Dpkg).bytes);
    files.ntpdProgram = replies.at(Ntpd).status;
    if (readFromRootsFile(replies.at(Defaults)))
        files.ntpsecDefaults = replies.at(Defaults).bytes;
    else
        files.ntpsecDefaultsUntrusted = replies.at(Defaults).error == 0;
    files.ntpsecDhcpCopy = there(NtpsecDhcp);
    files.classicDhcpCopy = there(ClassicDhcp);
    files.classicConf = there(ClassicConf);
    files.classicScript = replies.at(ClassicScript).status;
    files.ntpsecScript = replies.at(NtpsecScript).status;
    files.systemdRuns = there(Systemd) && replies.at(Systemd).status.isDirectory();
    files.servicePid = pidIn(replies.at(PidFile));
    return files;
}

InstalledDaemon installedDaemon(Host& host, const MachineFiles& files)
{
    if (isRootsProgramFile(files.ntpdProgram)) {
        const ProcessResult result =
            host.run(ntpdProgramPath(), {QStringLiteral("--version")}, versionQueryLimitMs);
        const InstalledDaemon fromProgram = parseVersionOutput(
            result.finished ? result.standardOutput + result.standardError : QByteArray());
        if (fromProgram.flavour != DaemonFlavour::None)
            return fromProgram;
    }
    // The transitional "ntp" of newer releases pulls in ntpsec: ntpsec wins.
    const QMap<QString, QString>& packages = files.packages;
    if (packages.contains(QStringLiteral("ntpsec")))
        return {DaemonFlavour::Ntpsec, upstreamVersion(packages.value(QStringLiteral("ntpsec")))};
    if (packages.contains(QStringLiteral("ntp")))
        return {DaemonFlavour::Classic, upstreamVersion(packages.value(QStringLiteral("ntp")))};
    return {};
}

struct Process {
    QString pid;
    QString name; // base name of argv[0]
    QStringList arguments;
};

// The processes of the host that keep its time: one in another network
// namespace (a container, a test's private daemon) does not.
QList<Process> runningProcesses(const QVector<HostProcess>& all)
{
    QList<Process> processes;
    for (const HostProcess& process : all) {
        if (!process.inOurNetwork || process.commandLine.isEmpty())
            continue;
        QStringList arguments = process.commandLine;
        const QString name = fileNameOfPath(arguments.takeFirst());
        processes.append({QString::number(process.pid), name, arguments});
    }
    return processes;
}

// The file given with -c FILE, -cFILE, --configfile FILE or
// --configfile=FILE (the last one counts); both daemons read /etc/ntp.conf
// when none is given.
QString configOption(const QStringList& arguments)
{
    QString file;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& word = arguments.at(i);
        if ((word == QLatin1String("-c") || word == QLatin1String("--configfile")) &&
            i + 1 < arguments.size())
            file = arguments.at(++i);
        else if (word.startsWith(QLatin1String("--configfile=")))
            file = word.mid(13);
        else if (word.startsWith(QLatin1String("-c")) && !word.startsWith(QLatin1String("--")))
            file = word.mid(2);
    }
    return file;
}

using Doubt = DaemonSetup::Doubt;

// `file` as the daemon takes it, from its working folder `folder` (a path of
// the host).
QString systemFile(const QString& file, const QString& folder)
{
    return systemPath(cleanPath(pathIn(folder, file)));
}

// The -c file of the defaults file's NTPD_OPTS as the daemon's unit and init
// script pass it on (unquoted, so split into words); empty for none.
QString configInOptions(const ShellVariables& variables, QVector<Doubt>* doubts)
{
    const QString name = QStringLiteral("NTPD_OPTS");
    if (variables.notUnderstood.contains(name)) {
        doubts->append({Doubt::OptionsNotUnderstood, ntpsecDefaultsPath(), name});
        return QString();
    }
    const QString options = variables.values.value(name);
    if (options.contains(QLatin1Char('\n')))
        doubts->append({Doubt::ConfigLineBreak, ntpsecDefaultsPath(), options});
    bool patterns = false;
    const QString file = configOption(shellFields(options, &patterns));
    if (patterns)
        doubts->append({Doubt::OptionsNotUnderstood, ntpsecDefaultsPath(), name});
    if (file.isEmpty())
        return QString();
    // The unit and the init script start the daemon in "/".
    if (!file.startsWith(QLatin1Char('/')))
        doubts->append({Doubt::RelativeConfig, file, QStringLiteral("/")});
    return systemFile(file, QStringLiteral("/"));
}

// What the daemon reads when it next starts, as its init script or unit
// decides.
QString configAtStart(DaemonFlavour flavour, const MachineFiles& files, QVector<Doubt>* doubts)
{
    if (flavour == DaemonFlavour::Ntpsec) {
        if (files.ntpsecDefaultsUntrusted)
            doubts->append({Doubt::UntrustedFile, ntpsecDefaultsPath(), QString()});
        const ShellVariables variables = shellAssignments(files.ntpsecDefaults);
        const QString ignoreDhcpName = QStringLiteral("IGNORE_DHCP");
        if (variables.notUnderstood.contains(ignoreDhcpName))
            doubts->append({Doubt::OptionsNotUnderstood, ntpsecDefaultsPath(), ignoreDhcpName});
        const bool ignoreDhcp = variables.values.value(ignoreDhcpName) == QLatin1String("yes");
        if (!ignoreDhcp && files.ntpsecDhcpCopy)
            return ntpsecDhcpConfPath();
        const QString fromOptions = configInOptions(variables, doubts);
        return fromOptions.isEmpty() ? ntpsecConfPath() : fromOptions;
    }
    if (flavour == DaemonFlavour::Classic && files.classicDhcpCopy)
        return classicDhcpConfPath();
    return classicConfPath();
}

void findOtherTimeService(DaemonSetup* setup, const QMap<QString, QString>& packages,
                          const QList<Process>& processes)
{
    static const QList<std::pair<QString, QString>> services = {
        {QStringLiteral("chrony"), QStringLiteral("chronyd")},
        {QStringLiteral("systemd-timesyncd"), QStringLiteral("systemd-timesyncd")},
        {QStringLiteral("OpenNTPD"), QStringLiteral("ntpd")},
    };
    for (const auto& service : services) {
        const bool isOpenNtpd = service.first == QLatin1String("OpenNTPD");
        if (isOpenNtpd && setup->flavour != DaemonFlavour::None)
            continue; // its ntpd is then the NTP daemon
        bool runs = false;
        for (const Process& process : processes)
            runs = runs || process.name == service.second;
        const bool installed =
            packages.contains(isOpenNtpd ? QStringLiteral("openntpd") : service.first);
        if (runs || (installed && setup->otherTimeService.isEmpty())) {
            setup->otherTimeService = service.first;
            setup->otherTimeServiceRuns = runs;
        }
        if (runs)
            return;
    }
}

QStringList dropInsBeside(Host& host, const QString& config)
{
    const QString folder = folderOfPath(config) + QStringLiteral("/ntp.d");
    QVector<FolderEntry> entries;
    QStringList files;
    if (host.listFolder(folder, &entries) != 0)
        return files;
    // The daemon reads the regular files and the links to them: where the
    // links lead is asked for all of them at once.
    QStringList links;
    for (const FolderEntry& entry : qAsConst(entries)) {
        if (!entry.name.endsWith(QLatin1String(".conf")))
            continue;
        if (entry.status.isRegular())
            files << pathIn(folder, entry.name);
        else if (entry.status.isSymlink())
            links << pathIn(folder, entry.name);
    }
    QVector<HostRequest> requests;
    for (const QString& link : qAsConst(links))
        requests.append({HostRequest::StatusFollowing, link});
    const QVector<HostReply> replies = host.query(requests);
    for (int i = 0; i < links.size() && i < replies.size(); ++i) {
        if (replies.at(i).error == 0 && replies.at(i).status.isRegular())
            files << links.at(i);
    }
    files.sort();
    return files;
}

QString initScriptFor(DaemonFlavour flavour, const MachineFiles& files)
{
    if (flavour == DaemonFlavour::None)
        return QString();
    const bool ntpsecFirst = flavour == DaemonFlavour::Ntpsec;
    const std::pair<QString, FileStatus> classic = {classicInitScriptPath(), files.classicScript};
    const std::pair<QString, FileStatus> ntpsec = {ntpsecInitScriptPath(), files.ntpsecScript};
    for (const auto& script : {ntpsecFirst ? ntpsec : classic, ntpsecFirst ? classic : ntpsec}) {
        if (isRootsProgramFile(script.second))
            return script.first;
    }
    return QString();
}

// The service's daemon is the one its pid file names; any other installed
// ntpd (one run by hand, say) counts only when the service's does not run.
// Processes that are not the installed daemon never count.
bool runningNtpd(Host& host, const QVector<HostProcess>& all, const QString& servicePid,
                 QString* config, QVector<Doubt>* doubts = nullptr)
{
    QVector<DaemonProcess> candidates = installedDaemonProcesses(host, all);
    for (int i = 0; i < candidates.size(); ++i) {
        if (QString::number(candidates.at(i).pid) == servicePid)
            std::rotate(candidates.begin(), candidates.begin() + i, candidates.begin() + i + 1);
    }
    if (candidates.isEmpty())
        return false;
    const DaemonProcess& daemon = candidates.constFirst();
    QString file = configOption(daemon.arguments);
    if (file.isEmpty())
        file = QStringLiteral("/etc/ntp.conf");
    QString folder = daemon.workingDirectory;
    if (folder.isEmpty() || !folder.startsWith(QLatin1Char('/'))) {
        folder = QStringLiteral("/");
        if (doubts && !file.startsWith(QLatin1Char('/')))
            doubts->append({Doubt::RelativeConfig, file, folder});
    }
    if (config)
        *config = systemFile(file, folder);
    return true;
}
} // namespace

const DaemonSetup& currentDaemon()
{
    return current();
}

void setCurrentDaemon(const DaemonSetup& setup)
{
    current() = setup;
}

DaemonSetup detectDaemonSetup()
{
    Host& host = Host::current();
    DaemonSetup setup;
    const MachineFiles files = lookAtMachine(host);
    const InstalledDaemon installed = installedDaemon(host, files);
    setup.flavour = installed.flavour;
    setup.version = installed.version;
    const QVector<HostProcess> all = host.processes(procPath());
    const QList<Process> processes = runningProcesses(all);
    findOtherTimeService(&setup, files.packages, processes);
    if (setup.flavour == DaemonFlavour::None) {
        // Nothing reads a file: the classic one is edited, as always.
        setup.editedConfig = ntpConfPath();
        return setup;
    }

    setup.running = runningNtpd(host, all, files.servicePid, &setup.daemonConfig, &setup.doubts);
    if (!setup.running)
        setup.daemonConfig = configAtStart(setup.flavour, files, &setup.doubts);
    setup.editedConfig = setup.daemonConfig;
    if (isSameFile(setup.daemonConfig, ntpsecDhcpConfPath())) {
        setup.dhcpConfig = setup.daemonConfig;
        setup.editedConfig = ntpsecConfPath();
    } else if (isSameFile(setup.daemonConfig, classicDhcpConfPath())) {
        setup.dhcpConfig = setup.daemonConfig;
        setup.editedConfig = classicConfPath();
    }
    if (setup.isNtpsec())
        setup.dropIns = dropInsBeside(host, setup.daemonConfig);
    if (files.classicConf && !isSameFile(classicConfPath(), setup.editedConfig))
        setup.deadClassicConfig = classicConfPath();

    setup.initScript = initScriptFor(setup.flavour, files);
    if (setup.initScript.isEmpty() && files.systemdRuns)
        setup.systemdUnit =
            setup.isNtpsec() ? QStringLiteral("ntpsec.service") : QStringLiteral("ntp.service");
    return setup;
}

bool findRunningNtpd(DaemonFlavour flavour, QString* config)
{
    if (flavour == DaemonFlavour::None)
        return false;
    Host& host = Host::current();
    const QVector<HostReply> pidFile =
        host.query({{HostRequest::ReadFile, ntpdPidFilePath(), smallFileLimit, true}});
    const QString servicePid = pidFile.size() == 1 ? pidIn(pidFile.first()) : QString();
    return runningNtpd(host, host.processes(procPath()), servicePid, config);
}

QString configFileToEdit(const DaemonSetup& setup, const QString& commandLineFile)
{
    if (!commandLineFile.isEmpty())
        return absolutePath(commandLineFile);
    return setup.editedConfig.isEmpty() ? ntpConfPath() : setup.editedConfig;
}

bool isSameFile(const QString& a, const QString& b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QVector<HostReply> replies = Host::current().query(
        {{HostRequest::StatusFollowing, a}, {HostRequest::StatusFollowing, b}});
    if (replies.size() == 2 && replies.at(0).error == 0 && replies.at(1).error == 0)
        return replies.at(0).status.sameFile(replies.at(1).status);
    return cleanPath(absolutePath(a)) == cleanPath(absolutePath(b));
}

QString daemonDisplayName(DaemonFlavour flavour)
{
    switch (flavour) {
    case DaemonFlavour::Ntpsec:
        return QStringLiteral("NTPsec");
    case DaemonFlavour::Classic:
        return QStringLiteral("ntpd");
    case DaemonFlavour::None:
        break;
    }
    return QString();
}
