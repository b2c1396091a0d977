// The check panel and Apply with the daemon as the judge, in a bare window,
// the daemon played by a stand-in through the host's command runner: the
// rules' findings at once and the daemon's merged in when they come, the
// empty list and the daemon that cannot be asked each said once, "Check"
// asking anew, and Apply reusing the judgement or waiting, busy, for it.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/review/checkpanel.h"
#include "app/review/configreview.h"
#include "pages/foptother.h"
#include "tests/common/barewindow.h"
#include "tests/common/standinjudge.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;

namespace
{
// The installed daemon is NTPsec while this object lives.
struct NtpsecInstalled {
    DaemonSetup old = currentDaemon();
    NtpsecInstalled()
    {
        DaemonSetup ntpsec;
        ntpsec.flavour = DaemonFlavour::Ntpsec;
        ntpsec.version = QStringLiteral("1.2.2");
        setCurrentDaemon(ntpsec);
    }
    ~NtpsecInstalled() { setCurrentDaemon(old); }
};

// A bare window with the review feature on a file of `text`; the stand-in
// daemon rejects the lines beginning with a word of `rejected`.
struct Window {
    NtpsecInstalled ntpsec;
    StandInJudge judge;
    ConfFile conf;
    BareWindow bare;
    FOptOther* page = new FOptOther(&bare.window);
    CheckPanel* panel = nullptr;
    QTreeWidget* list = nullptr;
    QLabel* judgement = nullptr;

    explicit Window(const QByteArray& text, const QStringList& rejected = {}) : conf(text)
    {
        judge.rejected = rejected;
        page->loadSettings();
        bare.pages << page;
        installConfigReview(bare.hooks());
        panel = bare.window.findChild<CheckPanel*>();
        list = panel->findChild<QTreeWidget*>(QStringLiteral("twFindings"));
        judgement = panel->findChild<QLabel*>(QStringLiteral("lJudgement"));
        bare.window.show();
    }
    // Waits for the panel's next judgement.
    bool judged()
    {
        QSignalSpy spy(panel, &CheckPanel::judged);
        return spy.wait(5000);
    }
    QStringList rows() const { return listRows(list, 3); }
    void editLogFile(const QString& value)
    {
        page->findChild<QLineEdit*>(QStringLiteral("leLogFile"))->setText(value);
        bare.edit(page);
    }
    QString daemonError(int line) const
    {
        return QStringLiteral("%1|error|ntpd: syntax error in %2 line %1, column 0")
            .arg(line)
            .arg(conf.path());
    }
};

const char judgedByBoth[] = "Judged by the installed NTP daemon and the program's rules.";
// Four sources and access rules: nothing for the rules to say.
const char cleanFile[] = "server 192.0.2.1 iburst\nserver 192.0.2.2 iburst\n"
                         "server 192.0.2.3 iburst\nserver 192.0.2.4 iburst\n"
                         "restrict default kod nomodify noquery limited\nrestrict 127.0.0.1\n"
                         "logfile /var/log/ntp-a\n";
} // namespace

class TestCheckPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup()
    {
        QCOMPARE(rejectOpenModals(), 0);
        QVERIFY(noStrayWindows());
    }

    void rulesAtOnceThenTheDaemon()
    {
        Window w(QByteArray(cleanFile) + "tinker panic 0\ntrap 192.0.2.9\n", {"tinker", "trap"});
        w.judge.answerMs = 300;
        QTRY_COMPARE(w.judgement->text(), QStringLiteral("Asking the installed NTP daemon..."));
        // The rules know that NTPsec rejects trap, not what it says of tinker.
        QCOMPARE(w.rows(),
                 QStringList{QStringLiteral("9|error|NTPsec rejects the directive "
                                            "\"trap\"; the daemon drops the whole line.")});
        QVERIFY(w.judged());
        QCOMPARE(w.judgement->text(), QLatin1String(judgedByBoth));
        // One finding per line and problem: the daemon's words for trap.
        QCOMPARE(w.rows(), QStringList({w.daemonError(8), w.daemonError(9)}));
        QCOMPARE(w.judge.judged, QList<QByteArray>{w.conf.read()});
    }

    void emptyListSaysSo()
    {
        Window w(cleanFile);
        QVERIFY(w.judged());
        QCOMPARE(w.rows(), QStringList{QStringLiteral("No problems found||")});
        QCOMPARE(w.judgement->text(), QLatin1String(judgedByBoth));
        // Nothing to show in the review (a dialog would fail cleanup()).
        emit w.list->itemDoubleClicked(w.list->topLevelItem(0), 0);
        QVERIFY(!(w.list->topLevelItem(0)->flags() & Qt::ItemIsSelectable));
    }

    void daemonThatCannotBeAskedIsSaidOnce()
    {
        Window w(cleanFile);
        w.judge.unable = QStringLiteral("unshare is not installed");
        QVERIFY(w.judged());
        const QString said = QStringLiteral(
            "The daemon could not be asked: unshare is not installed. The rules alone judged "
            "this file.");
        QCOMPARE(w.judgement->text(), said);
        QCOMPARE(w.rows(), QStringList{QStringLiteral("No problems found||")});
        // Not asked again for what Apply would write ...
        w.editLogFile(QStringLiteral("/var/log/ntp-b"));
        QVERIFY(w.judged());
        QCOMPARE(w.judgement->text(), said);
        QCOMPARE(w.judge.judged.size(), 1);
        // ... until "Check" (Edit menu and panel) asks anew.
        w.judge.unable.clear();
        QAction* check = w.panel->checkAction();
        QCOMPARE(check->text(), QStringLiteral("Check"));
        check->trigger();
        QVERIFY(w.judged());
        QCOMPARE(w.judge.judged.size(), 2);
        QCOMPARE(w.judgement->text(), QLatin1String(judgedByBoth));
    }

    void applyReusesTheJudgement()
    {
        Window w(QByteArray(cleanFile) + "tinker panic 0\n", {"tinker"});
        QVERIFY(w.judged());
        w.editLogFile(QStringLiteral("/var/log/ntp-b"));
        QVERIFY(w.judged());
        QCOMPARE(w.judge.judged.size(), 2);
        QVERIFY(w.judge.judged.last().contains("logfile /var/log/ntp-b\n"));

        BoxSeen seen;
        answerNextBoxWith(QStringLiteral("bContinueEditing"), &seen);
        QVERIFY(!confirmRejectedLines(&w.bare.window, w.page));
        QVERIFY2(
            seen.text.contains(QStringLiteral(": error: ntpd: syntax error in ") + w.conf.path()),
            qPrintable(seen.text));
        QCOMPARE(w.judge.judged.size(), 2); // the panel's judgement, not a new one
    }

    void applyWaitsBusyForTheJudgement()
    {
        Window w(QByteArray(cleanFile) + "tinker panic 0\n", {"tinker"});
        QVERIFY(w.judged());
        w.judge.answerMs = 400;
        w.editLogFile(QStringLiteral("/var/log/ntp-c"));
        // Apply at once, before the panel has checked the edit.
        bool busy = false;
        QTimer::singleShot(150, [&w, &busy] {
            auto* progress = w.bare.window.statusBar()->findChild<QProgressBar*>();
            busy = !w.bare.window.isEnabled() && QApplication::overrideCursor() && progress;
        });
        BoxSeen seen;
        answerNextBoxWith(QStringLiteral("bApplyAnyway"), &seen);
        QVERIFY(confirmRejectedLines(&w.bare.window, w.page));
        QVERIFY(busy);
        QVERIFY(w.bare.window.isEnabled());
        QVERIFY2(
            seen.text.contains(QStringLiteral(": error: ntpd: syntax error in ") + w.conf.path()),
            qPrintable(seen.text));
        // The panel, checking the edit meanwhile, waited for the same run.
        QCOMPARE(w.judge.judged.size(), 2);
        QTRY_COMPARE(w.judgement->text(), QLatin1String(judgedByBoth));
    }
};

QTEST_MAIN(TestCheckPanel)
#include "tst_checkpanel.moc"
