// Why the daemon is not synchronised, from ntpq answers captured from NTPsec
// in each situation.
#include <QTest>

#include "daemon/syncdiagnosis.h"
#include "tests/common/testfiles.h"

namespace
{
QString fixture(const char* name)
{
    return QString::fromUtf8(TestHelpers::readFile(TestHelpers::ntpqFixturePath(name)));
}

SyncDiagnosis diagnosed(const char* peers, const char* rv, int minsane = 1, qint64 uptime = -1)
{
    return diagnoseSync(parsePeers(fixture(peers)), parseSystemVariables(fixture(rv)), minsane,
                        uptime);
}
} // namespace

class TestSyncDiagnosis : public QObject
{
    Q_OBJECT

private slots:
    void synchronised()
    {
        const SyncDiagnosis d = diagnosed("classic-peers.txt", "classic-rv.txt");
        QCOMPARE(d.reason, SyncReason::Synchronised);
        QVERIFY(d.synchronised());
    }

    void unreachableSources()
    {
        const SyncDiagnosis d =
            diagnosed("ntpsec-unreachable-peers.txt", "ntpsec-unreachable-rv.txt", 1, 600);
        QCOMPARE(d.reason, SyncReason::NoneReachable);
        QVERIFY2(d.text.contains(QStringLiteral("3 sources")), qPrintable(d.text));
        QVERIFY2(d.text.contains(QStringLiteral("10 min")), qPrintable(d.text));
    }

    void fewerThanMinsane()
    {
        const SyncDiagnosis d =
            diagnosed("ntpsec-minsane-peers.txt", "ntpsec-minsane-rv.txt", 3, 3600);
        QCOMPARE(d.reason, SyncReason::TooFewCandidates);
        QVERIFY2(d.text.contains(QStringLiteral("\"tos minsane 3\"")), qPrintable(d.text));
        QVERIFY2(d.text.startsWith(QStringLiteral("1 usable")), qPrintable(d.text));
    }

    void onlyTheLocalClockWithEnoughForMinsane()
    {
        const SyncDiagnosis d =
            diagnosed("ntpsec-local-waiting-peers.txt", "ntpsec-rv-unsynchronised.txt", 1, 3600);
        QCOMPARE(d.reason, SyncReason::OnlyLocalClock);
    }

    void selectedLocalClockIsNoRealSource()
    {
        const SyncDiagnosis d =
            diagnosed("ntpsec-local-fallback-peers.txt", "ntpsec-local-fallback-rv.txt");
        QCOMPARE(d.reason, SyncReason::OnlyLocalClock);
        QVERIFY(d.text.contains(QStringLiteral("LOCAL(0)")));
        QVERIFY(!d.synchronised());
    }

    void justStartedFromUptime()
    {
        const qint64 uptime = uptimeOf(fixture("ntpsec-just-started-sysstats.txt"));
        QCOMPARE(uptime, qint64(4));
        const SyncDiagnosis d =
            diagnosed("ntpsec-just-started-peers.txt", "ntpsec-just-started-rv.txt", 3, uptime);
        QCOMPARE(d.reason, SyncReason::JustStarted);
        QVERIFY2(d.text.contains(QStringLiteral("up for 4 s")), qPrintable(d.text));
    }

    void justStartedFromTheStatusWord()
    {
        const SyncDiagnosis d =
            diagnosed("ntpsec-just-started-peers.txt", "ntpsec-just-started-rv.txt", 3);
        QCOMPARE(d.reason, SyncReason::JustStarted);
        QVERIFY(!d.text.contains(QStringLiteral("up for")));
    }

    void stepRefused()
    {
        const SyncDiagnosis d =
            diagnosed("ntpsec-step-refused-peers.txt", "ntpsec-step-refused-rv.txt", 1, 600);
        QCOMPARE(d.reason, SyncReason::StepRefused);
        QVERIFY2(d.text.contains(QStringLiteral("3000 ms")), qPrintable(d.text));
    }

    void sourceWithLeapAlarm()
    {
        // The server answers (reach would be set later) but is unsynchronised
        // itself; here it has not answered yet, after the start.
        const SyncDiagnosis d = diagnosed("ntpsec-server-leap-alarm-peers.txt",
                                          "ntpsec-rv-unsynchronised.txt", 1, 3600);
        QCOMPARE(d.reason, SyncReason::NoneReachable);
        PeersTable peers = parsePeers(fixture("ntpsec-server-leap-alarm-peers.txt"));
        peers.rows[0].reach = 0377;
        const SyncDiagnosis answering = diagnoseSync(
            peers, parseSystemVariables(fixture("ntpsec-rv-unsynchronised.txt")), 1, 3600);
        QCOMPARE(answering.reason, SyncReason::SourcesUnsynced);
    }

    void clockJustStepped()
    {
        QString rv = fixture("ntpsec-unreachable-rv.txt");
        rv.replace(QStringLiteral("1 event, restart,"), QStringLiteral("2 events, clock_step,"));
        const SyncDiagnosis d = diagnoseSync(parsePeers(fixture("ntpsec-minsane-peers.txt")),
                                             parseSystemVariables(rv), 1, 3600);
        QCOMPARE(d.reason, SyncReason::ClockStepped);
        QVERIFY(d.text.contains(QLatin1String("stepped the clock")));
    }

    void noAssociations()
    {
        const SyncDiagnosis d =
            diagnosed("ntpsec-no-associations.txt", "ntpsec-rv-unsynchronised.txt");
        QCOMPARE(d.reason, SyncReason::NoSources);
    }

    void minsaneFromTheFile()
    {
        QCOMPARE(minsaneOf(QByteArray("server a\n")), 1);
        QCOMPARE(minsaneOf(QByteArray("tos minclock 4 minsane 3\n")), 3);
        QCOMPARE(minsaneOf(QByteArray("# tos minsane 5\ntos minsane 2\n")), 2);
        QCOMPARE(minsaneOf(QByteArray("tos maxclock 7 # minsane 9\n")), 1);
    }

    void uptimeFormats()
    {
        QCOMPARE(uptimeOf(QStringLiteral("uptime:    01:02:03\n")), qint64(3723));
        QCOMPARE(uptimeOf(QStringLiteral("uptime:    2 days, 00:00:10\n")), qint64(172810));
        QCOMPARE(uptimeOf(QStringLiteral("uptime:    345\n")), qint64(345));
        QCOMPARE(uptimeOf(fixture("ntpsec-rv-uptime-unknown.txt")), qint64(-1));
    }
};

QTEST_GUILESS_MAIN(TestSyncDiagnosis)
#include "tst_syncdiagnosis.moc"
