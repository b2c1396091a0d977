// Filling the settings record from a configuration file.

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "config/config.h"
#include "config/ntpsettings.h"

Q_DECLARE_METATYPE(NtpSettings)

namespace
{

NtpSettings readText(const QByteArray& text)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ntp.conf");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write the test file");
    file.close();
    const Config config(path);
    NtpSettings record;
    record.readFrom(config);
    return record;
}

ServerEntry association(const QString& address)
{
    ServerEntry entry;
    entry.address = address;
    return entry;
}

NtpSettings withServer(const ServerEntry& entry)
{
    NtpSettings record;
    record.servers.append(entry);
    return record;
}

} // namespace

class TestNtpReader : public QObject
{
    Q_OBJECT

private slots:
    void readsDirectives_data();
    void readsDirectives();
    void readReplacesTheWholeRecord();
    void listsKeepFileOrder();
};

void TestNtpReader::readsDirectives_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<NtpSettings>("expected");

    ServerEntry s = association("192.0.2.1");
    s.iburst = true;
    s.minPoll = 4;
    s.maxPoll = 10;
    QTest::newRow("server options")
        << QByteArray("server 192.0.2.1 iburst minpoll 4 maxpoll 10\n") << withServer(s);

    QTest::newRow("keyword is case-sensitive") << QByteArray("SERVER host\n") << NtpSettings();
    s = association("host");
    s.iburst = true;
    QTest::newRow("options are not") << QByteArray("server host IBURST\n") << withServer(s);

    s = association("host");
    s.extraOptions = QStringList{"minpoll"};
    QTest::newRow("option without value") << QByteArray("server host minpoll\n") << withServer(s);
    s = association("host");
    s.minPoll = 0;
    QTest::newRow("non-numeric value") << QByteArray("server host minpoll x\n") << withServer(s);
    s.minPoll = 6;
    QTest::newRow("later option wins")
        << QByteArray("server host minpoll 4 minpoll 6\n") << withServer(s);

    s = association("host");
    s.minPoll = 7;
    s.maxPoll = 9;
    s.version = 1234567890;
    s.ttl = -3;
    s.mode = 0;
    QTest::newRow("numbers read as decimal integers")
        << QByteArray("server host minpoll 0007 maxpoll +9 version 1234567890 ttl -3 "
                      "mode \xd9\xa3\n")
        << withServer(s);
    NtpSettings restricts;
    restricts.restricts.append(RestrictEntry());
    restricts.restricts.last().address = "010.0.0.+1";
    // The others are no IPv4 address: kept as rules of another form.
    for (const char* other : {"10.0.0.0256", "10.0.0.1x"}) {
        restricts.restricts.append(RestrictEntry());
        restricts.restricts.last().address = other;
    }
    QTest::newRow("restrict address parts as decimal integers")
        << QByteArray("restrict 010.0.0.+1\nrestrict 10.0.0.0256\nrestrict 10.0.0.1x\n")
        << restricts;

    QTest::newRow("server alone") << QByteArray("server\n") << NtpSettings();
    NtpSettings r;
    r.discards.append(DiscardEntry());
    QTest::newRow("discard alone") << QByteArray("discard\n") << r;

    s = association("192.0.2.3");
    s.comment = "# comment iburst";
    QTest::newRow("trailing comment")
        << QByteArray("server 192.0.2.3 # comment iburst\n") << withServer(s);
    QTest::newRow("hash in a token")
        << QByteArray("server a#b\n") << withServer(association("a#b"));

    s = association("a");
    s.iburst = true;
    s.extraOptions = QStringList{"xleave", "-4"};
    QTest::newRow("unknown options are kept")
        << QByteArray("server a xleave iburst -4\n") << withServer(s);
    r = NtpSettings();
    s = association("a");
    s.family = "-4";
    s.iburst = true;
    r.servers << s;
    s = association("b");
    s.family = "-6";
    r.servers << s;
    QTest::newRow("address family word before the address")
        << QByteArray("server -4 a iburst\nserver -6 b\n") << r;
    r = NtpSettings();
    s = association("192.168.1.2");
    s.peer = true;
    r.servers << s;
    QTest::newRow("peer is a time source") << QByteArray("peer 192.168.1.2\n") << r;
    r = NtpSettings();
    s = association("o.example");
    s.minPoll = 4;
    s.extraOptions = QStringList{"maxpoll", "99999999999"};
    r.servers << s;
    QTest::newRow("number too large stays with its option")
        << QByteArray("server o.example minpoll 4 maxpoll 99999999999\n") << r;
    QTest::newRow("family word alone is no source") << QByteArray("server -4\n") << NtpSettings();

    r = NtpSettings();
    s = association("192.0.2.255");
    s.ttl = 3;
    s.key = "5";
    s.version = 4;
    s.mode = 1;
    s.burst = s.prefer = s.noSelect = s.preempt = s.truechimer = true;
    r.broadcasts.append(s);
    r.manycastServers.append(association("239.1.1.1"));
    r.multicastClients.append(association("224.0.1.1"));
    QTest::newRow("other associations")
        << QByteArray("broadcast 192.0.2.255 ttl 3 key 5 version 4 mode 1 burst prefer noselect "
                      "preempt true\nmanycastserver 239.1.1.1\nmulticastclient 224.0.1.1\n")
        << r;

    r = NtpSettings();
    r.driftFile = "/var/lib/ntp/ntp.drift";
    QTest::newRow("equals separates") << QByteArray("driftfile=/var/lib/ntp/ntp.drift\n") << r;
    r = NtpSettings();
    r.logConfig = QStringList{"syncall", "+clockevents"};
    QTest::newRow("logconfig") << QByteArray("logconfig =syncall +clockevents\n") << r;
    r.logConfig = QStringList{"clockall"};
    QTest::newRow("first logconfig wins")
        << QByteArray("logconfig clockall\nlogconfig syncall\n") << r;
    r = NtpSettings();
    r.statsDir = "/a";
    r.directiveExtras["statsdir"] = QStringList{"extra"};
    r.directiveComments["statsdir"] = "# stats";
    QTest::newRow("first statsdir wins")
        << QByteArray("statsdir /a extra # stats\nstatsdir /b\n") << r;
    QTest::newRow("valueless first statsdir counts")
        << QByteArray("statsdir\nstatsdir /b\n") << NtpSettings();

    r = NtpSettings();
    RestrictEntry restrict;
    restrict.address = "192.168.1.0";
    restrict.mask = "255.255.255.0";
    restrict.flags = {{"nomodify", true}, {"notrap", true}};
    r.restricts.append(restrict);
    for (const char* other : {"192.168.1.256", "::1", "1..2.3", "host"}) {
        restrict = RestrictEntry();
        restrict.address = other;
        r.restricts.append(restrict);
    }
    restrict = RestrictEntry();
    restrict.family = "-4";
    restrict.address = "default";
    restrict.flags = {{"kod", true}};
    r.restricts.append(restrict);
    restrict = RestrictEntry();
    restrict.address = "default";
    restrict.flags = {{"kod", true}, {"mask", true}};
    r.restricts.append(restrict);
    QTest::newRow("restrict")
        << QByteArray("restrict 192.168.1.0 mask 255.255.255.0 nomodify NOTRAP nomodify\n"
                      "restrict 192.168.1.256\nrestrict ::1\nrestrict 1..2.3\nrestrict host\n"
                      "restrict -4 default kod\nrestrict default kod mask\n")
        << r;

    r = NtpSettings();
    r.loopStats = r.peerStats = true;
    r.directiveExtras["statistics"] = QStringList{"protostats"};
    QTest::newRow("statistics") << QByteArray(
                                       "statistics LOOPSTATS protostats\nstatistics peerstats\n")
                                << r;

    r = NtpSettings();
    FudgeEntry fudge;
    fudge.address = "127.127.1.0";
    fudge.stratum = 10;
    fudge.flag1 = true;
    fudge.namedFlags = {true, true, false, false};
    r.fudges.append(fudge);
    fudge = FudgeEntry();
    fudge.address = "127.127.8.0";
    fudge.time1 = "0.5";
    fudge.time2 = "-0.2";
    fudge.refid = "GPS";
    fudge.mode = 5;
    fudge.flag4 = true;
    fudge.extraOptions = QStringList{"odd", "flag3"};
    fudge.namedFlags = {false, false, false, true};
    r.fudges.append(fudge);
    QTest::newRow("fudge")
        << QByteArray("fudge 127.127.1.0 stratum 10 flag1 1 flag2 0\nfudge\n"
                      "fudge 127.127.8.0 time1 0.5 odd TIME2 -0.2 refid GPS mode 5 flag4 7 flag3\n")
        << r;

    r = NtpSettings();
    FileGenEntry fileGen;
    fileGen.name = "peerstats";
    fileGen.file = "peerstats";
    fileGen.type = "day";
    fileGen.enabled = true;
    fileGen.namesLink = false;
    r.fileGens.append(fileGen);
    fileGen = FileGenEntry();
    fileGen.name = "loopstats";
    fileGen.link = true;
    fileGen.extraOptions = QStringList{"odd"};
    r.fileGens.append(fileGen);
    QTest::newRow("filegen") << QByteArray(
                                    "filegen peerstats file peerstats type day enable\nfilegen\n"
                                    "filegen loopstats link odd disable\n")
                             << r;

    r = NtpSettings();
    DiscardEntry discard;
    discard.average = "3";
    discard.minimum = "1";
    discard.monitor = "3000";
    r.discards.append(discard);
    discard = DiscardEntry();
    discard.average = "5";
    discard.extraOptions = QStringList{"odd", "monitor"};
    r.discards.append(discard);
    QTest::newRow("discard")
        << QByteArray("discard average 3 minimum 1 monitor 3000\ndiscard odd AVERAGE 5 monitor\n")
        << r;

    r = NtpSettings();
    r.enables = QStringList{"auth", "monitor", "calibrate"};
    r.directiveComments["enable"] = "# one # two";
    QTest::newRow("enable") << QByteArray(
                                   "enable auth monitor # one\nenable\nenable calibrate # two\n")
                            << r;

    r = NtpSettings();
    r.broadcastClient = r.noVolley = true;
    r.directiveExtras["broadcastclient"] = QStringList{"extra"};
    r.directiveComments["broadcastclient"] = "# bc";
    QTest::newRow("broadcastclient novolley")
        << QByteArray("broadcastclient NOVOLLEY extra # bc\nbroadcastclient\n") << r;
    r = NtpSettings();
    r.broadcastClient = true;
    r.directiveExtras["broadcastclient"] = QStringList{"other", "novolley"};
    QTest::newRow("broadcastclient") << QByteArray("broadcastclient other novolley\n") << r;

    r = NtpSettings();
    r.logFile = "/var/log/ntp.log";
    r.broadcastDelay = "0.008";
    QTest::newRow("CRLF and tabs")
        << QByteArray("\tlogfile\t/var/log/ntp.log\r\n\r\nbroadcastdelay = 0.008  \r\n") << r;
    QTest::newRow("invalid text is not taken in")
        << QByteArray("server h\xffst\n") << NtpSettings();
}

void TestNtpReader::readsDirectives()
{
    QFETCH(QByteArray, text);
    QFETCH(NtpSettings, expected);
    const NtpSettings actual = readText(text);
    // The rendered text names the difference when there is one.
    QCOMPARE(QString::fromUtf8(actual.render({})), QString::fromUtf8(expected.render({})));
    QVERIFY(actual == expected);
}

void TestNtpReader::readReplacesTheWholeRecord()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ntp.conf");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("statistics loopstats\nserver a\nenable auth\n");
    file.close();
    NtpSettings record;
    record.readFrom(Config(path));
    QVERIFY(record.loopStats);
    QCOMPARE(record.servers.size(), 1);

    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("driftfile /d\n");
    file.close();
    record.readFrom(Config(path));
    NtpSettings expected;
    expected.driftFile = "/d";
    QVERIFY(record == expected);
    QVERIFY(record.source.exists);
}

void TestNtpReader::listsKeepFileOrder()
{
    const NtpSettings record = readText("server c\nrestrict 10.0.0.3\nserver a\nfudge 127.127.1.1\n"
                                        "restrict default\nserver b\nfudge 127.127.1.0\n");
    QStringList servers;
    for (const ServerEntry& entry : record.servers)
        servers << entry.address;
    QCOMPARE(servers, (QStringList{"c", "a", "b"}));
    QCOMPARE(record.restricts.at(0).address, QStringLiteral("10.0.0.3"));
    QCOMPARE(record.restricts.at(1).address, QStringLiteral("default"));
    QCOMPARE(record.fudges.at(0).address, QStringLiteral("127.127.1.1"));
}

QTEST_GUILESS_MAIN(TestNtpReader)
#include "tst_ntpreader.moc"
