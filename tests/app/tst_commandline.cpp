// The command line: --help and --version answer from the built program
// without a display and without root; --config names the file to edit.
#include <QDir>
#include <QProcess>
#include <QTest>

#include <unistd.h>

#include "app/commandline.h"
#include "config/version.h"

namespace
{
struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The built program as a child process with no display, as nobody when the
// test runs as root.
Run runProgram(const QStringList& arguments, bool offscreen = false)
{
    const QString program = qEnvironmentVariable("NTPSM_PROGRAM");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY"})
        env.remove(QString::fromLatin1(name));
    if (offscreen)
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess process;
    process.setProcessEnvironment(env);
    if (getuid() == 0)
        process.start(QStringLiteral("setpriv"),
                      QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} +
                          arguments);
    else
        process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(30000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}
} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("NTPSM_PROGRAM"))
            QSKIP("NTPSM_PROGRAM (the built program) is set by CTest");
    }

    void answersWithoutDisplayOrRoot_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("expected"); // what the output starts with
        const QByteArray version = "ntp-service-manager " NTPSM_VERSION "\n";
        QTest::newRow("--version") << QStringList{"--version"} << version;
        QTest::newRow("-v") << QStringList{"-v"} << version;
        QTest::newRow("--help") << QStringList{"--help"}
                                << QByteArray("Usage: ntp-service-manager [options]\n");
        QTest::newRow("-h with --config") << QStringList{"--config", "/x.conf", "-h"}
                                          << QByteArray("Usage: ntp-service-manager [options]\n");
    }
    void answersWithoutDisplayOrRoot()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, expected);
        const Run run = runProgram(arguments);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith(expected), run.out.constData());
        QCOMPARE(run.err, QByteArray());
        if (expected.startsWith("Usage"))
            QVERIFY(run.out.contains("--config <file>"));
    }

    // A wrong option is refused before any window (or root check).
    void refusesUnknownOptions()
    {
        const Run run = runProgram({QStringLiteral("--bogus")}, true);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains("Unknown option 'bogus'"), run.err.constData());
        QCOMPARE(run.out, QByteArray());
    }

    void parsing()
    {
        const QString program = QStringLiteral("/usr/sbin/ntp-service-manager");
        CommandLine line = parseCommandLine({program, "--config", "/srv/ntp.conf"}, true);
        QCOMPARE(line.outcome, CommandLine::Run);
        QCOMPARE(line.configFile, QStringLiteral("/srv/ntp.conf"));
        QCOMPARE(parseCommandLine({program, "--config=/a.conf"}, true).configFile,
                 QStringLiteral("/a.conf"));
        QCOMPARE(parseCommandLine({program, "--config", "rel/ntp.conf"}, true).configFile,
                 QDir::current().absoluteFilePath(QStringLiteral("rel/ntp.conf")));
        // Qt's own options are left to the application object at first ...
        line = parseCommandLine({program, "-stylesheet", "x.qss", "-reverse"}, false);
        QCOMPARE(line.outcome, CommandLine::Run);
        // ... and what is left after it is checked.
        QCOMPARE(parseCommandLine({program, "stray"}, true).outcome, CommandLine::Error);
        QCOMPARE(parseCommandLine({program, "--config"}, true).outcome, CommandLine::Error);
    }

    void hostOption()
    {
        const QString program = QStringLiteral("/usr/sbin/ntp-service-manager");
        CommandLine line = parseCommandLine({program, "--host", "admin@timeserver.lan"}, true);
        QCOMPARE(line.outcome, CommandLine::Run);
        QCOMPARE(line.host, QStringLiteral("admin@timeserver.lan"));
        QVERIFY(parseCommandLine({program}, true).host.isEmpty());
        // The file is the server's: a name relative to this machine's folder means nothing there.
        line = parseCommandLine({program, "--host", "ts", "--config", "/etc/ntp.conf"}, true);
        QCOMPARE(line.configFile, QStringLiteral("/etc/ntp.conf"));
        line = parseCommandLine({program, "--host", "ts", "--config", "ntp.conf"}, true);
        QCOMPARE(line.outcome, CommandLine::Error);
        QVERIFY(line.output.contains(QLatin1String("absolute path")));
        // Never an option for ssh in disguise, nor a second word.
        for (const char* bad : {"--host=-oProxyCommand=x", "--host= ", "--host=a b"}) {
            line = parseCommandLine({program, QLatin1String(bad)}, true);
            QCOMPARE(line.outcome, CommandLine::Error);
            QVERIFY2(line.output.contains(QLatin1String("--host: ")), qPrintable(line.output));
        }
    }

    void helpNamesTheHostOption()
    {
        const Run run = runProgram({QStringLiteral("--help")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains("--host <[user@]host>"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
