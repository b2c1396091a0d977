#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "config/ntpsettings.h"
#include "pages/foptsync.h"
#include "pages/foptsync_add.h"
#include "tests/common/testhelpers.h"

using TestHelpers::ConfFile;
using TestHelpers::linesOf;
using TestHelpers::rowTexts;

// The columns of the specified list; the source type follows them.
const int specifiedColumns = 6;

namespace
{
const QByteArray threeServers = "server 127.127.1.0\n"
                                "server b.example iburst\n"
                                "server a.example prefer\n";

QTreeWidget* serverList(FOptSync& page)
{
    return page.findChild<QTreeWidget*>(QStringLiteral("twServers"));
}

QPushButton* pageButton(FOptSync& page, const char* name)
{
    return page.findChild<QPushButton*>(QLatin1String(name));
}

struct DialogSeen {
    bool shown = false;
    QString address;
    int version = 0;
    int minPoll = 0;
    int maxPoll = 0;
    bool prevail = false;
    bool burst = false;
    bool iburst = false;
};

// Answers the next server dialog: records what it showed, lets `fill` set its
// widgets and presses OK or Cancel. The record outlives a test that fails
// before the dialog shows up.
std::shared_ptr<DialogSeen> answerServerDialog(std::function<void(FOptSync_Add*)> fill, bool ok)
{
    auto seen = std::make_shared<DialogSeen>();
    TestHelpers::onNextDialog<FOptSync_Add>([fill, ok, seen](FOptSync_Add* dialog) {
        *seen = {true,
                 dialog->addressBox->currentText(),
                 dialog->versionBox->value(),
                 dialog->minPollBox->value(),
                 dialog->maxPollBox->value(),
                 dialog->prevailBox->isChecked(),
                 dialog->burstBox->isChecked(),
                 dialog->iburstBox->isChecked()};
        if (fill)
            fill(dialog);
        dialog->buttonBox->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
    return seen;
}

} // namespace

class TestFOptSync : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { QCOMPARE(TestHelpers::rejectOpenModals(), 0); }

    void loadSkipsReferenceClocksAndSavesInListOrder();
    void maxPollBelowMinPollIsRaised();
    void addBuildsRowFromDialog_data();
    void addBuildsRowFromDialog();
    void addWithoutAddressOrCancelledChangesNothing();
    void dialogDefaultsAndValidation();
    void editPresetsDialogFromRow();
    void deleteAsksFirst();
    void hiddenOptionsSurviveEditAndSort();
};

void TestFOptSync::loadSkipsReferenceClocksAndSavesInListOrder()
{
    ConfFile conf(threeServers);
    FOptSync page;
    QTreeWidget* list = serverList(page);
    QVERIFY(list);
    QCOMPARE(page.windowTitle(), QStringLiteral("Sync"));
    QCOMPARE(list->headerItem()->text(5), QStringLiteral("Burst/iburst"));
    QCOMPARE(list->topLevelItemCount(), 2);
    QVERIFY(!pageButton(page, "bEdit")->isEnabled());
    QVERIFY(!pageButton(page, "bDelete")->isEnabled());
    // Until the user sorts, the rows and the written lines keep the file's order.
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("b.example"));
    QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("a.example"));
    page.saveSettings();
    QCOMPARE(
        linesOf(conf.read(), "server"),
        (QStringList{"server 127.127.1.0", "server b.example iburst", "server a.example prefer"}));

    list->sortByColumn(0, Qt::AscendingOrder);
    QCOMPARE(rowTexts(list->topLevelItem(0), specifiedColumns),
             (QStringList{"a.example", "yes", "", "", "", ""}));
    QCOMPARE(rowTexts(list->topLevelItem(1), specifiedColumns),
             (QStringList{"b.example", "no", "", "", "", "iburst"}));

    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    page.saveSettings();
    QCOMPARE(
        linesOf(conf.read(), "server"),
        (QStringList{"server 127.127.1.0", "server a.example prefer", "server b.example iburst"}));

    list->sortByColumn(0, Qt::DescendingOrder);
    page.saveSettings();
    QCOMPARE(
        linesOf(conf.read(), "server"),
        (QStringList{"server 127.127.1.0", "server b.example iburst", "server a.example prefer"}));
    QCOMPARE(changed.count(), 0);
}

void TestFOptSync::maxPollBelowMinPollIsRaised()
{
    ConfFile conf("server m.example minpoll 8 maxpoll 6\n");
    FOptSync page;
    QTreeWidget* list = serverList(page);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("8"));
    QCOMPARE(list->topLevelItem(0)->text(4), QStringLiteral("8"));
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), "server"), QStringList{"server m.example minpoll 8 maxpoll 8"});
}

void TestFOptSync::addBuildsRowFromDialog_data()
{
    QTest::addColumn<bool>("burst");
    QTest::addColumn<bool>("iburst");
    QTest::addColumn<QString>("burstColumn");
    QTest::addColumn<QString>("options");
    QTest::newRow("none") << false << false << ""
                          << "";
    QTest::newRow("burst") << true << false << "burst"
                           << " burst";
    QTest::newRow("iburst") << false << true << "iburst"
                            << " iburst";
    QTest::newRow("both") << true << true << "burst/iburst"
                          << " burst iburst";
}

void TestFOptSync::addBuildsRowFromDialog()
{
    QFETCH(bool, burst);
    QFETCH(bool, iburst);
    QFETCH(QString, burstColumn);
    QFETCH(QString, options);

    ConfFile conf("server 127.127.1.0\nserver a.example\n");
    FOptSync page;
    QTreeWidget* list = serverList(page);
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    answerServerDialog(
        [=](FOptSync_Add* dialog) {
            dialog->addressBox->setEditText(QStringLiteral("n.example"));
            dialog->prevailBox->setChecked(true);
            dialog->versionBox->setValue(3);
            dialog->minPollBox->setValue(4);
            dialog->maxPollBox->setValue(9);
            dialog->burstBox->setChecked(burst);
            dialog->iburstBox->setChecked(iburst);
        },
        true);
    pageButton(page, "bAdd")->click();

    QCOMPARE(changed.count(), 1);
    QCOMPARE(list->topLevelItemCount(), 2);
    QTreeWidgetItem* added = list->currentItem();
    QVERIFY(added);
    QCOMPARE(rowTexts(list->topLevelItem(list->indexOfTopLevelItem(added)), specifiedColumns),
             (QStringList{"n.example", "yes", "3", "4", "9", burstColumn}));
    QVERIFY(pageButton(page, "bEdit")->isEnabled());
    QVERIFY(pageButton(page, "bDelete")->isEnabled());

    list->sortByColumn(0, Qt::AscendingOrder);
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), "server"),
             (QStringList{"server 127.127.1.0", "server a.example",
                          "server n.example minpoll 4 maxpoll 9 version 3" + options + " prefer"}));
}

void TestFOptSync::addWithoutAddressOrCancelledChangesNothing()
{
    ConfFile conf("server a.example\n");
    FOptSync page;
    QTreeWidget* list = serverList(page);
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);

    answerServerDialog(
        [](FOptSync_Add* dialog) { dialog->addressBox->setEditText(QStringLiteral("   ")); }, true);
    pageButton(page, "bAdd")->click();
    QCOMPARE(list->topLevelItemCount(), 1);

    const auto seen = answerServerDialog(nullptr, false);
    pageButton(page, "bAdd")->click();
    QVERIFY(seen->shown);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(changed.count(), 0);
}

void TestFOptSync::dialogDefaultsAndValidation()
{
    FOptSync_Add dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Syncronization settings"));
    QCOMPARE(dialog.addressBox->currentText(), QStringLiteral("pool.ntp.org"));
    QVERIFY(dialog.addressBox->isEditable());
    QCOMPARE(dialog.minPollBox->value(), 6);
    QCOMPARE(dialog.maxPollBox->value(), 10);
    QCOMPARE(dialog.versionBox->value(), 4);
    QCOMPARE(dialog.maxPollBox->maximum(), 255);
    QCOMPARE(dialog.versionBox->maximum(), 4);
    QVERIFY(dialog.buttonBox->button(QDialogButtonBox::Ok)->isEnabled());

    struct Case {
        QString address;
        int minPoll;
        int maxPoll;
        QString error; // empty: accepted
    };
    const QList<Case> cases = {
        {"", 6, 10, "Address field is empty"},
        {"a.example", 7, 6, "Min poll > max poll"},
        {"a.example prefer", 6, 10, "blanks"},
        {"a.example\n", 6, 10, "control"},
        {"a#b", 6, 10, "#"},
        {"   ", 6, 10, ""},
        {" a.example ", 8, 8, ""},
    };
    for (const Case& c : cases) {
        dialog.setResult(QDialog::Rejected);
        dialog.show();
        dialog.addressBox->setEditText(c.address);
        dialog.minPollBox->setValue(c.minPoll);
        dialog.maxPollBox->setValue(c.maxPoll);
        TestHelpers::BoxSeen box;
        if (!c.error.isEmpty())
            TestHelpers::answerNextBox(QMessageBox::Ok, &box);
        dialog.buttonBox->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(box.shown, !c.error.isEmpty());
        QCOMPARE(dialog.isVisible(), !c.error.isEmpty());
        if (c.error.isEmpty()) {
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            continue;
        }
        QCOMPARE(box.title, QStringLiteral("Error"));
        QVERIFY2(box.text.contains(c.error), qPrintable(box.text));
        QCOMPARE(box.parent, &dialog);
        dialog.hide();
    }
}

void TestFOptSync::editPresetsDialogFromRow()
{
    ConfFile conf("server c.example\nserver d.example version 2 minpoll 5 maxpoll 7 burst iburst "
                  "prefer\n");
    FOptSync page;
    QTreeWidget* list = serverList(page);
    list->sortByColumn(0, Qt::AscendingOrder);
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);

    list->setCurrentItem(list->topLevelItem(1));
    const auto full = answerServerDialog(nullptr, false);
    pageButton(page, "bEdit")->click();
    QVERIFY(full->shown);
    QCOMPARE(full->address, QStringLiteral("d.example"));
    QCOMPARE(QList<int>({full->version, full->minPoll, full->maxPoll}), QList<int>({2, 5, 7}));
    QVERIFY(full->prevail && full->burst && full->iburst);
    QCOMPARE(rowTexts(list->topLevelItem(1), specifiedColumns),
             (QStringList{"d.example", "yes", "2", "5", "7", "burst/iburst"}));
    QCOMPARE(changed.count(), 0);

    list->setCurrentItem(list->topLevelItem(0));
    const auto empty = answerServerDialog(nullptr, true);
    pageButton(page, "bEdit")->click();
    QCOMPARE(empty->address, QStringLiteral("c.example"));
    QCOMPARE(QList<int>({empty->version, empty->minPoll, empty->maxPoll}), QList<int>({1, 3, 3}));
    QVERIFY(!empty->prevail && !empty->burst && !empty->iburst);
    QCOMPARE(rowTexts(list->topLevelItem(0), specifiedColumns),
             (QStringList{"c.example", "no", "1", "3", "3", ""}));
    QCOMPARE(changed.count(), 1);
}

void TestFOptSync::deleteAsksFirst()
{
    ConfFile conf("server a.example\nserver b.example\n");
    FOptSync page;
    QTreeWidget* list = serverList(page);
    list->sortByColumn(0, Qt::AscendingOrder);
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    list->setCurrentItem(list->topLevelItem(0));

    TestHelpers::BoxSeen box;
    TestHelpers::answerNextBox(QMessageBox::Cancel, &box);
    pageButton(page, "bDelete")->click();
    QVERIFY(box.shown);
    QCOMPARE(box.title, QStringLiteral("NTP admin"));
    QCOMPARE(box.text, QStringLiteral("Delete server from list?"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(changed.count(), 0);

    TestHelpers::answerNextBox(QMessageBox::Ok);
    pageButton(page, "bDelete")->click();
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("b.example"));
    QCOMPARE(changed.count(), 1);
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), "server"), QStringList{"server b.example"});
}

void TestFOptSync::hiddenOptionsSurviveEditAndSort()
{
    ConfFile conf("server 127.127.1.0 minpoll 4\n"
                  "server z.example key 5 noselect ttl 2 weird\n"
                  "server a.example\n");
    FOptSync page;
    QTreeWidget* list = serverList(page);
    list->sortByColumn(0, Qt::AscendingOrder);
    QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("z.example"));

    list->setCurrentItem(list->topLevelItem(1));
    answerServerDialog([](FOptSync_Add* dialog) { dialog->prevailBox->setChecked(true); }, true);
    pageButton(page, "bEdit")->click();
    list->sortByColumn(0, Qt::DescendingOrder);
    list->sortByColumn(1, Qt::AscendingOrder);
    page.saveSettings();
    page.loadSettings();

    QCOMPARE(ntpSettings.servers.size(), 3);
    QCOMPARE(ntpSettings.servers.at(0).address, QStringLiteral("127.127.1.0"));
    QCOMPARE(ntpSettings.servers.at(0).minPoll, 4);
    const ServerEntry z = ntpSettings.servers.at(2);
    QCOMPARE(z.address, QStringLiteral("z.example"));
    QCOMPARE(z.key, QStringLiteral("5"));
    QVERIFY(z.noSelect);
    QCOMPARE(z.ttl, 2);
    QCOMPARE(z.extraOptions, QStringList{"weird"});
    QVERIFY(z.prefer);
    // The edit took the dialog's values for the columns that were empty.
    QCOMPARE(QList<int>({z.version, z.minPoll, z.maxPoll}), QList<int>({1, 3, 3}));

    // A deleted row takes them with it: a new row of the same address has none.
    list->sortByColumn(0, Qt::AscendingOrder);
    list->setCurrentItem(list->topLevelItem(1));
    TestHelpers::answerNextBox(QMessageBox::Ok);
    pageButton(page, "bDelete")->click();
    answerServerDialog(
        [](FOptSync_Add* dialog) { dialog->addressBox->setEditText(QStringLiteral("z.example")); },
        true);
    pageButton(page, "bAdd")->click();
    page.saveSettings();
    QVERIFY(linesOf(conf.read(), "server")
                .contains(QStringLiteral("server z.example minpoll 6 maxpoll 10 version 4")));
}

QTEST_MAIN(TestFOptSync)
#include "tst_foptsync.moc"
