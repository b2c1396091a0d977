#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <functional>

#include "pages/foptaccess.h"
#include "pages/foptaccess_add.h"
#include "tests/common/testhelpers.h"
#include "wispuinet/wisphostaddress.h"

using namespace TestHelpers;

// The columns of the specified list; the address family follows them.
const int specifiedColumns = 3;

namespace
{

QTreeWidget* list(FOptAccess& page)
{
    return page.findChild<QTreeWidget*>("twList");
}

QPushButton* button(FOptAccess& page, const char* name)
{
    return page.findChild<QPushButton*>(name);
}

QStringList restrictLines(const QByteArray& text)
{
    QStringList result;
    for (const QString& line : QString::fromUtf8(text).split('\n')) {
        if (line.startsWith(QLatin1String("restrict")))
            result << line;
    }
    return result;
}

QPushButton* okButton(FOptAccess_Add* dialog)
{
    return dialog->buttonBox->button(QDialogButtonBox::Ok);
}

} // namespace

class TestFOptAccess : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void loadShowsRows_data();
    void loadShowsRows();
    void saveKeepsUneditedRows_data();
    void saveKeepsUneditedRows();
    void reloadReplacesRows();
    void editDropsWhatTheRowCannotHold();
    void editOpensDeniedWithKod();
    void addWritesFlagsInKeyOrder();
    void addDefaultReusesDefaultRow();
    void addDefaultWithoutDefaultRow();
    void editIntoDefaultRemovesDefaultRow();
    void unspecifiedAddress();
    void dialogRefusesEmptyFields();
    void returnInAddressClicksOkOnce();
    void deleteAsksFirst();
};

void TestFOptAccess::cleanup()
{
    QCOMPARE(TestHelpers::rejectOpenModals(), 0);
}

void TestFOptAccess::loadShowsRows_data()
{
    QTest::addColumn<QByteArray>("conf");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("network without mask") << QByteArray("restrict 10.0.0.1 nomodify\n")
                                          << QStringList{"10.0.0.1|255.255.255.255|nomodify"};
    QTest::newRow("every default line a row")
        << QByteArray("restrict default nomodify\nrestrict 127.0.0.1\nrestrict default ignore\n")
        << QStringList{"Default||nomodify", "127.0.0.1|255.255.255.255|", "Default||ignore"};
    QTest::newRow("kod without ignore")
        << QByteArray("restrict 192.168.1.0 mask 255.255.255.0 kod nomodify notrap\n")
        << QStringList{"192.168.1.0|255.255.255.0|nomodify,notrap"};
    QTest::newRow("ignore with kod")
        << QByteArray("restrict default notrap ignore kod\n") << QStringList{"Default||ignore,kod"};
    QTest::newRow("ignore hides the other flags")
        << QByteArray("restrict 10.0.0.0 mask 255.0.0.0 nopeer bogus ignore\n")
        << QStringList{"10.0.0.0|255.0.0.0|ignore"};
    QTest::newRow("unknown word, key order")
        << QByteArray("restrict 10.1.0.0 mask 255.255.0.0 notrap frobnicate\n")
        << QStringList{"10.1.0.0|255.255.0.0|frobnicate,notrap"};
    QTest::newRow("other lines ignored")
        << QByteArray("server 192.0.2.1\ndiscard average 3\n") << QStringList{};
}

void TestFOptAccess::loadShowsRows()
{
    QFETCH(QByteArray, conf);
    QFETCH(QStringList, expected);
    ConfFile file(conf);
    FOptAccess page;
    QCOMPARE(page.windowTitle(), QStringLiteral("Access"));
    QCOMPARE(sorted(listRows(list(page), specifiedColumns)), sorted(expected));
    QCOMPARE(button(page, "bEdit")->isEnabled(), false);
    QCOMPARE(button(page, "bDelete")->isEnabled(), false);
}

void TestFOptAccess::saveKeepsUneditedRows_data()
{
    QTest::addColumn<QByteArray>("conf");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("mask written out")
        << QByteArray("restrict 10.0.0.1 nomodify\n")
        << QStringList{"restrict 10.0.0.1 mask 255.255.255.255 nomodify"};
    QTest::newRow("second default kept at its place")
        << QByteArray("restrict default nomodify\nrestrict 127.0.0.1 notrap\n"
                      "restrict default ignore\n")
        << QStringList{"restrict default nomodify",
                       "restrict 127.0.0.1 mask 255.255.255.255 notrap", "restrict default ignore"};
    QTest::newRow("kod without ignore") << QByteArray("restrict default kod nomodify notrap\n")
                                        << QStringList{"restrict default kod nomodify notrap"};
    QTest::newRow("flags hidden by ignore") << QByteArray("restrict default nopeer ignore\n")
                                            << QStringList{"restrict default ignore nopeer"};
    QTest::newRow("unknown word") << QByteArray("restrict 10.1.0.0 mask 255.255.0.0 frobnicate\n")
                                  << QStringList{"restrict 10.1.0.0 mask 255.255.0.0 frobnicate"};
    QTest::newRow("no flags: trailing blank") << QByteArray("restrict 10.0.0.0 mask 255.0.0.0\n")
                                              << QStringList{"restrict 10.0.0.0 mask 255.0.0.0 "};
    QTest::newRow("comment") << QByteArray("restrict 10.0.0.0 mask 255.0.0.0 notrap # lab\n")
                             << QStringList{"restrict 10.0.0.0 mask 255.0.0.0 notrap # lab"};
}

void TestFOptAccess::saveKeepsUneditedRows()
{
    QFETCH(QByteArray, conf);
    QFETCH(QStringList, expected);
    ConfFile file(conf);
    FOptAccess page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    page.saveSettings();
    QCOMPARE(restrictLines(file.read()), expected);
    QCOMPARE(changed.count(), 0);
    // The written file shows the same rows again.
    const QStringList before = listRows(list(page), specifiedColumns);
    page.loadSettings();
    QCOMPARE(sorted(listRows(list(page), specifiedColumns)), sorted(before));
}

void TestFOptAccess::reloadReplacesRows()
{
    ConfFile file("restrict default nomodify\n");
    FOptAccess page;
    file.write("restrict 10.0.0.0 mask 255.0.0.0 notrap\nrestrict 10.1.0.0 mask 255.255.0.0\n");
    page.loadSettings();
    QCOMPARE(sorted(listRows(list(page), specifiedColumns)),
             sorted({"10.0.0.0|255.0.0.0|notrap", "10.1.0.0|255.255.0.0|"}));
}

void TestFOptAccess::editDropsWhatTheRowCannotHold()
{
    ConfFile file("restrict 10.1.0.0 mask 255.255.0.0 kod frobnicate nomodify # lab\n"
                  "restrict default kod notrap\n");
    FOptAccess page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    selectRow(list(page), "10.1.0.0");
    const bool seen = withDialog<FOptAccess_Add>(
        [&] { button(page, "bEdit")->click(); },
        [](FOptAccess_Add* dialog) {
            QVERIFY(!dialog->chbDefault->isChecked());
            QCOMPARE(dialog->address->address().toString(), QStringLiteral("10.1.0.0"));
            QCOMPARE(dialog->mask->address().toString(), QStringLiteral("255.255.0.0"));
            QCOMPARE(dialog->modeGroup->checkedId(), int(FOptAccess_Add::Other));
            QVERIFY(dialog->lwFlags->isEnabled());
            QVERIFY(!dialog->chbKod->isEnabled());
            QVERIFY(dialog->flagBox("nomodify")->isChecked());
            QVERIFY(!dialog->flagBox("notrap")->isChecked());
            dialog->flagBox("notrap")->click();
            okButton(dialog)->click();
        });
    QVERIFY(seen);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(sorted(listRows(list(page), specifiedColumns)),
             sorted({"10.1.0.0|255.255.0.0|nomodify,notrap", "Default||notrap"}));
    page.saveSettings();
    QCOMPARE(sorted(restrictLines(file.read())),
             sorted({"restrict 10.1.0.0 mask 255.255.0.0 nomodify notrap",
                     "restrict default kod notrap"}));
}

void TestFOptAccess::editOpensDeniedWithKod()
{
    ConfFile file("restrict default ignore kod\n");
    FOptAccess page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    selectRow(list(page), "Default");
    bool stayedOpen = false;
    const bool seen = withDialog<FOptAccess_Add>(
        [&] { button(page, "bEdit")->click(); },
        [&](FOptAccess_Add* dialog) {
            QVERIFY(dialog->chbDefault->isChecked());
            QCOMPARE(dialog->modeGroup->checkedId(), int(FOptAccess_Add::Denied));
            QVERIFY(dialog->chbKod->isChecked());
            QVERIFY(dialog->chbKod->isEnabled());
            QVERIFY(!dialog->lwFlags->isEnabled());
            QVERIFY(!okButton(dialog)->isEnabled());
            // Return does nothing while OK waits for a change.
            QTest::keyClick(dialog->address->lineEdit(), Qt::Key_Return);
            stayedOpen = dialog->isVisible();
            dialog->chbKod->click();
            QVERIFY(okButton(dialog)->isEnabled());
            QTest::keyClick(dialog->address->lineEdit(), Qt::Key_Return);
        });
    QVERIFY(seen);
    QVERIFY(stayedOpen);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(listRows(list(page), specifiedColumns), QStringList{"Default||ignore"});
    page.saveSettings();
    QCOMPARE(restrictLines(file.read()), QStringList{"restrict default ignore"});
}

void TestFOptAccess::addWritesFlagsInKeyOrder()
{
    ConfFile file("");
    FOptAccess page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    const bool seen = withDialog<FOptAccess_Add>(
        [&] { button(page, "bAdd")->click(); },
        [](FOptAccess_Add* dialog) {
            QCOMPARE(dialog->mask->address().toString(), QStringLiteral("255.255.255.0"));
            QVERIFY(!dialog->chbKod->isEnabled());
            QVERIFY(!dialog->lwFlags->isEnabled());
            QVERIFY(!okButton(dialog)->isEnabled());
            retypeText(dialog->address->lineEdit(), "10.2.0.0");
            retypeText(dialog->mask->lineEdit(), "255.255.0.0");
            dialog->modeGroup->button(FOptAccess_Add::Other)->click();
            QVERIFY(dialog->lwFlags->isEnabled());
            for (const char* word : {"notrap", "nomodify", "limited"})
                dialog->flagBox(word)->click();
            okButton(dialog)->click();
        });
    QVERIFY(seen);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(listRows(list(page), specifiedColumns),
             QStringList{"10.2.0.0|255.255.0.0|nomodify,notrap,limited"});
    QCOMPARE(list(page)->currentItem(), list(page)->topLevelItem(0));
    QVERIFY(button(page, "bEdit")->isEnabled());
    page.saveSettings();
    QCOMPARE(restrictLines(file.read()),
             QStringList{"restrict 10.2.0.0 mask 255.255.0.0 limited nomodify notrap"});
}

void TestFOptAccess::addDefaultReusesDefaultRow()
{
    ConfFile file("restrict default kod nomodify # site\nrestrict 10.0.0.0 mask 255.0.0.0 notrap\n"
                  "restrict default notrap\n");
    FOptAccess page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    const bool seen =
        withDialog<FOptAccess_Add>([&] { button(page, "bAdd")->click(); },
                                   [](FOptAccess_Add* dialog) {
                                       dialog->chbDefault->click();
                                       dialog->modeGroup->button(FOptAccess_Add::Denied)->click();
                                       okButton(dialog)->click();
                                   });
    QVERIFY(seen);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(sorted(listRows(list(page), specifiedColumns)),
             sorted({"Default||ignore", "10.0.0.0|255.0.0.0|notrap", "Default||notrap"}));
    QCOMPARE(list(page)->currentItem()->text(0), QStringLiteral("Default"));
    page.saveSettings();
    // The reused row is the user's now: kod and the comment went with the
    // old row; the further default line is a row of its own and stays.
    QCOMPARE(sorted(restrictLines(file.read())),
             sorted({"restrict default ignore", "restrict 10.0.0.0 mask 255.0.0.0 notrap",
                     "restrict default notrap"}));
}

void TestFOptAccess::addDefaultWithoutDefaultRow()
{
    ConfFile file("restrict 10.0.0.0 mask 255.0.0.0 notrap\n");
    FOptAccess page;
    const bool seen = withDialog<FOptAccess_Add>([&] { button(page, "bAdd")->click(); },
                                                 [](FOptAccess_Add* dialog) {
                                                     retypeText(dialog->address->lineEdit(), "");
                                                     dialog->chbDefault->click();
                                                     okButton(dialog)->click();
                                                 });
    QVERIFY(seen);
    QCOMPARE(sorted(listRows(list(page), specifiedColumns)),
             sorted({"Default||", "10.0.0.0|255.0.0.0|notrap"}));
    page.saveSettings();
    QCOMPARE(sorted(restrictLines(file.read())),
             sorted({"restrict default ", "restrict 10.0.0.0 mask 255.0.0.0 notrap"}));
}

void TestFOptAccess::editIntoDefaultRemovesDefaultRow()
{
    ConfFile file("restrict default nomodify\nrestrict 10.0.0.0 mask 255.0.0.0 notrap\n"
                  "restrict default noquery\n");
    FOptAccess page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    selectRow(list(page), "10.0.0.0");
    const bool seen = withDialog<FOptAccess_Add>([&] { button(page, "bEdit")->click(); },
                                                 [](FOptAccess_Add* dialog) {
                                                     dialog->chbDefault->click();
                                                     okButton(dialog)->click();
                                                 });
    QVERIFY(seen);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(listRows(list(page), specifiedColumns),
             (QStringList{"Default||notrap", "Default||noquery"}));
    page.saveSettings();
    QCOMPARE(restrictLines(file.read()),
             (QStringList{"restrict default notrap", "restrict default noquery"}));
}

void TestFOptAccess::unspecifiedAddress()
{
    ConfFile file("restrict 10.0.0.0 mask 255.0.0.0 notrap\n");
    FOptAccess page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    const QStringList before = listRows(list(page), specifiedColumns);

    TestHelpers::BoxSeen box;
    bool seen = withDialog<FOptAccess_Add>([&] { button(page, "bAdd")->click(); },
                                           [&](FOptAccess_Add* dialog) {
                                               retypeText(dialog->address->lineEdit(), "0.0.0.0");
                                               TestHelpers::answerNextBox(QMessageBox::Ok, &box);
                                               okButton(dialog)->click();
                                           });
    QVERIFY(seen);
    QVERIFY(box.shown);
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.text, QStringLiteral("Incorrect address"));
    QCOMPARE(box.parent, &page);
    QCOMPARE(listRows(list(page), specifiedColumns), before);
    QCOMPARE(changed.count(), 1);

    box = TestHelpers::BoxSeen();
    selectRow(list(page), "10.0.0.0");
    seen = withDialog<FOptAccess_Add>([&] { button(page, "bEdit")->click(); },
                                      [&](FOptAccess_Add* dialog) {
                                          retypeText(dialog->address->lineEdit(), "0.0.0.0");
                                          TestHelpers::answerNextBox(QMessageBox::Ok, &box);
                                          okButton(dialog)->click();
                                      });
    QVERIFY(seen);
    QCOMPARE(box.text, QStringLiteral("Incorrect address"));
    QCOMPARE(listRows(list(page), specifiedColumns), before);
    QCOMPARE(changed.count(), 1);
}

void TestFOptAccess::dialogRefusesEmptyFields()
{
    ConfFile file("");
    FOptAccess page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    TestHelpers::BoxSeen addressBox;
    TestHelpers::BoxSeen maskBox;
    bool openAfterAddress = false;
    bool openAfterMask = false;
    const bool seen =
        withDialog<FOptAccess_Add>([&] { button(page, "bAdd")->click(); },
                                   [&](FOptAccess_Add* dialog) {
                                       retypeText(dialog->address->lineEdit(), "10.0.0");
                                       TestHelpers::answerNextBox(QMessageBox::Ok, &addressBox);
                                       okButton(dialog)->click();
                                       openAfterAddress = dialog->isVisible();
                                       retypeText(dialog->address->lineEdit(), "10.0.0.0");
                                       retypeText(dialog->mask->lineEdit(), "");
                                       TestHelpers::answerNextBox(QMessageBox::Ok, &maskBox);
                                       okButton(dialog)->click();
                                       openAfterMask = dialog->isVisible();
                                       okButton(dialog)->setEnabled(true);
                                       dialog->reject();
                                   });
    QVERIFY(seen);
    QVERIFY(openAfterAddress);
    QCOMPARE(addressBox.title, QStringLiteral("Error"));
    QCOMPARE(addressBox.text, QStringLiteral("Address field is empty"));
    QVERIFY(addressBox.parent != &page);
    QVERIFY(openAfterMask);
    QCOMPARE(maskBox.text, QStringLiteral("Mask field is empty"));
    QCOMPARE(listRows(list(page), specifiedColumns), QStringList());
    QCOMPARE(changed.count(), 0);
}

void TestFOptAccess::returnInAddressClicksOkOnce()
{
    ConfFile file("");
    FOptAccess page;
    int boxes = 0;
    bool stayedOpen = false;
    const bool seen = withDialog<FOptAccess_Add>(
        [&] { button(page, "bAdd")->click(); },
        [&](FOptAccess_Add* dialog) {
            retypeText(dialog->address->lineEdit(), "10.0");
            // Answer every box that comes up within the key press.
            QTimer answerer;
            QObject::connect(&answerer, &QTimer::timeout, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (box && box->isVisible()) {
                    ++boxes;
                    box->accept();
                }
            });
            answerer.start(10);
            QTest::keyClick(dialog->address->lineEdit(), Qt::Key_Return);
            answerer.stop();
            stayedOpen = dialog->isVisible();
        });
    QVERIFY(seen);
    QVERIFY(stayedOpen);
    QCOMPARE(boxes, 1);
}

void TestFOptAccess::deleteAsksFirst()
{
    ConfFile file("restrict default nomodify\nrestrict 10.0.0.0 mask 255.0.0.0 notrap\n");
    FOptAccess page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    selectRow(list(page), "10.0.0.0");
    QVERIFY(button(page, "bDelete")->isEnabled());

    TestHelpers::BoxSeen box;
    TestHelpers::answerNextBox(QMessageBox::Cancel, &box);
    button(page, "bDelete")->click();
    QCOMPARE(box.title, QStringLiteral("NTP admin"));
    QCOMPARE(box.text, QStringLiteral("Delete network?"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(listRows(list(page), specifiedColumns).size(), 2);
    QCOMPARE(changed.count(), 0);

    TestHelpers::answerNextBox(QMessageBox::Ok);
    button(page, "bDelete")->click();
    QCOMPARE(listRows(list(page), specifiedColumns), QStringList{"Default||nomodify"});
    QCOMPARE(changed.count(), 1);

    // Deleting the first default row leaves the further one, a row of its own.
    file.write(
        "restrict default nomodify\nrestrict default notrap\nrestrict 10.0.0.0 mask 255.0.0.0\n");
    page.loadSettings();
    selectRow(list(page), "Default");
    TestHelpers::answerNextBox(QMessageBox::Ok);
    button(page, "bDelete")->click();
    page.saveSettings();
    QCOMPARE(restrictLines(file.read()),
             (QStringList{"restrict default notrap", "restrict 10.0.0.0 mask 255.0.0.0 "}));
}

QTEST_MAIN(TestFOptAccess)
#include "tst_foptaccess.moc"
