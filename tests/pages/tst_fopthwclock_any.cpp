// The Hardware clock page with clocks of any kind: NTPsec refclock lines,
// drivers the catalogue does not know, and the clock lines of real files,
// which an unchanged apply of this or another page keeps byte for byte.

#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

#include "daemon/daemonsetup.h"
#include "pages/fopthwclock.h"
#include "pages/fopthwclock_add.h"
#include "pages/foptsync.h"
#include "pages/foptsync_add.h"
#include "tests/common/testhelpers.h"

using TestHelpers::ConfFile;
using TestHelpers::linesOf;

namespace
{

QTreeWidget* table(const QWidget& page)
{
    return page.findChild<QTreeWidget*>(QStringLiteral("twList"));
}

QStringList rowTexts(const QTreeWidgetItem* item)
{
    QStringList texts;
    // The specified columns; the lines as the file writes them follow.
    for (int column = 0; column < 10; ++column)
        texts << item->text(column);
    return texts;
}

QTreeWidgetItem* rowNamed(const FOptHWClock& page, const QString& driver, const QString& unit)
{
    QTreeWidget* list = table(page);
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (item->text(0) == driver && item->text(1) == unit)
            return item;
    }
    return nullptr;
}

// Edits the current row in the clock dialog: `fill` changes its inputs and
// records what it found, then OK is clicked.
void editCurrentRow(FOptHWClock& page, const std::function<void(FOptHWClock_Add*)>& fill)
{
    TestHelpers::onNextModal([fill](QWidget* modal) {
        auto* dialog = qobject_cast<FOptHWClock_Add*>(modal);
        QVERIFY(dialog);
        fill(dialog);
        dialog->okButton()->click();
    });
    page.Edit_clicked();
}

// The lines of reference clocks in a configuration text.
QStringList clockLines(const QByteArray& text)
{
    QStringList lines = linesOf(text, "fudge") + linesOf(text, "refclock");
    for (const QString& line : linesOf(text, "server")) {
        if (line.section(QRegularExpression("\\s+"), 1, 1).startsWith("127.127."))
            lines << line;
    }
    lines.sort();
    return lines;
}

// Sets the installed daemon for one test and restores the classic one.
class DaemonScope
{
public:
    explicit DaemonScope(DaemonFlavour flavour)
    {
        DaemonSetup setup;
        setup.flavour = flavour;
        setCurrentDaemon(setup);
    }
    ~DaemonScope() { setCurrentDaemon(DaemonSetup()); }
};

QString corpusDir()
{
    return qEnvironmentVariable("NTPSM_SOURCE_DIR") + "/../shared/corpus/ntpconf";
}

const QByteArray gpsdShm = "# gpsd through shared memory\n"
                           "refclock shm unit 0 refid GPS\n"
                           "refclock  shm unit 1 prefer  refid PPS # PPS edge\n"
                           "refclock gpsd unit 0 minpoll 4 maxpoll 4 flag1 1\n";

} // namespace

class TestFOptHWClockAny : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void showsRefclockLines();
    void editedRefclockRowKeepsItsSyntax();
    void newClockInTheDaemonsSyntax();
    void unknownDriverIsARow();
    void syncApplyKeepsEveryFudgeLine();
    void corpusClocksSurviveUnchangedApplies();
};

void TestFOptHWClockAny::cleanup()
{
    QCOMPARE(TestHelpers::rejectOpenModals(), 0);
}

void TestFOptHWClockAny::showsRefclockLines()
{
    ConfFile conf(gpsdShm);
    FOptHWClock page;
    QCOMPARE(table(page)->topLevelItemCount(), 3);
    QCOMPARE(rowTexts(rowNamed(page, "Shared Memory Driver (SHM)", "1")),
             QStringList({"Shared Memory Driver (SHM)", "1", "0", "yes", "0/10", "-1", "", "",
                          "PPS", "flag1=0,flag2=0,flag3=0,flag4=0"}));
    // gpsd is driver 46, which the catalogue does not know.
    QTreeWidgetItem* gpsd = rowNamed(page, "Driver 46 (GPSD JSON)", "0");
    QVERIFY(gpsd);
    QCOMPARE(gpsd->data(0, Qt::UserRole).toInt(), 46);
    QCOMPARE(gpsd->text(4), QStringLiteral("4/4"));
    QCOMPARE(gpsd->text(9), QStringLiteral("flag1=1,flag2=0,flag3=0,flag4=0"));

    // An unchanged apply (with Calibrate toggled) keeps every line's bytes.
    page.findChild<QCheckBox*>(QStringLiteral("chbCalibrate"))->click();
    page.saveSettings();
    QCOMPARE(clockLines(conf.read()), clockLines(gpsdShm));
    QVERIFY(conf.read().contains("refclock  shm unit 1 prefer  refid PPS # PPS edge\n"));
}

void TestFOptHWClockAny::editedRefclockRowKeepsItsSyntax()
{
    ConfFile conf(gpsdShm);
    FOptHWClock page;
    table(page)->setCurrentItem(rowNamed(page, "Shared Memory Driver (SHM)", "0"));
    editCurrentRow(page, [](FOptHWClock_Add* dialog) {
        dialog->sbStratum->setValue(2);
        dialog->sbDeviceMode->setValue(1);
    });
    page.saveSettings();
    const QStringList refclocks = linesOf(conf.read(), "refclock");
    QVERIFY2(refclocks.contains("refclock shm unit 0 mode 1 stratum 2 refid GPS"),
             qPrintable(refclocks.join('\n')));
    QCOMPARE(refclocks.size(), 3);
    QVERIFY(linesOf(conf.read(), "server").isEmpty());
}

void TestFOptHWClockAny::newClockInTheDaemonsSyntax()
{
    for (DaemonFlavour flavour : {DaemonFlavour::Ntpsec, DaemonFlavour::Classic}) {
        DaemonScope daemon(flavour);
        ConfFile conf("server 192.0.2.1 iburst\n");
        FOptHWClock page;
        TestHelpers::onNextModal([](QWidget* modal) {
            auto* dialog = qobject_cast<FOptHWClock_Add*>(modal);
            QVERIFY(dialog);
            dialog->cbDriver->setCurrentIndex(dialog->cbDriver->findData(28));
            dialog->sbDeviceIndex->setValue(1);
            dialog->leRefId->setText("PPS");
            dialog->okButton()->click();
        });
        page.Add_clicked();
        page.saveSettings();
        const QByteArray text = conf.read();
        if (flavour == DaemonFlavour::Ntpsec) {
            QCOMPARE(linesOf(text, "refclock"),
                     QStringList{"refclock shm unit 1 minpoll 4 maxpoll 10 refid PPS"});
            QCOMPARE(linesOf(text, "server"), QStringList{"server 192.0.2.1 iburst"});
        } else {
            QVERIFY(linesOf(text, "refclock").isEmpty());
            QCOMPARE(linesOf(text, "server").last(),
                     QStringLiteral("server 127.127.28.1 minpoll 4 maxpoll 10 mode 0"));
            QCOMPARE(linesOf(text, "fudge"),
                     QStringList{"fudge 127.127.28.1 stratum 0 refid PPS flag1 0 flag2 0 flag3 0 "
                                 "flag4 0"});
        }
    }
}

void TestFOptHWClockAny::unknownDriverIsARow()
{
    // The gpsd driver of later classic releases, the main time source.
    const QByteArray original = "server 127.127.46.0 prefer  minpoll 3\n"
                                "fudge 127.127.46.0 time1 0.120 refid GPSD\n"
                                "server 127.127.1.0\n"
                                "fudge 127.127.1.0 stratum 10\n";
    ConfFile conf(original);
    FOptHWClock page;
    QTreeWidgetItem* gpsd = rowNamed(page, "Driver 46 (GPSD JSON)", "0");
    QVERIFY(gpsd);
    QCOMPARE(gpsd->text(3), QStringLiteral("yes"));
    QCOMPARE(gpsd->text(6), QStringLiteral("0.120"));
    page.saveSettings();
    QVERIFY(linesOf(conf.read(), "server").contains("server 127.127.46.0 prefer  minpoll 3"));
    QVERIFY(linesOf(conf.read(), "fudge").contains("fudge 127.127.46.0 time1 0.120 refid GPSD"));

    // Edited, it stays driver 46 and is written in full.
    conf.write(original);
    page.loadSettings();
    table(page)->setCurrentItem(rowNamed(page, "Driver 46 (GPSD JSON)", "0"));
    QString driverShown;
    editCurrentRow(page, [&driverShown](FOptHWClock_Add* dialog) {
        driverShown = dialog->cbDriver->currentText();
        dialog->sbDeviceMode->setValue(2);
    });
    QCOMPARE(driverShown, QStringLiteral("Driver 46 (GPSD JSON)"));
    QCOMPARE(rowNamed(page, "Driver 46 (GPSD JSON)", "0")->data(0, Qt::UserRole).toInt(), 46);
    page.saveSettings();
    QVERIFY(linesOf(conf.read(), "server")
                .contains("server 127.127.46.0 minpoll 3 maxpoll 10 mode 2 prefer"));

    // Deleted, its lines go.
    page.loadSettings();
    table(page)->setCurrentItem(rowNamed(page, "Driver 46 (GPSD JSON)", "0"));
    TestHelpers::answerNextBox(QMessageBox::Ok);
    page.Delete_clicked();
    page.saveSettings();
    QVERIFY(!conf.read().contains("127.127.46.0"));
    QVERIFY(conf.read().contains("server 127.127.1.0"));
}

void TestFOptHWClockAny::syncApplyKeepsEveryFudgeLine()
{
    const QByteArray clocks = "server 127.127.20.0 prefer\n"
                              "fudge 127.127.20.0 flag1 1 refid GPS\n"
                              "fudge 127.127.20.0 time1 0.420\n";
    ConfFile conf("server 192.0.2.1 iburst\n" + clocks);
    FOptSync page;
    TestHelpers::onNextModal([](QWidget* modal) {
        auto* dialog = qobject_cast<FOptSync_Add*>(modal);
        QVERIFY(dialog);
        dialog->addressBox->setEditText(QStringLiteral("192.0.2.2"));
        dialog->buttonBox->button(QDialogButtonBox::Ok)->click();
    });
    page.findChild<QPushButton*>(QStringLiteral("bAdd"))->click();
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), "fudge"), linesOf(clocks, "fudge"));
    QVERIFY(conf.read().contains("server 192.0.2.2"));
}

void TestFOptHWClockAny::corpusClocksSurviveUnchangedApplies()
{
    const QDir corpus(corpusDir());
    const QStringList names = corpus.entryList({"*.conf"}, QDir::Files);
    if (names.isEmpty())
        QSKIP("the corpus of real configuration files is not beside the sources");
    int withClocks = 0;
    for (const QString& name : names) {
        const QByteArray original = TestHelpers::readFile(corpus.filePath(name));
        const QStringList before = clockLines(original);
        if (before.isEmpty())
            continue;
        ++withClocks;
        ConfFile conf(original);
        {
            FOptSync sync;
            sync.saveSettings();
        }
        QVERIFY2(clockLines(conf.read()) == before, qPrintable(name));
        FOptHWClock page;
        if (table(page)->topLevelItemCount() == 0) {
            // A clock line the record cannot hold (a number outside an int)
            // is no row and is carried as it stands.
            page.saveSettings();
            QVERIFY2(clockLines(conf.read()) == before, qPrintable(name));
            continue;
        }
        page.saveSettings();
        // Refclock lines are kept byte for byte; a classic clock is written
        // in full, and a second apply changes nothing more.
        const QByteArray written = conf.read();
        QVERIFY2(linesOf(written, "refclock") == linesOf(original, "refclock"), qPrintable(name));
        page.loadSettings();
        page.saveSettings();
        QVERIFY2(conf.read() == written, qPrintable(name));
    }
    QVERIFY(withClocks >= 5);
}

QTEST_MAIN(TestFOptHWClockAny)
#include "tst_fopthwclock_any.moc"
