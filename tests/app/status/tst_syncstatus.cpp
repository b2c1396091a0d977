// The synchronisation summary in the status bar and the "Daemon status"
// window, with ntpq answered from output captured from the daemons.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegend>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <cmath>
#include <memory>

#include "app/fntp.h"
#include "app/service/servicecontrol.h"
#include "app/status/daemonstatuswindow.h"
#include "app/status/offsetplot.h"
#include "app/status/syncstatus.h"
#include "config/configdocument.h"
#include "config/ntpsettings.h"
#include "daemon/daemonsetup.h"
#include "host/processrunner.h"
#include "tests/common/fakesystem.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;
using namespace QtCharts;

namespace
{
// Stands in for ntpq: a session answers each command written to it from
// `peers` and `rv`, "version" with a line of its own; a one-time call gets
// `next`.
class NtpqRunner : public ProcessRunner
{
public:
    enum class Session { Answers, OnlyVersion, Silent, Missing };
    Session behaviour = Session::Answers;
    QByteArray peers;
    QByteArray rv;
    QByteArray sysstats;
    ProcessResult next;
    QList<QStringList> calls;
    QByteArray written;
    QPointer<ProcessSession> session;
    int sessions = 0;

    ProcessJob* start(const QString& program, const QStringList& arguments,
                      const ProcessOptions& options) override
    {
        if (program != QLatin1String("ntpq"))
            return ProcessRunner::start(program, arguments, options);
        calls << arguments;
        return ProcessJob::finishedWith(next, 5);
    }
    ProcessSession* startSession(const QString& program, const QStringList& arguments) override;
    void answer(const QByteArray& peersOutput, const QByteArray& rvOutput)
    {
        behaviour = Session::Answers;
        peers = peersOutput;
        rv = rvOutput;
    }
};

class FakeNtpq : public ProcessSession
{
public:
    explicit FakeNtpq(NtpqRunner* runner) : m_runner(runner)
    {
        if (runner->behaviour == NtpqRunner::Session::Missing)
            QTimer::singleShot(0, this, [this] { emit ended(true); });
    }
    void write(const QByteArray& input) override
    {
        m_runner->written += input;
        QByteArray out;
        for (const QByteArray& command : input.split('\n')) {
            if (command == "version")
                out += "ntpsec-1.2.2\n";
            if (m_runner->behaviour != NtpqRunner::Session::Answers)
                continue;
            out += command == "peers" ? m_runner->peers : QByteArray();
            out += command == "rv" ? m_runner->rv : QByteArray();
            out += command == "sysstats" ? m_runner->sysstats : QByteArray();
        }
        if (m_runner->behaviour == NtpqRunner::Session::OnlyVersion)
            out = out.left(out.indexOf('\n') + 1);
        if (m_runner->behaviour == NtpqRunner::Session::Silent)
            out.clear();
        // In two pieces, as a pipe may deliver it.
        QTimer::singleShot(5, this, [this, out] {
            emit output(out.left(out.size() / 2));
            emit output(out.mid(out.size() / 2));
        });
    }

private:
    NtpqRunner* m_runner;
};

ProcessSession* NtpqRunner::startSession(const QString& program, const QStringList& arguments)
{
    if (program != QLatin1String("ntpq"))
        return ProcessRunner::startSession(program, arguments);
    calls << arguments;
    ++sessions;
    session = new FakeNtpq(this);
    return session;
}

QByteArray fixtures(std::initializer_list<const char*> names)
{
    QByteArray text;
    for (const char* name : names)
        text += readFile(ntpqFixturePath(name));
    return text;
}

QByteArray loopLines(double from, int count, double step)
{
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        const double time = from + i * step;
        const qint64 day = qint64(time / 86400);
        text += QByteArray::number(day + 40587) + ' ' +
                QByteArray::number(time - double(day) * 86400, 'f', 3) +
                " 0.00042 -12.3 0.00003 0.01 6\n";
    }
    return text;
}
} // namespace

class TestSyncStatus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_conf.reset(new ConfFile("server 192.0.2.1\n"));
        ProcessRunner::setInstanceForTesting(&m_runner);
    }
    void cleanup() { QCOMPARE(rejectOpenModals(), 0); }
    void cleanupTestCase() { ProcessRunner::setInstanceForTesting(nullptr); }

    void statusBarSummary_data()
    {
        QTest::addColumn<QByteArray>("peers");
        QTest::addColumn<QByteArray>("rv");
        QTest::addColumn<int>("session");
        QTest::addColumn<QString>("summary");
        const int answers = int(NtpqRunner::Session::Answers);
        QTest::newRow("classic synchronised")
            << fixtures({"classic-peers.txt"}) << fixtures({"classic-rv.txt"}) << answers
            << "Synchronised to 192.0.2.1 (stratum 1), offset +0.42 ms";
        QTest::newRow("ntpsec local clock")
            << fixtures({"ntpsec-peers-synchronised.txt"})
            << fixtures({"ntpsec-rv-synchronised.txt"}) << answers
            << "Synchronised to LOCAL(0) (stratum 10), offset +0.00 ms";
        QTest::newRow("ntpsec starting")
            << fixtures({"ntpsec-peers-local.txt"}) << fixtures({"ntpsec-rv-unsynchronised.txt"})
            << answers
            << "Not synchronised yet: Only the local clock answers: no time source is reachable.";
        QTest::newRow("no peers") << fixtures({"ntpsec-no-associations.txt"}) << QByteArray()
                                  << answers
                                  << "Not synchronised yet: The daemon has no time sources: the "
                                     "file names no server, pool or clock it could use.";
        QTest::newRow("step refused")
            << fixtures({"ntpsec-step-refused-peers.txt"})
            << fixtures({"ntpsec-step-refused-rv.txt"}) << answers
            << "Not synchronised yet: The daemon selected 10.99.0.2, but the clock is 3000 ms off "
               "and has not been stepped: the daemon may lack the right to set the clock (see its "
               "log).";
        QTest::newRow("ntpq floods") << QByteArray(300 * 1024, 'x') << QByteArray() << answers
                                     << "Daemon status unknown: ntpq printed more than 256 KiB "
                                        "for one query; asking again in a minute";
        QTest::newRow("no answer") << fixtures({"ntpsec-request-timed-out.txt"}) << QByteArray()
                                   << answers << "Daemon not running";
        QTest::newRow("timed out") << QByteArray() << QByteArray()
                                   << int(NtpqRunner::Session::OnlyVersion) << "Daemon not running";
        QTest::newRow("no ntpq") << QByteArray() << QByteArray()
                                 << int(NtpqRunner::Session::Missing)
                                 << "Daemon status unknown: ntpq is not installed";
    }
    void statusBarSummary()
    {
        QFETCH(QByteArray, peers);
        QFETCH(QByteArray, rv);
        QFETCH(int, session);
        QFETCH(QString, summary);
        m_runner.answer(peers, rv);
        m_runner.behaviour = NtpqRunner::Session(session);
        m_runner.calls.clear();
        FNTP window;
        window.findChild<DaemonStatusPoller*>()->setQueryLimitForTesting(200);
        window.show();
        auto* label = window.statusBar()->findChild<QLabel*>(QStringLiteral("syncStatus"));
        QVERIFY(label);
        QTRY_COMPARE(label->text(), summary);
        QCOMPARE(m_runner.calls.first(), ntpqSessionArguments());
        QVERIFY(!QApplication::activeModalWidget());
    }

    // One ntpq answers query after query; one that has gone or stops
    // answering is started afresh, and one that never prints a thing gives
    // way to a call of its own for each query.
    void sessionRestartsWhenGoneOrMute()
    {
        m_runner.answer(fixtures({"ntpsec-peers-synchronised.txt"}),
                        fixtures({"ntpsec-rv-synchronised.txt"}));
        m_runner.sessions = 0;
        m_runner.calls.clear();
        m_runner.written.clear();
        QWidget window;
        window.show();
        DaemonStatusPoller poller(&window, 3600 * 1000);
        poller.setQueryLimitForTesting(200);
        QList<DaemonSnapshot::State> states;
        connect(&poller, &DaemonStatusPoller::updated, this,
                [&states](const DaemonSnapshot& snapshot) { states << snapshot.state; });
        const auto pollAndWait = [&] {
            const int before = states.size();
            poller.pollNow();
            poller.pollNow(); // one query at a time
            QTRY_COMPARE(states.size(), before + 1);
        };
        const auto Answered = DaemonSnapshot::State::Answered;
        const auto NoAnswer = DaemonSnapshot::State::NoAnswer;

        pollAndWait();
        pollAndWait();
        QCOMPARE(states, QList<DaemonSnapshot::State>({Answered, Answered}));
        QCOMPARE(m_runner.sessions, 1);
        QCOMPARE(m_runner.written, ntpqSessionQuery() + ntpqSessionQuery());
        QCOMPARE(poller.snapshot().system.stratum, 11);
        QCOMPARE(poller.snapshot().peers.rows.size(), 1);

        emit m_runner.session->ended(false); // killed between two queries
        QTRY_VERIFY(!m_runner.session);
        pollAndWait();
        QCOMPARE(m_runner.sessions, 2);
        QCOMPARE(states.last(), Answered);

        m_runner.behaviour = NtpqRunner::Session::OnlyVersion; // the daemon stops answering
        pollAndWait();
        QCOMPARE(states.last(), NoAnswer);
        QTRY_VERIFY(!m_runner.session);
        m_runner.behaviour = NtpqRunner::Session::Answers;
        pollAndWait();
        QCOMPARE(m_runner.sessions, 3);
        QCOMPARE(states.last(), Answered);

        m_runner.behaviour = NtpqRunner::Session::Silent;
        emit m_runner.session->ended(false);
        pollAndWait();
        QCOMPARE(states.last(), NoAnswer);
        QVERIFY(m_runner.calls.last() != ntpqStatusArguments());
        m_runner.next.finished = true;
        m_runner.next.standardOutput = m_runner.peers + m_runner.rv;
        pollAndWait();
        QCOMPARE(m_runner.calls.last(), ntpqStatusArguments());
        QCOMPARE(m_runner.sessions, 4);
        QCOMPARE(states.last(), Answered);
    }

    void sessionOutputSplitsAtVersionLines_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QByteArray>("peers");
        QTest::addColumn<QByteArray>("variables");
        QTest::newRow("both") << QByteArray("v1\nP\nQ\nv1\nassocid=0\nversion=\"v1\"\nv1\n") << true
                              << QByteArray("P\nQ\n") << QByteArray("associd=0\nversion=\"v1\"\n");
        QTest::newRow("nothing between")
            << QByteArray("v1\nv1\nv1\n") << true << QByteArray() << QByteArray();
        QTest::newRow("not on a line of its own")
            << QByteArray("v1\nxv1\nv1x\nv1\nv1") << false << QByteArray() << QByteArray();
        QTest::newRow("last line not ended")
            << QByteArray("v1\nP\nv1\nR\nv1") << false << QByteArray() << QByteArray();
        QTest::newRow("version not ended")
            << QByteArray("ntpsec-1.2") << false << QByteArray() << QByteArray();
    }
    void sessionOutputSplitsAtVersionLines()
    {
        QFETCH(QByteArray, output);
        QFETCH(bool, complete);
        QByteArray peers;
        QByteArray variables;
        QCOMPARE(splitNtpqSession(output, &peers, &variables), complete);
        if (complete) {
            QTEST(peers, "peers");
            QTEST(variables, "variables");
        }
    }

    void statusWindowShowsPeersAndVariables()
    {
        m_runner.answer(fixtures({"classic-peers.txt"}), fixtures({"classic-rv.txt"}));
        FNTP window;
        window.show();
        auto* action = window.findChild<QAction*>(QStringLiteral("aDaemonStatus"));
        QVERIFY(action);
        QCOMPARE(action->text(), QStringLiteral("Daemon status"));
        QVERIFY(window.findChild<QMenu*>(QStringLiteral("menu_Server"))->actions().last() ==
                action);
        QVERIFY(
            window.findChild<QToolBar*>(QStringLiteral("tbServer"))->actions().contains(action));
        action->trigger();
        auto* status = window.findChild<DaemonStatusWindow*>();
        QVERIFY(status && status->isVisible());
        QVERIFY(!QApplication::activeModalWidget());
        auto* peers = status->findChild<QTableWidget*>(QStringLiteral("twPeers"));
        QTRY_COMPARE(peers->rowCount(), 7);
        QCOMPARE(peers->columnCount(), 11);

        // Sorted by offset, the false ticker with 0 lies between the negative and positive ones.
        peers->sortItems(9, Qt::AscendingOrder);
        QCOMPARE(peers->item(0, 1)->text(), QStringLiteral("203.0.113.17"));
        QCOMPARE(peers->item(0, 0)->text(), QStringLiteral("backup"));
        QCOMPARE(peers->item(6, 1)->text(), QStringLiteral("2001:db8::123"));
        QCOMPARE(peers->item(6, 7)->text(), QStringLiteral("7/8"));
        QVERIFY(peers->item(6, 7)->toolTip().endsWith(QLatin1String(": 11111101")));
        peers->sortItems(6, Qt::DescendingOrder); // poll: 1024 before 64
        QCOMPARE(peers->item(0, 6)->text(), QStringLiteral("1024 s"));
        peers->sortItems(5, Qt::DescendingOrder); // when: 21 hours before 3 minutes
        QCOMPARE(peers->item(0, 5)->text(), QStringLiteral("21 h"));
        QCOMPARE(peers->item(1, 5)->text(), QStringLiteral("3 min"));
        QList<QString> states;
        for (int row = 0; row < peers->rowCount(); ++row) {
            states << peers->item(row, 0)->text();
            if (peers->item(row, 0)->text() == QLatin1String("system peer"))
                QVERIFY(peers->item(row, 1)->font().bold());
        }
        QVERIFY(states.contains(QStringLiteral("false ticker")));
        QVERIFY(states.contains(QStringLiteral("unreachable")));
        QCOMPARE(status->findChild<QLabel*>(QStringLiteral("lVar_stratum"))->text(),
                 QStringLiteral("2"));
        QCOMPARE(status->findChild<QLabel*>(QStringLiteral("lVar_leap"))->text(),
                 QStringLiteral("none"));
        QCOMPARE(status->findChild<QLabel*>(QStringLiteral("lVar_offset"))->text(),
                 QStringLiteral("0.421553 ms"));

        // The daemon goes away: the table empties and the window says so.
        m_runner.behaviour = NtpqRunner::Session::OnlyVersion;
        window.findChild<DaemonStatusPoller*>()->setQueryLimitForTesting(200);
        QTest::mouseClick(status->findChild<QPushButton*>(QStringLiteral("bRefresh")),
                          Qt::LeftButton);
        QTRY_COMPARE(peers->rowCount(), 0);
        QVERIFY(status->findChild<QLabel*>(QStringLiteral("lState"))
                    ->text()
                    .startsWith(QLatin1String("The daemon does not answer")));
        QVERIFY(!QApplication::activeModalWidget());
    }

    // At the size it opens with, the numbers of every row are in view, also
    // beside a long host name.
    void statusWindowColumnsFitItsFirstSize()
    {
        const QByteArray wide = fixtures({"ntpsec-peers-wide-names.txt"});
        // The classic peers and the long name below them.
        m_runner.answer(fixtures({"classic-peers.txt"}) + wide.mid(wide.indexOf(" ipv6-")),
                        fixtures({"classic-rv.txt"}));
        FNTP window;
        window.show();
        window.findChild<QAction*>(QStringLiteral("aDaemonStatus"))->trigger();
        auto* status = window.findChild<DaemonStatusWindow*>();
        QVERIFY(QTest::qWaitForWindowExposed(status));
        QCOMPARE(status->size(), DaemonStatusWindow::firstSize());
        const QSize screen = QGuiApplication::primaryScreen()->availableSize();
        QVERIFY(status->width() <= screen.width() && status->height() <= screen.height());
        // The test's screen is smaller than a desktop's: the columns must
        // fit the size the window takes where the screen allows it.
        status->resize(DaemonStatusWindow::wantedFirstSize());
        auto* table = status->findChild<QTableWidget*>(QStringLiteral("twPeers"));
        QTRY_COMPARE(table->rowCount(), 9);
        QApplication::processEvents();
        const int viewWidth = table->viewport()->width();
        for (int column = 0; column < table->columnCount(); ++column) {
            const int right = table->horizontalHeader()->sectionViewportPosition(column) +
                              table->horizontalHeader()->sectionSize(column);
            QVERIFY2(right <= viewWidth, qPrintable(QStringLiteral("column %1 ends at %2 of %3")
                                                        .arg(column)
                                                        .arg(right)
                                                        .arg(viewWidth)));
        }
        QVERIFY(table->rowViewportPosition(8) + table->rowHeight(8) <= table->viewport()->height());
        auto* period = status->findChild<QComboBox*>(QStringLiteral("cbPeriod"));
        QStringList ranges;
        for (int i = 0; i < period->count(); ++i)
            ranges << period->itemText(i);
        QCOMPARE(ranges, QStringList({"Last 10 minutes", "Last hour", "Last day", "Last week"}));
        QCOMPARE(period->currentText(), QStringLiteral("Last hour"));
        QCOMPARE(period->itemData(0).toInt(), 600);
        QCOMPARE(status->findChild<QLabel*>(QStringLiteral("lVar_stratum"))->text(),
                 QStringLiteral("2"));
    }

    // The light beside the summary: green, amber, red.
    void stateLightFollowsTheAnswers()
    {
        m_runner.answer(fixtures({"classic-peers.txt"}), fixtures({"classic-rv.txt"}));
        FNTP window;
        window.show();
        auto* light = window.statusBar()->findChild<QLabel*>(QStringLiteral("syncLight"));
        QVERIFY(light);
        const auto colour = [light] {
            const QImage image = light->pixmap(Qt::ReturnByValue).toImage();
            return image.pixelColor(image.width() / 2, image.height() / 2);
        };
        QTRY_COMPARE(light->toolTip(), QStringLiteral("Synchronised"));
        QVERIFY(colour().green() > colour().red());
        m_runner.answer(fixtures({"ntpsec-unreachable-peers.txt"}),
                        fixtures({"ntpsec-unreachable-rv.txt"}));
        window.findChild<DaemonStatusPoller*>()->pollNow();
        QTRY_VERIFY(light->toolTip().startsWith(QLatin1String("Not synchronised")));
        QVERIFY(light->toolTip().contains(QLatin1String("No time source is reachable")));
        QVERIFY(colour().red() > colour().blue());
        QVERIFY(colour().green() > colour().blue());
        m_runner.behaviour = NtpqRunner::Session::OnlyVersion;
        window.findChild<DaemonStatusPoller*>()->setQueryLimitForTesting(200);
        window.findChild<DaemonStatusPoller*>()->pollNow();
        QTRY_COMPARE(light->toolTip(), QStringLiteral("Daemon not running"));
        QVERIFY(colour().red() > 2 * colour().green());
    }

    // A daemon whose process runs but which keeps ntpq out (noquery, or
    // listening on another loopback address) is not called stopped.
    void runningDaemonThatDoesNotAnswer()
    {
        FakeSystem machine;
        machine.ntpsecWithDhcp();
        setCurrentDaemon(detectDaemonSetup());
        QVERIFY(currentDaemon().running);
        m_runner.behaviour = NtpqRunner::Session::OnlyVersion;
        FNTP window;
        window.show();
        window.findChild<DaemonStatusPoller*>()->setQueryLimitForTesting(200);
        window.findChild<DaemonStatusPoller*>()->pollNow();
        auto* sync = window.statusBar()->findChild<QLabel*>(QStringLiteral("syncStatus"));
        auto* light = window.statusBar()->findChild<QLabel*>(QStringLiteral("syncLight"));
        QTRY_COMPARE(sync->text(), QStringLiteral("Daemon does not answer queries"));
        QVERIFY(light->toolTip().contains(QLatin1String("noquery")));
        setCurrentDaemon(DaemonSetup());
    }

    // An ntpq that prints without end ends its query and its session, and
    // none is started until the pause is over.
    void floodEndsThePollAndPauses()
    {
        m_runner.answer(QByteArray(100 * 1024, 'x'), QByteArray(100 * 1024, 'y'));
        m_runner.sessions = 0;
        QWidget window;
        window.show();
        DaemonStatusPoller poller(&window, 3600 * 1000);
        poller.setOutputLimitForTesting(64 * 1024);
        poller.setFloodPauseForTesting(400);
        QList<DaemonSnapshot::State> states;
        connect(&poller, &DaemonStatusPoller::updated, this,
                [&states](const DaemonSnapshot& snapshot) { states << snapshot.state; });
        poller.pollNow();
        QTRY_COMPARE(states.size(), 1);
        QCOMPARE(states.last(), DaemonSnapshot::State::Flooded);
        QTRY_VERIFY(!m_runner.session);
        poller.pollNow(); // within the pause: nothing starts
        QTest::qWait(100);
        QCOMPARE(m_runner.sessions, 1);
        QCOMPARE(states.size(), 1);
        m_runner.answer(fixtures({"classic-peers.txt"}), fixtures({"classic-rv.txt"}));
        QTest::qWait(400);
        poller.pollNow();
        QTRY_COMPARE(states.size(), 2);
        QCOMPARE(states.last(), DaemonSnapshot::State::Answered);
        QCOMPARE(m_runner.sessions, 2);
    }

    // After a write the status bar reminds that the running daemon still has
    // the old file, until it has been started after the write.
    void reminderUntilTheDaemonRestarts()
    {
        m_runner.answer(fixtures({"classic-peers.txt"}), fixtures({"classic-rv.txt"}));
        m_runner.sysstats = "uptime:   01:00:00\n";
        FNTP window;
        window.show();
        auto* poller = window.findChild<DaemonStatusPoller*>();
        poller->pollNow();
        QTRY_COMPARE(poller->snapshot().uptimeSeconds, qint64(3600));
        auto* reminder = window.statusBar()->findChild<QLabel*>(QStringLiteral("configReminder"));
        QVERIFY(reminder);
        QVERIFY(!reminder->isVisibleTo(&window));
        emit ConfigDocument::instance().saved();
        QCOMPARE(reminder->text(),
                 QStringLiteral("The daemon still runs the previous configuration: Reload config"));
        QVERIFY(reminder->isVisibleTo(&window));
        poller->pollNow(); // still up for an hour: the old file
        QTest::qWait(100);
        QVERIFY(reminder->isVisibleTo(&window));
        m_runner.sysstats = "uptime:   00:00:00\n"; // restarted
        poller->pollNow();
        QTRY_VERIFY(!reminder->isVisibleTo(&window));
        m_runner.sysstats.clear();
    }

    // A daemon whose uptime ntpq does not tell: a reload since the write
    // ends the reminder; a stop then a write shows none.
    void reminderEndsWithAReload()
    {
        QTemporaryDir dir;
        const QString script = dir.filePath(QStringLiteral("ntp"));
        QVERIFY(writeFile(script, "#!/bin/sh\nexit 0\n"));
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setInitScriptPathForTesting(script);
        m_runner.answer(fixtures({"classic-peers.txt"}), fixtures({"classic-rv.txt"}));
        m_runner.sysstats.clear();
        FNTP window;
        window.show();
        auto* poller = window.findChild<DaemonStatusPoller*>();
        poller->pollNow();
        QTRY_COMPARE(poller->snapshot().state, DaemonSnapshot::State::Answered);
        QCOMPARE(poller->snapshot().uptimeSeconds, qint64(-1));
        auto* reminder = window.statusBar()->findChild<QLabel*>(QStringLiteral("configReminder"));
        emit ConfigDocument::instance().saved();
        QVERIFY(reminder->isVisibleTo(&window));
        poller->pollNow();
        QTest::qWait(100);
        QVERIFY(reminder->isVisibleTo(&window));
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        window.findChild<QAction*>(QStringLiteral("aReload"))->trigger();
        QTRY_VERIFY(!reminder->isVisibleTo(&window));
        QVERIFY(seen.shown);

        // Written while the daemon does not run: it reads the new file when
        // it starts.
        m_runner.behaviour = NtpqRunner::Session::OnlyVersion;
        poller->setQueryLimitForTesting(200);
        poller->pollNow();
        QTRY_COMPARE(poller->snapshot().state, DaemonSnapshot::State::NoAnswer);
        emit ConfigDocument::instance().saved();
        QVERIFY(!reminder->isVisibleTo(&window));
        setInitScriptPathForTesting(QString());
    }

    // The file's "tos minsane" is read and the window says why one usable
    // source is not enough; a source without NTS keys says so.
    void statusWindowSaysWhy()
    {
        m_conf->write("server 127.127.1.0\ntos minclock 4 minsane 3\n");
        m_runner.answer(fixtures({"ntpsec-minsane-peers.txt"}),
                        fixtures({"ntpsec-minsane-rv.txt"}));
        m_runner.sysstats = "uptime:   00:10:00\n";
        FNTP window;
        window.show();
        QTRY_COMPARE(configuredMinsane(), 3);
        window.findChild<QAction*>(QStringLiteral("aDaemonStatus"))->trigger();
        auto* status = window.findChild<DaemonStatusWindow*>();
        auto* state = status->findChild<QLabel*>(QStringLiteral("lState"));
        QTRY_VERIFY2(state->text().contains(QLatin1String("1 usable source(s), but \"tos "
                                                          "minsane 3\" needs 3")),
                     qPrintable(state->text()));
        auto* summary = window.statusBar()->findChild<QLabel*>(QStringLiteral("syncStatus"));
        QVERIFY(summary->text().startsWith(QLatin1String("Not synchronised yet: 1 usable")));
        QVERIFY(state->text().contains(QLatin1String("The daemon has run for 10 min.")));

        m_runner.answer(fixtures({"ntpsec-nts-failed-peers.txt"}),
                        fixtures({"ntpsec-unreachable-rv.txt"}));
        window.findChild<DaemonStatusPoller*>()->pollNow();
        auto* peers = status->findChild<QTableWidget*>(QStringLiteral("twPeers"));
        QTRY_COMPARE(peers->item(0, 1)->text(), QStringLiteral("localhost"));
        QCOMPARE(peers->item(0, 0)->text(), QStringLiteral("NTS key exchange not done"));
        m_runner.sysstats.clear();
        m_conf->write("server 192.0.2.1\n");
        setConfiguredMinsaneForTesting(1);
    }

    void ntsInUseOrNot()
    {
        DaemonSnapshot snapshot;
        QCOMPARE(ntsWords(snapshot), QString());
        ServerEntry server;
        server.address = QStringLiteral("nts.example");
        server.setNts(true);
        ntpSettings.servers = {server};
        QVERIFY(ntsWords(snapshot).contains(QLatin1String("does not report")));
        snapshot.nts = parseNtsInfo(
            QString::fromUtf8(readFile(ntpqFixturePath("ntpsec-nts-failed-ntsinfo.txt"))));
        QCOMPARE(ntsWords(snapshot),
                 QStringLiteral("\nNTS not in use: 1 key exchanges failed; the servers marked NTS "
                                "give no time."));
        snapshot.nts.clientGood = 12;
        QCOMPARE(ntsWords(snapshot), QStringLiteral("\nNTS in use: 12 authenticated answers."));
        ntpSettings.servers.clear();
    }

    // Offset and jitter each on an axis of their own with round ticks, every
    // series in a colour of its own and named in the legend.
    void plotReadsAtAGlance()
    {
        const double now = double(QDateTime::currentSecsSinceEpoch());
        PlotData plot;
        for (int i = 0; i < 30; ++i) {
            LoopSample loop;
            loop.time = now - 600 + i * 20;
            loop.offset = -0.00071 + i * 0.00000055;
            loop.jitter = 0.00002 + i * 0.000001;
            plot.loop.loop << loop;
            for (const char* peer : {"192.0.2.1", "192.0.2.2", "192.0.2.3"}) {
                PeerSample sample;
                sample.time = loop.time;
                sample.peer = QString::fromLatin1(peer);
                sample.offset = 0.0009 - i * 0.00001;
                plot.peers.peers << sample;
            }
        }
        std::unique_ptr<QChart> chart(offsetChart(plot, 600));
        const QList<QAbstractSeries*> series = chart->series();
        QCOMPARE(series.size(), 5);
        QSet<QRgb> colours;
        QStringList names;
        for (QAbstractSeries* line : series) {
            colours.insert(qobject_cast<QLineSeries*>(line)->color().rgb());
            names << line->name();
        }
        QCOMPARE(colours.size(), 5);
        QCOMPARE(names, QStringList({"Offset", "Jitter", "Offset of 192.0.2.1",
                                     "Offset of 192.0.2.2", "Offset of 192.0.2.3"}));
        QVERIFY(chart->legend()->isVisible());
        auto* offsetAxis =
            qobject_cast<QValueAxis*>(chart->axes(Qt::Vertical, series.at(0)).value(0));
        auto* jitterAxis =
            qobject_cast<QValueAxis*>(chart->axes(Qt::Vertical, series.at(1)).value(0));
        QVERIFY(offsetAxis && jitterAxis && offsetAxis != jitterAxis);
        QCOMPARE(offsetAxis->titleText(), QStringLiteral("Offset (ms)"));
        QCOMPARE(jitterAxis->titleText(), QStringLiteral("Jitter (ms)"));
        QCOMPARE(chart->axes(Qt::Vertical, series.at(4)).value(0), offsetAxis);
        QCOMPARE(jitterAxis->min(), 0.0);
        for (QValueAxis* axis : {offsetAxis, jitterAxis}) {
            // Ticks fall on round numbers: 1, 2 or 5 times a power of ten.
            const double step = (axis->max() - axis->min()) / (axis->tickCount() - 1);
            const double scale = std::pow(10.0, std::floor(std::log10(step)));
            const double mantissa = step / scale;
            QVERIFY2(qFuzzyCompare(mantissa, 1.0) || qFuzzyCompare(mantissa, 2.0) ||
                         qFuzzyCompare(mantissa, 5.0) || qFuzzyCompare(mantissa, 10.0) ||
                         qFuzzyCompare(mantissa, 2.5),
                     qPrintable(QString::number(step)));
            QVERIFY(qFuzzyCompare(std::round(axis->min() / step) * step + 1, axis->min() + 1));
        }
    }

    void plotFromStatistics_data()
    {
        QTest::addColumn<QByteArray>("loopstats"); // null: no file
        QTest::addColumn<bool>("directory");
        QTest::addColumn<QString>("title"); // empty: a plot with series
        const double now = double(QDateTime::currentSecsSinceEpoch());
        QTest::newRow("last hour") << loopLines(now - 1800, 20, 60) << true << QString();
        QTest::newRow("no directory") << QByteArray() << false << "does not exist";
        QTest::newRow("no file") << QByteArray() << true << "No readable loopstats";
        QTest::newRow("empty") << QByteArray("") << true << "no entries for this period";
        QTest::newRow("malformed")
            << QByteArray("garbage\n\x01\x02 x y\n") << true << "no line that could be read";
        QTest::newRow("only old lines")
            << loopLines(now - 3 * 86400, 5, 60) << true << "no entries for this period";
    }
    void plotFromStatistics()
    {
        QFETCH(QByteArray, loopstats);
        QFETCH(bool, directory);
        QFETCH(QString, title);
        QTemporaryDir stats;
        const QString dir = directory ? stats.path() : stats.filePath(QStringLiteral("missing"));
        if (!loopstats.isNull())
            QVERIFY(writeFile(stats.filePath(QStringLiteral("loopstats")), loopstats));
        m_runner.behaviour = NtpqRunner::Session::OnlyVersion;
        FNTP window;
        ntpSettings.statsDir = dir;
        ntpSettings.fileGens.clear();
        window.show();
        window.findChild<QAction*>(QStringLiteral("aDaemonStatus"))->trigger();
        auto* view = window.findChild<QChartView*>(QStringLiteral("chartView"));
        QVERIFY(view);
        if (title.isEmpty()) {
            QTRY_COMPARE(view->chart()->series().size(), 2);
            const auto* offset = qobject_cast<QLineSeries*>(view->chart()->series().first());
            QCOMPARE(offset->count(), 20);
            QCOMPARE(offset->at(0).y(), 0.42);
        } else {
            QTRY_VERIFY2(view->chart()->title().contains(title),
                         qPrintable(view->chart()->title()));
            QVERIFY(view->chart()->series().isEmpty());
        }
        QVERIFY(!QApplication::activeModalWidget());
        ntpSettings.statsDir.clear();
    }

private:
    NtpqRunner m_runner;
    std::unique_ptr<ConfFile> m_conf;
};

QTEST_MAIN(TestSyncStatus)
#include "tst_syncstatus.moc"
