// The configuration check: every rule fires on a minimal file and stays
// silent on its fixed version, and the findings over the public corpus are
// pinned per file.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "config/configcheck.h"
#include "tests/common/testfiles.h"

using namespace TestHelpers;

namespace
{
// Four sources, so that the count rule stays silent in the other cases.
const QByteArray sources = "server 192.0.2.1\nserver 192.0.2.2\nserver 192.0.2.3\n"
                           "server 192.0.2.4\n";
// ... and, after the lines of each case, access rules for everyone.
const QByteArray closed = "restrict default nomodify noquery\n";

DaemonSetup ntpsec(const char* version = "1.2.2")
{
    DaemonSetup setup;
    setup.flavour = DaemonFlavour::Ntpsec;
    setup.version = QLatin1String(version);
    return setup;
}

QString corpusDir()
{
    return qEnvironmentVariable("NTPSM_SOURCE_DIR") + QStringLiteral("/../shared/corpus/ntpconf");
}

QString goldenPath(const QString& name)
{
    return qEnvironmentVariable("NTPSM_SOURCE_DIR") + QStringLiteral("/tests/config/data/check/") +
           name + QStringLiteral(".findings");
}
} // namespace

class TestConfigCheck : public QObject
{
    Q_OBJECT

private slots:
    void rules_data()
    {
        QTest::addColumn<bool>("onNtpsec");
        QTest::addColumn<QByteArray>("broken");
        QTest::addColumn<QByteArray>("fixed");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("severity");
        const int error = CheckFinding::Error;
        const int warning = CheckFinding::Warning;
        const int hint = CheckFinding::Hint;
        auto row = [&](const char* name, bool onNtpsec, const QByteArray& broken,
                       const QByteArray& fixed, int line, int severity) {
            QTest::newRow(name) << onNtpsec << sources + broken + closed << sources + fixed + closed
                                << line << severity;
        };
        row("ntpsec directive", true, "broadcastdelay 0.004\n", "", 5, error);
        row("ntpsec autokey directive", true, "crypto pw secret\n", "", 5, error);
        row("ntpsec discard", true, "discard average 3\n", "", 5, error);
        row("ntpsec server option", true, "server 192.0.2.5 xleave\n", "server 192.0.2.5\n", 5,
            error);
        row("ntpsec enable flag", true, "enable auth monitor\n", "enable monitor\n", 5, error);
        row("ntpsec restrict flag", true, "restrict default noepeer\n", "restrict default\n", 5,
            error);
        row("ntpsec serverresponse fuzz", true, "restrict default serverresponse fuzz\n",
            "restrict default\n", 5, error);
        row("ntpsec ignored restrict flag", true, "restrict default notrap\n", "restrict default\n",
            5, warning);
        row("ntpsec statistics", true, "statistics loopstats timingstats\n",
            "statistics loopstats\n", 5, error);
        row("ntpsec fudge mode", true, "server 127.127.20.0\nfudge 127.127.20.0 mode 1\n",
            "refclock nmea\n", 6, error);
        row("ntpsec legacy clock address", true, "server 127.127.1.0\n", "refclock local\n", 5,
            hint);
        row("pool behind nopeer", false, "restrict default nopeer\npool p.example\n",
            "restrict default nopeer\nrestrict source\npool p.example\n", 6, warning);
        row("missing folder", false, "driftfile /nonexistent/ntp.drift\n", "driftfile /tmp/drift\n",
            5, warning);
        row("missing statsdir", false, "statsdir /nonexistent/stats/\n", "statsdir /tmp/\n", 5,
            warning);
        row("key without keys file", false, "trustedkey 1\n", "keys /tmp/ntp.keys\ntrustedkey 1\n",
            5, warning);
        row("fudge without server", false, "fudge 127.127.1.0 stratum 10\n",
            "server 127.127.1.0\nfudge 127.127.1.0 stratum 10\n", 5, warning);
        row("same server twice", false, "server 192.0.2.1 iburst\n", "", 5, warning);
        row("minpoll above maxpoll", false, "server 192.0.2.5 minpoll 10 maxpoll 6\n",
            "server 192.0.2.5 minpoll 6 maxpoll 10\n", 5, warning);
        row("not a directive", false, "Raspberry Pi time from the GPS\n",
            "# Raspberry Pi time from the GPS\n", 5, error);
        row("fewer sources than minsane", false, "tos minsane 5\n", "tos minsane 4\n", 5, warning);
        row("pool nts before NTPsec 1.2.5", true, "pool p.example nts\n", "pool p.example\n", 5,
            warning);
        QTest::newRow("fewer than four sources")
            << false << QByteArray("server 192.0.2.1\nserver 192.0.2.2\n") + closed
            << QByteArray("server 192.0.2.1\nserver 192.0.2.2\nserver 127.127.1.0\n") + closed << 0
            << warning;
    }
    void rules()
    {
        QFETCH(bool, onNtpsec);
        QFETCH(QByteArray, broken);
        QFETCH(QByteArray, fixed);
        QFETCH(int, line);
        QFETCH(int, severity);
        const DaemonSetup daemon = onNtpsec ? ntpsec() : DaemonSetup();
        QVector<CheckFinding> found;
        for (const CheckFinding& finding : checkConfiguration(broken, daemon)) {
            if (finding.line == line)
                found.append(finding);
        }
        QCOMPARE(found.size(), 1);
        QCOMPARE(int(found.first().severity), severity);
        QVERIFY2(checkConfiguration(fixed, daemon).isEmpty(),
                 qPrintable(findingsText(checkConfiguration(fixed, daemon))));
        // The classic daemon knows every directive NTPsec dropped.
        if (onNtpsec)
            QVERIFY(checkConfiguration(broken, DaemonSetup()).isEmpty());
    }

    void keyMissingFromTheKeysFile()
    {
        ConfFile keys("# id type key\n1 MD5 secret\n 7 SHA1 0123456789abcdef\n");
        const QByteArray text =
            sources + closed + "keys " + keys.path().toUtf8() + "\ntrustedkey 1 7 9\n";
        const QVector<CheckFinding> found = checkConfiguration(text, DaemonSetup());
        QCOMPARE(found.size(), 1);
        QVERIFY(found.first().text.contains(QStringLiteral("Key 9")));
        QVERIFY(checkConfiguration(sources + closed + "keys " + keys.path().toUtf8() +
                                       "\ntrustedkey 1 7\n",
                                   DaemonSetup())
                    .isEmpty());
    }

    // Without a default access rule for a family anyone may query the server.
    void defaultRestrict_data()
    {
        QTest::addColumn<QByteArray>("rules");
        QTest::addColumn<QString>("open");
        QTest::newRow("none") << QByteArray("restrict 127.0.0.1\n") << QStringLiteral("no \"");
        QTest::newRow("IPv4 only")
            << QByteArray("restrict -4 default kod\n") << QStringLiteral("IPv6");
        QTest::newRow("IPv6 only")
            << QByteArray("restrict -6 default kod\n") << QStringLiteral("IPv4");
        QTest::newRow("both") << QByteArray("restrict -4 default\nrestrict -6 default\n")
                              << QString();
        QTest::newRow("classic masks")
            << QByteArray("restrict 0.0.0.0 mask 0.0.0.0\nrestrict :: mask ::\n") << QString();
    }
    void defaultRestrict()
    {
        QFETCH(QByteArray, rules);
        QFETCH(QString, open);
        // NTPsec refuses queries by default, the classic daemon does not.
        for (const DaemonSetup& daemon : {ntpsec(), DaemonSetup()}) {
            const QVector<CheckFinding> found = checkConfiguration(sources + rules, daemon);
            QCOMPARE(found.size(), open.isEmpty() ? 0 : 1);
            if (open.isEmpty())
                continue;
            QVERIFY2(found.first().text.contains(open), qPrintable(found.first().text));
            QCOMPARE(found.first().severity,
                     daemon.isNtpsec() ? CheckFinding::Hint : CheckFinding::Warning);
        }
    }

    // The "#@" line tells when a leap second file expires (seconds since 1900).
    void expiredLeapFile()
    {
        QTemporaryDir dir;
        const QString expired = dir.filePath(QStringLiteral("old.list"));
        const QString current = dir.filePath(QStringLiteral("new.list"));
        QVERIFY(writeFile(expired, "#$\t3676924800\n#@\t3707596800\n3692217600\t37\n"));
        QVERIFY(writeFile(current, "#@\t6000000000\n3692217600\t37\n"));
        QFile(expired).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QFile(current).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const QVector<CheckFinding> found =
            checkConfiguration(sources + closed + "leapfile " + expired.toUtf8() + "\n", ntpsec());
        QCOMPARE(found.size(), 1);
        QVERIFY(found.first().text.contains(QLatin1String("expired on 2017-06-28")));
        QVERIFY(
            checkConfiguration(sources + closed + "leapfile " + current.toUtf8() + "\n", ntpsec())
                .isEmpty());
        // One that others may write decides nothing.
        QFile(expired).setPermissions(QFile(expired).permissions() | QFileDevice::WriteOther);
        QVERIFY(
            checkConfiguration(sources + closed + "leapfile " + expired.toUtf8() + "\n", ntpsec())
                .isEmpty());
    }

    // A pool stands for as many servers as maxclock allows; a local clock is
    // one source; from NTPsec 1.2.5 on nts works on pool lines.
    void sourcesAndVersions()
    {
        const QByteArray local = "server 127.127.1.0\nfudge 127.127.1.0 stratum 10\n" + closed;
        QVERIFY(findingsText(checkConfiguration("tos minsane 3\n" + local, ntpsec()))
                    .contains(QLatin1String("line 1: warning: tos minsane 3 needs 3")));
        QVERIFY(
            !findingsText(checkConfiguration("tos minsane 3\npool p.example\n" + local, ntpsec()))
                 .contains(QLatin1String("minsane")));
        QVERIFY(checkConfiguration(sources + closed + "pool p.example nts\n", ntpsec("1.2.5"))
                    .isEmpty());
    }

    // Each corpus file with the findings for both daemons, files looked up
    // below an empty folder so that the result does not depend on the
    // machine. NTPSM_UPDATE_GOLDEN=1 writes the golden files anew.
    void corpusFindingsArePinned()
    {
        const QDir corpus(corpusDir());
        const QStringList files = corpus.entryList({QStringLiteral("*.conf*")}, QDir::Files);
        if (files.isEmpty())
            QSKIP("no corpus");
        QTemporaryDir empty;
        for (const QString& name : files) {
            const QByteArray text = readFile(corpus.filePath(name));
            const QString found =
                QStringLiteral("[classic]\n") +
                findingsText(checkConfiguration(text, DaemonSetup(), empty.path())) +
                QStringLiteral("[ntpsec 1.2.2]\n") +
                findingsText(checkConfiguration(text, ntpsec(), empty.path()));
            if (qEnvironmentVariableIsSet("NTPSM_UPDATE_GOLDEN")) {
                QDir().mkpath(QFileInfo(goldenPath(name)).path());
                QVERIFY(writeFile(goldenPath(name), found.toUtf8()));
            }
            QCOMPARE(found, QString::fromUtf8(readFile(goldenPath(name))));
            // The classic daemon reads every corpus file: no error for it
            // (but for the template its build fills in).
            QVERIFY2(name.endsWith(QLatin1String(".in")) ||
                         !found.section(QStringLiteral("[ntpsec"), 0, 0)
                              .contains(QStringLiteral(": error:")),
                     qPrintable(name));
        }
    }
};

QTEST_MAIN(TestConfigCheck)
#include "tst_configcheck.moc"
