// The daemon status code against the real NTPsec daemon. The test process
// moves into a network namespace of its own (loopback only) and starts ntpd
// there with a local clock, statistics in a temporary folder and without the
// right to set the clock; the daemon is stopped at the end. Needs root;
// skipped otherwise or when ntpd, unshare, ip or setpriv is missing.
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <sched.h>
#include <unistd.h>

#include "app/fntp.h"
#include "app/status/daemonstatuswindow.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;
using namespace QtCharts;

class TestStatusDaemon : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (::getuid() != 0)
            QSKIP("needs root for a private network namespace");
        for (const char* tool : {"ntpd", "ntpq", "unshare", "ip", "setpriv"}) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty() &&
                QStandardPaths::findExecutable(
                    QLatin1String(tool), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
                    .isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
        }
        QStandardPaths::setTestModeEnabled(true);
        // From here on this process and its children see only a loopback
        // interface: no packet can leave the machine.
        QVERIFY2(::unshare(CLONE_NEWNET) == 0, "unshare(CLONE_NEWNET) failed");
        QCOMPARE(
            QProcess::execute(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("set"),
                                                     QStringLiteral("lo"), QStringLiteral("up")}),
            0);
        QVERIFY(m_dir.isValid());
        m_stats = m_dir.filePath(QStringLiteral("stats"));
        QVERIFY(QDir().mkpath(m_stats));
        const QString conf = m_dir.filePath(QStringLiteral("ntp.conf"));
        QVERIFY(writeFile(conf, "server 127.127.1.0 minpoll 3 maxpoll 3 prefer\n"
                                "fudge 127.127.1.0 stratum 10\n"
                                "tos mindist 0.01 minsane 1\n"
                                "restrict default\nrestrict 127.0.0.1\nrestrict ::1\n"
                                "statsdir " +
                                    m_stats.toUtf8() +
                                    "/\n"
                                    "statistics loopstats peerstats\n"
                                    "filegen loopstats file loopstats type day enable\n"
                                    "filegen peerstats file peerstats type day enable\n"));
        // The program finds the statistics where its configuration says.
        m_conf.reset(new ConfFile("server 127.127.1.0\nstatsdir " + m_stats.toUtf8() + "/\n"));
        m_daemon.setProcessChannelMode(QProcess::MergedChannels);
        m_daemon.start(QStringLiteral("setpriv"),
                       {QStringLiteral("--bounding-set=-sys_time"),
                        QStringLiteral("--inh-caps=-sys_time"), QStringLiteral("ntpd"),
                        QStringLiteral("-n"), QStringLiteral("-c"), conf});
        QVERIFY(m_daemon.waitForStarted());
    }

    void cleanupTestCase()
    {
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            if (!m_daemon.waitForFinished(5000))
                m_daemon.kill();
            m_daemon.waitForFinished(2000);
        }
    }

    void peersVariablesAndPlot()
    {
        FNTP window;
        window.show();
        window.findChild<QAction*>(QStringLiteral("aDaemonStatus"))->trigger();
        auto* status = window.findChild<DaemonStatusWindow*>();
        auto* peers = status->findChild<QTableWidget*>(QStringLiteral("twPeers"));
        QTRY_VERIFY_WITH_TIMEOUT(peers->rowCount() == 1, 30000);
        QCOMPARE(peers->item(0, 1)->text(), QStringLiteral("LOCAL(0)"));
        QCOMPARE(peers->item(0, 2)->text(), QStringLiteral(".LOCL."));
        QCOMPARE(peers->item(0, 3)->text(), QStringLiteral("10"));
        QVERIFY(status->findChild<QLabel*>(QStringLiteral("lVar_version"))
                    ->text()
                    .contains(QLatin1String("ntpsec")));

        auto* summary = window.statusBar()->findChild<QLabel*>(QStringLiteral("syncStatus"));
        QTRY_COMPARE_WITH_TIMEOUT(summary->text(),
                                  QStringLiteral("Synchronised to LOCAL(0) (stratum 10), offset "
                                                 "+0.00 ms"),
                                  120000);
        QCOMPARE(peers->item(0, 0)->text(), QStringLiteral("system peer"));
        QCOMPARE(status->findChild<QLabel*>(QStringLiteral("lVar_stratum"))->text(),
                 QStringLiteral("11"));

        const QString loopstats = m_stats + QStringLiteral("/loopstats");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(loopstats).size() > 0, 120000);
        status->refresh();
        auto* view = status->findChild<QChartView*>(QStringLiteral("chartView"));
        QTRY_VERIFY2_WITH_TIMEOUT(!view->chart()->series().isEmpty(),
                                  qPrintable(view->chart()->title()), 10000);
        QVERIFY(qobject_cast<QLineSeries*>(view->chart()->series().first())->count() >= 1);
        QVERIFY2(m_daemon.state() == QProcess::Running, m_daemon.readAll().constData());
    }

private:
    QTemporaryDir m_dir;
    QString m_stats;
    QProcess m_daemon;
    std::unique_ptr<ConfFile> m_conf;
};

QTEST_MAIN(TestStatusDaemon)
#include "tst_statusdaemon.moc"
