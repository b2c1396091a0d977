#include <QCheckBox>
#include <QSignalSpy>
#include <QTabWidget>
#include <QtTest>

#include "pages/foptmessage.h"
#include "pages/foptmessage_settings.h"
#include "tests/common/testhelpers.h"

using TestHelpers::ConfFile;
using TestHelpers::linesOf;

namespace
{
FOptMessage_Settings* tab(FOptMessage& page, const QString& messageClass)
{
    return page.findChild<FOptMessage_Settings*>(messageClass);
}

QList<QCheckBox*> boxes(FOptMessage_Settings* settings)
{
    return {settings->chbAll, settings->chbInfo, settings->chbEvents, settings->chbStatistics,
            settings->chbStatus};
}

// "class/box" for every checked box of the page, in tab and box order.
QStringList checkedBoxes(FOptMessage& page)
{
    QStringList result;
    auto* tabs = page.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    for (int i = 0; i < tabs->count(); ++i) {
        auto* settings = qobject_cast<FOptMessage_Settings*>(tabs->widget(i));
        for (QCheckBox* box : boxes(settings)) {
            if (box->isChecked())
                result.append(settings->messageClass + QLatin1Char('/') + box->objectName());
        }
    }
    return result;
}

bool singlesEnabled(FOptMessage_Settings* settings)
{
    return settings->chbInfo->isEnabled() && settings->chbEvents->isEnabled() &&
           settings->chbStatistics->isEnabled() && settings->chbStatus->isEnabled();
}

bool singlesDisabled(FOptMessage_Settings* settings)
{
    return !settings->chbInfo->isEnabled() && !settings->chbEvents->isEnabled() &&
           !settings->chbStatistics->isEnabled() && !settings->chbStatus->isEnabled();
}
} // namespace

class TestFOptMessage : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void tabsInClassOrder();
    void loadsItems_data();
    void loadsItems();
    void changedBoxesWriteOnlyTheirItems_data();
    void changedBoxesWriteOnlyTheirItems();
    void setItemKeptWhileBoxesAreAsLoaded();
    void allGreysOutTheSingleTypes();
    void allSavesOnlyTheAllItem();
    void uncheckingEveryBoxRemovesTheLine();
};

void TestFOptMessage::cleanup()
{
    QCOMPARE(TestHelpers::rejectOpenModals(), 0);
}

void TestFOptMessage::tabsInClassOrder()
{
    ConfFile conf;
    FOptMessage page;
    QCOMPARE(page.windowTitle(), QStringLiteral("Message reporting"));
    auto* tabs = page.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    QVERIFY(tabs);
    const QStringList captions = {"Clock messages", "Peer messages", "System messages",
                                  "NTP messages"};
    const QStringList classes = {"clock", "peer", "sys", "sync"};
    QCOMPARE(tabs->count(), 4);
    for (int i = 0; i < tabs->count(); ++i) {
        QCOMPARE(tabs->tabText(i), captions.at(i));
        QCOMPARE(qobject_cast<FOptMessage_Settings*>(tabs->widget(i))->messageClass, classes.at(i));
    }
}

void TestFOptMessage::loadsItems_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("checked");

    QTest::newRow("removed item ignored") << QByteArray("logconfig -peerinfo\n") << QStringList();
    QTest::newRow("lower-cased") << QByteArray("logconfig +SysStatus\n")
                                 << QStringList({"sys/chbStatus"});
    QTest::newRow("bare items") << QByteArray("logconfig peerinfo clockstatistics\n")
                                << QStringList({"clock/chbStatistics", "peer/chbInfo"});
    QTest::newRow("match anywhere in the item")
        << QByteArray("logconfig +xsynceventsx\n") << QStringList({"sync/chbEvents"});
    QTest::newRow("unknown words ignored")
        << QByteArray("logconfig +allclock +clockwarnings +peerevents\n")
        << QStringList({"peer/chbEvents"});
    // "all" and a type stand for that type of every class.
    QTest::newRow("allall") << QByteArray("logconfig =allall\n")
                            << QStringList(
                                   {"clock/chbAll", "peer/chbAll", "sys/chbAll", "sync/chbAll"});
    QTest::newRow("all of one type")
        << QByteArray("logconfig allevents +peerinfo\n")
        << QStringList({"clock/chbEvents", "peer/chbInfo", "peer/chbEvents", "sys/chbEvents",
                        "sync/chbEvents"});
    QTest::newRow("no line") << QByteArray("driftfile /var/lib/ntp/ntp.drift\n") << QStringList();
}

// The boxes cannot show "-" items, words of no class, case or the set
// prefix, so saving a page whose boxes are as loaded keeps the file's items:
// the daemon goes on reporting what it did.
void TestFOptMessage::loadsItems()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, checked);
    ConfFile conf(file);
    FOptMessage page;
    QCOMPARE(checkedBoxes(page), checked);

    page.saveSettings();
    // "=" separates words for the reader; a bare item sets, as "=" does.
    const QString asRead = QString::fromLatin1(file).remove(QLatin1Char('='));
    QCOMPARE(linesOf(conf.read(), QStringLiteral("logconfig")),
             linesOf(asRead.toLatin1(), QStringLiteral("logconfig")));
}

// Once a box changed, the line holds the checked boxes' items, each with "+",
// in tab order.
void TestFOptMessage::changedBoxesWriteOnlyTheirItems_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("saved");

    QTest::newRow("set item") << QByteArray("logconfig =syncall +clockevents\n") << "peer/chbInfo"
                              << "logconfig +clockevents +peerinfo +syncall";
    QTest::newRow("removed item") << QByteArray("logconfig -peerinfo\n") << "sys/chbStatus"
                                  << "logconfig +sysstatus";
    QTest::newRow("lower-cased") << QByteArray("logconfig +SysStatus\n") << "peer/chbInfo"
                                 << "logconfig +peerinfo +sysstatus";
    QTest::newRow("all of one type")
        << QByteArray("logconfig allevents +peerinfo\n") << "peer/chbEvents"
        << "logconfig +clockevents +peerinfo +sysevents +syncevents";
    QTest::newRow("allall") << QByteArray("logconfig =allall\n") << "sync/chbAll"
                            << "logconfig +clockall +peerall +sysall";
}

void TestFOptMessage::changedBoxesWriteOnlyTheirItems()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, box);
    QFETCH(QString, saved);
    ConfFile conf(file);
    FOptMessage page;
    const QStringList classAndBox = box.split(QLatin1Char('/'));
    tab(page, classAndBox.at(0))->findChild<QCheckBox*>(classAndBox.at(1))->click();

    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), QStringLiteral("logconfig")), QStringList({saved}));
}

void TestFOptMessage::setItemKeptWhileBoxesAreAsLoaded()
{
    ConfFile conf("logconfig =syncall +clockevents\n");
    FOptMessage page;
    QCOMPARE(checkedBoxes(page), QStringList({"clock/chbEvents", "sync/chbAll"}));
    QVERIFY(singlesDisabled(tab(page, QStringLiteral("sync"))));
    QVERIFY(singlesEnabled(tab(page, QStringLiteral("clock"))));

    // A box changed and changed back leaves the file's items as they were.
    tab(page, QStringLiteral("peer"))->chbInfo->click();
    tab(page, QStringLiteral("peer"))->chbInfo->click();
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), QStringLiteral("logconfig")),
             QStringList({"logconfig syncall +clockevents"}));

    // A reload replaces the marks and greying.
    conf.write("logconfig +peerinfo\n");
    page.loadSettings();
    QCOMPARE(checkedBoxes(page), QStringList({"peer/chbInfo"}));
    QVERIFY(singlesEnabled(tab(page, QStringLiteral("sync"))));
}

void TestFOptMessage::allGreysOutTheSingleTypes()
{
    ConfFile conf("logconfig +peerinfo +peerstatus\n");
    FOptMessage page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    FOptMessage_Settings* peer = tab(page, QStringLiteral("peer"));

    peer->chbAll->click();
    QVERIFY(singlesDisabled(peer));
    QVERIFY(peer->chbInfo->isChecked());
    QVERIFY(peer->chbStatus->isChecked());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().first().value<ModifiableWidget*>(), &page);

    peer->chbAll->click();
    QVERIFY(singlesEnabled(peer));
    QCOMPARE(checkedBoxes(page), QStringList({"peer/chbInfo", "peer/chbStatus"}));
    QCOMPARE(changed.count(), 2);
}

void TestFOptMessage::allSavesOnlyTheAllItem()
{
    ConfFile conf("logconfig +syncinfo\n");
    FOptMessage page;
    FOptMessage_Settings* sync = tab(page, QStringLiteral("sync"));
    FOptMessage_Settings* clock = tab(page, QStringLiteral("clock"));
    sync->chbAll->click();
    clock->chbStatus->click();
    clock->chbInfo->click();

    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), QStringLiteral("logconfig")),
             QStringList({"logconfig +clockinfo +clockstatus +syncall"}));
}

void TestFOptMessage::uncheckingEveryBoxRemovesTheLine()
{
    ConfFile conf("logconfig =clockall +peerevents +sysinfo\ndriftfile /var/lib/ntp/ntp.drift\n");
    FOptMessage page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    for (FOptMessage_Settings* settings : page.findChildren<FOptMessage_Settings*>()) {
        for (QCheckBox* box : boxes(settings)) {
            if (box->isChecked())
                box->click();
        }
    }
    QCOMPARE(changed.count(), 3);
    QVERIFY(checkedBoxes(page).isEmpty());

    page.saveSettings();
    const QByteArray saved = conf.read();
    QVERIFY(linesOf(saved, QStringLiteral("logconfig")).isEmpty());
    QCOMPARE(linesOf(saved, QStringLiteral("driftfile")),
             QStringList({"driftfile /var/lib/ntp/ntp.drift"}));
}

QTEST_MAIN(TestFOptMessage)
#include "tst_foptmessage.moc"
