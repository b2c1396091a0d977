// The review feature in a window that is nothing but its hooks: what it
// adds goes where the hooks say, it follows the edit state it is told of,
// and it needs nothing else of the main window.
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTest>
#include <QTreeWidget>

#include "app/review/checkpanel.h"
#include "app/review/configreview.h"
#include "pages/foptother.h"
#include "tests/common/barewindow.h"
#include "tests/common/standinjudge.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;

class TestReviewHooks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() { QCOMPARE(rejectOpenModals(), 0); }

    void addsToWhatItIsGiven()
    {
        ConfFile conf("server 192.0.2.1\nlogfile /var/log/ntp-a\n");
        BareWindow bare;
        installConfigReview(bare.hooks());
        // The Edit menu and Restore where the hooks put them.
        const QList<QAction*> menus = bare.window.menuBar()->actions();
        QCOMPARE(menus.size(), 4);
        QCOMPARE(menus.at(1)->menu()->objectName(), QStringLiteral("menu_Edit"));
        QCOMPARE(menus.at(2)->menu(), bare.server);
        const QList<QAction*> edit = menus.at(1)->menu()->actions();
        QAction* review = edit.value(0);
        QVERIFY(review && bare.dialog->actions().contains(review));
        QCOMPARE(edit.value(1)->objectName(), QStringLiteral("aCheck"));
        QAction* restore = bare.file->actions().value(0);
        QVERIFY(restore);
        QCOMPARE(restore->objectName(), QStringLiteral("aRestoreVersion"));
        QVERIFY(bare.server->actions().isEmpty());
        QVERIFY(bare.service->actions().isEmpty());

        // Review while a page is edited, restore while none is.
        QVERIFY(!review->isEnabled());
        QVERIFY(restore->isEnabled());
        FOptOther page(&bare.window);
        bare.edit(&page);
        QVERIFY(review->isEnabled());
        QVERIFY(!restore->isEnabled());
        bare.edit(nullptr);
        QVERIFY(!review->isEnabled());
        QVERIFY(restore->isEnabled());
    }

    // The panel checks the page it is told is edited, and watches the pages
    // it is told were built.
    void panelFollowsTheHooks()
    {
        ConfFile conf("server 192.0.2.1\nlogfile /var/log/ntp-a\n");
        StandInJudge judge;
        BareWindow bare;
        installConfigReview(bare.hooks());
        bare.window.show();
        auto* panel = bare.window.findChild<CheckPanel*>();
        QVERIFY(panel);
        QCOMPARE(bare.window.dockWidgetArea(panel), Qt::BottomDockWidgetArea);
        auto* subject = panel->findChild<QLabel*>(QStringLiteral("lCheckSubject"));
        QTRY_COMPARE(subject->text(), QStringLiteral("Findings in %1:").arg(conf.path()));

        auto* page = new FOptOther(&bare.window);
        bare.pages << page;
        emit bare.events.pageBuilt(page);
        page->findChild<QLineEdit*>(QStringLiteral("leLogFile"))->setText(QStringLiteral("/x"));
        bare.edit(page);
        QTRY_COMPARE(subject->text(), QStringLiteral("Findings in what Apply would write:"));
        QCOMPARE(conf.read(), QByteArray("server 192.0.2.1\nlogfile /var/log/ntp-a\n"));
    }
};

QTEST_MAIN(TestReviewHooks)
#include "tst_reviewhooks.moc"
