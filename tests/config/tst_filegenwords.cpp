// Filegen lines and their link/nolink and enable/disable words: a line is
// written with the words it named, so that a save never switches off the
// daemon's own settings (link on, files enabled by the statistics line).

#include <QtTest>

#include "config/config.h"
#include "config/ntpsettings.h"
#include "tests/common/testfiles.h"

using TestHelpers::ConfFile;
using TestHelpers::linesOf;

namespace
{

NtpSettings recordOf(const ConfFile& conf)
{
    NtpSettings record;
    record.readFrom(Config(conf.path()));
    return record;
}

} // namespace

class TestFileGenWords : public QObject
{
    Q_OBJECT

private slots:
    void unchangedLinesKeepTheirBytes_data();
    void unchangedLinesKeepTheirBytes();
    void editedLinesNameWhatTheyNamed_data();
    void editedLinesNameWhatTheyNamed();
    void theLastWordCounts();
};

void TestFileGenWords::unchangedLinesKeepTheirBytes_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("enable only") << QByteArray("filegen loopstats file loopstats type day enable");
    QTest::newRow("nolink disable")
        << QByteArray("filegen loopstats file loopstats type day nolink disable");
    QTest::newRow("no word") << QByteArray("filegen peerstats file peerstats type week");
    QTest::newRow("odd spacing and case")
        << QByteArray("filegen  clockstats\tfile clocks  LINK # kept");
}

// Another page's save (a server added) leaves the filegen line as it was.
void TestFileGenWords::unchangedLinesKeepTheirBytes()
{
    QFETCH(QByteArray, line);
    ConfFile conf("statistics loopstats\n" + line + "\n");
    NtpSettings record = recordOf(conf);
    ServerEntry server;
    server.address = QStringLiteral("192.0.2.7");
    record.servers << server;
    QVERIFY(record.writeTo(conf.path()));

    const QByteArray written = conf.read();
    QCOMPARE(linesOf(written, QStringLiteral("filegen")), QStringList(QString::fromUtf8(line)));
    QCOMPARE(linesOf(written, QStringLiteral("server")), QStringList("server 192.0.2.7"));
}

void TestFileGenWords::editedLinesNameWhatTheyNamed_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("written");
    QTest::newRow("type changed, enable only")
        << QByteArray("filegen loopstats file loopstats type day enable") << "type week"
        << "filegen loopstats type week file loopstats enable";
    QTest::newRow("type changed, nolink disable")
        << QByteArray("filegen loopstats type day nolink disable") << "type week"
        << "filegen loopstats type week nolink disable";
    // A word the line did not name is written once it is set.
    QTest::newRow("link set") << QByteArray("filegen loopstats type day") << "link"
                              << "filegen loopstats type day link";
    QTest::newRow("new entry") << QByteArray() << "new"
                               << "filegen rawstats file raw nolink disable";
}

void TestFileGenWords::editedLinesNameWhatTheyNamed()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, edit);
    QFETCH(QString, written);
    ConfFile conf(line + "\n");
    NtpSettings record = recordOf(conf);
    if (edit == "type week") {
        record.fileGens[0].type = QStringLiteral("week");
    } else if (edit == "link") {
        record.fileGens[0].link = true;
    } else {
        FileGenEntry fresh;
        fresh.name = QStringLiteral("rawstats");
        fresh.file = QStringLiteral("raw");
        record.fileGens = {fresh};
    }
    QVERIFY(record.writeTo(conf.path()));
    QCOMPARE(linesOf(conf.read(), QStringLiteral("filegen")), QStringList(written));

    // Read again, the entry is the one written, and saved again it stays.
    const NtpSettings again = recordOf(conf);
    QCOMPARE(again.fileGens, record.fileGens);
    QVERIFY(again.writeTo(conf.path()));
    QCOMPARE(linesOf(conf.read(), QStringLiteral("filegen")), QStringList(written));
}

// As the daemon reads the options in order, a later word overrides an
// earlier one.
void TestFileGenWords::theLastWordCounts()
{
    ConfFile conf("filegen loopstats link nolink disable enable\n"
                  "filegen peerstats nolink link enable disable\n");
    const NtpSettings record = recordOf(conf);
    QCOMPARE(record.fileGens.size(), 2);
    QVERIFY(!record.fileGens.at(0).link);
    QVERIFY(record.fileGens.at(0).enabled);
    QVERIFY(record.fileGens.at(1).link);
    QVERIFY(!record.fileGens.at(1).enabled);
    for (const FileGenEntry& entry : record.fileGens)
        QVERIFY(entry.namesLink && entry.namesEnable && entry.extraOptions.isEmpty());
}

QTEST_GUILESS_MAIN(TestFileGenWords)
#include "tst_filegenwords.moc"
