#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "pages/fopthwclock_add.h"
#include "tests/common/testhelpers.h"

using TestHelpers::BoxSeen;

class TestFOptHWClockAdd : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void startsWithDefaults();
    void spinBoxRanges();
    void pollOrderChecked_data();
    void pollOrderChecked();
    void anyChangeEnablesOk_data();
    void anyChangeEnablesOk();
};

void TestFOptHWClockAdd::cleanup()
{
    QCOMPARE(TestHelpers::rejectOpenModals(), 0);
}

void TestFOptHWClockAdd::startsWithDefaults()
{
    FOptHWClock_Add dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Hardware clock"));
    QVERIFY(dialog.okButton()->isEnabled());

    QComboBox* driver = dialog.findChild<QComboBox*>(QStringLiteral("cbDriver"));
    QVERIFY(driver);
    QCOMPARE(driver->count(), 40);
    QCOMPARE(driver->currentText(), QStringLiteral("Undisciplined Local Clock (LOCAL)"));
    QCOMPARE(driver->currentData().toInt(), 1);
    QCOMPARE(driver->itemData(driver->count() - 1).toInt(), 44);
    QCOMPARE(driver->itemText(driver->findData(30)),
             QStringLiteral("Motorola UT Oncore GPS GPS_ONCORE)"));

    QCOMPARE(dialog.sbDeviceIndex->value(), 0);
    QCOMPARE(dialog.sbDeviceMode->value(), 0);
    QCOMPARE(dialog.sbMinPoll->value(), 4);
    QCOMPARE(dialog.sbMaxPoll->value(), 10);
    QCOMPARE(dialog.sbStratum->value(), 0);
    QVERIFY(dialog.leTime1->text().isEmpty());
    QVERIFY(dialog.leRefId->text().isEmpty());
    QVERIFY(!dialog.chbPrefer->isChecked());
    QVERIFY(dialog.sbMinPoll->toolTip().startsWith(QStringLiteral("These options specify")));
    QCOMPARE(dialog.sbMaxPoll->toolTip(), dialog.sbMinPoll->toolTip());
    for (int i = 0; i < FOptHWClock_Add::FlagCount; ++i) {
        QCheckBox* flag = dialog.findChild<QCheckBox*>(QStringLiteral("chbFlag%1").arg(i + 1));
        QVERIFY(flag);
        QCOMPARE(flag->text(), QStringLiteral("Flag %1").arg(i + 1));
        QVERIFY(!flag->isChecked());
    }
}

void TestFOptHWClockAdd::spinBoxRanges()
{
    FOptHWClock_Add dialog;
    dialog.sbDeviceIndex->setValue(7);
    QCOMPARE(dialog.sbDeviceIndex->value(), 3);
    for (QSpinBox* box :
         {dialog.sbDeviceMode, dialog.sbMinPoll, dialog.sbMaxPoll, dialog.sbStratum}) {
        box->setValue(150);
        QCOMPARE(box->value(), 99);
        box->setValue(-4);
        QCOMPARE(box->value(), 0);
    }
}

void TestFOptHWClockAdd::pollOrderChecked_data()
{
    QTest::addColumn<int>("minPoll");
    QTest::addColumn<int>("maxPoll");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("inverted") << 10 << 6 << false;
    QTest::newRow("equal") << 6 << 6 << true;
    QTest::newRow("ordered") << 4 << 10 << true;
}

void TestFOptHWClockAdd::pollOrderChecked()
{
    QFETCH(int, minPoll);
    QFETCH(int, maxPoll);
    QFETCH(bool, accepted);
    FOptHWClock_Add dialog;
    dialog.sbMinPoll->setValue(minPoll);
    dialog.sbMaxPoll->setValue(maxPoll);
    dialog.show();

    BoxSeen seen;
    if (!accepted)
        TestHelpers::answerNextBox(QMessageBox::Ok, &seen);
    dialog.okButton()->click();

    QCOMPARE(seen.shown, !accepted);
    QCOMPARE(dialog.isVisible(), !accepted);
    QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
    if (!accepted) {
        QCOMPARE(seen.title, QStringLiteral("Error"));
        QCOMPARE(seen.text, QStringLiteral("Min poll > max poll"));
        QCOMPARE(seen.parent, &dialog);
        QCOMPARE(dialog.sbMinPoll->value(), minPoll);
    }
}

void TestFOptHWClockAdd::anyChangeEnablesOk_data()
{
    QTest::addColumn<QString>("widget");
    for (const char* name :
         {"cbDriver", "chbPrefer", "sbDeviceIndex", "sbDeviceMode", "sbMinPoll", "sbMaxPoll",
          "sbStratum", "leTime1", "leTime2", "leRefId", "chbFlag1", "chbFlag4"})
        QTest::newRow(name) << name;
}

void TestFOptHWClockAdd::anyChangeEnablesOk()
{
    QFETCH(QString, widget);
    FOptHWClock_Add dialog;
    dialog.show();
    dialog.setOkEnabled(false);
    QVERIFY(!dialog.okButton()->isEnabled());

    QWidget* input = dialog.findChild<QWidget*>(widget);
    QVERIFY(input);
    if (auto* box = qobject_cast<QComboBox*>(input))
        box->setCurrentIndex(3);
    else if (auto* check = qobject_cast<QCheckBox*>(input))
        check->click();
    else if (auto* spin = qobject_cast<QSpinBox*>(input))
        spin->stepUp();
    else if (auto* edit = qobject_cast<QLineEdit*>(input))
        QTest::keyClicks(edit, QStringLiteral("1"));
    QVERIFY(dialog.okButton()->isEnabled());
}

QTEST_MAIN(TestFOptHWClockAdd)
#include "tst_fopthwclock_add.moc"
