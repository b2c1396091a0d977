#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <functional>

#include "pages/fbroadcast.h"
#include "pages/fbroadcast_add.h"
#include "tests/common/testhelpers.h"
#include "wispuinet/wisphostaddress.h"

using namespace TestHelpers;

// The specified columns; the line as the file writes it follows.
const int specifiedColumns = 4;

namespace
{

QTreeWidget* list(FBroadcast& page)
{
    return page.findChild<QTreeWidget*>("twList");
}

QPushButton* button(FBroadcast& page, const char* name)
{
    return page.findChild<QPushButton*>(name);
}

QRadioButton* radio(FBroadcast& page, const char* name)
{
    return page.findChild<QRadioButton*>(name);
}

// The lines of `text` that begin with "broadcast".
QStringList broadcastLines(const QByteArray& text)
{
    QStringList result;
    for (const QString& line : QString::fromUtf8(text).split('\n')) {
        if (line.startsWith(QLatin1String("broadcast")))
            result << line;
    }
    return result;
}

QPushButton* okButton(FBroadcast_Add* dialog)
{
    return dialog->buttonBox->button(QDialogButtonBox::Ok);
}

const QByteArray dualFile("broadcastclient\n"
                          "broadcast 192.168.1.255 minpoll 6 version 4 ttl 2\n"
                          "broadcast 10.255.255.255\n");

} // namespace

class TestFBroadcast : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void loadClientAndServer();
    void broadcastLinesWithoutClientLine();
    void switchingModesKeepsRows();
    void noVolleyKept();
    void addRow();
    void editRowWithEmptyColumns();
    void unspecifiedAddressStillChanges();
    void dialogRefusesEmptyAddress();
    void hiddenOptionsKept();
    void deleteAsksFirst();
};

void TestFBroadcast::cleanup()
{
    QCOMPARE(TestHelpers::rejectOpenModals(), 0);
}

void TestFBroadcast::loadClientAndServer()
{
    ConfFile file(dualFile);
    FBroadcast page;
    QVERIFY(radio(page, "rbDual")->isChecked());
    QCOMPARE(sorted(listRows(list(page), specifiedColumns)),
             sorted({"192.168.1.255|4|6|2", "10.255.255.255|||"}));
    QVERIFY(list(page)->isEnabled());
    QVERIFY(button(page, "bAdd")->isEnabled());
    QVERIFY(!button(page, "bEdit")->isEnabled());
    QVERIFY(!button(page, "bDelete")->isEnabled());
    selectRow(list(page), "10.255.255.255");
    QVERIFY(button(page, "bEdit")->isEnabled());
    QVERIFY(button(page, "bDelete")->isEnabled());

    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    page.saveSettings();
    QCOMPARE(changed.count(), 0);
    QCOMPARE(sorted(broadcastLines(file.read())),
             sorted({"broadcastclient", "broadcast 192.168.1.255 minpoll 6 version 4 ttl 2",
                     "broadcast 10.255.255.255"}));
    // Loading emits the mode's change signal once the page is connected.
    page.loadSettings();
    QVERIFY(changed.count() >= 1);
    QCOMPARE(listRows(list(page), specifiedColumns).size(), 2);
}

void TestFBroadcast::broadcastLinesWithoutClientLine()
{
    ConfFile file("broadcast 192.168.1.255 ttl 2\nbroadcast 10.255.255.255\nserver 192.0.2.1\n");
    FBroadcast page;
    QVERIFY(radio(page, "rbClient")->isChecked());
    QCOMPARE(listRows(list(page), specifiedColumns).size(), 2);
    QVERIFY(!list(page)->isEnabled());
    QVERIFY(!button(page, "bAdd")->isEnabled());
    page.saveSettings();
    QCOMPARE(broadcastLines(file.read()), QStringList());
    QVERIFY(file.read().contains("server 192.0.2.1"));
}

void TestFBroadcast::switchingModesKeepsRows()
{
    ConfFile file(dualFile);
    FBroadcast page;
    const QStringList before = listRows(list(page), specifiedColumns);
    selectRow(list(page), "192.168.1.255");
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);

    radio(page, "rbClient")->click();
    QCOMPARE(changed.count(), 2);
    QCOMPARE(listRows(list(page), specifiedColumns), before);
    QVERIFY(list(page)->currentItem());
    for (const char* name : {"bAdd", "bEdit", "bDelete"})
        QVERIFY2(!button(page, name)->isEnabled(), name);
    QVERIFY(!list(page)->isEnabled());
    QCOMPARE(runContextMenu(list(page)->viewport()), QStringList());

    radio(page, "rbDual")->click();
    QCOMPARE(changed.count(), 4);
    QCOMPARE(listRows(list(page), specifiedColumns), before);
    for (const char* name : {"bAdd", "bEdit", "bDelete"})
        QVERIFY2(button(page, name)->isEnabled(), name);

    radio(page, "rbClient")->click();
    page.saveSettings();
    QCOMPARE(broadcastLines(file.read()), QStringList());
}

void TestFBroadcast::noVolleyKept()
{
    ConfFile file("broadcastclient novolley\nbroadcast 192.168.1.255\n");
    FBroadcast page;
    QVERIFY(radio(page, "rbDual")->isChecked());
    page.saveSettings();
    QCOMPARE(sorted(broadcastLines(file.read())),
             sorted({"broadcastclient novolley", "broadcast 192.168.1.255"}));
}

void TestFBroadcast::addRow()
{
    ConfFile file("broadcastclient\n");
    FBroadcast page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    const bool seen =
        withDialog<FBroadcast_Add>([&] { button(page, "bAdd")->click(); },
                                   [](FBroadcast_Add* dialog) {
                                       retypeText(dialog->address->lineEdit(), "192.168.010.255");
                                       dialog->ttl->setValue(4);
                                       okButton(dialog)->click();
                                   });
    QVERIFY(seen);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(listRows(list(page), specifiedColumns), QStringList{"192.168.10.255|4|6|4"});
    QCOMPARE(list(page)->currentItem(), list(page)->topLevelItem(0));
    page.saveSettings();
    QCOMPARE(sorted(broadcastLines(file.read())),
             sorted({"broadcastclient", "broadcast 192.168.10.255 minpoll 6 version 4 ttl 4"}));
}

void TestFBroadcast::editRowWithEmptyColumns()
{
    ConfFile file(dualFile);
    FBroadcast page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    selectRow(list(page), "10.255.255.255");
    bool stayedOpen = false;
    const bool seen = withDialog<FBroadcast_Add>(
        [&] { button(page, "bEdit")->click(); },
        [&](FBroadcast_Add* dialog) {
            QCOMPARE(dialog->address->address().toString(), QStringLiteral("10.255.255.255"));
            QCOMPARE(dialog->version->value(), 1);
            QCOMPARE(dialog->minPoll->value(), 3);
            QCOMPARE(dialog->ttl->value(), 0);
            QVERIFY(!okButton(dialog)->isEnabled());
            QTest::keyClick(dialog->address->lineEdit(), Qt::Key_Return);
            stayedOpen = dialog->isVisible();
            dialog->version->setValue(2);
            dialog->version->setValue(1);
            QTest::keyClick(dialog->address->lineEdit(), Qt::Key_Return);
        });
    QVERIFY(seen);
    QVERIFY(stayedOpen);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(sorted(listRows(list(page), specifiedColumns)),
             sorted({"192.168.1.255|4|6|2", "10.255.255.255|1|3|0"}));
    page.saveSettings();
    QCOMPARE(sorted(broadcastLines(file.read())),
             sorted({"broadcastclient", "broadcast 192.168.1.255 minpoll 6 version 4 ttl 2",
                     "broadcast 10.255.255.255 minpoll 3 version 1 ttl 0"}));
}

void TestFBroadcast::unspecifiedAddressStillChanges()
{
    ConfFile file(dualFile);
    FBroadcast page;
    const QStringList before = listRows(list(page), specifiedColumns);
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    bool seen = withDialog<FBroadcast_Add>([&] { button(page, "bAdd")->click(); },
                                           [](FBroadcast_Add* dialog) {
                                               retypeText(dialog->address->lineEdit(), "0.0.0.0");
                                               okButton(dialog)->click();
                                           });
    QVERIFY(seen);
    QVERIFY(TestHelpers::noStrayWindows());
    QCOMPARE(listRows(list(page), specifiedColumns), before);
    QCOMPARE(changed.count(), 1);

    selectRow(list(page), "192.168.1.255");
    seen = withDialog<FBroadcast_Add>([&] { button(page, "bEdit")->click(); },
                                      [](FBroadcast_Add* dialog) {
                                          retypeText(dialog->address->lineEdit(), "0.0.0.0");
                                          dialog->ttl->setValue(9);
                                          okButton(dialog)->click();
                                      });
    QVERIFY(seen);
    QCOMPARE(listRows(list(page), specifiedColumns), before);
    QCOMPARE(changed.count(), 2);
}

void TestFBroadcast::dialogRefusesEmptyAddress()
{
    ConfFile file("broadcastclient\n");
    FBroadcast page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    TestHelpers::BoxSeen box;
    bool stayedOpen = false;
    int boxes = 0;
    const bool seen = withDialog<FBroadcast_Add>(
        [&] { button(page, "bAdd")->click(); },
        [&](FBroadcast_Add* dialog) {
            retypeText(dialog->address->lineEdit(), "192.168");
            TestHelpers::answerNextBox(QMessageBox::Ok, &box);
            okButton(dialog)->click();
            stayedOpen = dialog->isVisible();
            // Return in the entry asks once, not twice.
            QTimer answerer;
            QObject::connect(&answerer, &QTimer::timeout, [&] {
                auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (shown && shown->isVisible()) {
                    ++boxes;
                    shown->accept();
                }
            });
            answerer.start(10);
            QTest::keyClick(dialog->address->lineEdit(), Qt::Key_Return);
            answerer.stop();
        });
    QVERIFY(seen);
    QVERIFY(stayedOpen);
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.text, QStringLiteral("Address field is empty"));
    QCOMPARE(boxes, 1);
    QCOMPARE(listRows(list(page), specifiedColumns), QStringList());
    QCOMPARE(changed.count(), 0);
}

void TestFBroadcast::hiddenOptionsKept()
{
    ConfFile file("broadcastclient\n"
                  "broadcast 192.168.1.255 key 5 maxpoll 10 mode 3 burst version 4 # lan\n"
                  "broadcast 127.127.1.0\n"
                  "broadcast 10.255.255.255 iburst\n");
    FBroadcast page;
    QCOMPARE(sorted(listRows(list(page), specifiedColumns)),
             sorted({"192.168.1.255|4||", "10.255.255.255|||"}));
    selectRow(list(page), "192.168.1.255");
    const bool seen = withDialog<FBroadcast_Add>([&] { button(page, "bEdit")->click(); },
                                                 [](FBroadcast_Add* dialog) {
                                                     dialog->ttl->setValue(3);
                                                     okButton(dialog)->click();
                                                 });
    QVERIFY(seen);
    page.saveSettings();
    const QStringList written = broadcastLines(file.read());
    QCOMPARE(sorted(written),
             sorted({"broadcastclient",
                     "broadcast 192.168.1.255 key 5 minpoll 3 maxpoll 10 version 4 ttl 3 mode 3 "
                     "burst # lan",
                     "broadcast 127.127.1.0", "broadcast 10.255.255.255 iburst"}));
    // The hidden entry keeps its place between the other two.
    QCOMPARE(written.indexOf("broadcast 127.127.1.0"), 2);
}

void TestFBroadcast::deleteAsksFirst()
{
    ConfFile file(dualFile);
    FBroadcast page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    selectRow(list(page), "10.255.255.255");

    TestHelpers::BoxSeen box;
    TestHelpers::answerNextBox(QMessageBox::Cancel, &box);
    button(page, "bDelete")->click();
    QCOMPARE(box.title, QStringLiteral("NTP admin"));
    QCOMPARE(box.text, QStringLiteral("Delete network?"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.parent, &page);
    QCOMPARE(listRows(list(page), specifiedColumns).size(), 2);
    QCOMPARE(changed.count(), 0);

    TestHelpers::answerNextBox(QMessageBox::Ok);
    button(page, "bDelete")->click();
    QCOMPARE(listRows(list(page), specifiedColumns), QStringList{"192.168.1.255|4|6|2"});
    QCOMPARE(changed.count(), 1);
    page.saveSettings();
    QCOMPARE(sorted(broadcastLines(file.read())),
             sorted({"broadcastclient", "broadcast 192.168.1.255 minpoll 6 version 4 ttl 2"}));
}

QTEST_MAIN(TestFBroadcast)
#include "tst_fbroadcast.moc"
