// The time servers page with pools and NTS: what the rows show, what the
// dialog offers with each daemon, and what an apply writes.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>

#include "daemon/daemonsetup.h"
#include "pages/foptsync.h"
#include "pages/foptsync_add.h"
#include "tests/common/testhelpers.h"

using TestHelpers::ConfFile;
using TestHelpers::linesOf;

namespace
{
const int kindColumn = 6;

// Makes the program take the installed daemon for NTPsec while it lives.
class NtpsecDaemon
{
public:
    NtpsecDaemon() : m_old(currentDaemon())
    {
        DaemonSetup ntpsec;
        ntpsec.flavour = DaemonFlavour::Ntpsec;
        setCurrentDaemon(ntpsec);
    }
    ~NtpsecDaemon() { setCurrentDaemon(m_old); }

private:
    DaemonSetup m_old;
};

QTreeWidget* serverList(FOptSync& page)
{
    return page.findChild<QTreeWidget*>(QStringLiteral("twServers"));
}

QStringList column(FOptSync& page, int index)
{
    QStringList texts;
    QTreeWidget* list = serverList(page);
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        texts << list->topLevelItem(row)->text(index);
    return texts;
}

QByteArray sourceFile(const QString& relative)
{
    return TestHelpers::readFile(qEnvironmentVariable("NTPSM_SOURCE_DIR") + QLatin1Char('/') +
                                 relative);
}

// Runs the next time server dialog: checks what it offers, lets `fill` set
// it and presses OK.
void answerDialog(std::function<void(FOptSync_Add*)> fill)
{
    TestHelpers::onNextModal([fill](QWidget* modal) {
        auto* dialog = qobject_cast<FOptSync_Add*>(modal);
        if (!dialog) {
            if (auto* other = qobject_cast<QDialog*>(modal))
                other->reject();
            return;
        }
        fill(dialog);
        dialog->buttonBox->button(QDialogButtonBox::Ok)->click();
    });
}

void editRow(FOptSync& page, int row, std::function<void(FOptSync_Add*)> fill)
{
    serverList(page)->setCurrentItem(serverList(page)->topLevelItem(row));
    answerDialog(fill);
    page.Edit_clicked();
}
} // namespace

class TestFOptSyncPool : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { QCOMPARE(TestHelpers::rejectOpenModals(), 0); }

    void distributionDefaultsShowTheirPools_data();
    void distributionDefaultsShowTheirPools();
    void kindFollowsTheTypedAddress();
    void addAndEditChooseServerOrPool();
    void poolOfAReferenceClockIsRefused();
    void classicDaemonKeepsNtsAsAnOption();
    void ntpsecDaemonOffersNts();
};

void TestFOptSyncPool::distributionDefaultsShowTheirPools_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("addresses");
    QTest::newRow("Debian 12") << "debian12"
                               << QStringList{"0.debian.pool.ntp.org", "1.debian.pool.ntp.org",
                                              "2.debian.pool.ntp.org", "3.debian.pool.ntp.org"};
    QTest::newRow("Ubuntu") << "ubuntu"
                            << QStringList{"0.ubuntu.pool.ntp.org", "1.ubuntu.pool.ntp.org",
                                           "2.ubuntu.pool.ntp.org", "ntp.ubuntu.com"};
}

void TestFOptSyncPool::distributionDefaultsShowTheirPools()
{
    QFETCH(QString, name);
    const QByteArray original = sourceFile("tests/config/data/" + name + ".conf");
    QVERIFY(!original.isEmpty());
    ConfFile conf(original);
    FOptSync page;
    QCOMPARE(serverList(page)->headerItem()->text(kindColumn), QStringLiteral("Type"));
    QTEST(column(page, 0), "addresses");
    QCOMPARE(column(page, kindColumn), (QStringList{"Pool", "Pool", "Pool", "Pool"}));
    QCOMPARE(column(page, 5), (QStringList{"iburst", "iburst", "iburst", "iburst"}));

    // An unchanged apply writes the pool lines as they were.
    page.saveSettings();
    page.loadSettings();
    QCOMPARE(linesOf(conf.read(), "pool"), linesOf(original, "pool"));
    QCOMPARE(conf.read(), sourceFile("tests/config/data/" + name + ".expected"));
}

void TestFOptSyncPool::kindFollowsTheTypedAddress()
{
    FOptSync_Add dialog;
    dialog.addressBox->setEditText(QStringLiteral("time.example.org"));
    QVERIFY(dialog.serverButton->isChecked());
    dialog.addressBox->setEditText(QStringLiteral("2.debian.pool.ntp.org"));
    QVERIFY(dialog.poolButton->isChecked());
    // Once the user picks a kind, typing no longer changes it.
    dialog.serverButton->click();
    dialog.addressBox->setEditText(QStringLiteral("pool.example.org"));
    QVERIFY(dialog.serverButton->isChecked());
}

void TestFOptSyncPool::addAndEditChooseServerOrPool()
{
    ConfFile conf("server 127.127.1.0\npool  p.example  iburst maxsources 3 # keep\n"
                  "server s.example\n");
    FOptSync page;
    QCOMPARE(column(page, kindColumn), (QStringList{"Pool", "Server"}));
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);

    answerDialog([](FOptSync_Add* dialog) {
        // The pre-filled pool.ntp.org suggests a pool.
        QVERIFY(dialog->poolButton->isChecked());
        QVERIFY(!dialog->ntsBox); // the classic daemon has no NTS
        dialog->addressBox->setEditText(QStringLiteral("new.pool.example"));
        dialog->poolButton->click();
        dialog->iburstBox->setChecked(true);
    });
    page.Add_clicked();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(column(page, kindColumn), (QStringList{"Pool", "Server", "Pool"}));

    // Edit presets the choice (and, as specified, polls and version from the
    // row's empty columns at their minimums); the other options stay.
    bool presetPool = true;
    editRow(page, 1, [&presetPool](FOptSync_Add* dialog) {
        presetPool = dialog->poolButton->isChecked();
        dialog->poolButton->click();
    });
    QVERIFY(!presetPool);
    QCOMPARE(changed.count(), 2);

    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), "pool"),
             (QStringList{"pool  p.example  iburst maxsources 3 # keep",
                          "pool s.example minpoll 3 maxpoll 3 version 1",
                          "pool new.pool.example minpoll 6 maxpoll 10 version 4 iburst"}));
    QCOMPARE(linesOf(conf.read(), "server"), QStringList{"server 127.127.1.0"});
    page.loadSettings();
    QCOMPARE(column(page, kindColumn), (QStringList{"Pool", "Pool", "Pool"}));

    // And back: a pool made a server again is written as a server line.
    editRow(page, 0, [](FOptSync_Add* dialog) {
        QVERIFY(dialog->poolButton->isChecked());
        dialog->serverButton->click();
    });
    page.saveSettings();
    QCOMPARE(
        linesOf(conf.read(), "server"),
        (QStringList{"server 127.127.1.0",
                     "server p.example minpoll 3 maxpoll 3 version 1 iburst maxsources 3 # keep"}));
}

void TestFOptSyncPool::poolOfAReferenceClockIsRefused()
{
    ConfFile conf;
    FOptSync page;
    FOptSync_Add dialog(&page);
    dialog.addressBox->setEditText(QStringLiteral("127.127.1.0"));
    dialog.poolButton->setChecked(true);
    TestHelpers::BoxSeen seen;
    TestHelpers::answerNextBox(QMessageBox::Ok, &seen);
    dialog.accept();
    QVERIFY(seen.shown);
    QCOMPARE(seen.text, QStringLiteral("A reference clock address cannot be a pool"));
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void TestFOptSyncPool::classicDaemonKeepsNtsAsAnOption()
{
    ConfFile conf("server nts.example nts iburst\n");
    FOptSync page;
    QCOMPARE(column(page, kindColumn), QStringList{"Server"});
    editRow(page, 0, [](FOptSync_Add* dialog) {
        QVERIFY(!dialog->findChild<QCheckBox*>(QStringLiteral("chbNts")));
        dialog->prevailBox->setChecked(true);
    });
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), "server"),
             QStringList{"server nts.example minpoll 3 maxpoll 3 version 1 iburst prefer nts"});
}

void TestFOptSyncPool::ntpsecDaemonOffersNts()
{
    const NtpsecDaemon ntpsec;
    const QByteArray original = "server a.example nts  iburst\npool p.example iburst NTS\n"
                                "server b.example iburst\n";
    ConfFile conf(original);
    FOptSync page;
    QCOMPARE(column(page, kindColumn), (QStringList{"Server, NTS", "Pool, NTS", "Server"}));
    page.saveSettings();
    QCOMPARE(conf.read(), "\n" + original);

    editRow(page, 0, [](FOptSync_Add* dialog) {
        QVERIFY(dialog->ntsBox);
        QCOMPARE(dialog->ntsBox->text(), QStringLiteral("Authenticate with NTS"));
        QVERIFY(dialog->ntsBox->isChecked());
        dialog->ntsBox->click();
    });
    editRow(page, 2, [](FOptSync_Add* dialog) {
        QVERIFY(!dialog->ntsBox->isChecked());
        dialog->ntsBox->click();
        dialog->poolButton->click();
    });
    QCOMPARE(column(page, kindColumn), (QStringList{"Server", "Pool, NTS", "Pool, NTS"}));
    page.saveSettings();
    QCOMPARE(conf.read(), QByteArray("\nserver a.example minpoll 3 maxpoll 3 version 1 iburst\n"
                                     "pool p.example iburst NTS\n"
                                     "pool b.example minpoll 3 maxpoll 3 version 1 iburst nts\n"));
}

QTEST_MAIN(TestFOptSyncPool)
#include "tst_foptsync_pool.moc"
