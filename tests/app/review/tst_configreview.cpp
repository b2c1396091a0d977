// Review, backups and restore in the real window: the review shows the
// bytes Apply then writes, a copy of the old file is kept before every write
// (or Apply stops with the edits kept), and a kept copy comes back through
// the same guard as Apply.
#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QTest>
#include <QTreeWidget>

#include "app/fntp.h"
#include "app/review/applyflow.h"
#include "app/review/checkpanel.h"
#include "app/review/configreview.h"
#include "app/review/reviewdialog.h"
#include "config/configbackups.h"
#include "daemon/ntpconfpath.h"
#include "pages/foptother.h"
#include "pages/foptstats.h"
#include "tests/common/standinjudge.h"
#include "tests/common/testhelpers.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace TestHelpers;

namespace
{

QAction* action(const FNTP& window, const char* name)
{
    return window.findChild<QAction*>(QLatin1String(name));
}

// The daemon is played by a stand-in (StandInJudge) in every test but the
// one that asks the real one.
struct Window {
    StandInJudge judge;
    ConfFile conf{"# time sources\nserver 192.0.2.1 iburst\nlogfile /var/log/ntp-a\n"};
    FNTP window;
    FOptOther* page = openPage<FOptOther>(&window);
    void editLogFile(const QString& value)
    {
        page->findChild<QLineEdit*>(QStringLiteral("leLogFile"))->setText(value);
    }
};

// Puts something other than a folder only root controls where the copies go.
void plantBackupFolder(const QString& path, const QString& kind)
{
    if (kind.contains(QLatin1String("blocked"))) {
        QVERIFY(writeFile(path, "not a folder"));
    } else if (kind.contains(QLatin1String("symbolic"))) {
        QVERIFY(QDir().mkpath(path + QLatin1String(".elsewhere")));
        QVERIFY(QFile::link(path + QLatin1String(".elsewhere"), path));
    } else {
        QVERIFY(QDir().mkpath(path));
        const bool others = kind.contains(QLatin1String("write"));
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), others ? 0777 : 0700), 0);
        if (!others)
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    }
}

// The lines a review or restore dialog shows, each with its line end.
QString shownDiff(QWidget* dialog)
{
    return dialog->findChild<QPlainTextEdit*>(QStringLiteral("teDiff"))->toPlainText() +
           QLatin1Char('\n');
}

// What a review dialog showed when it was opened.
struct ReviewSeen {
    QByteArray proposed;
    QString diff;
};
void answerNextReview(ReviewSeen* seen)
{
    onNextModal([seen](QWidget* modal) {
        auto* dialog = qobject_cast<ReviewDialog*>(modal);
        QVERIFY(dialog);
        seen->proposed = dialog->proposedBytes();
        seen->diff = shownDiff(dialog);
        dialog->reject();
    });
}

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

} // namespace

class TestConfigReview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup()
    {
        QCOMPARE(rejectOpenModals(), 0);
        QVERIFY(noStrayWindows());
    }

    void reviewShowsWhatApplyWrites()
    {
        Window w;
        QVERIFY(!action(w.window, "aReviewChanges")->isEnabled());
        w.editLogFile(QStringLiteral("/var/log/ntp-b"));
        QCOMPARE(w.window.editedPage(), w.page);
        QVERIFY(action(w.window, "aReviewChanges")->isEnabled());
        QVERIFY(!action(w.window, "aRestoreVersion")->isEnabled());
        const QByteArray before = w.conf.read();

        ReviewSeen seen;
        answerNextReview(&seen);
        action(w.window, "aReviewChanges")->trigger();
        QVERIFY(seen.diff.contains(QStringLiteral("\n-logfile /var/log/ntp-a\n")));
        QVERIFY(seen.diff.contains(QStringLiteral("\n+logfile /var/log/ntp-b\n")));
        QCOMPARE(w.conf.read(), before); // nothing written
        QCOMPARE(w.window.editedPage(), w.page);

        action(w.window, "applyAction")->trigger();
        QVERIFY(!w.window.editedPage());
        QCOMPARE(w.conf.read(), seen.proposed);
        // The old file was kept.
        const QVector<ConfigBackup> backups = ConfigBackups::list(w.conf.path());
        QCOMPARE(backups.size(), 1);
        QCOMPARE(readFile(backups.first().path), before);
        QCOMPARE(QFileInfo(backups.first().path).permissions() & 0x7077,
                 QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(QFileInfo(w.conf.backupDir()).permissions() & 0x7077,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void failedBackupStopsApply_data()
    {
        QTest::addColumn<bool>("fullDisk");
        QTest::addColumn<QString>("reason");
        QTest::newRow("full disk") << true << "File too large";
        QTest::newRow("folder blocked by a file") << false << "is not a folder";
        QTest::newRow("folder others may write to")
            << false << "can be changed by users other than root (mode 0777)";
        QTest::newRow("folder that is a symbolic link") << false << "is a symbolic link";
        QTest::newRow("folder of another user") << false << "belongs to the user with id 65534";
    }
    void failedBackupStopsApply()
    {
        QFETCH(bool, fullDisk);
        QFETCH(QString, reason);
        Window w;
        const QByteArray before = w.conf.read();
        if (!fullDisk)
            plantBackupFolder(w.conf.backupDir(), QTest::currentDataTag());
        w.editLogFile(QStringLiteral("/var/log/ntp-b"));
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        if (fullDisk) {
            FileSizeLimit limit(8); // no file may grow beyond a few bytes
            action(w.window, "applyAction")->trigger();
        } else {
            action(w.window, "applyAction")->trigger();
        }
        QVERIFY(seen.shown);
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QVERIFY2(seen.text.contains(w.conf.backupDir()), qPrintable(seen.text));
        QVERIFY2(seen.text.contains(reason), qPrintable(seen.text));
        QCOMPARE(w.conf.read(), before);
        QCOMPARE(w.window.editedPage(), w.page);
        QCOMPARE(w.page->findChild<QLineEdit*>(QStringLiteral("leLogFile"))->text(),
                 QStringLiteral("/var/log/ntp-b"));
    }

    // A file in a folder another user owns is shown, with a notice naming
    // the reason, and never written.
    void fileOthersControlIsShownReadOnly()
    {
        StandInJudge judge;
        ConfFile conf("server 192.0.2.1 iburst\nlogfile /var/log/ntp-a\n");
        QCOMPARE(::chown(QFile::encodeName(conf.dir()).constData(), 65534, 65534), 0);
        FNTP window;
        auto* page = openPage<FOptOther>(&window);
        auto* notice = window.findChild<QLabel*>(QStringLiteral("daemonNoticeText"));
        QVERIFY(notice);
        QVERIFY2(notice->text().contains(conf.path() + QStringLiteral(" is shown read-only: ") +
                                         conf.dir() +
                                         QStringLiteral(" belongs to the user with id 65534")),
                 qPrintable(notice->text()));
        QCOMPARE(page->findChild<QLineEdit*>(QStringLiteral("leLogFile"))->text(),
                 QStringLiteral("/var/log/ntp-a"));
        page->findChild<QLineEdit*>(QStringLiteral("leLogFile"))->setText(QStringLiteral("/x"));
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        action(window, "applyAction")->trigger();
        QVERIFY(seen.shown);
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QVERIFY2(seen.text.contains(QStringLiteral("belongs to the user with id 65534")),
                 qPrintable(seen.text));
        QCOMPARE(conf.read(), QByteArray("server 192.0.2.1 iburst\nlogfile /var/log/ntp-a\n"));
        QCOMPARE(window.editedPage(), page);
        QVERIFY(ConfigBackups::list(conf.path()).isEmpty());
    }

    // Copies in a folder others may write to are not offered: a box says why.
    void restoreRefusesAFolderOthersMayWriteTo()
    {
        Window w;
        w.editLogFile(QStringLiteral("/var/log/ntp-b"));
        action(w.window, "applyAction")->trigger();
        QCOMPARE(ConfigBackups::list(w.conf.path()).size(), 1);
        QCOMPARE(::chmod(QFile::encodeName(w.conf.backupDir()).constData(), 0777), 0);
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        action(w.window, "aRestoreVersion")->trigger();
        QVERIFY(seen.shown);
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QVERIFY2(seen.text.contains(QStringLiteral("(mode 0777)")), qPrintable(seen.text));
        QVERIFY(w.conf.read().contains("/var/log/ntp-b"));
    }

    void restoreGoesThroughTheGuard()
    {
        Window w;
        const QByteArray first = w.conf.read();
        w.editLogFile(QStringLiteral("/var/log/ntp-b"));
        action(w.window, "applyAction")->trigger();
        const QByteArray second = w.conf.read();
        QVERIFY(second != first);
        QVERIFY(action(w.window, "aRestoreVersion")->isEnabled());

        // Another program changes the file: restoring asks first.
        const QByteArray outside = second + "server 192.0.2.9\n";
        w.conf.write(outside);
        // Chooses the newest copy, then answers the question that follows.
        auto chooseNewest = [](QString* diff, QList<QMessageBox::StandardButton> answers,
                               QList<BoxSeen>* asked) {
            onNextModal([=](QWidget* modal) {
                auto* list = modal->findChild<QListWidget*>(QStringLiteral("lwBackups"));
                QVERIFY(list);
                QCOMPARE(list->count(), 1);
                list->setCurrentRow(0);
                // The diff is computed off the GUI thread.
                auto* view = modal->findChild<QPlainTextEdit*>(QStringLiteral("teDiff"));
                QTRY_VERIFY(!view->toPlainText().isEmpty());
                *diff = shownDiff(modal);
                answerBoxesInTurn(answers, asked);
                modal->findChild<QAbstractButton*>(QStringLiteral("bRestore"))->click();
            });
        };
        QString diff;
        QList<BoxSeen> asked;
        chooseNewest(&diff, {QMessageBox::No}, &asked);
        action(w.window, "aRestoreVersion")->trigger();
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked.first().text.contains(w.conf.path()));
        QVERIFY2(diff.contains(QStringLiteral("\n-server 192.0.2.9\n")), qPrintable(diff));
        QCOMPARE(w.conf.read(), outside);

        // The copy says what made it.
        const ConfigBackup made = ConfigBackups::list(w.conf.path()).first();
        QCOMPARE(made.reason,
                 QStringLiteral("before Apply of the %1 page").arg(FOptOther::pageTitle()));
        // Then whether to replace the file with that version (No: nothing
        // written), and at last what was done.
        const QString date = backupDate(made);
        asked.clear();
        chooseNewest(&diff, {QMessageBox::Yes, QMessageBox::No}, &asked);
        action(w.window, "aRestoreVersion")->trigger();
        QCOMPARE(asked.size(), 2);
        QVERIFY2(asked.at(1).text.startsWith(
                     QStringLiteral("Replace the current file with the version of %1").arg(date)),
                 qPrintable(asked.at(1).text));
        QCOMPARE(w.conf.read(), outside);

        // The outside change was accepted above: only the question and the
        // report remain.
        asked.clear();
        chooseNewest(&diff, {QMessageBox::Yes, QMessageBox::Ok}, &asked);
        action(w.window, "aRestoreVersion")->trigger();
        QCOMPARE(asked.size(), 2);
        QVERIFY2(asked.at(1).text.contains(date), qPrintable(asked.at(1).text));
        QCOMPARE(asked.at(1).icon, QMessageBox::Information);
        QCOMPARE(w.conf.read(), first);
        // The replaced file was kept too, and every page shows the old file.
        QCOMPARE(readFile(ConfigBackups::list(w.conf.path()).first().path), outside);
        QCOMPARE(ConfigBackups::list(w.conf.path()).first().reason,
                 QStringLiteral("before Restore"));
        QCOMPARE(w.page->findChild<QLineEdit*>(QStringLiteral("leLogFile"))->text(),
                 QStringLiteral("/var/log/ntp-a"));
        QVERIFY(!w.window.editedPage());
    }

    void rejectedLinesAskOnceBeforeApply()
    {
        NtpsecInstalled ntpsec;
        Window w;
        w.judge.rejected = QStringList{QStringLiteral("discard")};
        w.conf.write(w.conf.read() + "discard average 3\n");
        w.window.findChild<FOptOther*>()->loadSettings();
        const QByteArray before = w.conf.read();
        w.editLogFile(QStringLiteral("/var/log/ntp-b"));

        // The daemon's own words.
        BoxSeen seen;
        answerNextBoxWith(QStringLiteral("bContinueEditing"), &seen);
        action(w.window, "applyAction")->trigger();
        QVERIFY(seen.shown);
        QCOMPARE(seen.title, QStringLiteral("Check"));
        const QString daemonSaid =
            QStringLiteral("line 5: error: ntpd: syntax error in %1 line 5, column 0\n")
                .arg(w.conf.path());
        QVERIFY2(seen.text.contains(daemonSaid), qPrintable(seen.text));
        QCOMPARE(w.conf.read(), before);
        QCOMPARE(w.window.editedPage(), w.page);

        // Where the daemon cannot be asked, the rules decide, and the box says so.
        w.judge.unable = QStringLiteral("unshare is not installed");
        DaemonJudge::instance().clear();
        answerNextBoxWith(QStringLiteral("bContinueEditing"), &seen);
        action(w.window, "applyAction")->trigger();
        QVERIFY2(seen.text.contains(QStringLiteral("line 5: error: NTPsec rejects the directive "
                                                   "\"discard\"")),
                 qPrintable(seen.text));
        QVERIFY2(seen.text.contains(QStringLiteral("The daemon could not be asked: unshare is "
                                                   "not installed. The rules alone judged")),
                 qPrintable(seen.text));

        answerNextBoxWith(QStringLiteral("bApplyAnyway"));
        action(w.window, "applyAction")->trigger();
        QVERIFY(!w.window.editedPage());
        QVERIFY(w.conf.read().contains("logfile /var/log/ntp-b\n"));
        QCOMPARE(w.conf.read().split('\n').value(4), QByteArray("discard average 3"));

        // A file the daemon accepts: Apply asks nothing (a box would stay
        // open and fail cleanup()).
        w.judge.unable.clear();
        DaemonJudge::instance().clear();
        w.conf.write("server 192.0.2.1\nlogfile /var/log/ntp-a\n");
        w.window.findChild<FOptOther*>()->loadSettings();
        w.editLogFile(QStringLiteral("/var/log/ntp-c"));
        action(w.window, "applyAction")->trigger();
        QVERIFY(!w.window.editedPage());
    }

    // As root with NTPsec installed: the real daemon judges what the panel
    // shows and what Apply writes, in its private namespaces.
    void realDaemonJudges()
    {
        if (::geteuid() != 0 || !QFileInfo(QStringLiteral("/usr/sbin/ntpd")).isExecutable())
            QSKIP("needs root and NTPsec's ntpd");
        NtpsecInstalled ntpsec;
        DaemonJudge::instance().clear();
        ConfFile conf("server 192.0.2.1 iburst\nlogfile /var/log/ntp-a\n"
                      "This line was meant to be a comment\n");
        FNTP window;
        window.show();
        auto* panel = window.findChild<CheckPanel*>();
        QTRY_VERIFY_WITH_TIMEOUT(panel->isJudged(), 60000);
        const QString rejected = QStringLiteral("ntpd: syntax error in %1 line ").arg(conf.path());
        auto* list = panel->findChild<QTreeWidget*>(QStringLiteral("twFindings"));
        QCOMPARE(list->findItems(rejected + QLatin1Char('3'), Qt::MatchStartsWith, 2).size(), 1);
        QCOMPARE(panel->findChild<QLabel*>(QStringLiteral("lJudgement"))->text(),
                 QStringLiteral("Judged by the installed NTP daemon and the program's rules."));

        openPage<FOptOther>(&window)
            ->findChild<QLineEdit*>(QStringLiteral("leLogFile"))
            ->setText(QStringLiteral("/var/log/ntp-b"));
        BoxSeen seen;
        answerNextBoxWith(QStringLiteral("bContinueEditing"), &seen);
        action(window, "applyAction")->trigger();
        QVERIFY2(seen.text.contains(rejected), qPrintable(seen.text));
        QCOMPARE(conf.read().count("ntp-a"), 1);
        DaemonJudge::instance().clear();
    }

    void panelShowsTheLineInTheReview()
    {
        NtpsecInstalled ntpsec;
        Window w;
        w.window.show();
        auto* panel = w.window.findChild<CheckPanel*>();
        QVERIFY(panel && panel->isVisible());
        auto* list = panel->findChild<QTreeWidget*>(QStringLiteral("twFindings"));
        // The file as it is: no access rules, one server only.
        QTRY_VERIFY(panel->isJudged());
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(sorted({list->topLevelItem(0)->text(1), list->topLevelItem(1)->text(1)}),
                 QStringList({"hint", "warning"}));

        // While editing: what Apply would write.
        w.editLogFile(QStringLiteral("/var/log/ntp-b"));
        w.page->findChild<QLineEdit*>(QStringLiteral("leLogFile"))->setText(QString());
        w.judge.rejected = QStringList{QStringLiteral("trap")};
        w.conf.write(w.conf.read() + "trap 192.0.2.9\n");
        panel->refresh();
        QTRY_VERIFY(panel->isJudged());
        QCOMPARE(list->topLevelItemCount(), 3);
        QTreeWidgetItem* error = list->topLevelItem(2);
        QCOMPARE(error->text(1), QStringLiteral("error"));
        QString selected;
        onNextModal([&selected](QWidget* modal) {
            selected = modal->findChild<QPlainTextEdit*>(QStringLiteral("teDiff"))
                           ->textCursor()
                           .selectedText();
            qobject_cast<QDialog*>(modal)->reject();
        });
        emit list->itemDoubleClicked(error, 0);
        QCOMPARE(selected, QStringLiteral(" trap 192.0.2.9"));
        w.conf.write(w.conf.read().replace("trap 192.0.2.9\n", ""));
    }

    // The panel checks what Apply would write while the user types; the
    // boxes Apply shows belong to Apply, not to every keystroke.
    void checkingAsksNothing()
    {
        Window w;
        w.window.show();
        auto* panel = w.window.findChild<CheckPanel*>();
        QVERIFY(panel && panel->isVisible());
        auto* stats = openPage<FOptStats>(&w.window);
        QVERIFY(stats);
        auto* statsDir = stats->findChild<QLineEdit*>(QStringLiteral("leStatsDir"));
        const int boxes = rejectModalsDuring([&] {
            statsDir->setText(QStringLiteral("/nonexistent/ntp-service-manager-stats"));
            panel->refresh();
        });
        QCOMPARE(boxes, 0);
        QCOMPARE(w.window.editedPage(), stats);
        // Apply itself still warns and writes the default folder.
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        action(w.window, "applyAction")->trigger();
        QVERIFY(seen.shown);
        QVERIFY(seen.text.contains(QStringLiteral("/nonexistent/ntp-service-manager-stats")));
        QVERIFY(w.conf.read().contains("statsdir /var/log/\n"));
    }
};

QTEST_MAIN(TestConfigReview)
#include "tst_configreview.moc"
