// The configuration check against the real NTP daemon (NTPsec): no file of
// the public corpus that the daemon accepts gets an error from the check.
//
// The daemon is run by ntpd-accepts.sh (sandboxed, without network) in the
// directory named by NTPSM_DAEMON_TOOLS; without it the test is skipped.
#include <QDir>
#include <QProcess>
#include <QTest>

#include "config/configcheck.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;

class TestCheckDaemon : public QObject
{
    Q_OBJECT

private slots:
    void acceptedFilesHaveNoErrors()
    {
        const QString tools = qEnvironmentVariable("NTPSM_DAEMON_TOOLS");
        if (tools.isEmpty())
            QSKIP("NTPSM_DAEMON_TOOLS names no folder of daemon check scripts");
        const QDir corpus(qEnvironmentVariable("NTPSM_SOURCE_DIR") +
                          QStringLiteral("/../shared/corpus/ntpconf"));
        DaemonSetup ntpsec;
        ntpsec.flavour = DaemonFlavour::Ntpsec;
        int accepted = 0;
        for (const QString& name : corpus.entryList({QStringLiteral("*.conf*")}, QDir::Files)) {
            QProcess daemon;
            daemon.setProcessChannelMode(QProcess::MergedChannels);
            daemon.start(tools + QStringLiteral("/ntpd-accepts.sh"), {corpus.filePath(name)});
            QVERIFY(daemon.waitForFinished(60000));
            QVERIFY2(daemon.exitCode() <= 1, daemon.readAll().constData());
            if (daemon.exitCode() != 0)
                continue;
            ++accepted;
            const QVector<CheckFinding> findings =
                checkConfiguration(readFile(corpus.filePath(name)), ntpsec);
            QVERIFY2(!hasErrors(findings),
                     qPrintable(name + QLatin1Char('\n') + findingsText(findings)));
        }
        QVERIFY(accepted > 0);
    }
};

QTEST_MAIN(TestCheckDaemon)
#include "tst_checkdaemon.moc"
