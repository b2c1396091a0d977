// Reference clock rules without a window: addresses and driver names, one
// clock from its server, fudge and refclock lines, and clocks saved back
// into a record and written, with every line the user did not change kept.

#include <QTemporaryDir>
#include <QtTest>

#include "config/config.h"
#include "config/ntpsettings.h"
#include "config/referenceclocks.h"

namespace
{

// A file with `text`, its record and its lines, as a page save finds them.
class RecordFile
{
public:
    explicit RecordFile(const QByteArray& text)
    {
        QFile file(m_dir.filePath(QStringLiteral("ntp.conf")));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write the scratch file");
        file.close();
        record.readFrom(Config(file.fileName()));
        m_lines = readConfigLines(file.fileName());
    }
    // The bytes a save of `record` writes over the file.
    QByteArray rendered() const { return record.render(m_lines); }

    NtpSettings record;

private:
    QTemporaryDir m_dir;
    QVector<ConfigLine> m_lines;
};

// CTest names the source tree; QFINDTESTDATA serves a run by hand.
QString dataPath(const QString& name)
{
    const QString sources = qEnvironmentVariable("NTPSM_SOURCE_DIR");
    return sources.isEmpty() ? QFINDTESTDATA("data/" + name)
                             : sources + "/tests/config/data/" + name;
}

QByteArray dataFile(const QString& name)
{
    QFile file(dataPath(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("test data %s not found", qPrintable(name));
    return file.readAll();
}

// The page's save without a change: every clock as it was loaded.
QVector<ClockToSave> unchanged(const NtpSettings& record, bool catalogued)
{
    QVector<ClockToSave> clocks;
    for (const LoadedClock& loaded : loadReferenceClocks(record)) {
        ClockToSave clock;
        clock.settings = loaded.settings;
        clock.loaded = true;
        clock.origin = loaded;
        clock.catalogued = catalogued;
        clocks << clock;
    }
    return clocks;
}

ClockToSave added(int driver, int unit)
{
    ClockToSave clock;
    clock.settings.id = {driver, unit};
    clock.settings.minPoll = 4;
    clock.settings.hasDriverOptions = true;
    clock.settings.stratum = 0;
    return clock;
}

QStringList linesOf(const QByteArray& text, const char* keyword)
{
    QStringList lines;
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith(QByteArray(keyword) + ' '))
            lines << QString::fromUtf8(line);
    }
    return lines;
}

} // namespace

class TestRefclocks : public QObject
{
    Q_OBJECT
private slots:
    void addressesAndNames();
    void calibrate();
    void clocksOfARecord();
    void unchangedClocksKeepTheirBytes();
    void editedRefclockKeepsItsSyntax();
    void addedClockTakesTheDaemonsSyntax();
    void deletedClockTakesItsLines();
    void secondPreferredClockWrittenAsShown();
    void laterFudgeLinesNeverGainFlags();
};

void TestRefclocks::addressesAndNames()
{
    ClockId id;
    QVERIFY(parseClockAddress("127.127.20.3", &id));
    QCOMPARE(id, (ClockId{20, 3}));
    QVERIFY(parseClockAddress("127.127.x.1", &id));
    QCOMPARE(id, (ClockId{0, 1}));
    QVERIFY(!parseClockAddress("127.127.20", &id));
    QVERIFY(!parseClockAddress("127.127.20.1.2", &id));
    QVERIFY(!parseClockAddress("127.0.0.1", &id));
    QCOMPARE(clockAddress({28, 1}), QStringLiteral("127.127.28.1"));

    // NTPsec's names, in any case; drivers it does not have have none.
    QCOMPARE(refclockDriverNumber("shm"), 28);
    QCOMPARE(refclockDriverNumber("NMEA"), 20);
    QCOMPARE(refclockDriverNumber("gpsd"), 46);
    QCOMPARE(refclockDriverNumber("generic"), 8);
    QCOMPARE(refclockDriverNumber("127.127.28.0"), 0);
    QCOMPARE(refclockDriverName(29), QStringLiteral("trimble"));
    QVERIFY(refclockDriverName(2).isEmpty());
}

void TestRefclocks::calibrate()
{
    QStringList enables{"auth", "calibrate", "monitor", "calibrate"};
    QVERIFY(calibrateEnabled(enables));
    setCalibrate(enables, true);
    QCOMPARE(enables, QStringList({"auth", "calibrate", "monitor"}));
    setCalibrate(enables, false);
    QCOMPARE(enables, QStringList({"auth", "monitor"}));
    QVERIFY(!calibrateEnabled(enables));
    setCalibrate(enables, true);
    QCOMPARE(enables.last(), QStringLiteral("calibrate"));
}

void TestRefclocks::clocksOfARecord()
{
    const RecordFile file("server 127.127.46.0 prefer minpoll 4\n"
                          "server 127.127.20\n"
                          "server 127.127.28.0\n"
                          "server 127.127.28.0 minpoll 6\n"
                          "fudge 127.127.28.0 refid FIRST flag2 1\n"
                          "fudge 127.127.28.0 refid LATER\n"
                          "refclock shm unit 0 refid SAME\n"
                          "refclock nmea prefer mode 1 minpoll 6 maxpoll 3 flag4 1 stratum 2\n"
                          "refclock nosuchdriver unit 1\n");
    const QList<LoadedClock> clocks = loadReferenceClocks(file.record);
    QCOMPARE(clocks.size(), 3);

    // A driver of any number is a clock; only the first preferred one is
    // shown preferred; a clock without a fudge line has no driver options.
    QCOMPARE(clocks.at(0).settings.id, (ClockId{46, 0}));
    QVERIFY(clocks.at(0).settings.prefer);
    QCOMPARE(clocks.at(0).settings.minPoll, 4);
    QCOMPARE(clocks.at(0).settings.maxPoll, 10);
    QVERIFY(!clocks.at(0).settings.hasDriverOptions);

    // The first server and fudge lines of a clock count, and a refclock line
    // for a clock already given by a server line is not a clock of its own.
    const LoadedClock& shm = clocks.at(1);
    QCOMPARE(shm.syntax, ClockSyntax::Classic);
    QCOMPARE(shm.settings.minPoll, 0);
    QCOMPARE(shm.settings.refid, QStringLiteral("FIRST"));
    QCOMPARE(shm.settings.stratum, -1);
    QCOMPARE(shm.settings.flags, (std::array<bool, 4>{false, true, false, false}));

    const LoadedClock& nmea = clocks.at(2);
    QCOMPARE(nmea.syntax, ClockSyntax::Refclock);
    QCOMPARE(nmea.settings.id, (ClockId{20, 0}));
    QVERIFY(!nmea.settings.prefer);
    QCOMPARE(nmea.settings.mode, 1);
    QCOMPARE(nmea.settings.minPoll, 6);
    QCOMPARE(nmea.settings.maxPoll, 6);
    QCOMPARE(nmea.settings.stratum, 2);
    QCOMPARE(nmea.settings.flags, (std::array<bool, 4>{false, false, false, true}));
}

void TestRefclocks::unchangedClocksKeepTheirBytes()
{
    // What the page now shows beyond the catalogue's classic clocks, and what
    // it cannot show, is written back byte for byte by an unchanged save.
    const QByteArray ntpsec = dataFile("ntpsec-refclocks.conf");
    const QByteArray classic = "statistics clockstats\n"
                               "server 127.127.020.0.0 prefer\n"
                               "server 127.127.46.0  prefer # gpsd\n"
                               "server 127.127.46.0 minpoll 3\n"
                               "refclock nosuchdriver unit 1\n"
                               "fudge 127.127.9.9 stratum 3\n"
                               "fudge 127.127.46.0 refid GPSD time1 0.1\n"
                               "fudge 127.127.46.0 flag1 1\n";
    for (const QByteArray& text : {ntpsec, classic}) {
        RecordFile file(text);
        storeReferenceClocks(file.record, unchanged(file.record, false), true);
        QCOMPARE(file.rendered(), text);
    }
}

void TestRefclocks::editedRefclockKeepsItsSyntax()
{
    RecordFile file("refclock  shm unit 1 prefer refid PPS holdover 10 # edge\n"
                    "refclock nmea unit 0 path /dev/ttyS0 flag1 1\n");
    QVector<ClockToSave> clocks = unchanged(file.record, true);
    clocks[0].edited = true;
    clocks[0].settings.stratum = 1;
    clocks[0].settings.flags[3] = true;
    clocks[1].edited = true;
    clocks[1].settings.id.unit = 2;
    clocks[1].settings.flags[0] = false;
    storeReferenceClocks(file.record, clocks, false);
    // The changed options are written, the others stay as they were named.
    QCOMPARE(linesOf(file.rendered(), "refclock"),
             QStringList({"refclock shm unit 1 prefer stratum 1 refid PPS flag4 1 holdover 10 "
                          "# edge",
                          "refclock nmea unit 2 flag1 0 path /dev/ttyS0"}));
    QVERIFY(linesOf(file.rendered(), "server").isEmpty());
}

void TestRefclocks::addedClockTakesTheDaemonsSyntax()
{
    for (bool ntpsec : {true, false}) {
        RecordFile file("server 192.0.2.1 iburst\n");
        ClockToSave nmea = added(20, 1);
        nmea.settings.time2 = "0.4";
        nmea.settings.flags[0] = true;
        ClockToSave trak = added(2, 0); // NTPsec has no such driver
        storeReferenceClocks(file.record, {nmea, trak}, ntpsec);
        const QByteArray text = file.rendered();
        QStringList servers = {"server 192.0.2.1 iburst"};
        if (ntpsec) {
            QCOMPARE(linesOf(text, "refclock"),
                     QStringList{"refclock nmea unit 1 minpoll 4 maxpoll 10 time2 0.4 flag1 1"});
        } else {
            servers << "server 127.127.20.1 minpoll 4 maxpoll 10 mode 0";
        }
        servers << "server 127.127.2.0 minpoll 4 maxpoll 10 mode 0";
        QCOMPARE(linesOf(text, "server"), servers);
        QCOMPARE(linesOf(text, "fudge").size(), ntpsec ? 1 : 2);
    }
}

void TestRefclocks::deletedClockTakesItsLines()
{
    RecordFile file("refclock shm unit 0 refid GPS\n"
                    "refclock shm unit 0 refid AGAIN\n"
                    "refclock shm unit 1 refid PPS\n"
                    "server 127.127.1.0\n"
                    "fudge 127.127.1.0 stratum 10\n"
                    "fudge 127.127.1.0 stratum 12\n");
    QVector<ClockToSave> clocks = unchanged(file.record, false);
    QCOMPARE(clocks.size(), 3);
    clocks.removeAt(1); // the first shm clock
    clocks.removeAt(0); // the local clock
    storeReferenceClocks(file.record, clocks, true);
    const QByteArray text = file.rendered();
    QCOMPARE(linesOf(text, "refclock"), QStringList{"refclock shm unit 1 refid PPS"});
    QVERIFY(linesOf(text, "server").isEmpty());
    QVERIFY(linesOf(text, "fudge").isEmpty());
}

void TestRefclocks::secondPreferredClockWrittenAsShown()
{
    RecordFile file("refclock shm unit 0  prefer\nrefclock shm unit 1 prefer refid PPS\n");
    storeReferenceClocks(file.record, unchanged(file.record, false), true);
    QCOMPARE(linesOf(file.rendered(), "refclock"),
             QStringList({"refclock shm unit 0  prefer", "refclock shm unit 1 refid PPS"}));
}

void TestRefclocks::laterFudgeLinesNeverGainFlags()
{
    // Another page's save (here: a time server added) leaves a clock's two
    // fudge lines as they are; the second must not turn flag1 off again.
    const QByteArray text = "server 127.127.20.0 prefer\n"
                            "fudge 127.127.20.0 flag1 1 refid GPS\n"
                            "fudge 127.127.20.0 time1 0.420\n";
    RecordFile file(text);
    ServerEntry server;
    server.address = "192.0.2.7";
    file.record.servers << server;
    QCOMPARE(linesOf(file.rendered(), "fudge"), linesOf(text, "fudge"));
    QCOMPARE(linesOf(file.rendered(), "server"),
             QStringList({"server 127.127.20.0 prefer", "server 192.0.2.7"}));

    // Regenerated, as after any change of the entry, a line names the same
    // flags it named before (and any that are set); a new entry names all.
    file.record.fudges[1].time1 = "0.5";
    file.record.fudges[1].flag3 = true;
    FudgeEntry fresh;
    fresh.address = "127.127.1.0";
    file.record.fudges << fresh;
    QCOMPARE(
        linesOf(file.rendered(), "fudge"),
        QStringList({"fudge 127.127.20.0 flag1 1 refid GPS", "fudge 127.127.20.0 time1 0.5 flag3 1",
                     "fudge 127.127.1.0 flag1 0 flag2 0 flag3 0 flag4 0"}));
}

QTEST_GUILESS_MAIN(TestRefclocks)
#include "tst_refclocks.moc"
