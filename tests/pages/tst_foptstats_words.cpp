// Filegen lines through the pages: applying a page the user did not touch
// the statistics row on keeps the line as the file had it; a row edited on
// the statistics page is written with link/nolink and enable/disable.

#include <QCheckBox>
#include <QComboBox>
#include <QtTest>

#include "pages/foptstats.h"
#include "pages/foptstats_stat.h"
#include "pages/foptsync.h"
#include "tests/common/testhelpers.h"

using TestHelpers::ConfFile;
using TestHelpers::linesOf;

namespace
{
const QByteArray loopFile = "statistics loopstats\n"
                            "filegen loopstats file loopstats type day enable\n";
}

class TestFOptStatsWords : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void pagesAppliedUntouchedKeepTheFile_data();
    void pagesAppliedUntouchedKeepTheFile();
    void editedRowNamesBothWords_data();
    void editedRowNamesBothWords();
};

void TestFOptStatsWords::cleanup()
{
    QCOMPARE(TestHelpers::rejectOpenModals(), 0);
}

void TestFOptStatsWords::pagesAppliedUntouchedKeepTheFile_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("time servers") << "sync" << loopFile;
    QTest::newRow("statistics") << "stats" << loopFile;
    QTest::newRow("statistics, nolink disable")
        << "stats"
        << QByteArray("statistics loopstats\n"
                      "filegen loopstats file loopstats type day nolink disable\n");
    // Two lines of one file: the daemon applies both, so both stay.
    QTest::newRow("statistics, two lines of one file")
        << "stats"
        << QByteArray("statistics peerstats\n"
                      "filegen peerstats file peers link\n"
                      "filegen peerstats type week\n");
}

void TestFOptStatsWords::pagesAppliedUntouchedKeepTheFile()
{
    QFETCH(QString, page);
    QFETCH(QByteArray, text);
    ConfFile conf(text);
    if (page == "sync") {
        FOptSync sync;
        sync.saveSettings();
    } else {
        FOptStats stats;
        stats.saveSettings();
    }
    QCOMPARE(conf.read(), text);
}

void TestFOptStatsWords::editedRowNamesBothWords_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("linkClicks");
    QTest::addColumn<QString>("written");
    QTest::newRow("link checked") << QByteArray("filegen loopstats file loopstats type day enable")
                                  << 1 << "filegen loopstats type day file loopstats link enable";
    QTest::newRow("link unchecked")
        << QByteArray("filegen loopstats file loopstats type day link") << 1
        << "filegen loopstats type day file loopstats nolink disable";
    // Changed and changed back: the row is as loaded, so is the line.
    QTest::newRow("link checked and unchecked")
        << QByteArray("filegen loopstats file loopstats type day enable") << 2
        << "filegen loopstats file loopstats type day enable";
}

void TestFOptStatsWords::editedRowNamesBothWords()
{
    QFETCH(QByteArray, line);
    QFETCH(int, linkClicks);
    QFETCH(QString, written);
    ConfFile conf("statistics loopstats\n" + line + "\n");
    FOptStats page;
    auto* loop = page.findChild<FOptStats_Stat*>(QStringLiteral("loopstats"));
    QVERIFY(loop && loop->usedBox()->isChecked());
    for (int i = 0; i < linkClicks; ++i)
        loop->linkBox()->click();

    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), QStringLiteral("filegen")), QStringList(written));
    page.loadSettings();
    QCOMPARE(loop->linkBox()->isChecked(), written.contains(QLatin1String(" link")));
}

QTEST_MAIN(TestFOptStatsWords)
#include "tst_foptstats_words.moc"
