// The keyword store: splitting lines, reading files, the multimap orders and
// the slots, and files that are missing, odd or large.

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include "config/config.h"
#include "config/filefingerprint.h"
#include "config/ntpsettings.h"
#include "tests/common/testfiles.h"

using TestHelpers::readFile;

namespace
{

QString writeFile(const QTemporaryDir& dir, const QByteArray& content,
                  const QString& name = QStringLiteral("ntp.conf"))
{
    const QString path = dir.filePath(name);
    if (!TestHelpers::writeFile(path, content))
        qFatal("cannot write the test file %s", qPrintable(path));
    return path;
}

// The values of `map` under `key`, in iteration order.
QList<QStringList> valuesOf(const QMap<QString, QStringList>& map, const QString& key)
{
    QList<QStringList> list;
    for (auto it = map.constFind(key); it != map.cend() && it.key() == key; ++it)
        list.append(it.value());
    return list;
}

} // namespace

class TestConfigStore : public QObject
{
    Q_OBJECT

private slots:
    void parsesLines_data();
    void parsesLines();
    void asciiLinesSplitLikeDecodedOnes();
    void splitsLinesAndKeepsRawBytes();
    void valuesKeepInsertionOrder();
    void slotsChangeTheStore();
    void saveWritesStoreOrder();
    void unreadablePathsGiveAnEmptyStore_data();
    void unreadablePathsGiveAnEmptyStore();
    void oddBytesAreKept();
    void largeFilesAreReadQuickly();
    void fingerprintDescribesTheBytesRead();
    void oneWordReadsBackAsOneWord_data();
    void oneWordReadsBackAsOneWord();
};

void TestConfigStore::parsesLines_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("comment");

    QTest::newRow("blank") << QByteArray(" \t ") << QString() << QStringList() << QString();
    QTest::newRow("comment line") << QByteArray("  # a  comment\t") << "#"
                                  << QStringList{"# a  comment"} << QString();
    QTest::newRow("one word") << QByteArray("broadcastclient") << "broadcastclient" << QStringList()
                              << QString();
    QTest::newRow("equals and tabs")
        << QByteArray("driftfile\t= /var/lib/ntp/ntp.drift") << "driftfile"
        << QStringList{"/var/lib/ntp/ntp.drift"} << QString();
    QTest::newRow("equals glued") << QByteArray("driftfile=/x") << "driftfile" << QStringList{"/x"}
                                  << QString();
    QTest::newRow("leading equals") << QByteArray("logconfig =syncall +clockevents") << "logconfig"
                                    << QStringList{"syncall", "+clockevents"} << QString();
    QTest::newRow("trailing comment") << QByteArray("server 192.0.2.3   #  comment\tiburst")
                                      << "server" << QStringList{"192.0.2.3"} << "# comment iburst";
    QTest::newRow("hash inside a token")
        << QByteArray("server a#b") << "server" << QStringList{"a#b"} << QString();
    QTest::newRow("only separators and a comment")
        << QByteArray(" = #x") << QString() << QStringList() << "#x";
    QTest::newRow("case kept") << QByteArray("SERVER Host") << "SERVER" << QStringList{"Host"}
                               << QString();
}

void TestConfigStore::parsesLines()
{
    QFETCH(QByteArray, raw);
    const ConfigLine line = parseConfigLine(raw);
    QCOMPARE(line.raw, raw);
    QTEST(line.key, "key");
    QTEST(line.values, "values");
    QTEST(line.trailingComment, "comment");
}

void TestConfigStore::asciiLinesSplitLikeDecodedOnes()
{
    // ASCII lines are split without decoding them first; a line with one
    // byte above 127 goes through the codec. Both must split alike.
    const QByteArray samples[] = {"server\v192.0.2.1\fiburst",
                                  " \tfudge 127.127.1.0\x0bstratum=10 ",
                                  "a==b = c",
                                  "restrict\r default\r",
                                  "=",
                                  "key # comment \v here",
                                  "#\tonly"};
    for (const QByteArray& ascii : samples) {
        const ConfigLine plain = parseConfigLine(ascii);
        const ConfigLine decoded = parseConfigLine("\xc3\xa9 " + ascii);
        QVERIFY2(decoded.validText, ascii.constData());
        QCOMPARE(decoded.key, QStringLiteral("\u00e9"));
        if (plain.key == QLatin1String("#")) { // a comment after a token
            QCOMPARE(decoded.trailingComment, plain.values.first().simplified());
            continue;
        }
        const QStringList tokens =
            plain.key.isEmpty() ? QStringList() : QStringList{plain.key} + plain.values;
        QCOMPARE(decoded.values, tokens);
        QCOMPARE(decoded.trailingComment, plain.trailingComment);
    }
}

void TestConfigStore::splitsLinesAndKeepsRawBytes()
{
    QTemporaryDir dir;
    const QString path =
        writeFile(dir, "server a\r\n\r\n  # note \r\nrestrict default\rkod\nlast line");
    bool ok = false;
    const QVector<ConfigLine> lines = readConfigLines(path, &ok);
    QVERIFY(ok);
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.at(0).raw, QByteArray("server a"));
    QCOMPARE(lines.at(1).raw, QByteArray());
    QCOMPARE(lines.at(2).raw, QByteArray("  # note "));
    // A CR that does not end a line is part of it.
    QCOMPARE(lines.at(3).raw, QByteArray("restrict default\rkod"));
    QCOMPARE(lines.at(4).raw, QByteArray("last line"));
    QCOMPARE(lines.at(4).key, QStringLiteral("last"));

    const Config config(path);
    QCOMPARE(config.entries().size(), 4); // the blank line is no entry
    QCOMPARE(config.values("#").first(), QStringList{"# note"});
}

void TestConfigStore::valuesKeepInsertionOrder()
{
    QTemporaryDir dir;
    const QString path =
        writeFile(dir, "server A\nrestrict default\nserver B x\n# c\nserver C\ndriftfile /d\n");
    const Config config(path);
    QCOMPARE(config.path(), path);
    QCOMPARE(valuesOf(config.values("server"), "server"),
             (QList<QStringList>{{"A"}, {"B", "x"}, {"C"}}));
    QVERIFY(config.values("Server").isEmpty());

    const QMap<QString, QStringList> all = config.values(QString());
    QCOMPARE(all.size(), 6);
    QCOMPARE(valuesOf(all, "server"), (QList<QStringList>{{"A"}, {"B", "x"}, {"C"}}));
    QCOMPARE(valuesOf(all, "#"), QList<QStringList>{{"# c"}});
}

void TestConfigStore::slotsChangeTheStore()
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "server A\nserver B\ndriftfile /d\n");
    Config config(path);
    QVERIFY(QMetaObject::invokeMethod(&config, "setValues", Q_ARG(QString, "server"),
                                      Q_ARG(QStringList, QStringList{"N"})));
    QCOMPARE(valuesOf(config.values("server"), "server"),
             (QList<QStringList>{{"A"}, {"B"}, {"N"}}));

    QVERIFY(QMetaObject::invokeMethod(&config, "clear", Q_ARG(QString, "server")));
    QVERIFY(config.values("server").isEmpty());
    QCOMPARE(config.values("driftfile").size(), 1);
    config.clear();
    QVERIFY(config.values(QString()).isEmpty());

    // load() with an empty path forgets the path but keeps the entries, so
    // save() has nowhere to write.
    config.load(path);
    QCOMPARE(config.values(QString()).size(), 3);
    config.load(QString());
    QCOMPARE(config.path(), QString());
    QCOMPARE(config.values(QString()).size(), 3);
    config.setValues("server", {"Z"});
    config.save();
    QCOMPARE(readFile(path), QByteArray("server A\nserver B\ndriftfile /d\n"));

    // load() of another file replaces everything.
    config.load(writeFile(dir, "logfile /l\n", "other.conf"));
    QCOMPARE(config.values(QString()).keys(), QStringList{"logfile"});
}

void TestConfigStore::saveWritesStoreOrder()
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "server A iburst\n# first\nbroadcastclient\nserver B\n"
                                        "# second\n");
    Config config(path);
    config.save();
    // Keys ascending; within a key the most recent entry first; a comment
    // writes only its text; a one-word line keeps its tab.
    QCOMPARE(readFile(path), QByteArray("# second\n# first\nbroadcastclient\t\nserver\tB\n"
                                        "server\tA\tiburst\n"));
}

void TestConfigStore::unreadablePathsGiveAnEmptyStore_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing file") << "missing";
    QTest::newRow("directory") << "directory";
    QTest::newRow("no permission") << "mode000";
    QTest::newRow("path through a file") << "notdir";
}

void TestConfigStore::unreadablePathsGiveAnEmptyStore()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QString path = dir.filePath("ntp.conf");
    if (kind == "directory") {
        QVERIFY(QDir(dir.path()).mkdir("ntp.conf"));
    } else if (kind == "mode000") {
        writeFile(dir, "server A\n");
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        if (::access(QFile::encodeName(path).constData(), R_OK) == 0)
            QSKIP("running as root: a file without permissions is readable anyway");
    } else if (kind == "notdir") {
        writeFile(dir, "server A\n");
        path += "/ntp.conf";
    }

    Config config(path);
    QCOMPARE(config.path(), QString());
    QVERIFY(config.values(QString()).isEmpty());
    QVERIFY(!config.fingerprint().exists);
    QVERIFY(!FileFingerprint::ofFile(path).exists);
    bool ok = true;
    QVERIFY(readConfigLines(path, &ok).isEmpty());
    QVERIFY(!ok);

    NtpSettings record;
    record.servers.append(ServerEntry());
    record.readFrom(config);
    QVERIFY(record == NtpSettings());
}

void TestConfigStore::oddBytesAreKept()
{
    QTemporaryDir dir;
    const QByteArray nul("server a\0b iburst", 17);
    const QByteArray latin1("# caf\xe9 \xff\xfe");
    const QString path = writeFile(dir, nul + "\n" + latin1 + "\nserver \xc3\xa9t\xc3\xa9\n");
    const QVector<ConfigLine> lines = readConfigLines(path);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0).raw, nul);
    QCOMPARE(lines.at(0).values.first(), QString::fromLatin1("a\0b", 3));
    QCOMPARE(lines.at(1).raw, latin1);
    QVERIFY(!lines.at(1).validText);
    QVERIFY(lines.at(2).validText);
    QCOMPARE(lines.at(2).values.first(), QString::fromUtf8("\xc3\xa9t\xc3\xa9"));
}

void TestConfigStore::largeFilesAreReadQuickly()
{
    QTemporaryDir dir;
    QByteArray big;
    for (int i = 0; i < 100000; ++i)
        big += "server 10." + QByteArray::number(i / 65536) + '.' +
               QByteArray::number(i / 256 % 256) + '.' + QByteArray::number(i % 256) + " iburst\n";
    const QByteArray longLine = "# " + QByteArray(1 << 20, 'x');
    const QString path = writeFile(dir, longLine + "\n" + big);

    QElapsedTimer timer;
    timer.start();
    const Config config(path);
    NtpSettings record;
    record.readFrom(config);
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(config.entries().size(), 100001);
    QCOMPARE(config.entries().first().raw, longLine);
    QCOMPARE(record.servers.size(), 100000);
    QCOMPARE(record.servers.last().address, QStringLiteral("10.1.134.159"));
    QVERIFY(record.servers.last().iburst);
}

void TestConfigStore::fingerprintDescribesTheBytesRead()
{
    QTemporaryDir dir;
    const QByteArray content("server A\n");
    const QString path = writeFile(dir, content);
    const FileFingerprint fingerprint = FileFingerprint::ofFile(path);
    QVERIFY(fingerprint.exists);
    QCOMPARE(fingerprint.size, qint64(content.size()));
    QCOMPARE(fingerprint.digest, QCryptographicHash::hash(content, QCryptographicHash::Sha256));
    QCOMPARE(fingerprint.modified, QFileInfo(path).lastModified());

    const Config config(path);
    QVERIFY(config.fingerprint() == fingerprint);
    NtpSettings record;
    record.readFrom(config);
    QVERIFY(record.source == fingerprint);

    writeFile(dir, "server B\n");
    QVERIFY(FileFingerprint::ofFile(path) != fingerprint);
}

void TestConfigStore::oneWordReadsBackAsOneWord_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("oneWord");
    QTest::newRow("host name") << "ntp.example.org" << true;
    QTest::newRow("IPv6 with scope") << "fe80::1%eth0" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blank inside") << "a b" << false;
    QTest::newRow("tab") << "a\tb" << false;
    QTest::newRow("equals sign") << "a=b" << false;
    QTest::newRow("no-break space") << QString::fromUtf8("a\xc2\xa0"
                                                         "b")
                                    << false;
    QTest::newRow("line break") << "a\nb" << false;
    QTest::newRow("comment start") << "#a" << false;
    QTest::newRow("hash inside") << "a#b" << false;
    QTest::newRow("control character") << "a\x01"
                                          "b"
                                       << false;
}

// The rule the dialogs ask agrees with the tokenizer: a text that is one word
// is read back from a line as that word, alone.
void TestConfigStore::oneWordReadsBackAsOneWord()
{
    QFETCH(QString, text);
    QFETCH(bool, oneWord);
    QCOMPARE(isOneWord(text), oneWord);
    const ConfigLine line = parseConfigLine(QByteArray("server ") + text.toUtf8() + " iburst");
    if (oneWord)
        QCOMPARE(line.values, (QStringList{text, QStringLiteral("iburst")}));
    for (const QChar c : text)
        QCOMPARE(canBeInWord(c), c != QLatin1Char('#') && !c.isSpace() && c != QLatin1Char('='));
}

QTEST_GUILESS_MAIN(TestConfigStore)
#include "tst_configstore.moc"
