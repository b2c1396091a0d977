// The window on fake machines: the file it edits, what its status bar and
// notice say, and which program its service commands run.
#include <QDir>
#include <QLabel>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include "configdocument.h"
#include "daemonsetup.h"
#include "daemonstatus.h"
#include "desktopopener.h"
#include "fakesystem.h"
#include "fntp.h"
#include "ntpconfpath.h"
#include "processrunner.h"
#include "qtsingleapplication.h"
#include "servicecontrol.h"
#include "startup.h"
#include "testhelpers.h"

using namespace TestHelpers;

namespace
{
struct WindowSeen {
    bool shown = false;
    QString summary;
    bool noticeVisible = false;
    QString notice;
    QString edited;
};

WindowSeen look(FNTP* window)
{
    WindowSeen seen;
    seen.shown = true;
    if (auto* label = window->statusBar()->findChild<QLabel*>(QStringLiteral("daemonSummary")))
        seen.summary = label->text();
    if (auto* notice = window->findChild<DaemonNotice*>(QStringLiteral("daemonNotice"))) {
        seen.noticeVisible = notice->isVisible();
        seen.notice = notice->text();
    }
    seen.edited = ConfigDocument::instance().path();
    return seen;
}

// Answers what a service command asks for, starting nothing.
class ServiceRunner : public ProcessRunner
{
public:
    QStringList ran;
    ProcessResult run(const QString& program, const QStringList& arguments, int) override
    {
        ran << (QStringList{program} + arguments).join(QLatin1Char(' '));
        ProcessResult result;
        result.finished = true;
        return result;
    }
    ProcessJob* start(const QString& program, const QStringList& arguments,
                      const ProcessOptions& options) override
    {
        return ProcessJob::finishedWith(run(program, arguments, options.timeoutMs));
    }
};
} // namespace

class TestDaemonStatus : public QObject
{
    Q_OBJECT
public:
    explicit TestDaemonStatus(QtSingleApplication& app) : m_app(app) {}

private slots:
    void cleanup()
    {
        QCOMPARE(rejectOpenModals(), 0);
        ProcessRunner::setInstanceForTesting(nullptr);
        ConfigDocument::instance().setPath(QString());
        setCurrentDaemon(DaemonSetup());
    }

    // Start-up finds the daemon, edits the file it reads and says so.
    void startUp_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("edited");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("notice"); // empty: no notice shown
        QTest::newRow("classic") << "classic"
                                 << "/etc/ntp.conf"
                                 << "ntpd 4.2.8p15 · ROOT/etc/ntp.conf · stopped" << QString();
        QTest::newRow("upgraded")
            << "upgraded"
            << "/etc/ntpsec/ntp.conf"
            << "NTPsec 1.2.2 · ROOT/etc/ntpsec/ntp.conf · stopped"
            << "ROOT/etc/ntp.conf is left over from the classic NTP daemon and is read by "
               "nobody; NTPsec reads ROOT/etc/ntpsec/ntp.conf.";
    }
    void startUp()
    {
        QFETCH(QString, layout);
        QFETCH(QString, edited);
        QFETCH(QString, summary);
        QFETCH(QString, notice);
        FakeSystem system;
        if (layout == QLatin1String("classic"))
            system.debian11Classic();
        else if (layout == QLatin1String("upgraded"))
            system.debian12Upgraded();
        const WindowSeen seen = startWindow(QString());
        const QString root = system.path(QString());
        QVERIFY(seen.shown);
        QCOMPARE(seen.edited, system.path(edited));
        QCOMPARE(seen.summary, summary.replace(QLatin1String("ROOT"), root));
        QCOMPARE(seen.noticeVisible, !notice.isEmpty());
        QCOMPARE(seen.notice, notice.replace(QLatin1String("ROOT"), root));
    }

    // --config wins; a file the daemon does not read is never claimed as
    // its file, and "Edit NTP config" opens the edited one.
    void configOption()
    {
        FakeSystem system;
        system.debian12Ntpsec();
        ConfFile other("server 192.0.2.4\n");
        const WindowSeen seen = startWindow(other.path());
        QCOMPARE(seen.edited, other.path());
        QCOMPARE(seen.summary,
                 QStringLiteral("NTPsec 1.2.2 · %1 (not read by the daemon) · stopped")
                     .arg(other.path()));
        QVERIFY(seen.notice.contains(QStringLiteral("The daemon reads %1, not %2")
                                         .arg(system.path("/etc/ntpsec/ntp.conf"), other.path())));

        FNTP window;
        struct OpenRunner : DesktopOpener {
            QList<QUrl> opened;
            bool openUrl(const QUrl& url) override { return opened << url, true; }
        } runner;
        DesktopOpener::setInstanceForTesting(&runner);
        qunsetenv("SUDO_USER");
        qunsetenv("PKEXEC_UID");
        window.openNtpConfig();
        DesktopOpener::setInstanceForTesting(nullptr);
        QCOMPARE(runner.opened, QList<QUrl>{QUrl::fromLocalFile(other.path())});
    }

    // A file that exists but cannot be read is reported at start-up, with
    // the reason, not only at Apply.
    void unreadableAtStartUp_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("directory") << "directory"
                                   << "Is a directory";
        QTest::newRow("fifo") << "fifo"
                              << "it is not a regular file";
        QTest::newRow("symlink loop") << "loop"
                                      << "Too many levels of symbolic links";
    }
    void unreadableAtStartUp()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        FakeSystem system;
        system.debian12Ntpsec();
        const QString file = system.path(QStringLiteral("/etc/ntpsec/ntp.conf"));
        const QByteArray name = QFile::encodeName(file);
        QFile::remove(file);
        if (kind == QLatin1String("directory"))
            QVERIFY(QDir().mkpath(file));
        else if (kind == QLatin1String("fifo"))
            QCOMPARE(mkfifo(name.constData(), 0600), 0);
        else
            QCOMPARE(symlink(name.constData(), name.constData()), 0);
        const WindowSeen seen = startWindow(QString());
        QVERIFY(seen.noticeVisible);
        QCOMPARE(seen.notice,
                 file + " cannot be read: " + reason + ". The pages show no settings.");
    }

    // Service commands run the installed daemon's script with the verb, or
    // systemctl on its unit where there is no script.
    void serviceCommands()
    {
        FakeSystem system;
        system.debian12Ntpsec();
        const QString record = system.path(QStringLiteral("/args"));
        system.writeExecutable(QStringLiteral("/etc/init.d/ntpsec"),
                               "#!/bin/sh\necho \"$0 $@\" >> '" + record.toUtf8() + "'\n");
        applyDaemonSetup(QString());
        {
            FNTP window;
            BoxSeen seen;
            answerNextBox(QMessageBox::Ok, &seen);
            window.ntpdReload();
            QCOMPARE(seen.text, QStringLiteral("Server configuration reload successfully"));
            QCOMPARE(readFile(record).trimmed(),
                     system.path(QStringLiteral("/etc/init.d/ntpsec")).toUtf8() + " force-reload");
        }
        QFile::remove(system.path(QStringLiteral("/etc/init.d/ntpsec")));
        applyDaemonSetup(QString());
        ServiceRunner runner;
        ProcessRunner::setInstanceForTesting(&runner);
        FNTP window;
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        window.ntpdStop();
        QCOMPARE(seen.text, QStringLiteral("Server stopped successfully"));
        QCOMPARE(runner.ran, QStringList{"systemctl stop ntpsec.service"});
    }

private:
    // Runs the real start-up as root and looks at the window it shows.
    WindowSeen startWindow(const QString& configFile)
    {
        WindowSeen seen;
        QTimer::singleShot(100, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* window = qobject_cast<FNTP*>(widget); window && window->isVisible()) {
                    seen = look(window);
                    window->close();
                }
            }
        });
        const int code = runNtpServiceManager(m_app, 0, configFile);
        if (code != 0)
            qWarning("start-up ended with %d", code);
        return seen;
    }

    QtSingleApplication& m_app;
};

int main(int argc, char** argv)
{
    QStandardPaths::setTestModeEnabled(true);
    QtSingleApplication app(argc, argv, true);
    QApplication::setQuitOnLastWindowClosed(true);
    TestDaemonStatus test(app);
    return QTest::qExec(&test, argc, argv);
}
#include "tst_daemonstatus.moc"
