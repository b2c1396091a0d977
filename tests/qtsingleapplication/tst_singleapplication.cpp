// One instance per user and program, checked with real processes.
#include <QProcess>
#include <QTest>

#include <signal.h>

namespace
{
QString probePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/singleapp_probe");
}

bool waitForLine(QProcess& process, const QByteArray& line, int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    QByteArray seen;
    while (clock.elapsed() < timeoutMs) {
        if (process.canReadLine() || process.waitForReadyRead(100)) {
            while (process.canReadLine()) {
                seen = process.readLine().trimmed();
                if (seen == line)
                    return true;
            }
        }
        if (process.state() == QProcess::NotRunning)
            return false;
    }
    return false;
}

void setKey(QProcess* process, const QString& key)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NTPSM_PROBE_KEY"), key);
    process->setProcessEnvironment(environment);
}

int runSecond(const QString& message, const QString& key = QString())
{
    QProcess second;
    setKey(&second, key);
    second.start(probePath(), {message});
    if (!second.waitForFinished(15000))
        return -100;
    return second.exitCode();
}
} // namespace

class TestSingleApplication : public QObject
{
    Q_OBJECT

private slots:
    void secondInstanceHandsOver()
    {
        QProcess first;
        first.setProcessChannelMode(QProcess::SeparateChannels);
        first.start(probePath(), QStringList());
        QVERIFY(waitForLine(first, "ready"));
        QCOMPARE(runSecond(QStringLiteral("raise")), 1);
        QVERIFY(waitForLine(first, "received:raise"));
        first.terminate();
        QVERIFY(first.waitForFinished(5000));
        // After a clean end the next start is a first instance again.
        QProcess next;
        next.start(probePath(), QStringList());
        QVERIFY(waitForLine(next, "ready"));
        next.kill();
        next.waitForFinished(5000);
    }

    void killedInstanceLeavesNothingBehind()
    {
        QProcess first;
        first.start(probePath(), QStringList());
        QVERIFY(waitForLine(first, "ready"));
        ::kill(pid_t(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished(5000));

        QProcess after;
        after.start(probePath(), QStringList());
        QVERIFY2(waitForLine(after, "ready"), "stale lock or socket blocked the next start");
        QCOMPARE(runSecond(QStringLiteral("hello")), 1);
        QVERIFY(waitForLine(after, "received:hello"));
        after.kill();
        after.waitForFinished(5000);
    }

    // One instance per host: the same host hands over, another runs beside.
    void instancePerKey()
    {
        QProcess timeserver;
        setKey(&timeserver, QStringLiteral("timeserver.lan"));
        timeserver.start(probePath(), QStringList());
        QVERIFY(waitForLine(timeserver, "ready"));
        QProcess other;
        setKey(&other, QStringLiteral("root@192.0.2.1"));
        other.start(probePath(), QStringList());
        QVERIFY2(waitForLine(other, "ready"), "another host was taken for the same one");
        QCOMPARE(runSecond(QStringLiteral("raise"), QStringLiteral("timeserver.lan")), 1);
        QVERIFY(waitForLine(timeserver, "received:raise"));
        // This machine's instance is a third one.
        QProcess local;
        local.start(probePath(), QStringList());
        QVERIFY(waitForLine(local, "ready"));
        for (QProcess* process : {&timeserver, &other, &local}) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
};

QTEST_GUILESS_MAIN(TestSingleApplication)
#include "tst_singleapplication.moc"
