// Finding the installed NTP daemon, the file it reads and its service on
// fake machines laid out like real releases, and what the window says
// about each set-up.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include "daemon/daemonlog.h"
#include "daemon/daemonnotices.h"
#include "daemon/daemonprocess.h"
#include "daemon/daemonsetup.h"
#include "daemon/ntpconfpath.h"
#include "host/host.h"
#include "tests/common/fakesystem.h"

namespace
{
using Layout = void (FakeSystem::*)();

Layout layoutNamed(const QString& name)
{
    static const QMap<QString, Layout> layouts = {
        {QStringLiteral("debian11"), &FakeSystem::debian11Classic},
        {QStringLiteral("debian12"), &FakeSystem::debian12Ntpsec},
        {QStringLiteral("upgraded"), &FakeSystem::debian12Upgraded},
        {QStringLiteral("dhcp"), &FakeSystem::ntpsecWithDhcp},
        {QStringLiteral("dropins"), &FakeSystem::ntpsecWithDropIns},
        {QStringLiteral("chrony"), &FakeSystem::chronyInstalled},
        {QStringLiteral("nothing"), &FakeSystem::nothingInstalled},
    };
    return layouts.value(name);
}

QString underRoot(const FakeSystem& system, const QString& absolute)
{
    return absolute.isEmpty() ? QString() : system.path(absolute);
}

const uint nobody = 65534;
const uint ntpsecUid = 102;

void addDaemonAccount(const FakeSystem& system)
{
    system.write(QStringLiteral("/etc/passwd"),
                 "root:x:0:0:root:/root:/bin/bash\n"
                 "ntpsec:x:102:105::/nonexistent:/usr/sbin/nologin\n"
                 "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n");
}

void relink(const QString& link, const QString& target)
{
    QFile::remove(link);
    QVERIFY(QFile::link(target, link));
}

void giveTo(const QString& path, uint uid)
{
    QCOMPARE(::chown(QFile::encodeName(path).constData(), uid, uid), 0);
}

// The notices of `setup` as one text.
QString noticesOf(const DaemonSetup& setup)
{
    return daemonNotices(setup, setup.editedConfig, 0).join(QLatin1Char('\n'));
}

// A copy of the shell named ntpd that waits for input, told to read
// `config` as an ntpd would be: "ntpd -c 'read line' --configfile=CONFIG".
struct FakeNtpd {
    QProcess process;
    ~FakeNtpd()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    bool startIn(const QString& folder, const QStringList& prefix, const QString& config)
    {
        const QString ntpd = folder + QStringLiteral("/ntpd");
        if (!QFile::copy(QStandardPaths::findExecutable(QStringLiteral("dash")), ntpd))
            return false;
        QFile::setPermissions(ntpd, QFile::permissions(ntpd) | QFile::ExeOther | QFile::ReadOther);
        const QStringList command =
            prefix + QStringList{ntpd, QStringLiteral("-c"), QStringLiteral("read line"),
                                 QStringLiteral("--configfile=") + config};
        process.start(command.first(), command.mid(1));
        if (!process.waitForStarted(5000))
            return false;
        // Until the exec is done /proc shows the starter's name.
        for (int i = 0; i < 100; ++i) {
            QFile exe(QStringLiteral("/proc/%1/exe").arg(process.processId()));
            if (exe.symLinkTarget() == ntpd)
                return true;
            QTest::qWait(20);
        }
        return false;
    }
};
} // namespace

class TestDaemonSetup : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setNtpConfPathForTesting(QString()); }

    void layouts_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("flavour");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("edited");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("summary"); // with ROOT for the fake root
        QTest::addColumn<QStringList>("noticeWords");
        const int classic = int(DaemonFlavour::Classic), ntpsec = int(DaemonFlavour::Ntpsec);
        QTest::newRow("Debian 11 classic")
            << "debian11" << classic << "4.2.8p15"
            << "/etc/ntp.conf"
            << "/etc/init.d/ntp"
            << "ntpd 4.2.8p15 · ROOT/etc/ntp.conf · stopped" << QStringList();
        QTest::newRow("Debian 12 NTPsec")
            << "debian12" << ntpsec << "1.2.2"
            << "/etc/ntpsec/ntp.conf"
            << "/etc/init.d/ntpsec"
            << "NTPsec 1.2.2 · ROOT/etc/ntpsec/ntp.conf · stopped" << QStringList();
        QTest::newRow("upgraded from Debian 11")
            << "upgraded" << ntpsec << "1.2.2"
            << "/etc/ntpsec/ntp.conf"
            << "/etc/init.d/ntpsec"
            << "NTPsec 1.2.2 · ROOT/etc/ntpsec/ntp.conf · stopped"
            << QStringList{"ROOT/etc/ntp.conf is left over from the classic NTP daemon",
                           "NTPsec reads ROOT/etc/ntpsec/ntp.conf"};
        QTest::newRow("DHCP servers")
            << "dhcp" << ntpsec << "1.2.2"
            << "/etc/ntpsec/ntp.conf"
            << "/etc/init.d/ntpsec"
            << "NTPsec 1.2.2 · ROOT/etc/ntpsec/ntp.conf (servers from DHCP) · running"
            << QStringList{"the daemon reads the copy ROOT/run/ntpsec/ntp.conf.dhcp",
                           "set IGNORE_DHCP=yes in ROOT/etc/default/ntpsec"};
        QTest::newRow("ntp.d drop-ins")
            << "dropins" << ntpsec << "1.2.2"
            << "/etc/ntpsec/ntp.conf"
            << "/etc/init.d/ntpsec"
            << "NTPsec 1.2.2 · ROOT/etc/ntpsec/ntp.conf · stopped"
            << QStringList{"also reads default.conf, use-gpsd-json.conf in ROOT/etc/ntpsec/ntp.d"};
        QTest::newRow("chrony") << "chrony" << int(DaemonFlavour::None) << ""
                                << "/etc/ntp.conf"
                                << ""
                                << "No NTP daemon installed · ROOT/etc/ntp.conf"
                                << QStringList{"keeps time with chrony", "package ntpsec"};
        QTest::newRow("nothing") << "nothing" << int(DaemonFlavour::None) << ""
                                 << "/etc/ntp.conf"
                                 << ""
                                 << "No NTP daemon installed · ROOT/etc/ntp.conf"
                                 << QStringList{"No NTP daemon is installed",
                                                "package ntpsec (or ntp"};
    }
    void layouts()
    {
        QFETCH(QString, layout);
        QFETCH(int, flavour);
        QFETCH(QString, version);
        QFETCH(QString, edited);
        QFETCH(QString, script);
        QFETCH(QString, summary);
        QFETCH(QStringList, noticeWords);
        FakeSystem system;
        (system.*layoutNamed(layout))();
        RecordingProcessRunner runner;
        const DaemonSetup setup = detectDaemonSetup();
        QCOMPARE(int(setup.flavour), flavour);
        QCOMPARE(setup.version, version);
        QCOMPARE(setup.editedConfig, system.path(edited));
        QCOMPARE(configFileToEdit(setup, QString()), system.path(edited));
        QCOMPARE(setup.initScript, underRoot(system, script));
        QVERIFY(setup.systemdUnit.isEmpty()); // every layout has its script
        const QString root = system.path(QString());
        QCOMPARE(daemonSummary(setup, setup.editedConfig),
                 QString(summary).replace(QLatin1String("ROOT"), root));
        const QString notices = daemonNotices(setup, setup.editedConfig, 0).join(QLatin1Char('\n'));
        for (QString words : noticeWords)
            QVERIFY2(notices.contains(words.replace(QLatin1String("ROOT"), root)),
                     qPrintable(notices));
        if (noticeWords.isEmpty())
            QCOMPARE(notices, QString());
        if (QFile::exists(system.path(QStringLiteral("/usr/sbin/ntpd"))))
            QCOMPARE(runner.calls,
                     QStringList{system.path(QStringLiteral("/usr/sbin/ntpd")) + " --version"});
    }

    // The flavour comes from the installed ntpd first, the package database
    // second; OpenNTPD's ntpd is no NTP daemon of ours.
    void flavourSources()
    {
        {
            FakeSystem system; // a classic ntpd built from source, no package
            system.installNtpd("ntpd 4.2.8p18@1.4062-o Fri May 24 2024 (1)");
            RecordingProcessRunner runner;
            const DaemonSetup setup = detectDaemonSetup();
            QCOMPARE(setup.flavour, DaemonFlavour::Classic);
            QCOMPARE(setup.version, QStringLiteral("4.2.8p18"));
        }
        {
            FakeSystem system; // ntpsec package held, ntpd not executable, ntp removed
            system.installPackage(QStringLiteral("ntp"), QStringLiteral("1:4.2.8p15+dfsg-1"),
                                  "deinstall ok config-files");
            system.installPackage(QStringLiteral("ntpsec"), QStringLiteral("1.2.3+dfsg1-2"),
                                  "hold ok installed");
            RecordingProcessRunner runner;
            const DaemonSetup setup = detectDaemonSetup();
            QCOMPARE(setup.flavour, DaemonFlavour::Ntpsec);
            QCOMPARE(setup.version, QStringLiteral("1.2.3"));
            QVERIFY(runner.calls.isEmpty());
        }
        {
            FakeSystem system;
            system.installPackage(QStringLiteral("openntpd"), QStringLiteral("1:6.8p1-4"));
            system.installNtpd("usage: ntpd [-dnSsv] [-f file] [-p file]");
            system.runProcess(90, {QStringLiteral("/usr/sbin/ntpd"), QStringLiteral("-f"),
                                   QStringLiteral("/etc/openntpd/ntpd.conf")});
            RecordingProcessRunner runner;
            const DaemonSetup setup = detectDaemonSetup();
            QCOMPARE(setup.flavour, DaemonFlavour::None);
            QCOMPARE(setup.otherTimeService, QStringLiteral("OpenNTPD"));
            QVERIFY(setup.otherTimeServiceRuns);
            QVERIFY(!setup.running);
        }
    }

    // Another time service that runs keeps the installed daemon from running.
    void otherServiceRuns()
    {
        FakeSystem system;
        system.debian12Ntpsec();
        system.runProcess(300, {QStringLiteral("/lib/systemd/systemd-timesyncd")});
        RecordingProcessRunner runner;
        DaemonSetup setup = detectDaemonSetup();
        QCOMPARE(setup.otherTimeService, QStringLiteral("systemd-timesyncd"));
        QCOMPARE(daemonNotices(setup, setup.editedConfig, 0),
                 QStringList{"systemd-timesyncd is running, so the NTP daemon will not: stop and "
                             "disable systemd-timesyncd for these settings to take effect."});
        setup.running = true;
        QVERIFY(daemonNotices(setup, setup.editedConfig, 0).isEmpty());
    }

    // The file the daemon runs with wins over the layout's default; the
    // defaults file and the command line are honoured.
    void fileChoice()
    {
        FakeSystem system;
        system.debian12Ntpsec();
        system.write(QStringLiteral("/srv/ntp/site.conf"), "server 192.0.2.9\n");
        RecordingProcessRunner runner;
        system.write(QStringLiteral("/etc/default/ntpsec"),
                     "NTPD_OPTS='-g -c /srv/ntp/site.conf' # site file\n");
        QCOMPARE(detectDaemonSetup().editedConfig, system.path("/srv/ntp/site.conf"));

        system.runProcess(77, {QStringLiteral("ntpd"), QStringLiteral("-g"),
                               QStringLiteral("--configfile=/etc/ntpsec/other.conf")});
        DaemonSetup setup = detectDaemonSetup();
        QVERIFY(setup.running);
        QCOMPARE(setup.editedConfig, system.path("/etc/ntpsec/other.conf"));
        QCOMPARE(configFileToEdit(setup, QStringLiteral("/tmp/mine.conf")),
                 QStringLiteral("/tmp/mine.conf"));
    }

    // An ntpd in another network namespace (a container, a test's own
    // daemon) is not this machine's daemon.
    void otherNetworkNamespace()
    {
        FakeSystem system;
        system.debian12Ntpsec();
        system.runProcess(55, {QStringLiteral("ntpd"), QStringLiteral("-c"),
                               QStringLiteral("/tmp/test/written.conf")});
        system.makeDir(QStringLiteral("/proc/self/ns"));
        system.makeDir(QStringLiteral("/proc/55/ns"));
        QVERIFY(QFile::link(QStringLiteral("net:[4026531840]"),
                            system.path(QStringLiteral("/proc/self/ns/net"))));
        QVERIFY(QFile::link(QStringLiteral("net:[4026532311]"),
                            system.path(QStringLiteral("/proc/55/ns/net"))));
        RecordingProcessRunner runner;
        const DaemonSetup setup = detectDaemonSetup();
        QVERIFY(!setup.running);
        QCOMPARE(setup.editedConfig, system.path("/etc/ntpsec/ntp.conf"));
    }

    // Only a root-owned ntpd in a system folder that only root can change,
    // run by root or the daemon's own account, is the daemon: an ordinary
    // user's ntpd never chooses the edited file.
    void onlyTheInstalledDaemonCounts_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<uint>("uid");
        QTest::addColumn<QString>("change"); // what is done to the fake machine first
        QTest::addColumn<bool>("counts");
        QTest::newRow("root") << "/usr/sbin/ntpd" << 0u << "" << true;
        QTest::newRow("daemon account") << "/usr/sbin/ntpd" << ntpsecUid << "" << true;
        QTest::newRow("replaced by an upgrade")
            << "/usr/sbin/ntpd" << ntpsecUid << "deleted" << true;
        QTest::newRow("installed program run by nobody")
            << "/usr/sbin/ntpd" << nobody << "" << false;
        QTest::newRow("user's own program") << "/home/mallory/ntpd" << 0u << "" << false;
        QTest::newRow("other name in /usr/sbin") << "/usr/sbin/ntpdate" << 0u << "" << false;
        QTest::newRow("program owned by a user") << "/usr/sbin/ntpd" << 0u << "owner" << false;
        QTest::newRow("program writable by others") << "/usr/sbin/ntpd" << 0u << "mode" << false;
        QTest::newRow("folder writable by others") << "/usr/sbin/ntpd" << 0u << "folder" << false;
        QTest::newRow("folder above owned by a user") << "/usr/sbin/ntpd" << 0u << "usr" << false;
        QTest::newRow("passwd writable by others")
            << "/usr/sbin/ntpd" << ntpsecUid << "passwd" << false;
    }

    void onlyTheInstalledDaemonCounts()
    {
        QFETCH(QString, program);
        QFETCH(uint, uid);
        QFETCH(QString, change);
        QFETCH(bool, counts);
        FakeSystem system;
        system.debian12Ntpsec();
        addDaemonAccount(system);
        system.write(QStringLiteral("/home/mallory/ntpd"), "#!/bin/sh\n");
        system.write(QStringLiteral("/usr/sbin/ntpdate"), "#!/bin/sh\n");
        system.runProcess(4242, {program, QStringLiteral("-c"), QStringLiteral("/etc/shadow")},
                          uid);
        const QString ntpd = system.path(QStringLiteral("/usr/sbin/ntpd"));
        if (change == QLatin1String("deleted"))
            relink(system.path(QStringLiteral("/proc/4242/exe")),
                   QStringLiteral("/usr/sbin/ntpd (deleted)"));
        else if (change == QLatin1String("owner"))
            giveTo(ntpd, nobody);
        else if (change == QLatin1String("mode"))
            QCOMPARE(::chmod(QFile::encodeName(ntpd).constData(), 0757), 0);
        else if (change == QLatin1String("folder"))
            QCOMPARE(::chmod(QFile::encodeName(system.path("/usr/sbin")).constData(), 01777), 0);
        else if (change == QLatin1String("usr"))
            giveTo(system.path(QStringLiteral("/usr")), nobody);
        else if (change == QLatin1String("passwd"))
            QCOMPARE(::chmod(QFile::encodeName(system.path("/etc/passwd")).constData(), 0666), 0);
        RecordingProcessRunner runner;
        const DaemonSetup setup = detectDaemonSetup();
        QCOMPARE(setup.running, counts);
        QCOMPARE(setup.editedConfig, system.path(counts ? QStringLiteral("/etc/shadow")
                                                        : QStringLiteral("/etc/ntpsec/ntp.conf")));
        QString config;
        QCOMPARE(findRunningNtpd(DaemonFlavour::Ntpsec, &config), counts);
        QVERIFY(!daemonSummary(setup, setup.editedConfig).contains(QLatin1String("shadow")) ||
                counts);
    }

    // The real process list: a copy of a program named ntpd, run by an
    // ordinary user or from a folder any user may write to, is not the
    // daemon.
    void hostileNtpdOnThisMachineIgnored_data()
    {
        QTest::addColumn<bool>("asNobody");
        QTest::newRow("run by nobody") << true;
        QTest::newRow("run by root from a user-writable folder") << false;
    }

    void hostileNtpdOnThisMachineIgnored()
    {
        QFETCH(bool, asNobody);
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        QVERIFY2(!setpriv.isEmpty(), "setpriv (util-linux) is needed");
        QTemporaryDir folder;
        QCOMPARE(::chmod(QFile::encodeName(folder.path()).constData(), 0777), 0);
        if (asNobody)
            giveTo(folder.path(), nobody);
        const QStringList prefix = asNobody ? QStringList{setpriv, QStringLiteral("--reuid=nobody"),
                                                          QStringLiteral("--regid=nogroup"),
                                                          QStringLiteral("--clear-groups")}
                                            : QStringList();
        FakeNtpd hostile;
        QVERIFY(hostile.startIn(folder.path(), prefix, QStringLiteral("/etc/shadow")));
        setSystemRootForTesting(QString()); // this machine's own paths, read only
        const QVector<HostProcess> all = localHost().processes(QStringLiteral("/proc"));
        bool listed = false;
        for (const HostProcess& process : all)
            listed = listed || process.pid == hostile.process.processId();
        QVERIFY(listed);
        for (const DaemonProcess& daemon : installedDaemonProcesses(localHost(), all))
            QVERIFY(daemon.pid != hostile.process.processId());
        QString config;
        findRunningNtpd(DaemonFlavour::Ntpsec, &config);
        QVERIFY(config != QLatin1String("/etc/shadow"));
        setSystemRootForTesting(QStringLiteral("/nonexistent/ntp-service-manager-test"));
    }

    // A relative -c is the daemon's working folder's file.
    void relativeConfigOfRunningDaemon()
    {
        FakeSystem system;
        system.debian12Ntpsec();
        system.write(QStringLiteral("/srv/ntp/site.conf"), "server 192.0.2.9\n");
        system.runProcess(300, {QStringLiteral("/usr/sbin/ntpd"), QStringLiteral("-c"),
                                QStringLiteral("site.conf")});
        relink(system.path(QStringLiteral("/proc/300/cwd")), QStringLiteral("/srv/ntp"));
        RecordingProcessRunner runner;
        QCOMPARE(detectDaemonSetup().editedConfig, system.path("/srv/ntp/site.conf"));
        QString config;
        QVERIFY(findRunningNtpd(DaemonFlavour::Ntpsec, &config));
        QCOMPARE(config, system.path("/srv/ntp/site.conf"));
    }

    // The pid file picks among installed daemons only when root wrote it.
    void pidFileOfAnotherUserIgnored()
    {
        FakeSystem system;
        system.debian12Ntpsec();
        system.runProcess(200, {QStringLiteral("/usr/sbin/ntpd"), QStringLiteral("-c"),
                                QStringLiteral("/etc/ntpsec/first.conf")});
        system.runProcess(300, {QStringLiteral("/usr/sbin/ntpd"), QStringLiteral("-c"),
                                QStringLiteral("/etc/ntpsec/second.conf")});
        system.write(QStringLiteral("/run/ntpd.pid"), "300\n");
        RecordingProcessRunner runner;
        QCOMPARE(detectDaemonSetup().editedConfig, system.path("/etc/ntpsec/second.conf"));
        giveTo(system.path(QStringLiteral("/run/ntpd.pid")), nobody);
        QCOMPARE(detectDaemonSetup().editedConfig, system.path("/etc/ntpsec/first.conf"));
    }

    // NTPD_OPTS as the shell that reads the defaults file sets it; what
    // cannot be worked out gives a notice, never a wrong file in silence.
    void defaultsFileOptions_data()
    {
        QTest::addColumn<QByteArray>("defaults");
        QTest::addColumn<QString>("edited");
        QTest::addColumn<QString>("noticeWords"); // empty: no notice
        QTest::newRow("export") << QByteArray("export NTPD_OPTS='-g -c /srv/a.conf'\n")
                                << "/srv/a.conf"
                                << "";
        QTest::newRow("export, several")
            << QByteArray("export IGNORE_DHCP=\"\" NTPD_OPTS=\"-c /srv/b.conf\"\n") << "/srv/b.conf"
            << "";
        QTest::newRow("export afterwards")
            << QByteArray("NTPD_OPTS=\"-c /srv/x.conf\"\nexport NTPD_OPTS IGNORE_DHCP\n"
                          "NTPD_OPTS=\"$NTPD_OPTS -g\"\n")
            << "/srv/x.conf"
            << "";
        QTest::newRow("# inside quotes")
            << QByteArray("NTPD_OPTS=\"-g -c /srv/site#1.conf\" # the site's file\n")
            << "/srv/site#1.conf"
            << "";
        QTest::newRow("# after a word")
            << QByteArray("NTPD_OPTS=-c\\ /srv/c.conf #-c /srv/not.conf\n") << "/srv/c.conf"
            << "";
        QTest::newRow("variable") << QByteArray("SITE=/srv\nNTPD_OPTS=\"-c ${SITE}/d.conf\"\n")
                                  << "/srv/d.conf"
                                  << "";
        QTest::newRow("later assignment wins")
            << QByteArray("NTPD_OPTS='-c /srv/old.conf'\nNTPD_OPTS=\"$NTPD_OPTS -c /srv/e.conf\"\n")
            << "/srv/e.conf"
            << "";
        QTest::newRow("line break") << QByteArray("NTPD_OPTS=\"-g -c /srv/f\n.conf\"\n") << "/srv/f"
                                    << "holds a line break";
        QTest::newRow("relative") << QByteArray("NTPD_OPTS=\"-c site.conf\"\n") << "/site.conf"
                                  << "relative path site.conf, taken from its working folder /";
        QTest::newRow("command substitution")
            << QByteArray("NTPD_OPTS=\"-c $(cat /srv/which)\"\n") << "/etc/ntpsec/ntp.conf"
            << "NTPD_OPTS in ROOT/etc/default/ntpsec depends on more than plain assignments";
        QTest::newRow("conditional")
            << QByteArray("if [ -e /srv/g.conf ]; then NTPD_OPTS='-c /srv/g.conf'; fi\n")
            << "/etc/ntpsec/ntp.conf"
            << "depends on more than plain assignments";
        QTest::newRow("unterminated quote")
            << QByteArray("NTPD_OPTS=\"-c /srv/h.conf\n") << "/etc/ntpsec/ntp.conf"
            << "depends on more than plain assignments";
    }

    void defaultsFileOptions()
    {
        QFETCH(QByteArray, defaults);
        QFETCH(QString, edited);
        QFETCH(QString, noticeWords);
        FakeSystem system;
        system.debian12Ntpsec();
        system.write(QStringLiteral("/etc/default/ntpsec"), defaults);
        RecordingProcessRunner runner;
        const DaemonSetup setup = detectDaemonSetup();
        QCOMPARE(setup.editedConfig, system.path(edited));
        const QString notices = noticesOf(setup);
        if (noticeWords.isEmpty())
            QVERIFY2(!notices.contains(QLatin1String("NTPD_OPTS")) &&
                         !notices.contains(QLatin1String("relative")),
                     qPrintable(notices));
        else
            QVERIFY2(notices.contains(
                         noticeWords.replace(QLatin1String("ROOT"), system.path(QString()))),
                     qPrintable(notices));
    }

    // A defaults file another user owns or may write decides nothing.
    void defaultsFileOfAnotherUserIgnored()
    {
        FakeSystem system;
        system.debian12Ntpsec();
        const QString defaults = system.path(QStringLiteral("/etc/default/ntpsec"));
        system.write(QStringLiteral("/etc/default/ntpsec"), "NTPD_OPTS='-c /etc/shadow'\n");
        giveTo(defaults, nobody);
        RecordingProcessRunner runner;
        DaemonSetup setup = detectDaemonSetup();
        QCOMPARE(setup.editedConfig, system.path("/etc/ntpsec/ntp.conf"));
        QVERIFY2(noticesOf(setup).contains(defaults + QStringLiteral(" is not owned by root")),
                 qPrintable(noticesOf(setup)));
        giveTo(defaults, 0);
        QCOMPARE(::chmod(QFile::encodeName(defaults).constData(), 0666), 0);
        QCOMPARE(detectDaemonSetup().editedConfig, system.path("/etc/ntpsec/ntp.conf"));
        QCOMPARE(::chmod(QFile::encodeName(defaults).constData(), 0644), 0);
        QCOMPARE(detectDaemonSetup().editedConfig, system.path("/etc/shadow"));
    }

    // A program or init script another user owns or may change is never
    // run as root.
    void programsOfOtherUsersNotRun()
    {
        FakeSystem system;
        system.debian12Ntpsec();
        giveTo(system.path(QStringLiteral("/usr/sbin/ntpd")), nobody);
        giveTo(system.path(QStringLiteral("/etc/init.d/ntpsec")), nobody);
        RecordingProcessRunner runner;
        DaemonSetup setup = detectDaemonSetup();
        QVERIFY2(runner.calls.isEmpty(), qPrintable(runner.calls.join(QLatin1Char('\n'))));
        QCOMPARE(setup.flavour, DaemonFlavour::Ntpsec); // from the package database
        QVERIFY(setup.initScript.isEmpty());
        giveTo(system.path(QStringLiteral("/etc/init.d/ntpsec")), 0);
        QCOMPARE(::chmod(QFile::encodeName(system.path("/etc/init.d/ntpsec")).constData(), 0777),
                 0);
        QVERIFY(detectDaemonSetup().initScript.isEmpty());
    }

    // A relative -c of a daemon whose working folder cannot be seen is taken
    // from "/", and the window says so.
    void relativeConfigWithoutWorkingFolder()
    {
        FakeSystem system;
        system.debian12Ntpsec();
        system.runProcess(300, {QStringLiteral("/usr/sbin/ntpd"), QStringLiteral("-c"),
                                QStringLiteral("site.conf")});
        QVERIFY(QFile::remove(system.path(QStringLiteral("/proc/300/cwd"))));
        RecordingProcessRunner runner;
        const DaemonSetup setup = detectDaemonSetup();
        QCOMPARE(setup.editedConfig, system.path("/site.conf"));
        QVERIFY2(noticesOf(setup).contains(
                     QStringLiteral("relative path site.conf, taken from its working folder /")),
                 qPrintable(noticesOf(setup)));
    }

    // Which logged file a rejected line may be read from, and which output
    // lines tell of a failure.
    void logPointers()
    {
        const QStringList own{QStringLiteral("/etc/ntpsec/ntp.conf"),
                              QStringLiteral("/etc/ntpsec/ntp.d/a.conf")};
        QCOMPARE(fileOfRejectedLine(QString(), own), own.at(0));
        QCOMPARE(fileOfRejectedLine(QStringLiteral("/etc/ntpsec/./ntp.d/a.conf"), own), own.at(1));
        QCOMPARE(fileOfRejectedLine(QStringLiteral("/etc/shadow"), own), QString());
        QCOMPARE(fileOfRejectedLine(QStringLiteral("/etc/ntpsec/ntp.d/../../shadow"), own),
                 QString());
        QCOMPARE(fileOfRejectedLine(QStringLiteral("ntp.conf"), own), QString());
        QCOMPARE(fileOfRejectedLine(QStringLiteral("/etc/ntpsec/ntp.conf"), QStringList()),
                 QString());
        QCOMPARE(failureLines(QStringLiteral("Starting NTP server: ntpd.\n"
                                             "ntpd: Fatal: no configuration\n  start FAILED  \n"
                                             "0 errors\n")),
                 (QStringList{"ntpd: Fatal: no configuration", "start FAILED"}));
        QVERIFY(failureLines(QStringLiteral("Starting NTP server: ntpd.")).isEmpty());
    }

    // A DHCP copy that IGNORE_DHCP=yes turns off is no concern; without the
    // daemon running, the copy still decides what the next start reads.
    void dhcpSwitch()
    {
        FakeSystem system;
        system.debian12Ntpsec();
        system.write(QStringLiteral("/run/ntpsec/ntp.conf.dhcp"), "server 198.51.100.7\n");
        RecordingProcessRunner runner;
        DaemonSetup setup = detectDaemonSetup();
        QCOMPARE(setup.dhcpConfig, system.path("/run/ntpsec/ntp.conf.dhcp"));
        QCOMPARE(setup.editedConfig, system.path("/etc/ntpsec/ntp.conf"));
        system.write(QStringLiteral("/etc/default/ntpsec"), "IGNORE_DHCP=\"yes\"\n");
        setup = detectDaemonSetup();
        QVERIFY(setup.dhcpConfig.isEmpty());
        QCOMPARE(setup.daemonConfig, system.path("/etc/ntpsec/ntp.conf"));
    }

    // The same file by another name (a link) is the same file; paths of
    // which one is missing are compared as paths.
    void sameFile()
    {
        FakeSystem system;
        system.write(QStringLiteral("/etc/ntpsec/ntp.conf"), "server 192.0.2.1\n");
        const QString file = system.path(QStringLiteral("/etc/ntpsec/ntp.conf"));
        const QString link = system.path(QStringLiteral("/etc/ntp.conf"));
        QVERIFY(QFile::link(file, link));
        QVERIFY(isSameFile(link, file));
        QVERIFY(isSameFile(system.path(QStringLiteral("/etc/ntpsec/../ntpsec/ntp.conf")), file));
        system.write(QStringLiteral("/etc/other.conf"), "server 192.0.2.1\n");
        QVERIFY(!isSameFile(system.path(QStringLiteral("/etc/other.conf")), file));
        const QString missing = system.path(QStringLiteral("/run/ntp.conf.dhcp"));
        QVERIFY(isSameFile(missing, system.path(QStringLiteral("/run/./ntp.conf.dhcp"))));
        QVERIFY(!isSameFile(missing, file));
    }

    // Without an init script the systemd unit is controlled; without either
    // there is nothing to control.
    void serviceToControl()
    {
        FakeSystem system;
        system.debian12Ntpsec();
        QFile::remove(system.path(QStringLiteral("/etc/init.d/ntpsec")));
        RecordingProcessRunner runner;
        DaemonSetup setup = detectDaemonSetup();
        QVERIFY(setup.initScript.isEmpty());
        QCOMPARE(setup.systemdUnit, QStringLiteral("ntpsec.service"));
        QDir(system.path(QStringLiteral("/run/systemd"))).removeRecursively();
        QVERIFY(detectDaemonSetup().systemdUnit.isEmpty());
        // An init script of the other daemon left behind is used only when
        // the installed one has none.
        system.writeExecutable(QStringLiteral("/etc/init.d/ntp"), "#!/bin/sh\n");
        QCOMPARE(detectDaemonSetup().initScript, system.path("/etc/init.d/ntp"));
        system.writeExecutable(QStringLiteral("/etc/init.d/ntpsec"), "#!/bin/sh\n");
        QCOMPARE(detectDaemonSetup().initScript, system.path("/etc/init.d/ntpsec"));
    }
};

QTEST_GUILESS_MAIN(TestDaemonSetup)
#include "tst_daemonsetup.moc"
