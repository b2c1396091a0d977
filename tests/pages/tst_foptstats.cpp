#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QToolButton>
#include <QtTest>

#include "pages/foptstats.h"
#include "pages/foptstats_stat.h"
#include "tests/common/testhelpers.h"

using TestHelpers::ConfFile;
using TestHelpers::linesOf;
using TestHelpers::typeText;

namespace
{
QStringList statisticsNames(const QByteArray& text)
{
    const QStringList lines = linesOf(text, QStringLiteral("statistics"));
    return lines.isEmpty() ? QStringList() : lines.first().split(QLatin1Char(' ')).mid(1);
}

FOptStats_Stat* row(FOptStats& page, const QString& name)
{
    return page.findChild<FOptStats_Stat*>(name);
}

QPushButton* viewButton(FOptStats_Stat* stat)
{
    return stat->findChild<QPushButton*>(QStringLiteral("bView"));
}

QLineEdit* statsDirEdit(FOptStats& page)
{
    return page.findChild<QLineEdit*>(QStringLiteral("leStatsDir"));
}

bool rowControlsEnabled(FOptStats_Stat* stat)
{
    return stat->fileEdit()->isEnabled() && stat->typeBox()->isEnabled() &&
           stat->linkBox()->isEnabled() && stat->enableBox()->isEnabled() &&
           viewButton(stat)->isEnabled();
}

bool rowControlsDisabled(FOptStats_Stat* stat)
{
    return !stat->fileEdit()->isEnabled() && !stat->typeBox()->isEnabled() &&
           !stat->linkBox()->isEnabled() && !stat->enableBox()->isEnabled() &&
           !viewButton(stat)->isEnabled();
}

struct ViewerSeen {
    bool shown = false;
    QString title;
    QString text;
};

// Reads the next statistics viewer and closes it.
void readNextViewer(ViewerSeen* seen)
{
    TestHelpers::onNextModal([seen](QWidget* modal) {
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (!dialog)
            return;
        seen->shown = true;
        seen->title = dialog->windowTitle();
        if (auto* browser = dialog->findChild<QTextBrowser*>(QStringLiteral("textBrowser")))
            seen->text = browser->toPlainText();
        dialog->reject();
    });
}

} // namespace

class TestFOptStats : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void loadsUsedRowsWithTheirFilegenValues();
    void filegenWithoutStatisticsNameIsShownUnused();
    void keepsWhatThePageCannotShow();
    void uncheckingUsedDisablesAndDropsTheRow();
    void checkingUsedWritesTheRow();
    void editedRowKeepsItsOtherWords();
    void emptyFileNameSavesTheRowName_data();
    void emptyFileNameSavesTheRowName();
    void tabsFollowTheFixedOrder();
    void statsDirOnSave();
    void statsDirValidatorAndChooser();
    void quotedStatsDirShowsWithoutQuotes();
    void viewerBuildsThePath_data();
    void viewerBuildsThePath();
    void viewerErrors();
    void viewerShowsOnlyTheEndOfALargeFile_data();
    void viewerShowsOnlyTheEndOfALargeFile();
};

void TestFOptStats::cleanup()
{
    FOptStats::setDirectoryChooser({});
    QCOMPARE(TestHelpers::rejectOpenModals(), 0);
}

void TestFOptStats::loadsUsedRowsWithTheirFilegenValues()
{
    ConfFile conf("statistics loopstats peerstats\n"
                  "filegen loopstats file loopstats type day link enable\n"
                  "filegen peerstats file peers type week nolink disable\n");
    FOptStats page;

    FOptStats_Stat* loop = row(page, QStringLiteral("loopstats"));
    QVERIFY(loop);
    QVERIFY(loop->usedBox()->isChecked());
    QCOMPARE(loop->typeBox()->currentData().toString(), QStringLiteral("day"));
    QCOMPARE(loop->fileEdit()->text(), QStringLiteral("loopstats"));
    QVERIFY(loop->linkBox()->isChecked());
    QVERIFY(loop->enableBox()->isChecked());
    QVERIFY(rowControlsEnabled(loop));

    FOptStats_Stat* peer = row(page, QStringLiteral("peerstats"));
    QVERIFY(peer->usedBox()->isChecked());
    QCOMPARE(peer->typeBox()->currentData().toString(), QStringLiteral("week"));
    QCOMPARE(peer->fileEdit()->text(), QStringLiteral("peers"));
    QVERIFY(!peer->linkBox()->isChecked());
    QVERIFY(!peer->enableBox()->isChecked());

    for (const char* name : {"clockstats", "rawstats"}) {
        FOptStats_Stat* unused = row(page, QLatin1String(name));
        QVERIFY(!unused->usedBox()->isChecked());
        QCOMPARE(unused->fileEdit()->text(), QLatin1String(name));
        QVERIFY(rowControlsDisabled(unused));
    }

    // Saved unchanged: the same statistics and filegen lines.
    page.saveSettings();
    const QByteArray saved = conf.read();
    QCOMPARE(statisticsNames(saved), QStringList({"loopstats", "peerstats"}));
    QCOMPARE(linesOf(saved, QStringLiteral("filegen")),
             QStringList({"filegen loopstats file loopstats type day link enable",
                          "filegen peerstats file peers type week nolink disable"}));

    // A reload replaces what the rows show.
    conf.write("filegen loopstats file other type month\n");
    page.loadSettings();
    QVERIFY(!loop->usedBox()->isChecked());
    QCOMPARE(loop->fileEdit()->text(), QStringLiteral("other"));
    QCOMPARE(loop->typeBox()->currentData().toString(), QStringLiteral("month"));
    QVERIFY(!peer->usedBox()->isChecked());
    QCOMPARE(peer->fileEdit()->text(), QStringLiteral("peerstats"));
}

void TestFOptStats::filegenWithoutStatisticsNameIsShownUnused()
{
    ConfFile conf("statistics loopstats\n"
                  "filegen clockstats file clocks type month link enable\n"
                  "filegen rawstats file raw type fortnight\n");
    FOptStats page;

    FOptStats_Stat* clock = row(page, QStringLiteral("clockstats"));
    QVERIFY(!clock->usedBox()->isChecked());
    QCOMPARE(clock->fileEdit()->text(), QStringLiteral("clocks"));
    QCOMPARE(clock->typeBox()->currentData().toString(), QStringLiteral("month"));
    QVERIFY(clock->linkBox()->isChecked());
    QVERIFY(clock->enableBox()->isChecked());
    QVERIFY(rowControlsDisabled(clock));

    // An unknown type leaves the Type box without a current item.
    QCOMPARE(row(page, QStringLiteral("rawstats"))->typeBox()->currentIndex(), -1);

    // A name listed without a filegen line is shown unused.
    FOptStats_Stat* loop = row(page, QStringLiteral("loopstats"));
    QVERIFY(!loop->usedBox()->isChecked());
    QVERIFY(rowControlsDisabled(loop));
}

void TestFOptStats::keepsWhatThePageCannotShow()
{
    ConfFile conf("statistics loopstats cryptostats sysstats protostats\n"
                  "filegen cryptostats file crypto type day enable\n"
                  "filegen clockstats file clocks type month link enable\n"
                  "filegen sysstats file sys type week link\n");
    FOptStats page;
    page.saveSettings();
    const QByteArray saved = conf.read();

    // Names without a tab, and a name the page shows unused, stay listed.
    const QStringList names = statisticsNames(saved);
    for (const char* name : {"loopstats", "cryptostats", "sysstats", "protostats"})
        QVERIFY2(names.contains(QLatin1String(name)), saved.constData());
    QVERIFY(!names.contains(QStringLiteral("clockstats")));

    QCOMPARE(linesOf(saved, QStringLiteral("filegen")),
             QStringList({"filegen cryptostats file crypto type day enable",
                          "filegen clockstats file clocks type month link enable",
                          "filegen sysstats file sys type week link"}));
}

void TestFOptStats::uncheckingUsedDisablesAndDropsTheRow()
{
    ConfFile conf("statistics loopstats peerstats\n"
                  "filegen loopstats file loopstats type day link enable\n"
                  "filegen peerstats file peerstats type day enable\n");
    FOptStats page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    FOptStats_Stat* loop = row(page, QStringLiteral("loopstats"));

    loop->usedBox()->click();
    QVERIFY(!loop->usedBox()->isChecked());
    QVERIFY(rowControlsDisabled(loop));
    QVERIFY(!changed.isEmpty());
    QCOMPARE(changed.first().first().value<ModifiableWidget*>(), &page);

    page.saveSettings();
    const QByteArray saved = conf.read();
    QCOMPARE(statisticsNames(saved), QStringList({"peerstats"}));
    QCOMPARE(linesOf(saved, QStringLiteral("filegen")),
             QStringList({"filegen peerstats file peerstats type day enable"}));
}

void TestFOptStats::checkingUsedWritesTheRow()
{
    ConfFile conf("filegen cryptostats file crypto type day enable\n");
    FOptStats page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    FOptStats_Stat* raw = row(page, QStringLiteral("rawstats"));

    raw->usedBox()->click();
    QVERIFY(rowControlsEnabled(raw));
    raw->typeBox()->setCurrentIndex(raw->typeBox()->findData(QStringLiteral("age")));
    raw->fileEdit()->clear();
    QTest::keyClicks(raw->fileEdit(), QStringLiteral("raw"));
    raw->linkBox()->click();
    QVERIFY(changed.count() >= 4);

    page.saveSettings();
    const QByteArray saved = conf.read();
    QCOMPARE(statisticsNames(saved), QStringList({"rawstats"}));
    QCOMPARE(linesOf(saved, QStringLiteral("filegen")),
             QStringList({"filegen cryptostats file crypto type day enable",
                          "filegen rawstats type age file raw link disable"}));
}

void TestFOptStats::editedRowKeepsItsOtherWords()
{
    ConfFile conf("statistics loopstats\n"
                  "filegen loopstats file loops type day futureopt enable # daily files\n");
    FOptStats page;
    FOptStats_Stat* loop = row(page, QStringLiteral("loopstats"));
    loop->fileEdit()->setText(QStringLiteral("loop"));
    loop->linkBox()->click();

    page.saveSettings();
    QCOMPARE(
        linesOf(conf.read(), QStringLiteral("filegen")),
        QStringList({"filegen loopstats type day file loop link enable futureopt # daily files"}));
}

void TestFOptStats::emptyFileNameSavesTheRowName_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::newRow("empty") << QString() << "peerstats";
    QTest::newRow("blanks only") << "   "
                                 << "peerstats";
    QTest::newRow("surrounding blanks") << " peers "
                                        << "peers";
}

void TestFOptStats::emptyFileNameSavesTheRowName()
{
    QFETCH(QString, typed);
    QFETCH(QString, written);
    ConfFile conf("statistics peerstats\nfilegen peerstats file peerstats type day enable\n");
    FOptStats page;
    FOptStats_Stat* peer = row(page, QStringLiteral("peerstats"));
    peer->fileEdit()->setText(typed);

    page.saveSettings();
    QCOMPARE(
        linesOf(conf.read(), QStringLiteral("filegen")),
        QStringList(
            {QStringLiteral("filegen peerstats type day file %1 nolink enable").arg(written)}));
}

void TestFOptStats::tabsFollowTheFixedOrder()
{
    ConfFile conf("statistics rawstats clockstats peerstats loopstats\n"
                  "filegen rawstats file r type day\n"
                  "filegen clockstats file c type day\n"
                  "filegen peerstats file p type day\n"
                  "filegen loopstats file l type day\n");
    FOptStats page;
    auto* tabs = page.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    QVERIFY(tabs);
    const QStringList order = {"loopstats", "peerstats", "clockstats", "rawstats"};
    QCOMPARE(tabs->count(), order.size());
    for (int i = 0; i < order.size(); ++i) {
        QCOMPARE(tabs->widget(i)->objectName(), order.at(i));
        QCOMPARE(tabs->tabText(i), order.at(i));
        QVERIFY(qobject_cast<FOptStats_Stat*>(tabs->widget(i))->usedBox()->isChecked());
    }

    page.saveSettings();
    QCOMPARE(
        linesOf(conf.read(), QStringLiteral("filegen")),
        QStringList({"filegen loopstats file l type day", "filegen peerstats file p type day",
                     "filegen clockstats file c type day", "filegen rawstats file r type day"}));
}

void TestFOptStats::statsDirOnSave()
{
    QTemporaryDir existing;
    ConfFile conf("statsdir /var/log/ntpstats/\n");
    FOptStats page;
    QLineEdit* dir = statsDirEdit(page);
    QCOMPARE(dir->text(), QStringLiteral("/var/log/ntpstats/"));

    // A directory that exists is written as typed.
    dir->setText(existing.path());
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), QStringLiteral("statsdir")),
             QStringList({QStringLiteral("statsdir ") + existing.path()}));

    // A missing one is replaced by /var/log/ after a warning.
    const QString missing = existing.path() + QStringLiteral("/missing");
    dir->setText(missing);
    TestHelpers::BoxSeen seen;
    TestHelpers::answerNextBox(QMessageBox::Ok, &seen);
    page.saveSettings();
    QVERIFY(seen.shown);
    QCOMPARE(seen.title, QStringLiteral("Error"));
    QCOMPARE(seen.text,
             QStringLiteral("Directory \"%1\" not exists and will be changed to /var/log/")
                 .arg(missing));
    QCOMPARE(seen.icon, QMessageBox::Warning);
    QCOMPARE(seen.parent, &page);
    QCOMPARE(dir->text(), missing);
    QCOMPARE(linesOf(conf.read(), QStringLiteral("statsdir")), QStringList({"statsdir /var/log/"}));

    // An empty field writes no statsdir line and warns about nothing.
    dir->clear();
    QCOMPARE(TestHelpers::rejectModalsDuring([&page] { page.saveSettings(); }), 0);
    QVERIFY(linesOf(conf.read(), QStringLiteral("statsdir")).isEmpty());
}

// The daemon reads a quoted folder as the folder: the page shows and checks
// it without the quotes, and an unchanged Apply keeps the file's spelling.
void TestFOptStats::quotedStatsDirShowsWithoutQuotes()
{
    QTemporaryDir existing;
    const QString quoted = QLatin1Char('"') + existing.path() + QLatin1Char('"');
    ConfFile conf(QStringLiteral("statsdir %1\n").arg(quoted).toUtf8());
    FOptStats page;
    QCOMPARE(statsDirEdit(page)->text(), existing.path());
    QCOMPARE(TestHelpers::rejectModalsDuring([&page] { page.saveSettings(); }), 0);
    QCOMPARE(linesOf(conf.read(), QStringLiteral("statsdir")),
             QStringList({QStringLiteral("statsdir ") + quoted}));
}

void TestFOptStats::statsDirValidatorAndChooser()
{
    ConfFile conf;
    FOptStats page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    QLineEdit* dir = statsDirEdit(page);

    typeText(dir, QStringLiteral("/var/log.d_Кс"));
    QCOMPARE(dir->text(), QStringLiteral("/var/logd_Кс"));
    QVERIFY(!changed.isEmpty());
    dir->clear();

    QWidget* parentSeen = nullptr;
    QString captionSeen;
    QString startSeen;
    QString answer = QStringLiteral("/srv/stats.d");
    FOptStats::setDirectoryChooser(
        [&](QWidget* parent, const QString& caption, const QString& start) {
            parentSeen = parent;
            captionSeen = caption;
            startSeen = start;
            return answer;
        });
    auto* browse = page.findChild<QToolButton*>(QStringLiteral("bBrowse"));
    changed.clear();
    browse->click();
    QCOMPARE(parentSeen, &page);
    QCOMPARE(captionSeen, QStringLiteral("Select directory"));
    QCOMPARE(startSeen, QStringLiteral("/var/log/"));
    QCOMPARE(dir->text(), QStringLiteral("/srv/stats.d"));
    QVERIFY(!changed.isEmpty());

    // The field's text is the next start; a cancelled chooser changes nothing.
    answer.clear();
    changed.clear();
    browse->click();
    QCOMPARE(startSeen, QStringLiteral("/srv/stats.d"));
    QCOMPARE(dir->text(), QStringLiteral("/srv/stats.d"));
    QVERIFY(changed.isEmpty());
}

void TestFOptStats::viewerBuildsThePath_data()
{
    QTest::addColumn<bool>("trailingSlash");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("dir without slash") << false << "loopstats";
    QTest::newRow("dir with slash") << true << "loopstats";
    QTest::newRow("blanks around the name") << true << "  loopstats ";
}

void TestFOptStats::viewerBuildsThePath()
{
    QFETCH(bool, trailingSlash);
    QFETCH(QString, fileName);
    QTemporaryDir stats;
    QVERIFY(TestHelpers::writeFile(stats.filePath(QStringLiteral("loopstats")),
                                   "59000 1.5 0.001\n59001 2.5 0.002\n"));
    ConfFile conf("statistics loopstats\nfilegen loopstats file loopstats type day enable\n");
    FOptStats page;
    statsDirEdit(page)->setText(stats.path() + (trailingSlash ? "/" : ""));
    FOptStats_Stat* loop = row(page, QStringLiteral("loopstats"));
    loop->fileEdit()->setText(fileName);

    ViewerSeen seen;
    readNextViewer(&seen);
    viewButton(loop)->click();
    QVERIFY(seen.shown);
    QCOMPARE(seen.title, QStringLiteral("View statistics file ") + stats.path() + "/loopstats");
    QCOMPARE(seen.text, QStringLiteral("59000 1.5 0.001\n59001 2.5 0.002\n"));
}

void TestFOptStats::viewerErrors()
{
    QTemporaryDir stats;
    ConfFile conf("statistics loopstats\nfilegen loopstats file loopstats type day enable\n");
    FOptStats page;
    statsDirEdit(page)->setText(stats.path());
    FOptStats_Stat* loop = row(page, QStringLiteral("loopstats"));

    TestHelpers::BoxSeen seen;
    TestHelpers::answerNextBox(QMessageBox::Ok, &seen);
    viewButton(loop)->click();
    QVERIFY(seen.shown);
    QCOMPARE(seen.title, QStringLiteral("Error"));
    QCOMPARE(seen.text, QStringLiteral("Unable to open file ") + stats.path() + "/loopstats");
    QCOMPARE(seen.icon, QMessageBox::Critical);

    // A directory is not a statistics file.
    QVERIFY(QDir(stats.path()).mkdir(QStringLiteral("sub")));
    loop->fileEdit()->setText(QStringLiteral("sub"));
    seen = {};
    TestHelpers::answerNextBox(QMessageBox::Ok, &seen);
    viewButton(loop)->click();
    QCOMPARE(seen.text, QStringLiteral("Unable to open file ") + stats.path() + "/sub");

    loop->fileEdit()->setText(QStringLiteral("  "));
    seen = {};
    TestHelpers::answerNextBox(QMessageBox::Ok, &seen);
    viewButton(loop)->click();
    QCOMPARE(seen.text, QStringLiteral("File field is empty"));
    QCOMPARE(seen.icon, QMessageBox::Warning);

    // A row outside a statistics page has no directory to look in.
    FOptStats_Stat lonely;
    lonely.setObjectName(QStringLiteral("loopstats"));
    lonely.reset();
    lonely.usedBox()->click();
    seen = {};
    TestHelpers::answerNextBox(QMessageBox::Ok, &seen);
    viewButton(&lonely)->click();
    QCOMPARE(seen.text, QStringLiteral("Internal error: FOptStats object not found"));
    QCOMPARE(seen.parent, &lonely);
}

void TestFOptStats::viewerShowsOnlyTheEndOfALargeFile_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::newRow("records") << QByteArray("59000 0.000123 12.5 0.002 4 123456\n");
    QTest::newRow("no line breaks") << QByteArray(4096, 'x');
}

void TestFOptStats::viewerShowsOnlyTheEndOfALargeFile()
{
    QFETCH(QByteArray, record);
    // 50 MiB: a sparse hole followed by 5 MiB of data.
    const qint64 total = 50 * 1024 * 1024;
    QByteArray data;
    for (int i = 0; data.size() < 5 * 1024 * 1024; ++i)
        data += QByteArray::number(i % 10) + record;
    QTemporaryDir stats;
    const QString path = stats.filePath(QStringLiteral("peerstats"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(total - data.size()));
        QVERIFY(file.seek(total - data.size()));
        QCOMPARE(file.write(data), qint64(data.size()));
    }
    QCOMPARE(QFileInfo(path).size(), total);

    ConfFile conf("statistics peerstats\nfilegen peerstats file peerstats type day enable\n");
    FOptStats page;
    statsDirEdit(page)->setText(stats.path());

    ViewerSeen seen;
    readNextViewer(&seen);
    QElapsedTimer clock;
    clock.start();
    viewButton(row(page, QStringLiteral("peerstats")))->click();
    const qint64 elapsed = clock.elapsed();
    QVERIFY(seen.shown);
    QVERIFY2(elapsed < 20000, qPrintable(QString::number(elapsed)));

    const QString header = QStringLiteral("[...] only the last 4 MiB of 50 MiB are shown\n");
    QVERIFY(seen.text.startsWith(header));
    const QString shown = seen.text.mid(header.size());
    // At most the last 4 MiB, shown in lines of bounded length.
    QString unbroken = shown;
    if (!data.endsWith('\n'))
        unbroken.remove(QLatin1Char('\n'));
    QVERIFY(unbroken.size() <= FOptStats_Stat::viewLimit);
    QVERIFY(unbroken.size() > FOptStats_Stat::viewLimit - record.size() - 2);
    QVERIFY(data.endsWith(unbroken.toLatin1()));
    int longest = 0;
    for (const QStringRef& line : shown.splitRef(QLatin1Char('\n')))
        longest = qMax(longest, line.size());
    QVERIFY(longest <= qMax(1000, record.size()));
}

QTEST_MAIN(TestFOptStats)
#include "tst_foptstats.moc"
