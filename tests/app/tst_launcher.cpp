// The launcher that starts the program as root on the caller's display: what
// it decides in Wayland and X11 sessions, run with stand-ins for id, xhost,
// pkexec and sudo that log how they were called.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "tests/common/testhelpers.h"

#if !defined(NTPSM_LAUNCHER_FILE) || !defined(NTPSM_PROGRAM_PATH)
#error "packaging/CMakeLists.txt passes the configured launcher's path to this test"
#endif

using namespace TestHelpers;

namespace
{

const char logLine[] = "printf '%s DISPLAY=%s XAUTHORITY=%s\\n' \"$*\" \"${DISPLAY-unset}\" "
                       "\"${XAUTHORITY-unset}\" >>\"$STUB_LOG\"\n";

// Stand-ins, each a shell script. xhost prints STUB_XHOST_LIST when asked for
// the access list, or fails as an unreachable display does.
QByteArray standIn(const QByteArray& name)
{
    const QByteArray shebang = "#!/bin/sh\n";
    if (name == "id")
        return shebang + "echo \"${STUB_UID:-1000}\"\n";
    if (name == "xhost")
        return shebang +
               "echo \"xhost $*\" >>\"$STUB_LOG\"\n"
               "[ $# -gt 0 ] && exit 0\n"
               "if [ -n \"${STUB_XHOST_FAIL:-}\" ]; then\n"
               "    echo \"xhost:  unable to open display \\\"$DISPLAY\\\"\" >&2; exit 1\n"
               "fi\n"
               "printf '%b\\n' \"$STUB_XHOST_LIST\"\n";
    // pkexec, sudo and the program itself
    return shebang + "printf '%s ' " + name + " >>\"$STUB_LOG\"\n" + logLine +
           "exit \"${STUB_STATUS:-0}\"\n";
}

const char accessEnabled[] = "access control enabled, only authorized clients can connect";

class LauncherRun
{
public:
    explicit LauncherRun(bool withXhost)
    {
        bin = m_dir.filePath(QStringLiteral("bin"));
        QDir().mkpath(bin);
        QList<QByteArray> names{"id", "pkexec", "sudo"};
        if (withXhost)
            names << "xhost";
        for (const QByteArray& name : names)
            addScript(bin + QLatin1Char('/') + QString::fromLatin1(name), standIn(name));
        program = m_dir.filePath(QStringLiteral("program"));
        addScript(program, standIn("program"));
    }

    QString home() const { return m_dir.path(); }

    // Runs the launcher with only these variables (and the stand-ins first
    // and alone on PATH); returns its exit code.
    int run(const QStringList& variables, const QStringList& arguments)
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("PATH"), bin);
        environment.insert(QStringLiteral("HOME"), home());
        environment.insert(QStringLiteral("STUB_LOG"), m_dir.filePath(QStringLiteral("log")));
        for (const QString& variable : variables)
            environment.insert(variable.section(QLatin1Char('='), 0, 0),
                               expand(variable.section(QLatin1Char('='), 1)));
        QProcess launcher;
        launcher.setProcessEnvironment(environment);
        QStringList command{QStringLiteral(NTPSM_LAUNCHER_FILE)};
        for (const QString& argument : arguments)
            command << expand(argument);
        launcher.start(QStringLiteral("/bin/sh"), command);
        if (!launcher.waitForFinished(20000))
            return -1;
        errors = QString::fromUtf8(launcher.readAllStandardError());
        const QString log = QString::fromUtf8(readFile(m_dir.filePath(QStringLiteral("log"))));
        calls = log.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return launcher.exitStatus() == QProcess::NormalExit ? launcher.exitCode() : -1;
    }

    // @HOME@ and @PROGRAM@ (the stand-in program) in a test's table.
    QString expand(QString text) const
    {
        return text.replace(QLatin1String("@HOME@"), home())
            .replace(QLatin1String("@PROGRAM@"), program);
    }

    QString bin;
    QString program;
    QString errors;
    QStringList calls;

private:
    static void addScript(const QString& path, const QByteArray& text)
    {
        QVERIFY(writeFile(path, text));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QTemporaryDir m_dir;
};

} // namespace

class TestLauncher : public QObject
{
    Q_OBJECT
private slots:
    void decisions_data();
    void decisions();
};

void TestLauncher::decisions_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("withXhost");
    QTest::addColumn<QStringList>("cookies"); // files created below @HOME@
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("message"); // part of standard error, or empty

    const QString installed = QStringLiteral(NTPSM_PROGRAM_PATH);
    const QString list = QString::fromLatin1(accessEnabled) + QStringLiteral("\\nSI:localuser:ann");
    const QStringList wayland{QStringLiteral("WAYLAND_DISPLAY=wayland-0"),
                              QStringLiteral("XDG_SESSION_TYPE=wayland"),
                              QStringLiteral("DISPLAY=:0"), QStringLiteral("XAUTHORITY=@HOME@/xa"),
                              QStringLiteral("STUB_XHOST_LIST=") + list};
    const QStringList x11{QStringLiteral("XDG_SESSION_TYPE=x11"), QStringLiteral("DISPLAY=:1"),
                          QStringLiteral("STUB_XHOST_LIST=") + list};
    const QString grant = QStringLiteral("xhost +si:localuser:root");
    const QString revoke = QStringLiteral("xhost -si:localuser:root");
    const QString query = QStringLiteral("xhost ");
    const QString waylandPkexec =
        QStringLiteral("pkexec %1 DISPLAY=:0 XAUTHORITY=@HOME@/xa").arg(installed);
    const QStringList cookie{QStringLiteral("xa")};

    QTest::newRow("wayland: root let onto the display while the program runs")
        << wayland << QStringList() << true << cookie << 0
        << QStringList{query, grant, waylandPkexec, revoke} << QString();
    QTest::newRow("wayland: root already admitted, nothing to take back")
        << wayland + QStringList{QStringLiteral("STUB_XHOST_LIST=") + list +
                                 QStringLiteral("\\nSI:localuser:root")}
        << QStringList() << true << cookie << 0 << QStringList{query, waylandPkexec} << QString();
    QTest::newRow("wayland: anybody may connect")
        << wayland + QStringList{QStringLiteral("STUB_XHOST_LIST=access control disabled, clients "
                                                "can connect from any host")}
        << QStringList() << true << cookie << 0 << QStringList{query, waylandPkexec} << QString();
    QTest::newRow("wayland: program's status passed on, grant still taken back")
        << wayland + QStringList{QStringLiteral("STUB_STATUS=3")} << QStringList() << true << cookie
        << 3 << QStringList{query, grant, waylandPkexec, revoke} << QString();
    QTest::newRow("wayland: authentication cancelled")
        << wayland + QStringList{QStringLiteral("STUB_STATUS=126")} << QStringList() << true
        << cookie << 126 << QStringList{query, grant, waylandPkexec, revoke}
        << QStringLiteral("authentication was cancelled");
    QTest::newRow("wayland: without xhost root cannot be admitted, said so")
        << wayland << QStringList() << false << cookie << 0 << QStringList{waylandPkexec}
        << QStringLiteral("x11-xserver-utils");
    QTest::newRow("wayland: started by root, the program runs directly")
        << wayland + QStringList{QStringLiteral("STUB_UID=0")}
        << QStringList{QStringLiteral("--program"), QStringLiteral("@PROGRAM@")} << true << cookie
        << 0 << QStringList{query, QStringLiteral("program  DISPLAY=:0 XAUTHORITY=@HOME@/xa")}
        << QString();
    QTest::newRow("x11: the session's cookie is passed, no grant")
        << x11 + QStringList{QStringLiteral("XAUTHORITY=@HOME@/xa")}
        << QStringList{QStringLiteral("--config"), QStringLiteral("/tmp/a b.conf")} << true
        << cookie << 0
        << QStringList{query, QStringLiteral("pkexec %1 --config /tmp/a b.conf DISPLAY=:1 "
                                             "XAUTHORITY=@HOME@/xa")
                                  .arg(installed)}
        << QString();
    QTest::newRow("x11: the cookie in the home folder is named for root")
        << x11 << QStringList() << true << QStringList{QStringLiteral(".Xauthority")} << 0
        << QStringList{query, QStringLiteral("pkexec %1 DISPLAY=:1 XAUTHORITY=@HOME@/.Xauthority")
                                  .arg(installed)}
        << QString();
    QTest::newRow("x11: no cookie file, root let on by name")
        << x11 << QStringList() << true << QStringList() << 0
        << QStringList{query, grant,
                       QStringLiteral("pkexec %1 DISPLAY=:1 XAUTHORITY=unset").arg(installed),
                       revoke}
        << QString();
    QTest::newRow("x11: sudo for a build without the polkit action")
        << x11 + QStringList{QStringLiteral("XAUTHORITY=@HOME@/xa")}
        << QStringList{QStringLiteral("--sudo"), QStringLiteral("--program"),
                       QStringLiteral("@PROGRAM@")}
        << true << cookie << 0
        << QStringList{query, QStringLiteral("sudo --preserve-env=DISPLAY,XAUTHORITY @PROGRAM@ "
                                             "DISPLAY=:1 XAUTHORITY=@HOME@/xa")}
        << QString();
    QTest::newRow("no display: wayland without XWayland")
        << QStringList{QStringLiteral("WAYLAND_DISPLAY=wayland-0")} << QStringList() << true
        << cookie << 1 << QStringList() << QStringLiteral("XWayland");
    QTest::newRow("no display: no desktop session")
        << QStringList() << QStringList() << true << cookie << 1 << QStringList()
        << QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set");
    QTest::newRow("no display: the X display cannot be reached")
        << x11 + QStringList{QStringLiteral("STUB_XHOST_FAIL=1")} << QStringList() << true << cookie
        << 1 << QStringList{query}
        << QStringLiteral("cannot open the X display ':1': xhost:  unable to open display");
}

void TestLauncher::decisions()
{
    QFETCH(QStringList, environment);
    QFETCH(QStringList, arguments);
    QFETCH(bool, withXhost);
    QFETCH(QStringList, cookies);
    QFETCH(int, exitCode);
    QFETCH(QStringList, calls);
    QFETCH(QString, message);

    LauncherRun launcher(withXhost);
    for (const QString& cookie : cookies)
        QVERIFY(writeFile(launcher.home() + QLatin1Char('/') + cookie, "cookie"));
    QCOMPARE(launcher.run(environment, arguments), exitCode);
    for (QString& call : calls)
        call = launcher.expand(call);
    QCOMPARE(launcher.calls, calls);
    if (message.isEmpty())
        QVERIFY2(launcher.errors.isEmpty(), qPrintable(launcher.errors));
    else
        QVERIFY2(launcher.errors.contains(message), qPrintable(launcher.errors));
}

QTEST_GUILESS_MAIN(TestLauncher)
#include "tst_launcher.moc"
