// Pool and NTS lines and restrict lines of every form: read into the record,
// written back as the file gave them while unchanged and in the record's
// format once edited, on samples, distribution defaults and real files.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "config/carryoverplan.h"
#include "config/config.h"
#include "config/ntpsettings.h"
#include "config/ntpsettingsreader.h"
#include "tests/common/testfiles.h"

using TestHelpers::readFile;
using TestHelpers::writeFile;

namespace
{

using Edit = std::function<void(NtpSettings&)>;

NtpSettings readRecord(const QString& path)
{
    NtpSettings record;
    record.readFrom(Config(path));
    return record;
}

// Reads `old` from a file, applies `edit` and saves the record over it.
QByteArray saveOver(const QByteArray& old, const Edit& edit = {})
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ntp.conf"));
    if (!writeFile(path, old))
        qFatal("cannot write the test file");
    NtpSettings record = readRecord(path);
    if (edit)
        edit(record);
    if (!record.writeTo(path))
        qFatal("write failed");
    return readFile(path);
}

// CTest names the source tree; the files are read in place.
QString sourceDir()
{
    return qEnvironmentVariable("NTPSM_SOURCE_DIR");
}

QByteArray dataFile(const QString& name)
{
    const QString path = sourceDir() + QStringLiteral("/tests/config/data/") + name;
    if (!QFile::exists(path))
        qFatal("test data %s not found", qPrintable(path));
    return readFile(path);
}

// The lines of `text` that a save keeps as written (pool, NTS and restrict
// lines other than plain IPv4), by the store's own classifier.
QList<QByteArray> linesKeptAsWritten(const QByteArray& text)
{
    NtpSettings record;
    RecordLineReader reader(record);
    QList<QByteArray> kept;
    for (const QByteArray& raw : text.split('\n')) {
        const LineRole role = reader.take(parseConfigLine(raw));
        if (keptAsWritten(record, role))
            kept << raw;
    }
    return kept;
}

// Checks that saving `input` unchanged keeps those lines byte for byte, reads
// back as the same record and is a fixed point.
void checkUnchangedSave(const QByteArray& input, const QString& what)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ntp.conf"));
    QVERIFY(writeFile(path, input));
    const NtpSettings record = readRecord(path);
    QVERIFY(record.writeTo(path));
    const QByteArray written = readFile(path);
    const QList<QByteArray> writtenLines = written.split('\n');
    for (const QByteArray& line : linesKeptAsWritten(input))
        QVERIFY2(writtenLines.contains(line), qPrintable(what + ": " + QString::fromUtf8(line)));
    QVERIFY2(readRecord(path) == record, qPrintable(what));
    QVERIFY(record.writeTo(path));
    QVERIFY2(readFile(path) == written, qPrintable(what));
}

ServerEntry source(const QString& address, bool pool)
{
    ServerEntry entry;
    entry.address = address;
    entry.pool = pool;
    return entry;
}

RestrictEntry rule(const QString& family, const QString& address, const QStringList& flags = {})
{
    RestrictEntry entry;
    entry.family = family;
    entry.address = address;
    for (const QString& flag : flags)
        entry.flags.insert(flag, true);
    return entry;
}

} // namespace

class TestNtpSources : public QObject
{
    Q_OBJECT

private slots:
    void readsSources_data();
    void readsSources();
    void readsEveryRestrictForm_data();
    void readsEveryRestrictForm();
    void writesEditedEntriesInTheRecordsFormat();
    void keepsUntouchedLinesAsWritten_data();
    void keepsUntouchedLinesAsWritten();
    void realisticFiles_data();
    void realisticFiles();
    void corpusFilesKeepTheirLines();
};

void TestNtpSources::readsSources_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<ServerEntry>>("expected");

    ServerEntry pool = source("0.debian.pool.ntp.org", true);
    pool.iburst = true;
    QTest::newRow("pool") << QByteArray("pool 0.debian.pool.ntp.org iburst\n")
                          << QList<ServerEntry>{pool};
    pool = source("ntp.ubuntu.com", true);
    pool.iburst = true;
    pool.extraOptions = QStringList{"maxsources", "4"};
    QTest::newRow("pool with an option of no field")
        << QByteArray("pool ntp.ubuntu.com iburst maxsources 4\n") << QList<ServerEntry>{pool};
    QTest::newRow("pools keep their place among the servers")
        << QByteArray("server a\npool p # many\nserver b\n")
        << QList<ServerEntry>{source("a", false),
                              [] {
                                  ServerEntry p = source("p", true);
                                  p.comment = "# many";
                                  return p;
                              }(),
                              source("b", false)};
    QTest::newRow("no pool of a reference clock or without an address")
        << QByteArray("pool 127.127.1.0\npool -4\npool\n") << QList<ServerEntry>{};
    ServerEntry family = source("p", true);
    family.family = "-6";
    QTest::newRow("pool after a family word")
        << QByteArray("pool -6 p\n") << QList<ServerEntry>{family};
    ServerEntry nts = source("time.cloudflare.com", false);
    nts.iburst = true;
    nts.extraOptions = QStringList{"NTS"};
    QTest::newRow("nts is an option of no field")
        << QByteArray("server time.cloudflare.com NTS iburst\n") << QList<ServerEntry>{nts};
}

void TestNtpSources::readsSources()
{
    QFETCH(QByteArray, text);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ntp.conf"));
    QVERIFY(writeFile(path, text));
    const NtpSettings record = readRecord(path);
    QTEST(record.servers, "expected");
    for (const ServerEntry& entry : record.servers)
        QCOMPARE(entry.usesNts(), entry.address == "time.cloudflare.com");
}

void TestNtpSources::readsEveryRestrictForm_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<RestrictEntry>>("expected");
    QTest::addColumn<QList<bool>>("plain");

    RestrictEntry masked = rule("-6", "2001:db8:1::", {"nopeer"});
    masked.mask = "ffff:ffff:ffff::";
    QTest::newRow("every form")
        << QByteArray("restrict -4 default kod\nrestrict ::1\nrestrict 2001:db8::/32 NOQUERY\n"
                      "restrict 192.0.2.0/24\nrestrict time.example.org\n"
                      "restrict source nomodify\n"
                      "restrict -6 2001:db8:1:: mask ffff:ffff:ffff:: nopeer\n"
                      "restrict 10.0.0.1\nrestrict default\n")
        << QList<RestrictEntry>{rule("-4", "default", {"kod"}),
                                rule("", "::1"),
                                rule("", "2001:db8::/32", {"noquery"}),
                                rule("", "192.0.2.0/24"),
                                rule("", "time.example.org"),
                                rule("", "source", {"nomodify"}),
                                masked,
                                rule("", "10.0.0.1"),
                                rule("", "default")}
        << QList<bool>{false, false, false, false, false, false, false, true, true};
    QTest::newRow("a family word without an address is no rule")
        << QByteArray("restrict -4\nrestrict\n") << QList<RestrictEntry>{} << QList<bool>{};
}

void TestNtpSources::readsEveryRestrictForm()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<bool>, plain);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ntp.conf"));
    QVERIFY(writeFile(path, text));
    const NtpSettings record = readRecord(path);
    QTEST(record.restricts, "expected");
    for (int i = 0; i < record.restricts.size(); ++i)
        QCOMPARE(record.restricts.at(i).isPlainIpv4(), plain.at(i));
}

void TestNtpSources::writesEditedEntriesInTheRecordsFormat()
{
    const QByteArray old = "pool  p   maxsources 2 iburst # many\n"
                           "server t  nts\n"
                           "restrict -6 ::1   nopeer # local\n"
                           "restrict source noquery\n";
    // Unchanged, every line stays as it was.
    QCOMPARE(saveOver(old), "\n" + old);

    const QByteArray edited = saveOver(old, [](NtpSettings& r) {
        r.servers[0].iburst = false;
        r.servers[0].minPoll = 4;
        r.servers[1].setNts(false);
        r.servers.append(source("q", true));
        r.servers.last().setNts(true);
        r.restricts[0].flags.insert("kod", true);
        r.restricts[1].family = "-4";
    });
    QCOMPARE(edited, QByteArray("\n"
                                "pool p minpoll 4 maxsources 2 # many\n"
                                "server t\n"
                                "pool q nts\n"
                                "restrict -6 ::1 kod nopeer # local\n"
                                "restrict -4 source noquery\n"));
    // Saved again, the new lines stay too.
    QCOMPARE(saveOver(edited), edited);
}

void TestNtpSources::keepsUntouchedLinesAsWritten_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<int>("edit");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray pools = "pool a  iburst\npool b\tiburst # b\nserver  s iburst\n";
    QTest::newRow("unchanged: pools as written, servers in the record's format")
        << pools << 0 << QByteArray("\npool a  iburst\npool b\tiburst # b\nserver s iburst\n");
    QTest::newRow("first pool removed")
        << pools << 1 << QByteArray("\npool b\tiburst # b\nserver s iburst\n");
    QTest::newRow("pools swapped")
        << pools << 2 << QByteArray("\npool b\tiburst # b\npool a  iburst\nserver s iburst\n");
    const QByteArray rules = "restrict default nomodify kod\nrestrict -4 default nomodify kod\n";
    QTest::newRow("plain rules sorted, others as written")
        << rules << 0
        << QByteArray("\nrestrict default kod nomodify\n"
                      "restrict -4 default nomodify kod\n");
    QTest::newRow("rule removed keeps the other as written")
        << rules << 3 << QByteArray("\nrestrict -4 default nomodify kod\n");
}

void TestNtpSources::keepsUntouchedLinesAsWritten()
{
    QFETCH(QByteArray, old);
    QFETCH(int, edit);
    const QByteArray written = saveOver(old, [edit](NtpSettings& r) {
        if (edit == 1)
            r.servers.removeFirst();
        else if (edit == 2)
            r.servers.swapItemsAt(0, 1);
        else if (edit == 3)
            r.restricts.removeFirst();
    });
    QTEST(written, "expected");
    QCOMPARE(saveOver(written), written);
}

void TestNtpSources::realisticFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("NTPsec sample") << "ntpsec";
    QTest::newRow("Debian 12 default") << "debian12";
    QTest::newRow("Ubuntu default") << "ubuntu";
}

void TestNtpSources::realisticFiles()
{
    QFETCH(QString, name);
    const QByteArray input = dataFile(name + ".conf");
    QCOMPARE(saveOver(input), dataFile(name + ".expected"));
    checkUnchangedSave(input, name);
}

void TestNtpSources::corpusFilesKeepTheirLines()
{
    const QDir corpus(sourceDir() + QStringLiteral("/../shared/corpus/ntpconf"));
    const QStringList names = corpus.entryList({QStringLiteral("*.conf")}, QDir::Files);
    if (names.isEmpty())
        QSKIP("no corpus of real configuration files beside the source tree");
    int kept = 0;
    for (const QString& name : names) {
        const QByteArray input = readFile(corpus.filePath(name));
        kept += linesKeptAsWritten(input).size();
        checkUnchangedSave(input, name);
        if (QTest::currentTestFailed())
            return;
    }
    QVERIFY2(kept > 0, "the corpus holds no pool, NTS or restrict line of another form");
}

QTEST_GUILESS_MAIN(TestNtpSources)
#include "tst_ntpsources.moc"
