// Reading what ntpq prints and what the daemon logs, on output captured from
// NTPsec and on the classic daemon's documented format.
#include <QTest>

#include "daemon/daemonlog.h"
#include "daemon/ntpqoutput.h"
#include "tests/common/testfiles.h"

namespace
{
QString fixture(const char* name)
{
    return QString::fromUtf8(TestHelpers::readFile(TestHelpers::ntpqFixturePath(name)));
}
} // namespace

class TestNtpqOutput : public QObject
{
    Q_OBJECT

private slots:
    // Traditional syslog stamps are local time.
    void initTestCase() { qputenv("TZ", "UTC"); }

    void ntpsecPeersWithLocalClock()
    {
        const PeersTable table = parsePeers(fixture("ntpsec-peers-local.txt"));
        QVERIFY(table.answered);
        QVERIFY(!table.noAssociations);
        QCOMPARE(table.rows.size(), 4);
        const PeerRow& local = table.rows.at(0);
        QCOMPARE(local.remote, QStringLiteral("LOCAL(0)"));
        QCOMPARE(local.refid, QStringLiteral(".LOCL."));
        QCOMPARE(local.stratum, 10);
        QCOMPARE(local.type, QStringLiteral("l"));
        QCOMPARE(local.poll, QStringLiteral("16"));
        QCOMPARE(local.reach, 077);
        QCOMPARE(reachAsPolls(local.reach), QStringLiteral("00111111"));
        QCOMPARE(table.rows.at(2).remote, QStringLiteral("::1"));
        QCOMPARE(table.rows.at(2).refid, QStringLiteral(".INIT."));
        QCOMPARE(table.rows.at(3).when, QStringLiteral("-"));
        QCOMPARE(ntpqDurationSeconds(table.rows.at(3).when), -1);
        QCOMPARE(table.rows.at(3).jitter, 0.0001);
        QVERIFY(!table.systemPeer());
    }

    void ntpsecSynchronisedToItsLocalClock()
    {
        const PeersTable table = parsePeers(fixture("ntpsec-peers-synchronised.txt"));
        QCOMPARE(table.rows.size(), 1);
        QVERIFY(table.systemPeer());
        QCOMPARE(table.systemPeer()->remote, QStringLiteral("LOCAL(0)"));
        QCOMPARE(table.systemPeer()->reach, 0377);
        const SystemVariables vars = parseSystemVariables(fixture("ntpsec-rv-synchronised.txt"));
        QVERIFY(vars.synchronised());
        QCOMPARE(vars.leap, 0);
        QCOMPARE(vars.stratum, 11);
        QCOMPARE(vars.refid, QStringLiteral("127.127.1.0"));
        QCOMPARE(vars.offset, 0.0);
    }

    void wideOutputWrapsLongNames()
    {
        const PeersTable ntpsec = parsePeers(fixture("ntpsec-peers-wide-names.txt"));
        QCOMPARE(ntpsec.rows.size(), 4);
        QCOMPARE(ntpsec.rows.at(2).remote, QStringLiteral("ipv6-loopback-time.example.test"));
        QCOMPARE(ntpsec.rows.at(2).refid, QStringLiteral(".INIT."));
        QCOMPARE(ntpsec.rows.at(3).remote, QStringLiteral("192.0.2.1"));

        const PeersTable classic = parsePeers(fixture("classic-peers-wide.txt"));
        QCOMPARE(classic.rows.size(), 3);
        QCOMPARE(classic.rows.at(0).remote, QStringLiteral("2001:db8:4860:4806::8"));
        QVERIFY(classic.rows.at(0).isSystemPeer());
        QCOMPARE(classic.rows.at(0).offset, -0.254);
        QCOMPARE(classic.rows.at(1).remote,
                 QStringLiteral("time-server-with-a-rather-long-name.example.test"));
        QCOMPARE(classic.rows.at(1).selection(), PeerSelection::Candidate);
        QCOMPARE(classic.rows.at(2).remote, QStringLiteral("192.0.2.44"));
    }

    void classicPeersEveryTally()
    {
        const PeersTable table = parsePeers(fixture("classic-peers.txt"));
        QCOMPARE(table.rows.size(), 7);
        QCOMPARE(table.systemPeer()->remote, QStringLiteral("192.0.2.1"));
        QCOMPARE(table.systemPeer()->stratum, 1);
        QCOMPARE(table.systemPeer()->offset, 0.421);
        const QVector<PeerSelection> expected = {
            PeerSelection::SystemPeer, PeerSelection::Candidate,   PeerSelection::Outlier,
            PeerSelection::Rejected,   PeerSelection::FalseTicker, PeerSelection::Backup,
            PeerSelection::Rejected};
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(table.rows.at(i).selection(), expected.at(i));
        QCOMPARE(table.rows.at(2).remote, QStringLiteral("2001:db8::123"));
        QCOMPARE(reachAsPolls(table.rows.at(2).reach), QStringLiteral("11111101"));
        QCOMPARE(ntpqDurationSeconds(table.rows.at(4).when), 21 * 3600);
        QCOMPARE(ntpqDurationSeconds(table.rows.at(5).when), 180);
        QCOMPARE(table.rows.at(4).poll, QStringLiteral("1024"));
    }

    void answersWithoutPeers()
    {
        const PeersTable none = parsePeers(fixture("classic-no-associations.txt"));
        QVERIFY(none.answered);
        QVERIFY(none.noAssociations);
        QVERIFY(none.rows.isEmpty());
        QCOMPARE(ntpqFailureOf(fixture("classic-no-associations.txt")), NtpqFailure::None);

        const PeersTable ntpsecNone = parsePeers(fixture("ntpsec-no-associations.txt"));
        QVERIFY(ntpsecNone.noAssociations);
        QVERIFY(ntpsecNone.rows.isEmpty());

        const QString timedOut = fixture("ntpsec-request-timed-out.txt");
        QVERIFY(!parsePeers(timedOut).answered);
        QCOMPARE(ntpqFailureOf(timedOut), NtpqFailure::TimedOut);
        QCOMPARE(ntpqFailureOf(QStringLiteral("ntpq: read: Connection refused\n")),
                 NtpqFailure::Refused);
        QCOMPARE(ntpqFailureOf(QStringLiteral("garbage\n")), NtpqFailure::Unrecognised);
    }

    void systemVariables()
    {
        const SystemVariables ntpsec =
            parseSystemVariables(fixture("ntpsec-rv-unsynchronised.txt"));
        QVERIFY(ntpsec.answered);
        QCOMPARE(ntpsec.leap, 3);
        QCOMPARE(ntpsec.stratum, 16);
        QCOMPARE(ntpsec.refid, QStringLiteral("INIT"));
        QCOMPARE(ntpsec.version, QStringLiteral("ntpd ntpsec-1.2.2"));
        QVERIFY(!ntpsec.synchronised());

        const QString classicText = fixture("classic-rv.txt");
        const SystemVariables classic = parseSystemVariables(classicText);
        QCOMPARE(classic.leap, 0);
        QCOMPARE(classic.stratum, 2);
        QCOMPARE(classic.refid, QStringLiteral("192.0.2.1"));
        QCOMPARE(classic.offset, 0.421553);
        QCOMPARE(classic.sysJitter, 0.038147);
        QCOMPARE(classic.frequency, -12.345);
        QVERIFY(classic.version.startsWith(QLatin1String("ntpd 4.2.8p15")));
        QVERIFY(classic.synchronised());
        // Words of the status and commas inside a time stamp stay with their value.
        const QMap<QString, QString> values = parseVariables(classicText);
        QCOMPARE(values.value(QStringLiteral("status")),
                 QStringLiteral("0615 leap_none, sync_ntp, 1 event, clock_sync"));
        QCOMPARE(values.value(QStringLiteral("reftime")),
                 QStringLiteral("e9f0a6c2.5d5c9b0c  Mon, May  6 2024 10:12:18.364"));
        QVERIFY(!parseSystemVariables(fixture("ntpsec-request-timed-out.txt")).answered);
    }

    void rejectedLinesFromTheLog()
    {
        QStringList messages;
        for (const QString& line : fixture("ntpsec-syntax-errors.log").split(QLatin1Char('\n')))
            messages << line.section(QStringLiteral("]: "), 1);
        const QVector<RejectedLine> rejected = rejectedConfigLines(messages);
        QCOMPARE(rejected.size(), 3);
        QCOMPARE(rejected.at(0).line, 2);
        QCOMPARE(rejected.at(0).file, QStringLiteral("/tmp/bad.conf"));
        QCOMPARE(rejected.at(2).line, 4);
    }

    void syslogSinceAStart()
    {
        const QDateTime since(QDate(2024, 5, 1), QTime(10, 0, 0), Qt::UTC);
        const QString syslog = QStringLiteral(
            "2024-05-01T09:59:58.100000+00:00 host ntpd[7]: syntax error in /etc/ntp.conf line 9, "
            "column 1\n"
            "2024-05-01T10:00:01.100000+00:00 host cron[8]: syntax error in x line 3, column 1\n"
            "2024-05-01T10:00:02.000000+00:00 host ntpd[9]: syntax error in /etc/ntp.conf line 5, "
            "column 4\n"
            "May  1 10:00:03 host ntpd[9]: line 6 column 2 syntax error\n");
        const QStringList messages = daemonMessagesInSyslog(syslog, since);
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages.at(0), QStringLiteral("syntax error in /etc/ntp.conf line 5, column 4"));
        const QVector<RejectedLine> rejected = rejectedConfigLines(messages);
        QCOMPARE(rejected.size(), 2);
        QCOMPARE(rejected.at(1).line, 6);
    }

    // The four answers of one session query, each ended by the version line;
    // a classic ntpq's missing ntsinfo leaves its section empty.
    void sessionSections()
    {
        const QByteArray output("ntpsec-1.2.2\nP\nntpsec-1.2.2\nR\nntpsec-1.2.2\n"
                                "uptime: 00:00:04\nntpsec-1.2.2\nntpsec-1.2.2\n");
        QCOMPARE(splitNtpqSections(output, 4),
                 QList<QByteArray>({"P\n", "R\n", "uptime: 00:00:04\n", ""}));
        QVERIFY(splitNtpqSections(output.left(output.size() - 1), 4).isEmpty());
        QCOMPARE(splitNtpqSections(output, 2).size(), 2);
        QCOMPARE(ntpqSessionQuery().count("version\n"), 5);
        QVERIFY(ntpqSessionQuery().contains("\nsysstats\n"));
        QVERIFY(ntpqSessionQuery().contains("\nntsinfo\n"));
    }

    void reachAsAnsweredPolls()
    {
        QCOMPARE(reachSummary(0377), QStringLiteral("8/8"));
        QCOMPARE(reachSummary(0375), QStringLiteral("7/8"));
        QCOMPARE(reachSummary(0), QStringLiteral("0/8"));
        QCOMPARE(reachSummary(1), QStringLiteral("1/8"));
    }

    void ntsCounters()
    {
        const NtsCounters failed = parseNtsInfo(fixture("ntpsec-nts-failed-ntsinfo.txt"));
        QVERIFY(failed.answered);
        QCOMPARE(failed.keBad, 1);
        QCOMPARE(failed.keGood, 0);
        QCOMPARE(failed.clientGood, 0);
        QVERIFY(!parseNtsInfo(QStringLiteral("***Command `ntsinfo' unknown\n")).answered);
    }
};

QTEST_GUILESS_MAIN(TestNtpqOutput)
#include "tst_ntpqoutput.moc"
