// The daemon status feature in a window that is nothing but its hooks: the
// notice goes above the pages, the status bar gets one part about the
// daemon, and the "Daemon status" action goes to the end of the menu and the
// tool bar it is given.
#include <QLabel>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include "app/status/daemonnotice.h"
#include "app/status/daemonstatuswindow.h"
#include "app/status/statusfeature.h"
#include "daemon/daemonsetup.h"
#include "host/processrunner.h"
#include "tests/common/barewindow.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;

namespace
{
// No ntpq: every query ends at once as one that could not start.
class NoNtpq : public ProcessRunner
{
    struct Missing : ProcessSession {
        Missing()
        {
            QTimer::singleShot(0, this, [this] { emit ended(true); });
        }
        void write(const QByteArray&) override {}
    };

public:
    NoNtpq() { setInstanceForTesting(this); }
    ~NoNtpq() override { setInstanceForTesting(nullptr); }
    ProcessSession* startSession(const QString&, const QStringList&) override
    {
        return new Missing;
    }
};
} // namespace

class TestStatusHooks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void addsToWhatItIsGiven()
    {
        ConfFile conf("server 192.0.2.1\n");
        NoNtpq noNtpq;
        DaemonSetup ntpsec;
        ntpsec.flavour = DaemonFlavour::Ntpsec;
        ntpsec.version = QStringLiteral("1.2.2");
        ntpsec.daemonConfig = QStringLiteral("/etc/ntpsec/ntp.conf");
        setCurrentDaemon(ntpsec);
        BareWindow bare;
        QAction* own = bare.server->addAction(QStringLiteral("Start"));
        installDaemonStatus(bare.hooks());
        setCurrentDaemon(DaemonSetup());

        // The notice says the edited file is not the daemon's, above the pages.
        auto* notice = qobject_cast<DaemonNotice*>(bare.layout->itemAt(0)->widget());
        QVERIFY(notice);
        QVERIFY2(notice->text().contains(conf.path()), qPrintable(notice->text()));
        const QList<QLabel*> labels = bare.window.statusBar()->findChildren<QLabel*>();
        QStringList names;
        for (QLabel* label : labels)
            names << label->objectName();
        names.sort();
        QCOMPARE(names,
                 (QStringList{"configReminder", "daemonSummary", "syncLight", "syncStatus"}));
        QVERIFY(bare.window.statusBar()
                    ->findChild<QLabel*>(QStringLiteral("daemonSummary"))
                    ->text()
                    .startsWith(QStringLiteral("NTPsec 1.2.2 \u00b7 ")));

        QCOMPARE(bare.server->actions().size(), 2);
        QCOMPARE(bare.server->actions().first(), own);
        QAction* status = bare.server->actions().last();
        QCOMPARE(status->objectName(), QStringLiteral("aDaemonStatus"));
        QCOMPARE(bare.service->actions(), QList<QAction*>{status});
        QVERIFY(bare.file->actions().isEmpty());
        QVERIFY(bare.dialog->actions().size() == 1); // Apply alone

        // One status window, however often it is asked for.
        status->trigger();
        status->trigger();
        QCOMPARE(bare.window.findChildren<DaemonStatusWindow*>().size(), 1);
        auto* label = bare.window.findChild<DaemonStatusWindow*>()->findChild<QLabel*>(
            QStringLiteral("lState"));
        QTRY_VERIFY(label->text().contains(QStringLiteral("ntpq is not installed")));
        bare.window.findChild<DaemonStatusWindow*>()->close();
    }
};

QTEST_MAIN(TestStatusHooks)
#include "tst_statushooks.moc"
