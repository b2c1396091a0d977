#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <functional>

#include "pages/fopthwclock.h"
#include "pages/fopthwclock_add.h"
#include "tests/common/testhelpers.h"

using TestHelpers::BoxSeen;
using TestHelpers::ConfFile;
using TestHelpers::rowTexts;

// The specified columns; the lines as the file writes them follow.
const int specifiedColumns = 10;

namespace
{
QTreeWidget* table(const FOptHWClock& page)
{
    return page.findChild<QTreeWidget*>(QStringLiteral("twList"));
}

QList<QStringList> allRows(const FOptHWClock& page)
{
    QList<QStringList> rows;
    QTreeWidget* list = table(page);
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << rowTexts(list->topLevelItem(i), specifiedColumns);
    return rows;
}

QTreeWidgetItem* rowOf(const FOptHWClock& page, int driver, const QString& device)
{
    QTreeWidget* list = table(page);
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (item->data(0, Qt::UserRole).toInt() == driver && item->text(1) == device)
            return item;
    }
    return nullptr;
}

// The file's directive lines; blank lines are the writer's business.
QStringList directiveLines(const QByteArray& text)
{
    QStringList lines;
    for (const QString& line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            lines << line;
    }
    return lines;
}

QStringList linesStartingWith(const QByteArray& text, const QString& keyword)
{
    QStringList lines;
    for (const QString& line : directiveLines(text)) {
        if (line.startsWith(keyword + QLatin1Char(' ')))
            lines << line;
    }
    return lines;
}

using DialogFill = std::function<void(FOptHWClock_Add*)>;

// Answers the next clock dialog: `fill` sets its inputs, then OK is clicked.
void acceptNextDialog(const DialogFill& fill, bool* okWasEnabled = nullptr)
{
    TestHelpers::onNextDialog<FOptHWClock_Add>([fill, okWasEnabled](FOptHWClock_Add* dialog) {
        if (okWasEnabled)
            *okWasEnabled = dialog->okButton()->isEnabled();
        fill(dialog);
        dialog->okButton()->click();
    });
}

// While it lives, answers every message box with OK and records it; other
// dialogs are left alone.
class BoxWatcher
{
public:
    BoxWatcher()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            BoxSeen seen;
            seen.shown = true;
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.parent = box->parentWidget();
            boxes << seen;
            box->button(QMessageBox::Ok)->click();
        });
        m_timer.start();
    }

    QList<BoxSeen> boxes;

private:
    QTimer m_timer;
};

void selectDriver(FOptHWClock_Add* dialog, int driver)
{
    dialog->cbDriver->setCurrentIndex(dialog->cbDriver->findData(driver));
}

const QByteArray NmeaExample = "server 127.127.20.0 prefer minpoll 4\n"
                               "fudge 127.127.20.0 stratum 1 time1 0.5\n";
} // namespace

class TestFOptHWClock : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void showsNmeaExample();
    void loadRules();
    void intervals_data();
    void intervals();
    void savesRowsInPageForm();
    void keepsWhatRowsCannotHold();
    void keepsCommentsAndUnknownOptions();
    void fudgeModeOnlyWhereTheFileHadOne();
    void doubledLinesFollowTheirRow();
    void strayFudgeNeverOverridesRow();
    void addRefusesDuplicate();
    void addPreferredClearsOthers();
    void editChecksDuplicatesFirst();
    void editDialogStartsFromRow();
    void cleansTimeTexts();
    void calibrate();
};

void TestFOptHWClock::cleanup()
{
    QCOMPARE(TestHelpers::rejectOpenModals(), 0);
}

void TestFOptHWClock::showsNmeaExample()
{
    ConfFile conf(NmeaExample);
    FOptHWClock page;
    QCOMPARE(page.windowTitle(), QStringLiteral("Hardware clock"));
    QTreeWidget* list = table(page);
    QCOMPARE(list->columnCount(), specifiedColumns + 1); // and the lines as written
    QCOMPARE(list->headerItem()->text(6), QStringLiteral("Time constant 1"));
    QCOMPARE(list->topLevelItemCount(), 1);
    QTreeWidgetItem* item = list->topLevelItem(0);
    QCOMPARE(rowTexts(item, specifiedColumns),
             QStringList({"Generic NMEA GPS Receiver (NMEA)", "0", "0", "yes", "4/10", "1", "0.5",
                          "", "", "flag1=0,flag2=0,flag3=0,flag4=0"}));
    QCOMPARE(item->data(0, Qt::UserRole).toInt(), 20);
    QCOMPARE(item->data(3, Qt::UserRole).toBool(), true);

    // Nothing current yet: the row operations are off.
    QVERIFY(!page.findChild<QPushButton*>(QStringLiteral("bEdit"))->isEnabled());
    QVERIFY(!page.findChild<QPushButton*>(QStringLiteral("bDelete"))->isEnabled());
    list->setCurrentItem(item);
    QVERIFY(page.findChild<QPushButton*>(QStringLiteral("bEdit"))->isEnabled());
    QVERIFY(page.findChild<QPushButton*>(QStringLiteral("bDelete"))->isEnabled());
}

void TestFOptHWClock::loadRules()
{
    ConfFile conf("server 0.pool.example iburst\n"
                  "server 127.127.1.0 prefer\n"
                  "server 127.127.20.0 prefer mode 17\n"
                  "server 127.127.28.0\n"
                  "server 127.127.28.0 minpoll 6\n"
                  "server 127.127.99.0\n"
                  "server 127.127.20\n"
                  "server 127.127.20.1.2\n"
                  "fudge 127.127.28.0 refid SHM0\n"
                  "fudge 127.127.28.0 refid LATE\n");
    FOptHWClock page;
    QTreeWidget* list = table(page);
    QCOMPARE(list->topLevelItemCount(), 4);
    QCOMPARE(rowOf(page, 99, "0")->text(0), QStringLiteral("Driver 99"));

    // Only the first preferred clock in file order is shown preferred, whatever
    // the sort order of the table.
    QCOMPARE(rowOf(page, 1, "0")->text(3), QStringLiteral("yes"));
    QCOMPARE(rowOf(page, 20, "0")->text(3), QStringLiteral("no"));
    QCOMPARE(rowOf(page, 20, "0")->data(3, Qt::UserRole).toBool(), false);
    QCOMPARE(rowOf(page, 20, "0")->text(2), QStringLiteral("17"));

    // The first of two server lines and the first fudge line count.
    QTreeWidgetItem* shm = rowOf(page, 28, "0");
    QCOMPARE(shm->text(4), QStringLiteral("0/10"));
    QCOMPARE(shm->text(8), QStringLiteral("SHM0"));
    QCOMPARE(shm->text(5), QStringLiteral("-1"));

    // A clock without a fudge line leaves the fudge columns empty.
    QTreeWidgetItem* local = rowOf(page, 1, "0");
    for (int column = 5; column < 10; ++column)
        QVERIFY(local->text(column).isEmpty());

    // Reloading replaces the rows.
    conf.write("server 127.127.22.0\n");
    page.loadSettings();
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("PPS Clock Discipline (PPS)"));
}

void TestFOptHWClock::intervals_data()
{
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<QString>("shown");
    QTest::newRow("inverted") << QByteArray("maxpoll 3 minpoll 6") << "6/6";
    QTest::newRow("none") << QByteArray() << "0/10";
    QTest::newRow("min only") << QByteArray("minpoll 12") << "12/12";
    QTest::newRow("both") << QByteArray("minpoll 5 maxpoll 8") << "5/8";
}

void TestFOptHWClock::intervals()
{
    QFETCH(QByteArray, options);
    QFETCH(QString, shown);
    ConfFile conf("server 127.127.1.0 " + options + "\n");
    FOptHWClock page;
    QCOMPARE(table(page)->topLevelItemCount(), 1);
    QCOMPARE(table(page)->topLevelItem(0)->text(4), shown);
}

void TestFOptHWClock::savesRowsInPageForm()
{
    ConfFile conf("server a.example iburst\n"
                  "server 127.127.1.0\n"
                  "server b.example\n" +
                  NmeaExample);
    FOptHWClock page;
    page.saveSettings();
    const QStringList expected = {
        "server a.example iburst",
        "server b.example",
        "server 127.127.20.0 minpoll 4 maxpoll 10 mode 0 prefer",
        "server 127.127.1.0 minpoll 0 maxpoll 10 mode 0",
        "fudge 127.127.20.0 stratum 1 time1 0.5 flag1 0 flag2 0 flag3 0 flag4 0",
        "fudge 127.127.1.0 stratum 0 flag1 0 flag2 0 flag3 0 flag4 0",
    };
    QCOMPARE(directiveLines(conf.read()), expected);

    // Written in the page's form, the file reads back to the same rows (the
    // clock without a fudge line has got one) and saves to the same text.
    QList<QStringList> rows = allRows(page);
    rows[1][5] = "0";
    rows[1][9] = "flag1=0,flag2=0,flag3=0,flag4=0";
    page.loadSettings();
    QCOMPARE(allRows(page), rows);
    page.saveSettings();
    QCOMPARE(directiveLines(conf.read()), expected);
}

void TestFOptHWClock::keepsWhatRowsCannotHold()
{
    ConfFile conf("server 127.127.99.0 minpoll 4\n"
                  "server 127.127.20 prefer\n"
                  "server 127.127.20.0 key 7 ttl 2 version 4 iburst burst prefer minpoll 4\n"
                  "server 127.127.28.0 noselect\n"
                  "server 127.127.28.0 minpoll 6\n"
                  "fudge 127.127.99.0 stratum 2\n"
                  "fudge 127.127.22.0 refid PPS\n"
                  "fudge 127.127.20.0 stratum 1 time1 0.5\n"
                  "fudge 127.127.20.0 stratum 9\n");
    FOptHWClock page;
    QCOMPARE(table(page)->topLevelItemCount(), 3);
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    page.findChild<QCheckBox*>(QStringLiteral("chbCalibrate"))->click();
    QCOMPARE(changed.count(), 1);
    page.saveSettings();

    const QByteArray text = conf.read();
    QCOMPARE(linesStartingWith(text, "enable"), QStringList{"enable calibrate"});
    // A clock of a driver the catalogue does not know is a row now, kept as
    // it was; a later fudge line gains no flags its line did not name.
    QCOMPARE(linesStartingWith(text, "server"),
             QStringList({"server 127.127.20 prefer", "server 127.127.99.0 minpoll 4",
                          "server 127.127.20.0 key 7 minpoll 4 maxpoll 10 version 4 ttl 2 mode 0 "
                          "burst iburst prefer",
                          "server 127.127.28.0 minpoll 0 maxpoll 10 mode 0 noselect",
                          "server 127.127.28.0 minpoll 6"}));
    QCOMPARE(linesStartingWith(text, "fudge"),
             QStringList({"fudge 127.127.22.0 refid PPS", "fudge 127.127.99.0 stratum 2",
                          "fudge 127.127.20.0 stratum 1 time1 0.5 flag1 0 flag2 0 flag3 0 "
                          "flag4 0",
                          "fudge 127.127.20.0 stratum 9",
                          "fudge 127.127.28.0 stratum 0 flag1 0 flag2 0 flag3 0 flag4 0"}));
}

void TestFOptHWClock::keepsCommentsAndUnknownOptions()
{
    ConfFile conf("server 127.127.20.0 minpoll 4 xleave # gps on ttyS0\n"
                  "fudge 127.127.20.0 time2 0.4 unknownword # tuned\n");
    FOptHWClock page;
    table(page)->setCurrentItem(table(page)->topLevelItem(0));
    acceptNextDialog([](FOptHWClock_Add* dialog) { dialog->sbDeviceIndex->setValue(1); });
    page.Edit_clicked();
    page.saveSettings();
    const QByteArray text = conf.read();
    QCOMPARE(linesStartingWith(text, "server"),
             QStringList{"server 127.127.20.1 minpoll 4 maxpoll 10 mode 0 xleave # gps on ttyS0"});
    QCOMPARE(linesStartingWith(text, "fudge"),
             QStringList{"fudge 127.127.20.1 stratum 0 time2 0.4 flag1 0 flag2 0 flag3 0 "
                         "flag4 0 unknownword # tuned"});
}

void TestFOptHWClock::fudgeModeOnlyWhereTheFileHadOne()
{
    ConfFile conf("server 127.127.20.0 mode 17\nfudge 127.127.20.0 mode 17 stratum 1\n"
                  "server 127.127.22.0 mode 3\nfudge 127.127.22.0 refid PPS\n");
    FOptHWClock page;
    page.saveSettings();
    const QByteArray text = conf.read();
    QCOMPARE(linesStartingWith(text, "server"),
             (QStringList{"server 127.127.20.0 minpoll 0 maxpoll 10 mode 17",
                          "server 127.127.22.0 minpoll 0 maxpoll 10 mode 3"}));
    QCOMPARE(linesStartingWith(text, "fudge"),
             (QStringList{"fudge 127.127.20.0 stratum 1 mode 17 flag1 0 flag2 0 flag3 0 flag4 0",
                          "fudge 127.127.22.0 refid PPS flag1 0 flag2 0 flag3 0 flag4 0"}));
}

void TestFOptHWClock::doubledLinesFollowTheirRow()
{
    const QByteArray original = "server 127.127.28.0 minpoll 4\n"
                                "server 127.127.28.0 minpoll 6\n"
                                "server 127.127.1.0\n"
                                "fudge 127.127.28.0 refid SHM\n"
                                "fudge 127.127.28.0 refid OLD\n";
    ConfFile conf(original);
    {
        // Unchanged: the second lines stay behind the row's own ones and
        // are still not the ones shown.
        FOptHWClock page;
        QCOMPARE(table(page)->topLevelItemCount(), 2);
        page.saveSettings();
        QCOMPARE(linesStartingWith(conf.read(), "server").size(), 3);
        QCOMPARE(linesStartingWith(conf.read(), "fudge").size(), 3);
        page.loadSettings();
        QCOMPARE(rowOf(page, 28, "0")->text(4), QStringLiteral("4/10"));
        QCOMPARE(rowOf(page, 28, "0")->text(8), QStringLiteral("SHM"));
    }
    {
        // Edited: the stale lines go with the old state of the row.
        conf.write(original);
        FOptHWClock page;
        table(page)->setCurrentItem(rowOf(page, 28, "0"));
        acceptNextDialog([](FOptHWClock_Add* dialog) { dialog->sbMaxPoll->setValue(8); });
        page.Edit_clicked();
        page.saveSettings();
        QCOMPARE(linesStartingWith(conf.read(), "server"),
                 QStringList({"server 127.127.28.0 minpoll 4 maxpoll 8 mode 0",
                              "server 127.127.1.0 minpoll 0 maxpoll 10 mode 0"}));
        QCOMPARE(linesStartingWith(conf.read(), "fudge").first(),
                 QStringLiteral("fudge 127.127.28.0 stratum 0 refid SHM flag1 0 flag2 0 "
                                "flag3 0 flag4 0"));
        QCOMPARE(linesStartingWith(conf.read(), "fudge").size(), 2);
    }
    {
        // Deleted: every line of the clock goes.
        conf.write(original);
        FOptHWClock page;
        table(page)->setCurrentItem(rowOf(page, 28, "0"));
        TestHelpers::answerNextBox(QMessageBox::Ok);
        page.Delete_clicked();
        page.saveSettings();
        QCOMPARE(linesStartingWith(conf.read(), "server"),
                 QStringList{"server 127.127.1.0 minpoll 0 maxpoll 10 mode 0"});
        QCOMPARE(linesStartingWith(conf.read(), "fudge"),
                 QStringList{"fudge 127.127.1.0 stratum 0 flag1 0 flag2 0 flag3 0 flag4 0"});
    }
}

void TestFOptHWClock::strayFudgeNeverOverridesRow()
{
    ConfFile conf("fudge 127.127.22.0 stratum 7 refid OLD\n");
    FOptHWClock page;
    QCOMPARE(table(page)->topLevelItemCount(), 0);
    acceptNextDialog([](FOptHWClock_Add* dialog) {
        selectDriver(dialog, 22);
        dialog->sbStratum->setValue(1);
        dialog->leRefId->setText("PPS");
    });
    page.Add_clicked();
    page.saveSettings();
    page.loadSettings();
    QCOMPARE(table(page)->topLevelItemCount(), 1);
    QCOMPARE(table(page)->topLevelItem(0)->text(5), QStringLiteral("1"));
    QCOMPARE(table(page)->topLevelItem(0)->text(8), QStringLiteral("PPS"));
    // The older line is still in the file, behind the row's own one.
    QCOMPARE(linesStartingWith(conf.read(), "fudge").last(),
             QStringLiteral("fudge 127.127.22.0 stratum 7 refid OLD"));
}

void TestFOptHWClock::addRefusesDuplicate()
{
    ConfFile conf(NmeaExample);
    FOptHWClock page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);

    bool okEnabled = false;
    {
        BoxWatcher watcher;
        acceptNextDialog([](FOptHWClock_Add* dialog) { selectDriver(dialog, 20); }, &okEnabled);
        page.Add_clicked();
        QVERIFY(okEnabled);
        QCOMPARE(watcher.boxes.size(), 1);
        const BoxSeen& box = watcher.boxes.first();
        QCOMPARE(box.title, QStringLiteral("Error"));
        QCOMPARE(box.text, QStringLiteral("Driver and device combination already exists"));
        QCOMPARE(box.parent, &page);
    }
    QCOMPARE(table(page)->topLevelItemCount(), 1);
    QCOMPARE(changed.count(), 0);

    acceptNextDialog([](FOptHWClock_Add* dialog) {
        selectDriver(dialog, 20);
        dialog->sbDeviceIndex->setValue(1);
        dialog->sbDeviceMode->setValue(2);
        dialog->sbMinPoll->setValue(6);
        dialog->sbMaxPoll->setValue(6);
        dialog->chbFlags[1]->setChecked(true);
        dialog->chbFlags[3]->setChecked(true);
    });
    page.Add_clicked();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(table(page)->topLevelItemCount(), 2);
    QTreeWidgetItem* added = rowOf(page, 20, "1");
    QVERIFY(added);
    QCOMPARE(table(page)->currentItem(), added);
    QCOMPARE(rowTexts(added, specifiedColumns),
             QStringList({"Generic NMEA GPS Receiver (NMEA)", "1", "2", "no", "6/6", "0", "", "",
                          "", "flag1=0,flag2=1,flag3=0,flag4=1"}));

    // Cancel adds nothing.
    TestHelpers::onNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    page.Add_clicked();
    QCOMPARE(table(page)->topLevelItemCount(), 2);
    QCOMPARE(changed.count(), 1);
}

void TestFOptHWClock::addPreferredClearsOthers()
{
    ConfFile conf(NmeaExample + "server 127.127.1.0\n");
    FOptHWClock page;
    acceptNextDialog([](FOptHWClock_Add* dialog) {
        selectDriver(dialog, 28);
        dialog->chbPrefer->setChecked(true);
    });
    page.Add_clicked();
    QCOMPARE(table(page)->topLevelItemCount(), 3);
    QCOMPARE(rowOf(page, 28, "0")->text(3), QStringLiteral("yes"));
    QCOMPARE(rowOf(page, 20, "0")->text(3), QStringLiteral("no"));
    QCOMPARE(rowOf(page, 20, "0")->data(3, Qt::UserRole).toBool(), false);
    QCOMPARE(rowOf(page, 1, "0")->text(3), QStringLiteral("no"));

    page.saveSettings();
    QStringList preferred;
    for (const QString& line : linesStartingWith(conf.read(), "server")) {
        if (line.endsWith(" prefer"))
            preferred << line.section(' ', 1, 1);
    }
    QCOMPARE(preferred, QStringList{"127.127.28.0"});
}

void TestFOptHWClock::editChecksDuplicatesFirst()
{
    ConfFile conf(NmeaExample + "server 127.127.28.0 minpoll 5\nserver 127.127.1.0\n");
    FOptHWClock page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    const QList<QStringList> before = allRows(page);

    // The edited row never collides with itself.
    table(page)->setCurrentItem(rowOf(page, 28, "0"));
    BoxWatcher watcher;
    acceptNextDialog([](FOptHWClock_Add* dialog) { dialog->sbDeviceMode->setValue(3); });
    page.Edit_clicked();
    QVERIFY(watcher.boxes.isEmpty());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(rowOf(page, 28, "0")->text(2), QStringLiteral("3"));
    QCOMPARE(table(page)->currentItem(), rowOf(page, 28, "0"));

    // A preferred clock moved onto an existing driver and device is refused
    // before any other row loses its "Prefer".
    const QList<QStringList> edited = allRows(page);
    QCOMPARE(edited.size(), before.size());
    acceptNextDialog([](FOptHWClock_Add* dialog) {
        selectDriver(dialog, 20);
        dialog->chbPrefer->setChecked(true);
    });
    page.Edit_clicked();
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes.first().text,
             QStringLiteral("Driver and device combination already exists"));
    QCOMPARE(allRows(page), edited);
    QCOMPARE(rowOf(page, 20, "0")->text(3), QStringLiteral("yes"));
    QCOMPARE(changed.count(), 1);

    // Moved to a free device and preferred: accepted, the former preferred
    // clock is cleared.
    watcher.boxes.clear();
    acceptNextDialog([](FOptHWClock_Add* dialog) {
        selectDriver(dialog, 20);
        dialog->sbDeviceIndex->setValue(2);
        dialog->chbPrefer->setChecked(true);
    });
    page.Edit_clicked();
    QVERIFY(watcher.boxes.isEmpty());
    QVERIFY(!rowOf(page, 28, "0"));
    QCOMPARE(rowOf(page, 20, "2")->text(3), QStringLiteral("yes"));
    QCOMPARE(rowOf(page, 20, "0")->text(3), QStringLiteral("no"));
    QCOMPARE(changed.count(), 2);
}

void TestFOptHWClock::editDialogStartsFromRow()
{
    ConfFile conf("server 127.127.28.5 mode 120 minpoll 5 maxpoll 7 prefer\n"
                  "fudge 127.127.28.5 stratum 3 time1 0.1 time2 0.2 refid SHM flag2 1 flag4 1\n");
    FOptHWClock page;
    QTreeWidget* list = table(page);
    list->setCurrentItem(list->topLevelItem(0));
    const QStringList before = rowTexts(list->topLevelItem(0), specifiedColumns);

    QStringList seen;
    bool okEnabledAtStart = true;
    bool okEnabledAfterChange = false;
    TestHelpers::onNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<FOptHWClock_Add*>(modal);
        QVERIFY(dialog);
        okEnabledAtStart = dialog->okButton()->isEnabled();
        seen << dialog->cbDriver->currentData().toString()
             << QString::number(dialog->sbDeviceIndex->value())
             << QString::number(dialog->sbDeviceMode->value())
             << QString::number(dialog->sbMinPoll->value())
             << QString::number(dialog->sbMaxPoll->value())
             << QString::number(dialog->sbStratum->value()) << dialog->leTime1->text()
             << dialog->leTime2->text() << dialog->leRefId->text()
             << QString::number(dialog->chbPrefer->isChecked());
        for (QCheckBox* flag : dialog->chbFlags)
            seen << QString::number(flag->isChecked());
        dialog->leRefId->setText("SHM1");
        okEnabledAfterChange = dialog->okButton()->isEnabled();
        dialog->okButton()->click();
    });
    page.Edit_clicked();
    QVERIFY(!okEnabledAtStart);
    QVERIFY(okEnabledAfterChange);
    // Values beyond the dialog's usual range are shown as they are.
    QCOMPARE(seen, QStringList({"28", "5", "120", "5", "7", "3", "0.1", "0.2", "SHM", "1", "0", "1",
                                "0", "1"}));
    QStringList expected = before;
    expected[8] = "SHM1";
    QCOMPARE(rowTexts(list->topLevelItem(0), specifiedColumns), expected);
    // The line column follows the edit.
    QVERIFY(list->topLevelItem(0)->text(specifiedColumns).contains("refid SHM1 "));
}

void TestFOptHWClock::cleansTimeTexts()
{
    ConfFile conf;
    FOptHWClock page;
    acceptNextDialog([](FOptHWClock_Add* dialog) {
        dialog->leTime1->setText(" 0.0 12 ");
        dialog->leTime2->setText("\t1.5\t");
        dialog->leRefId->setText("GP S\nrestrict default");
    });
    page.Add_clicked();
    QTreeWidgetItem* item = table(page)->topLevelItem(0);
    QCOMPARE(item->text(6), QStringLiteral("0.0_12"));
    QCOMPARE(item->text(7), QStringLiteral("1.5"));
    QCOMPARE(item->text(8), QStringLiteral("GP_S_restrict_default"));
    page.saveSettings();
    QCOMPARE(linesStartingWith(conf.read(), "fudge"),
             QStringList{"fudge 127.127.1.0 stratum 0 refid GP_S_restrict_default time1 "
                         "0.0_12 time2 1.5 flag1 0 flag2 0 flag3 0 flag4 0"});
    QVERIFY(linesStartingWith(conf.read(), "restrict").isEmpty());
}

void TestFOptHWClock::calibrate()
{
    ConfFile conf("enable auth calibrate\nenable calibrate\nserver 127.127.1.0\n");
    FOptHWClock page;
    auto* box = page.findChild<QCheckBox*>(QStringLiteral("chbCalibrate"));
    QVERIFY(box->isChecked());
    page.saveSettings();
    QCOMPARE(linesStartingWith(conf.read(), "enable"),
             QStringList({"enable auth", "enable calibrate"}));

    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    box->click();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().first().value<ModifiableWidget*>(), &page);
    page.saveSettings();
    QCOMPARE(linesStartingWith(conf.read(), "enable"), QStringList{"enable auth"});

    page.loadSettings();
    QVERIFY(!box->isChecked());
    box->click();
    page.saveSettings();
    QCOMPARE(linesStartingWith(conf.read(), "enable"),
             QStringList({"enable auth", "enable calibrate"}));
}

QTEST_MAIN(TestFOptHWClock)
#include "tst_fopthwclock.moc"
