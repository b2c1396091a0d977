// The synchronisation summary in the status bar and the "Daemon status"
// window, with ntpq answered from output captured from the daemons.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>

#include "daemonstatuswindow.h"
#include "fntp.h"
#include "ntpsettings.h"
#include "processrunner.h"
#include "testhelpers.h"

using namespace TestHelpers;
using namespace QtCharts;

namespace
{
// Answers ntpq with whatever the test put in `next`.
class NtpqRunner : public ProcessRunner
{
public:
    ProcessResult next;
    QList<QStringList> calls;
    ProcessJob* start(const QString& program, const QStringList& arguments,
                      const ProcessOptions& options) override
    {
        if (program != QLatin1String("ntpq"))
            return ProcessRunner::start(program, arguments, options);
        calls << arguments;
        return ProcessJob::finishedWith(next, 5);
    }
    void answer(const QByteArray& output)
    {
        next = ProcessResult();
        next.finished = true;
        next.standardOutput = output;
    }
    void fail(QProcess::ProcessError error)
    {
        next = ProcessResult();
        next.error = error;
    }
};

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
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("error"); // -1: ntpq ran
        QTest::addColumn<QString>("summary");
        QTest::newRow("classic synchronised")
            << fixtures({"classic-peers.txt", "classic-rv.txt"}) << -1
            << "Synchronised to 192.0.2.1 (stratum 1), offset +0.42 ms";
        QTest::newRow("ntpsec local clock")
            << fixtures({"ntpsec-peers-synchronised.txt", "ntpsec-rv-synchronised.txt"}) << -1
            << "Synchronised to LOCAL(0) (stratum 10), offset +0.00 ms";
        QTest::newRow("ntpsec starting")
            << fixtures({"ntpsec-peers-local.txt", "ntpsec-rv-unsynchronised.txt"}) << -1
            << "Not synchronised yet";
        QTest::newRow("no peers") << fixtures({"ntpsec-no-associations.txt"}) << -1
                                  << "Not synchronised yet";
        QTest::newRow("no answer")
            << fixtures({"ntpsec-request-timed-out.txt"}) << -1 << "Daemon not running";
        QTest::newRow("timed out")
            << QByteArray() << int(QProcess::Timedout) << "Daemon not running";
        QTest::newRow("no ntpq") << QByteArray() << int(QProcess::FailedToStart)
                                 << "Daemon status unknown: ntpq is not installed";
    }
    void statusBarSummary()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, error);
        QFETCH(QString, summary);
        error < 0 ? m_runner.answer(output) : m_runner.fail(QProcess::ProcessError(error));
        m_runner.calls.clear();
        FNTP window;
        window.show();
        auto* label = window.statusBar()->findChild<QLabel*>(QStringLiteral("syncStatus"));
        QVERIFY(label);
        QTRY_COMPARE(label->text(), summary);
        QCOMPARE(m_runner.calls.first(), ntpqStatusArguments());
        QVERIFY(!QApplication::activeModalWidget());
    }

    void statusWindowShowsPeersAndVariables()
    {
        m_runner.answer(fixtures({"classic-peers.txt", "classic-rv.txt"}));
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
        QCOMPARE(peers->item(6, 7)->text(), QStringLiteral("11111101"));
        peers->sortItems(6, Qt::DescendingOrder); // poll: 1024 before 64
        QCOMPARE(peers->item(0, 6)->text(), QStringLiteral("1024"));
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
        m_runner.fail(QProcess::Timedout);
        QTest::mouseClick(status->findChild<QPushButton*>(QStringLiteral("bRefresh")),
                          Qt::LeftButton);
        QTRY_COMPARE(peers->rowCount(), 0);
        QVERIFY(status->findChild<QLabel*>(QStringLiteral("lState"))
                    ->text()
                    .startsWith(QLatin1String("The daemon does not answer")));
        QVERIFY(!QApplication::activeModalWidget());
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
        m_runner.fail(QProcess::Timedout);
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
