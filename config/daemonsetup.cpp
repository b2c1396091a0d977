#include "daemonsetup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#include "ntpconfpath.h"

#include <unistd.h>

namespace
{
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

// Package name -> version of every package dpkg lists as installed.
QMap<QString, QString> installedPackages()
{
    QMap<QString, QString> packages;
    QFile file(dpkgStatusPath());
    if (!file.open(QIODevice::ReadOnly))
        return packages;
    QString name, status, version;
    auto endParagraph = [&] {
        // "install ok installed", "hold ok installed": the third word counts.
        if (!name.isEmpty() && status.section(QLatin1Char(' '), 2, 2) == QLatin1String("installed"))
            packages.insert(name, version);
        name.clear();
        status.clear();
        version.clear();
    };
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty())
            endParagraph();
        else if (line.startsWith(QLatin1String("Package:")))
            name = line.mid(8).trimmed();
        else if (line.startsWith(QLatin1String("Status:")))
            status = line.mid(7).trimmed();
        else if (line.startsWith(QLatin1String("Version:")))
            version = line.mid(8).trimmed();
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

InstalledDaemon installedDaemon(CommandRunner& runner, const QMap<QString, QString>& packages)
{
    if (QFileInfo(ntpdProgramPath()).isExecutable()) {
        const InstalledDaemon fromProgram =
            parseVersionOutput(runner.outputOf(ntpdProgramPath(), {QStringLiteral("--version")}));
        if (fromProgram.flavour != DaemonFlavour::None)
            return fromProgram;
    }
    // The transitional "ntp" of newer releases pulls in ntpsec: ntpsec wins.
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

QString namespaceLink(const QString& path)
{
    char target[64];
    const ssize_t size = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
    return size > 0 ? QString::fromLatin1(target, int(size)) : QString();
}

// A process in another network namespace (a container, a test's private
// daemon) does not keep this machine's time. Unknown counts as the same.
bool inOurNetwork(const QDir& proc, const QString& pid)
{
    static const QString net = QStringLiteral("/ns/net");
    const QString ours = namespaceLink(proc.filePath(QStringLiteral("self") + net));
    const QString theirs = namespaceLink(proc.filePath(pid + net));
    return ours.isEmpty() || theirs.isEmpty() || ours == theirs;
}

QList<Process> runningProcesses()
{
    QList<Process> processes;
    const QDir proc(procPath());
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        entry.toUInt(&numeric);
        if (!numeric || !inOurNetwork(proc, entry))
            continue;
        QFile file(proc.filePath(entry + QStringLiteral("/cmdline")));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QByteArray bytes = file.readAll();
        if (bytes.endsWith('\0'))
            bytes.chop(1);
        if (bytes.isEmpty())
            continue; // kernel thread
        QStringList words;
        for (const QByteArray& word : bytes.split('\0'))
            words << QString::fromLocal8Bit(word);
        processes.append({entry, QFileInfo(words.takeFirst()).fileName(), words});
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

QString systemFile(const QString& file)
{
    return systemPath(QDir::cleanPath(QDir(QStringLiteral("/")).absoluteFilePath(file)));
}

// Shell variable assignments of a defaults file such as /etc/default/ntpsec.
QString shellVariable(const QString& path, const QString& name)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QString value;
    const QString prefix = name + QLatin1Char('=');
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (!line.startsWith(prefix))
            continue;
        value = line.mid(prefix.size()).section(QLatin1Char('#'), 0, 0).trimmed();
        if (value.size() >= 2 &&
            (value.startsWith(QLatin1Char('"')) || value.startsWith(QLatin1Char('\''))))
            value = value.mid(1, value.size() - 2);
    }
    return value;
}

// What the daemon reads when it next starts, as its init script or unit
// decides.
QString configAtStart(DaemonFlavour flavour)
{
    if (flavour == DaemonFlavour::Ntpsec) {
        const bool ignoreDhcp =
            shellVariable(ntpsecDefaultsPath(), QStringLiteral("IGNORE_DHCP")) ==
            QLatin1String("yes");
        if (!ignoreDhcp && QFileInfo::exists(ntpsecDhcpConfPath()))
            return ntpsecDhcpConfPath();
        const QString fromOptions =
            configOption(shellVariable(ntpsecDefaultsPath(), QStringLiteral("NTPD_OPTS"))
                             .split(QLatin1Char(' '), Qt::SkipEmptyParts));
        return fromOptions.isEmpty() ? ntpsecConfPath() : systemFile(fromOptions);
    }
    if (flavour == DaemonFlavour::Classic && QFileInfo::exists(classicDhcpConfPath()))
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

QStringList dropInsBeside(const QString& config)
{
    const QDir dir(QFileInfo(config).absolutePath() + QStringLiteral("/ntp.d"));
    QStringList files;
    for (const QString& name : dir.entryList({QStringLiteral("*.conf")}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

QString initScriptFor(DaemonFlavour flavour)
{
    if (flavour == DaemonFlavour::None)
        return QString();
    QStringList scripts = {classicInitScriptPath(), ntpsecInitScriptPath()};
    if (flavour == DaemonFlavour::Ntpsec)
        std::swap(scripts[0], scripts[1]);
    for (const QString& script : scripts) {
        if (QFileInfo(script).isExecutable())
            return script;
    }
    return QString();
}

// The service's daemon is the one its pid file names; any other ntpd (one
// run by hand, say) counts only when the service's does not run.
bool runningNtpd(const QList<Process>& processes, QString* config)
{
    QFile pidFile(ntpdPidFilePath());
    const QString servicePid = pidFile.open(QIODevice::ReadOnly)
                                   ? QString::fromLatin1(pidFile.readAll()).trimmed()
                                   : QString();
    QList<Process> candidates;
    for (const Process& process : processes) {
        if (process.name != QLatin1String("ntpd"))
            continue;
        if (process.pid == servicePid)
            candidates.prepend(process);
        else
            candidates.append(process);
    }
    for (const Process& process : qAsConst(candidates)) {
        const QString file = configOption(process.arguments);
        if (config)
            *config = systemFile(file.isEmpty() ? QStringLiteral("/etc/ntp.conf") : file);
        return true;
    }
    return false;
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

DaemonSetup detectDaemonSetup(CommandRunner& runner)
{
    DaemonSetup setup;
    const QMap<QString, QString> packages = installedPackages();
    const InstalledDaemon installed = installedDaemon(runner, packages);
    setup.flavour = installed.flavour;
    setup.version = installed.version;
    const QList<Process> processes = runningProcesses();
    findOtherTimeService(&setup, packages, processes);
    if (setup.flavour == DaemonFlavour::None) {
        // Nothing reads a file: the classic one is edited, as always.
        setup.editedConfig = ntpConfPath();
        return setup;
    }

    setup.running = runningNtpd(processes, &setup.daemonConfig);
    if (!setup.running)
        setup.daemonConfig = configAtStart(setup.flavour);
    setup.editedConfig = setup.daemonConfig;
    if (isSameFile(setup.daemonConfig, ntpsecDhcpConfPath())) {
        setup.dhcpConfig = setup.daemonConfig;
        setup.editedConfig = ntpsecConfPath();
    } else if (isSameFile(setup.daemonConfig, classicDhcpConfPath())) {
        setup.dhcpConfig = setup.daemonConfig;
        setup.editedConfig = classicConfPath();
    }
    if (setup.isNtpsec())
        setup.dropIns = dropInsBeside(setup.daemonConfig);
    if (QFileInfo::exists(classicConfPath()) && !isSameFile(classicConfPath(), setup.editedConfig))
        setup.deadClassicConfig = classicConfPath();

    setup.initScript = initScriptFor(setup.flavour);
    if (setup.initScript.isEmpty() && QFileInfo(systemdRuntimePath()).isDir())
        setup.systemdUnit =
            setup.isNtpsec() ? QStringLiteral("ntpsec.service") : QStringLiteral("ntp.service");
    return setup;
}

bool findRunningNtpd(DaemonFlavour flavour, QString* config)
{
    return flavour != DaemonFlavour::None && runningNtpd(runningProcesses(), config);
}

QString configFileToEdit(const DaemonSetup& setup, const QString& commandLineFile)
{
    if (!commandLineFile.isEmpty())
        return QFileInfo(commandLineFile).absoluteFilePath();
    return setup.editedConfig.isEmpty() ? ntpConfPath() : setup.editedConfig;
}

bool isSameFile(const QString& a, const QString& b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QFileInfo first(a), second(b);
    const QString canonicalA = first.canonicalFilePath(), canonicalB = second.canonicalFilePath();
    if (!canonicalA.isEmpty() && !canonicalB.isEmpty())
        return canonicalA == canonicalB;
    return QDir::cleanPath(first.absoluteFilePath()) == QDir::cleanPath(second.absoluteFilePath());
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
