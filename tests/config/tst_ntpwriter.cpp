// Writing the settings record: line formats, where the old file's other
// lines go, realistic files read and written back, and failing writes.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/config.h"
#include "config/ntpsettings.h"
#include "tests/common/testfiles.h"

using TestHelpers::readFile;
using TestHelpers::writeFile;

namespace
{

NtpSettings readRecord(const QString& path)
{
    NtpSettings record;
    record.readFrom(Config(path));
    return record;
}

QByteArray dataFile(const QString& name)
{
    // The compiler may have been given the source by a relative path, which
    // QFINDTESTDATA cannot always resolve.
    QString path = TestHelpers::sourceFile("tests/config/data/" + name);
    if (path.isEmpty())
        path = QFINDTESTDATA("data/" + name);
    if (path.isEmpty())
        qFatal("test data %s not found", qPrintable(name));
    return readFile(path);
}

// The changes a page could make to a record, by name.
void applyEdit(const QString& edit, NtpSettings& r)
{
    if (edit == "swap servers") {
        r.servers.swapItemsAt(0, 1);
    } else if (edit == "remove server b") {
        r.servers.removeAt(1);
    } else if (edit == "server a iburst") {
        r.servers[0].iburst = true;
    } else if (edit == "replace server") {
        r.servers[0].address = "b";
    } else if (edit == "clear driftfile") {
        r.driftFile.clear();
    } else if (edit == "set statsdir") {
        r.statsDir = "/s";
    } else if (edit == "no broadcastclient") {
        r.broadcastClient = false;
    } else if (edit == "no statistics") {
        r.loopStats = false;
    } else if (edit == "add restrict") {
        RestrictEntry entry;
        entry.address = "10.0.0.1";
        r.restricts.append(entry);
    } else if (edit != "none") {
        qFatal("unknown edit %s", qPrintable(edit));
    }
}

// Reads `old` from a file, applies `edit` and writes the record over it.
QByteArray saveOver(const QByteArray& old, const QString& edit)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("ntp.conf");
    if (!writeFile(path, old))
        qFatal("cannot write the test file");
    NtpSettings record = readRecord(path);
    applyEdit(edit, record);
    QString error;
    if (!record.writeTo(path, &error))
        qFatal("write failed: %s", qPrintable(error));
    return readFile(path);
}

// The words of every non-blank line, in the forms the writer normally gives
// them: one "enable" and "statistics" line may become several or one, fudge
// flags that are 0 are written anyway, a new filegen entry says nolink/disable.
QStringList normalizedTokens(const QByteArray& text)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    static const QRegularExpression zeroFlag(QStringLiteral("^flag[1-4]$"));
    QStringList tokens;
    for (QByteArray raw : text.split('\n')) {
        if (raw.endsWith('\r'))
            raw.chop(1);
        const ConfigLine line = parseConfigLine(raw);
        if (line.key == "#") {
            tokens += line.values.first().split(blanks, Qt::SkipEmptyParts);
            continue;
        }
        QStringList words = line.values;
        if (line.key != "enable" && line.key != "statistics" && !line.key.isEmpty())
            words.prepend(line.key);
        for (int i = 0; i < words.size(); ++i) {
            const QString word = words.at(i).toLower();
            if (line.key == "fudge" && zeroFlag.match(word).hasMatch() && i + 1 < words.size() &&
                words.at(i + 1) == "0") {
                ++i;
            } else if (line.key != "filegen" || (word != "nolink" && word != "disable")) {
                tokens << word;
            }
        }
        tokens += line.trailingComment.split(blanks, Qt::SkipEmptyParts);
    }
    tokens.sort();
    return tokens;
}

// Leaves the directory writable again when the test ends, however it ends.
bool setImmutable(const QString& path, bool on)
{
    return QProcess::execute("chattr", {on ? "+i" : "-i", path}) == 0;
}

} // namespace

class TestNtpWriter : public QObject
{
    Q_OBJECT

private slots:
    void writesLineFormats_data();
    void writesLineFormats();
    void carriesOverOtherLines_data();
    void carriesOverOtherLines();
    void realisticFiles_data();
    void realisticFiles();
    void oddAndLargeFilesLoseNothing();
    void mixedFilesStayStable();
    void failedWritesLeaveTheFile_data();
    void failedWritesLeaveTheFile();
    void writesThroughSymbolicLinks();
    void keepsPermissionsAndOwner();
    void oddBytesAreStableFromTheFirstSave_data();
    void oddBytesAreStableFromTheFirstSave();
    void clearsTempFilesOfKilledWrites();
};

void TestNtpWriter::writesLineFormats_data()
{
    QTest::addColumn<QString>("record");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty") << "empty" << QByteArray("\n");
    QTest::newRow("driftfile and loopstats")
        << "drift" << QByteArray("driftfile /var/lib/ntp/ntp.drift\nstatistics loopstats\n");
    QTest::newRow("server") << "server" << QByteArray("\nserver 192.0.2.2 iburst prefer\n");
    QTest::newRow("server numbers")
        << "numbers"
        << QByteArray("\nserver 192.0.2.2 minpoll 4 maxpoll 10 version 4 ttl 2 mode -7\n");
    QTest::newRow("fudge") << "fudge"
                           << QByteArray("\nfudge 127.127.1.0 stratum 10 flag1 0 flag2 0 flag3 0 "
                                         "flag4 0\n");
    QTest::newRow("filegen") << "filegen"
                             << QByteArray("\nfilegen loopstats type day file loopstats nolink "
                                           "enable\n");
    QTest::newRow("restrict") << "restrict" << QByteArray("\nrestrict default kod nopeer notrap\n");
    QTest::newRow("every section")
        << "all"
        << QByteArray("enable auth\n"
                      "enable calibrate # on\n"
                      "statsdir /stats/ x\n"
                      "logfile /log\n"
                      "logconfig +all -syncall # log\n"
                      "broadcastclient novolley extra # bc\n"
                      "broadcastdelay 0.008\n"
                      "driftfile /drift\n"
                      "statistics clockstats cryptostats loopstats peerstats rawstats sysstats "
                      "protostats # st\n"
                      "server a key 7 minpoll 3 mode 2 burst iburst prefer noselect preempt true "
                      "xleave # srv\n"
                      "broadcast 192.0.2.255 ttl 4\n"
                      "manycastserver 239.1.1.1\n"
                      "multicastclient 224.0.1.1\n"
                      "fudge 127.127.8.0 refid GPS mode 1 time1 0.1 time2 0.2 flag1 1 flag2 0 "
                      "flag3 1 flag4 1 odd # gps\n"
                      "filegen peerstats file p link disable odd # fg\n"
                      "restrict 10.0.0.0 mask 255.0.0.0 nomodify # lan\n"
                      "discard\n"
                      "discard average 3 minimum 1 monitor 3000 odd # d\n");
}

void TestNtpWriter::writesLineFormats()
{
    QFETCH(QString, record);
    NtpSettings r;
    if (record == "drift") {
        r.driftFile = "/var/lib/ntp/ntp.drift";
        r.loopStats = true;
    } else if (record == "server" || record == "numbers") {
        ServerEntry s;
        s.address = "192.0.2.2";
        s.iburst = s.prefer = record == "server";
        if (record == "numbers") {
            s.minPoll = 4;
            s.maxPoll = 10;
            s.version = 4;
            s.ttl = 2;
            s.mode = -7; // below -1: what the file said, written back
        }
        r.servers << s;
    } else if (record == "fudge") {
        FudgeEntry f;
        f.address = "127.127.1.0";
        f.stratum = 10;
        r.fudges << f;
    } else if (record == "filegen") {
        FileGenEntry g;
        g.name = g.file = "loopstats";
        g.type = "day";
        g.enabled = true;
        r.fileGens << g;
    } else if (record == "restrict") {
        RestrictEntry e;
        e.address = "default";
        e.flags = {{"nopeer", true}, {"kod", true}, {"notrap", true}, {"limited", false}};
        r.restricts << e;
    } else if (record == "all") {
        r.enables = QStringList{"auth", "calibrate"};
        r.directiveComments["enable"] = "# on";
        r.statsDir = "/stats/";
        r.directiveExtras["statsdir"] = QStringList{"x"};
        r.logFile = "/log";
        r.logConfig = QStringList{"+all", "-syncall"};
        r.directiveComments["logconfig"] = "# log";
        r.broadcastClient = r.noVolley = true;
        r.directiveExtras["broadcastclient"] = QStringList{"extra"};
        r.directiveComments["broadcastclient"] = "# bc";
        r.broadcastDelay = "0.008";
        r.driftFile = "/drift";
        r.clockStats = r.cryptoStats = r.loopStats = r.peerStats = r.rawStats = r.sysStats = true;
        r.directiveExtras["statistics"] = QStringList{"protostats"};
        r.directiveComments["statistics"] = "# st";
        ServerEntry s;
        s.address = "a";
        s.key = "7";
        s.minPoll = 3;
        s.mode = 2;
        s.burst = s.iburst = s.prefer = s.noSelect = s.preempt = s.truechimer = true;
        s.extraOptions = QStringList{"xleave"};
        s.comment = "# srv";
        r.servers << s;
        s = ServerEntry();
        s.address = "192.0.2.255";
        s.ttl = 4;
        r.broadcasts << s;
        s.address = "239.1.1.1";
        s.ttl = -1;
        r.manycastServers << s;
        s.address = "224.0.1.1";
        r.multicastClients << s;
        FudgeEntry f;
        f.address = "127.127.8.0";
        f.refid = "GPS";
        f.mode = 1;
        f.time1 = "0.1";
        f.time2 = "0.2";
        f.flag1 = f.flag3 = f.flag4 = true;
        f.extraOptions = QStringList{"odd"};
        f.comment = "# gps";
        r.fudges << f;
        FileGenEntry g;
        g.name = "peerstats";
        g.file = "p";
        g.link = true;
        g.extraOptions = QStringList{"odd"};
        g.comment = "# fg";
        r.fileGens << g;
        RestrictEntry e;
        e.address = "10.0.0.0";
        e.mask = "255.0.0.0";
        e.flags = {{"nomodify", true}};
        e.comment = "# lan";
        r.restricts << e;
        r.discards << DiscardEntry();
        DiscardEntry d;
        d.average = "3";
        d.minimum = "1";
        d.monitor = "3000";
        d.extraOptions = QStringList{"odd"};
        d.comment = "# d";
        r.discards << d;
    }
    QTEST(r.render({}), "expected");

    // writeTo() writes the same text to a new file, which reads back equal.
    QTemporaryDir dir;
    const QString path = dir.filePath("ntp.conf");
    QVERIFY(r.writeTo(path));
    QTEST(readFile(path), "expected");
    // Within what the text can say, the file reads back as the record.
    for (RestrictEntry& e : r.restricts)
        e.flags.remove("limited");
    QVERIFY(readRecord(path) == r);
    QCOMPARE(QFileInfo(path).permissions() & 0x7777,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                 QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::ReadOther);
}

void TestNtpWriter::carriesOverOtherLines_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("comment follows its entry")
        << QByteArray("server a\n# about b\nserver b\n") << "swap servers"
        << QByteArray("\n# about b\nserver b\nserver a\n");
    QTest::newRow("comment of a removed entry goes to the section start")
        << QByteArray("server a\n# about b\nserver b\npool p\nserver c\n") << "remove server b"
        << QByteArray("\n# about b\nserver a\npool p\nserver c\n");
    QTest::newRow("trailing comment stays with an edited entry")
        << QByteArray("# main\nserver a minpoll 4 # primary\n") << "server a iburst"
        << QByteArray("\n# main\nserver a minpoll 4 iburst # primary\n");
    QTest::newRow("header stays on top")
        << QByteArray("# title\n\n# about a\nserver a\n") << "replace server"
        << QByteArray("# title\n\n# about a\nserver b\n");
    QTest::newRow("identical lines keep their comments")
        << QByteArray("# one\nrestrict default\n# two\nrestrict default\n") << "add restrict"
        << QByteArray("\n# one\nrestrict default\n# two\nrestrict default\nrestrict 10.0.0.1\n");
    QTest::newRow("unknown and refused lines")
        << QByteArray("server -4 a iburst\nrestrict ::1\ntinker panic 0\n") << "none"
        << QByteArray("\nserver -4 a iburst\nrestrict ::1\ntinker panic 0\n");
    QTest::newRow("nothing taken in keeps the header")
        << QByteArray("# only\n\npool p\n") << "none" << QByteArray("# only\n\npool p\n");
    QTest::newRow("second driftfile stays after the first")
        << QByteArray("driftfile /a\ndriftfile /b\nenable auth\n") << "none"
        << QByteArray("enable auth\ndriftfile /a\n\ndriftfile /b\n");
    QTest::newRow("removed driftfile does not come back")
        << QByteArray("driftfile /a\n# drift\ndriftfile /b\ndriftfile\n") << "clear driftfile"
        << QByteArray("\n# drift\ndriftfile\n");
    QTest::newRow("valueless first driftfile keeps the later ones")
        << QByteArray("server a\ndriftfile\nrestrict default\ndriftfile /b\nserver b\n") << "none"
        << QByteArray("\nserver a\nserver b\ndriftfile\ndriftfile /b\nrestrict default\n");
    QTest::newRow("lines due before an empty statistics line go after it")
        << QByteArray("driftfile /a\nstatsdir\nstatistics loopstats\nstatsdir\n") << "no statistics"
        << QByteArray("driftfile /a\n\nstatsdir\nstatsdir\n");
    QTest::newRow("valueless statsdir after the new one")
        << QByteArray("statsdir\nserver a\n") << "set statsdir"
        << QByteArray("statsdir /s\n\nstatsdir\nserver a\n");
    QTest::newRow("removed broadcastclient does not come back")
        << QByteArray("broadcastclient\nbroadcastclient novolley\nserver a\n")
        << "no broadcastclient" << QByteArray("\nserver a\n");
    QTest::newRow("blank lines do not pile up")
        << QByteArray("driftfile /d\n\nserver a\n\n") << "none"
        << QByteArray("driftfile /d\n\nserver a\n\n");
}

void TestNtpWriter::carriesOverOtherLines()
{
    QFETCH(QByteArray, old);
    QFETCH(QString, edit);
    const QByteArray written = saveOver(old, edit);
    QTEST(written, "expected");
    // Saving the result again changes nothing.
    QCOMPARE(saveOver(written, "none"), written);
}

void TestNtpWriter::realisticFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("distribution") << "distribution";
    QTest::newRow("reference clocks") << "refclocks";
    QTest::newRow("odd spacing, CRLF") << "oddspacing";
}

void TestNtpWriter::realisticFiles()
{
    QFETCH(QString, name);
    const QByteArray input = dataFile(name + ".conf");
    QTemporaryDir dir;
    const QString path = dir.filePath("ntp.conf");
    QVERIFY(writeFile(path, input));

    const NtpSettings record = readRecord(path);
    QVERIFY(record.writeTo(path));
    const QByteArray written = readFile(path);
    QCOMPARE(written, dataFile(name + ".expected"));

    QCOMPARE(normalizedTokens(written), normalizedTokens(input));
    QVERIFY(readRecord(path) == record);
    QVERIFY(record.writeTo(path));
    QCOMPARE(readFile(path), written);
}

void TestNtpWriter::oddAndLargeFilesLoseNothing()
{
    QByteArray old = QByteArray("server a\0b iburst\n", 18) +
                     "# caf\xe9 latin-1 \xff\n"
                     "server h\xffst iburst\n"
                     "# " +
                     QByteArray(1 << 20, 'x') + "\n";
    for (int i = 0; i < 100000; ++i)
        old += (i % 3 ? "server 10.0." : "# note 10.0.") + QByteArray::number(i / 256) + '.' +
               QByteArray::number(i % 256) + '\n';
    QElapsedTimer timer;
    timer.start();
    const QByteArray written = saveOver(old, "none");
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));

    // Every line is still there, byte for byte: nothing was re-encoded.
    QStringList missing;
    QSet<QByteArray> writtenLines;
    for (const QByteArray& line : written.split('\n'))
        writtenLines.insert(line);
    for (const QByteArray& line : old.split('\n')) {
        if (!writtenLines.contains(line))
            missing << QString::fromLatin1(line.left(40));
    }
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(" | ")));
    QCOMPARE(written.size(), old.size() + 1); // and one empty statistics line
}

// Files mixed at random from lines that exercise the placement rules: saved
// unchanged they keep every word and read back equal; saved after an edit
// they read back as the edited record; saving twice changes nothing.
void TestNtpWriter::mixedFilesStayStable()
{
    const QByteArray pool[] = {"",
                               "  ",
                               "# comment",
                               "server a",
                               "server b iburst # b",
                               "server a",
                               "server -4 c",
                               "server",
                               "driftfile /a",
                               "driftfile /b x # y",
                               "driftfile",
                               "statsdir /s",
                               "statsdir",
                               "logconfig +all",
                               "logconfig",
                               "broadcastclient",
                               "broadcastclient novolley x",
                               "statistics loopstats",
                               "statistics",
                               "statistics # st",
                               "statistics protostats",
                               "enable auth",
                               "enable",
                               "enable a b # c",
                               "restrict default kod",
                               "restrict ::1",
                               "fudge 127.127.1.0 stratum 3",
                               "filegen loopstats file l",
                               "discard",
                               "pool p",
                               "broadcastdelay",
                               "broadcastdelay 0.1",
                               "manycastserver m"};
    const QStringList edits{"none",
                            "remove first server",
                            "clear driftfile",
                            "toggle broadcastclient",
                            "toggle statsdir",
                            "toggle loopstats"};
    QRandomGenerator random(20240601);
    QTemporaryDir dir;
    const QString path = dir.filePath("ntp.conf");
    for (int round = 0; round < 1500; ++round) {
        QByteArray old;
        for (int i = random.bounded(12); i > 0; --i)
            old += pool[random.bounded(int(std::size(pool)))] + '\n';
        QVERIFY(writeFile(path, old));
        NtpSettings record = readRecord(path);
        const QString edit = edits.at(random.bounded(edits.size()));
        if (edit == "remove first server" && !record.servers.isEmpty()) {
            record.servers.removeFirst();
        } else if (edit == "clear driftfile") {
            record.driftFile.clear();
            record.directiveExtras.remove("driftfile");
            record.directiveComments.remove("driftfile");
        } else if (edit == "toggle broadcastclient") {
            record.broadcastClient = !record.broadcastClient;
            record.noVolley = false;
            record.directiveExtras.remove("broadcastclient");
            record.directiveComments.remove("broadcastclient");
        } else if (edit == "toggle statsdir") {
            record.statsDir = record.statsDir.isEmpty() ? "/new" : QString();
            record.directiveExtras.remove("statsdir");
            record.directiveComments.remove("statsdir");
        } else if (edit == "toggle loopstats") {
            record.loopStats = !record.loopStats;
        }
        QVERIFY(record.writeTo(path));
        const QByteArray written = readFile(path);
        const QByteArray context =
            "edit: " + edit.toLatin1() + "\nold:\n" + old + "written:\n" + written;
        if (edit == "none" && !old.contains("statistics"))
            QVERIFY2(normalizedTokens(written) == normalizedTokens(old), context.constData());
        QVERIFY2(readRecord(path) == record, context.constData());
        QVERIFY(record.writeTo(path));
        QVERIFY2(readFile(path) == written, context.constData());
    }
}

void TestNtpWriter::failedWritesLeaveTheFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing directory") << "missing"
                                       << "No such file or directory";
    QTest::newRow("path through a file") << "notdir"
                                         << "Not a directory";
    QTest::newRow("directory at the path") << "directory"
                                           << "Is a directory";
    QTest::newRow("read-only directory") << "immutable"
                                         << "Operation not permitted";
}

void TestNtpWriter::failedWritesLeaveTheFile()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QByteArray old("server a\n");
    const QString file = dir.filePath("ntp.conf");
    QVERIFY(writeFile(file, old));
    QString path = file;
    if (kind == "missing")
        path = dir.filePath("missing/ntp.conf");
    else if (kind == "notdir")
        path = file + "/ntp.conf";
    else if (kind == "directory")
        QVERIFY(QDir(dir.path()).mkpath(path = dir.filePath("sub")));
    auto unlock = qScopeGuard([&] { setImmutable(dir.path(), false); });
    if (kind == "immutable" && !setImmutable(dir.path(), true))
        QSKIP("chattr +i is not available on this file system");
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden);

    NtpSettings record;
    record.driftFile = "/d";
    QString error;
    QVERIFY(!record.writeTo(path, &error));
    QTEST(error, "reason");
    QVERIFY(!record.writeTo(path));
    QCOMPARE(readFile(file), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden), before);
}

void TestNtpWriter::writesThroughSymbolicLinks()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("etc"));
    const QString real = dir.filePath("etc/real.conf");
    QVERIFY(writeFile(real, "# kept\nserver a\n"));
    const QString link = dir.filePath("link.conf");
    const QString chain = dir.filePath("chain.conf");
    QVERIFY(::symlink("etc/real.conf", QFile::encodeName(link).constData()) == 0);
    QVERIFY(::symlink("link.conf", QFile::encodeName(chain).constData()) == 0);

    NtpSettings record = readRecord(chain);
    record.servers[0].address = "b";
    QString error;
    QVERIFY2(record.writeTo(chain, &error), qPrintable(error));
    QVERIFY(QFileInfo(chain).isSymLink());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readFile(real), QByteArray("\n# kept\nserver b\n"));

    // A link to a file that does not exist yet gets that file.
    const QString dangling = dir.filePath("dangling.conf");
    QVERIFY(::symlink("etc/new.conf", QFile::encodeName(dangling).constData()) == 0);
    QVERIFY(record.writeTo(dangling));
    QVERIFY(QFileInfo(dangling).isSymLink());
    QCOMPARE(readFile(dir.filePath("etc/new.conf")), QByteArray("\nserver b\n"));

    // A loop of links is refused.
    const QString loop = dir.filePath("loop.conf");
    QVERIFY(::symlink("loop.conf", QFile::encodeName(loop).constData()) == 0);
    QVERIFY(!record.writeTo(loop, &error));
    QCOMPARE(error, QString::fromLocal8Bit(strerror(ELOOP)));
}

void TestNtpWriter::keepsPermissionsAndOwner()
{
    if (::geteuid() != 0)
        QSKIP("only root can give a file to another user");
    const passwd* nobody = ::getpwnam("nobody");
    const group* nogroup = ::getgrnam("nogroup");
    if (!nobody || !nogroup)
        QSKIP("no user nobody or group nogroup");
    QTemporaryDir dir;
    const QString path = dir.filePath("ntp.conf");
    QVERIFY(writeFile(path, "server a\n"));
    const QByteArray name = QFile::encodeName(path);
    QVERIFY(::chown(name.constData(), nobody->pw_uid, nogroup->gr_gid) == 0);
    QVERIFY(::chmod(name.constData(), 0640) == 0);

    NtpSettings record = readRecord(path);
    record.driftFile = "/d";
    QVERIFY(record.writeTo(path));
    struct stat st;
    QVERIFY(::stat(name.constData(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0640));
    QCOMPARE(st.st_uid, nobody->pw_uid);
    QCOMPARE(st.st_gid, nogroup->gr_gid);
    QCOMPARE(readFile(path), QByteArray("driftfile /d\n\nserver a\n"));
}

void TestNtpWriter::oddBytesAreStableFromTheFirstSave_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("firstSave");
    QTest::newRow("CR ending the last line") << QByteArray("# note\r") << QByteArray("\n# note\n");
    QTest::newRow("CRs only") << QByteArray("\r\r") << QByteArray("\n");
    QTest::newRow("file named like a keyword")
        << QByteArray("filegen s file type\n") << QByteArray("\nfilegen s file type\n");
    QTest::newRow("restrict options with a value")
        << QByteArray("restrict default nomodify ippeerlimit -1 kod\n"
                      "restrict 127.0.0.2 serverresponse fuzz ippeerlimit 0\n")
        << QByteArray("\nrestrict default ippeerlimit -1 kod nomodify\n"
                      "restrict 127.0.0.2 ippeerlimit 0 serverresponse fuzz\n");
    QTest::newRow("form feed inside a restrict line")
        << QByteArray("restrict default y\x0c i\n") << QByteArray("\nrestrict default i y\n");
}

void TestNtpWriter::oddBytesAreStableFromTheFirstSave()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, firstSave);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ntp.conf"));
    QVERIFY(writeFile(path, input));
    const NtpSettings first = readRecord(path);
    QVERIFY(first.writeTo(path));
    QCOMPARE(readFile(path), firstSave);
    QCOMPARE(readRecord(path), first);
    QVERIFY(readRecord(path).writeTo(path));
    QCOMPARE(readFile(path), firstSave);
}

void TestNtpWriter::clearsTempFilesOfKilledWrites()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ntp.conf"));
    QVERIFY(writeFile(path, "server 192.0.2.1\n"));
    const QString stale = dir.filePath(QStringLiteral(".ntp.conf.ntpsm-AbC123"));
    const QString recent = dir.filePath(QStringLiteral(".ntp.conf.ntpsm-XyZ789"));
    const QString unrelated = dir.filePath(QStringLiteral(".ntp.conf.keep-me"));
    for (const QString& name : {stale, recent, unrelated})
        QVERIFY(writeFile(name, "half written"));
    QFile old(stale);
    QVERIFY(old.open(QIODevice::ReadWrite));
    QVERIFY(old.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                            QFileDevice::FileModificationTime));
    old.close();
    QVERIFY(readRecord(path).writeTo(path));
    QVERIFY(!QFile::exists(stale));
    QVERIFY(QFile::exists(recent));    // may belong to a write under way
    QVERIFY(QFile::exists(unrelated)); // not a name the writer makes
    QCOMPARE(readFile(path), QByteArray("\nserver 192.0.2.1\n"));
}

QTEST_GUILESS_MAIN(TestNtpWriter)
#include "tst_ntpwriter.moc"
