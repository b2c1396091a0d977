// Start-up: the root check, the hand-over to the main window.
#include <QLabel>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include "app/fntp.h"
#include "app/plurals.h"
#include "app/review/reviewdialog.h"
#include "app/startup.h"
#include "config/configcheck.h"
#include "config/configdocument.h"
#include "qtsingleapplication/qtsingleapplication.h"
#include "tests/common/fakesystem.h"
#include "tests/common/testhelpers.h"
#include "wispintegration/wisphelpmenu.h"
#include "wispintegration/wispintegration.h"

using namespace TestHelpers;

class TestStartup : public QObject
{
    Q_OBJECT
public:
    explicit TestStartup(QtSingleApplication& app) : m_app(app) {}

private slots:
    void cleanup() { QCOMPARE(rejectOpenModals(), 0); }

    void refusesOtherUsers_data()
    {
        QTest::addColumn<uint>("realUid");
        QTest::newRow("ordinary user") << 1000u;
        QTest::newRow("nobody") << 65534u;
    }
    void refusesOtherUsers()
    {
        QFETCH(uint, realUid);
        ConfFile conf("server 192.0.2.1\n");
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        QCOMPARE(runNtpServiceManager(m_app, uid_t(realUid)), -1);
        QVERIFY(seen.shown);
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QCOMPARE(seen.title, QStringLiteral("Fatal error"));
        QCOMPARE(seen.text,
                 QStringLiteral("You should run this application with superuser privileges."));
        QVERIFY(!seen.parent);
        // The integration call happens before the check; no window after it.
        QCOMPARE(wispVersion(), QStringLiteral("1.2.12"));
        QVERIFY(WispHelpMenu::aboutText().contains(QStringLiteral("GPL-2.0-or-later")));
        for (QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<FNTP*>(widget));
    }

    void rootGetsTheWindow()
    {
        FakeSystem noDaemon; // nothing installed: the classic file (the test's) is edited
        ConfFile conf("server 192.0.2.1\n");
        bool sawWindow = false;
        QWidget* activation = nullptr;
        QTimer::singleShot(100, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* window = qobject_cast<FNTP*>(widget); window && window->isVisible()) {
                    sawWindow = true;
                    activation = m_app.activationWindow();
                    QVERIFY(activation == window);
                    window->close();
                }
            }
        });
        QCOMPARE(runNtpServiceManager(m_app, 0), 0);
        QVERIFY(sawWindow);
        QVERIFY(activation);
        QCOMPARE(ConfigDocument::instance().path(), conf.path());
    }

    // Texts that count something say "1 line", not "1 lines", once the
    // program's plural forms are installed; the count stays in the text.
    void countsReadInEnglish()
    {
        installPluralForms(m_app);
        ReviewDialog review(QStringLiteral("Review"));
        review.setTexts(QStringLiteral("ntp.conf"), "server a\n", "server b\n");
        QCOMPARE(review.findChild<QLabel*>(QStringLiteral("lSummary"))->text(),
                 QStringLiteral("ntp.conf: 1 line removed, 1 line added; no other line changes."));
        review.setTexts(QStringLiteral("ntp.conf"), "a\nb\n", "c\nd\n");
        QVERIFY(review.findChild<QLabel*>(QStringLiteral("lSummary"))
                    ->text()
                    .startsWith(QStringLiteral("ntp.conf: 2 lines removed, 2 lines added")));

        QStringList texts;
        for (const CheckFinding& finding : checkConfiguration("tos minsane 1\n", DaemonSetup()))
            texts << finding.text;
        QVERIFY2(texts.join('|').contains(QStringLiteral("needs 1 usable time source,")),
                 qPrintable(texts.join('|')));
        texts.clear();
        for (const CheckFinding& finding :
             checkConfiguration("server 192.0.2.1 iburst\n", DaemonSetup()))
            texts << finding.text;
        QVERIFY2(texts.contains(QStringLiteral(
                     "Only 1 time source: fewer than four cannot outvote one wrong clock.")),
                 qPrintable(texts.join('|')));
    }

private:
    QtSingleApplication& m_app;
};

int main(int argc, char** argv)
{
    QStandardPaths::setTestModeEnabled(true);
    QtSingleApplication app(argc, argv, true);
    QApplication::setQuitOnLastWindowClosed(true);
    TestStartup test(app);
    return QTest::qExec(&test, argc, argv);
}
#include "tst_startup.moc"
