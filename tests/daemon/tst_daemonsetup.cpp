// Finding the installed NTP daemon, the file it reads and its service on
// fake machines laid out like real releases, and what the window says
// about each set-up.
#include <QDir>
#include <QFile>
#include <QTest>

#include "daemon/daemonnotices.h"
#include "daemon/daemonsetup.h"
#include "daemon/ntpconfpath.h"
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
