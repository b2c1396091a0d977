// Start-up for another machine: the window connects to a real sshd (in a
// private network and mount namespace) and then reads the server's files.
#include <QAbstractButton>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <signal.h>

#include "app/fntp.h"
#include "app/remotewindow.h"
#include "app/service/servicecommand.h"
#include "app/service/servicecontrol.h"
#include "app/startup.h"
#include "config/configbackups.h"
#include "config/configdocument.h"
#include "config/ntpsettings.h"
#include "daemon/ntpconfpath.h"
#include "host/host.h"
#include "host/processrunner.h"
#include "qtsingleapplication/qtsingleapplication.h"
#include "remote/askpass.h"
#include "tests/common/testhelpers.h"
#include "tests/remote/sshtestserver.h"

using namespace TestHelpers;

namespace
{
// Only the server's /etc has it: read from here, it would not be there.
const QString serverFile = QStringLiteral("/etc/ntpsm-remote-startup.conf");
const QByteArray serverText = "# on the server\nserver 192.0.2.7 iburst\n";

struct WindowSeen {
    bool shown = false;
    QString title;
    QString hostLabel;
    QStringList fileMenu;
    QByteArray documentBytes;
    QString documentPath;
    QString hostName;
    // Run while the window is open, before it is closed.
    std::function<void()> whileOpen;
};

// The server's file as seen from here (the server sees it as /etc/...).
QByteArray serverBytes(const QString& serverPath)
{
    QFile file(SshTestServer::instance().etcFolder() + serverPath.mid(int(qstrlen("/etc"))));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void writeServerFile(const QByteArray& bytes, const QString& serverPath = serverFile,
                     QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ReadGroup | QFile::ReadOther)
{
    QFile file(SshTestServer::instance().etcFolder() + serverPath.mid(int(qstrlen("/etc"))));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
    QVERIFY(file.setPermissions(permissions));
}

QStringList fileMenuEntries(QMainWindow* window)
{
    QStringList entries;
    const QList<QAction*> menus = window->menuBar()->actions();
    for (QAction* entry : menus.constFirst()->menu()->actions()) {
        if (!entry->isSeparator())
            entries << entry->text();
    }
    return entries;
}

// Looks at the window once it is shown (after the connection is up), then
// closes it.
void closeWindowWhenShown(WindowSeen* seen, int triesLeft = 300)
{
    QTimer::singleShot(100, [seen, triesLeft] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<FNTP*>(widget);
            if (!window || !window->isVisible())
                continue;
            seen->shown = true;
            seen->title = window->windowTitle();
            if (auto* label = window->statusBar()->findChild<QLabel*>(QStringLiteral("hostLabel")))
                seen->hostLabel = label->text();
            seen->fileMenu = fileMenuEntries(window);
            seen->documentPath = ConfigDocument::instance().path();
            seen->documentBytes = ConfigDocument::instance().currentBytes();
            seen->hostName = Host::current().name();
            if (seen->whileOpen)
                seen->whileOpen();
            window->close();
            return;
        }
        if (triesLeft > 0)
            closeWindowWhenShown(seen, triesLeft - 1);
    });
}
// Types `user`'s password into the next password dialog, then runs `then`.
void typePasswordOf(const QString& user, QString* asked, const std::function<void()>& then = {})
{
    onNextDialog<QInputDialog>([user, asked, then](QInputDialog* dialog) {
        *asked = dialog->labelText();
        QVERIFY(dialog->textEchoMode() == QLineEdit::Password);
        dialog->setTextValue(QString::fromUtf8(SshTestServer::passwordOf(user)));
        if (then)
            then();
        dialog->accept();
    });
}
} // namespace

class TestRemoteStartup : public QObject
{
    Q_OBJECT
public:
    explicit TestRemoteStartup(QtSingleApplication& app) : m_app(app) {}

private slots:
    void initTestCase()
    {
        QString whyNot;
        if (!SshTestServer::instance().start(&whyNot))
            QSKIP(qPrintable(whyNot));
        writeServerFile(serverText);
        QVERIFY(!QFile::exists(serverFile));
        // Copies are kept in the server's /etc copy, never in this machine's /var.
        setBackupDirPathForTesting(QStringLiteral("/etc/ntpsm-test-backups"));
    }
    void cleanup() { QCOMPARE(rejectOpenModals(), 0); }

    void windowShowsTheServersFile_data()
    {
        QTest::addColumn<QString>("user");
        QTest::newRow("root") << QStringLiteral("root");
        QTest::newRow("sudo without password") << QStringLiteral("ntpauto");
        QTest::newRow("sudo with password") << QStringLiteral("ntpsudo");
    }
    void windowShowsTheServersFile()
    {
        QFETCH(QString, user);
        const SshHost::Settings settings = SshTestServer::instance().settings(user);
        WindowSeen seen;
        closeWindowWhenShown(&seen);
        QString asked;
        if (user == QLatin1String("ntpsudo"))
            typePasswordOf(user, &asked);
        // Not root here: the server's root is what counts.
        QCOMPARE(runNtpServiceManager(m_app, 1000, serverFile, settings), 0);
        QVERIFY(seen.shown);
        QCOMPARE(seen.hostName, settings.destination);
        QCOMPARE(seen.documentPath, serverFile);
        QCOMPARE(seen.documentBytes, serverText);
        QCOMPARE(seen.title, QStringLiteral("NTP service manager \u2014 ") + settings.destination);
        QCOMPARE(seen.hostLabel, QStringLiteral("Host: ") + settings.destination);
        QCOMPARE(seen.fileMenu.mid(seen.fileMenu.size() - 2),
                 (QStringList{QStringLiteral("Connect to host..."), QStringLiteral("Exit")}));
        if (user == QLatin1String("ntpsudo"))
            QCOMPARE(asked, QStringLiteral("Password for sudo on ntpsudo@127.0.0.1:"));
        // Back to this machine once the window is gone.
        QVERIFY(Host::current().isLocal());
    }

    // Apply and Restore write the server's file (a copy kept on the server).
    void applyAndRestoreChangeTheServersFile()
    {
        writeServerFile(serverText);
        const SshHost::Settings settings =
            SshTestServer::instance().settings(QStringLiteral("ntpauto"));
        WindowSeen seen;
        QByteArray rendered;
        bool saved = false, restored = false;
        QVector<ConfigBackup> copies;
        seen.whileOpen = [&] {
            ConfigDocument& document = ConfigDocument::instance();
            NtpSettings record;
            document.load(&record);
            record.logFile = QStringLiteral("/var/log/ntpsm-remote.log");
            rendered = document.render(record);
            saved = document.save(record);
            copies = ConfigBackups::list(serverFile);
            if (!copies.isEmpty())
                restored = document.restore(copies.constFirst().path);
        };
        closeWindowWhenShown(&seen);
        QCOMPARE(runNtpServiceManager(m_app, 1000, serverFile, settings), 0);
        QVERIFY(seen.shown);
        QVERIFY(saved);
        QVERIFY(rendered.contains("logfile /var/log/ntpsm-remote.log"));
        QCOMPARE(copies.size(), 1);
        QVERIFY(copies.constFirst().path.startsWith(QLatin1String("/etc/ntpsm-test-backups/")));
        QCOMPARE(serverBytes(copies.constFirst().path), serverText);
        QVERIFY(restored);
        QCOMPARE(serverBytes(serverFile), serverText);
    }

    // Service commands run the server's init script, as root there, and
    // report what it said.
    void serviceCommandsRunOnTheServer()
    {
        const QString script = QStringLiteral("/etc/ntpsm-init-stand-in");
        const QString ran = QStringLiteral("/etc/ntpsm-init-ran");
        writeServerFile("#!/bin/sh\necho \"$1 as $(id -u)\" >" + ran.toUtf8() +
                            "\necho 'Stopping NTP server: ntpd.'\n",
                        script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setInitScriptPathForTesting(script);
        const SshHost::Settings settings =
            SshTestServer::instance().settings(QStringLiteral("ntpauto"));
        WindowSeen seen;
        BoxSeen box;
        seen.whileOpen = [&] {
            answerNextBox(QMessageBox::Ok, &box);
            FNTP* window = nullptr;
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* main = qobject_cast<FNTP*>(widget))
                    window = main;
            }
            QVERIFY(window);
            runServiceCommand(window, QStringLiteral("stop"), QStringLiteral("Server stopped"),
                              QStringLiteral("Could not stop the server"));
        };
        closeWindowWhenShown(&seen);
        QCOMPARE(runNtpServiceManager(m_app, 1000, serverFile, settings), 0);
        setInitScriptPathForTesting(QString());
        QVERIFY(seen.shown);
        QVERIFY(box.shown);
        QVERIFY2(box.text.contains(QStringLiteral("Server stopped")), qPrintable(box.text));
        // There, as root; never here.
        QCOMPARE(serverBytes(ran), QByteArray("stop as 0\n"));
        QVERIFY(!QFile::exists(ran));
    }

    // A connection that dies under the window: Apply fails and says so, the
    // file keeps its bytes, and the window offers to connect again.
    void lostConnectionFailsApplyAndOffersReconnect()
    {
        writeServerFile(serverText);
        const SshHost::Settings settings =
            SshTestServer::instance().settings(QStringLiteral("root"));
        WindowSeen seen;
        bool savedWhileDown = true, savedAfter = false;
        QString whyNot, whyNotAfter;
        BoxSeen lost;
        QByteArray rendered;
        seen.whileOpen = [&] {
            ConfigDocument& document = ConfigDocument::instance();
            NtpSettings record;
            document.load(&record);
            record.logFile = QStringLiteral("/var/log/ntpsm-lost.log");
            rendered = document.render(record);
            // Apply while the box about the loss is up, then "Reconnect".
            onNextModal(
                [&](QWidget* modal) {
                    auto* box = qobject_cast<QMessageBox*>(modal);
                    QVERIFY(box);
                    lost.shown = true;
                    lost.title = box->windowTitle();
                    lost.text = box->text();
                    savedWhileDown = document.save(record);
                    whyNot = document.lastWriteError();
                    for (QAbstractButton* button : box->buttons()) {
                        if (button->text() == QLatin1String("Reconnect"))
                            button->click();
                    }
                },
                15000);
            SshTestServer::instance().signalConnections(SIGKILL);
            // The box comes within the keep-alive's few seconds.
            QTRY_VERIFY_WITH_TIMEOUT(lost.shown, 15000);
            auto* host = dynamic_cast<SshHost*>(&Host::current());
            QVERIFY(host);
            QTRY_VERIFY_WITH_TIMEOUT(host->isConnected(), 15000);
            savedAfter = document.save(record);
            whyNotAfter = document.lastWriteError();
        };
        closeWindowWhenShown(&seen);
        QCOMPARE(runNtpServiceManager(m_app, 1000, serverFile, settings), 0);
        QVERIFY(seen.shown);
        QVERIFY(!savedWhileDown);
        QVERIFY2(whyNot.contains(QLatin1String("connection")) ||
                     whyNot.contains(QLatin1String("Connection")),
                 qPrintable(whyNot));
        QCOMPARE(lost.title, QStringLiteral("Connection lost"));
        QVERIFY2(lost.text.contains(QLatin1String("unapplied edits stay")), qPrintable(lost.text));
        QVERIFY2(savedAfter, qPrintable(whyNotAfter));
        QCOMPARE(serverBytes(serverFile), rendered);
    }

    // Closed while a call to the server waits: the program ends once the
    // call is over, instead of the call's loop taking the quit.
    void closingDuringACallEnds()
    {
        const SshHost::Settings settings =
            SshTestServer::instance().settings(QStringLiteral("root"));
        WindowSeen seen;
        int exitCode = -1;
        bool callEnded = false;
        seen.whileOpen = [&] {
            QTimer::singleShot(300, [] {
                for (QWidget* widget : QApplication::topLevelWidgets()) {
                    if (qobject_cast<FNTP*>(widget))
                        widget->close();
                }
            });
            const ProcessResult result =
                Host::current().run(QStringLiteral("sleep"), {QStringLiteral("1")}, 10000);
            exitCode = result.exitCode;
            callEnded = true;
        };
        closeWindowWhenShown(&seen);
        QCOMPARE(runNtpServiceManager(m_app, 1000, serverFile, settings), 0);
        QVERIFY(seen.shown);
        QVERIFY(callEnded);
        QCOMPARE(exitCode, 0);
    }

    void refusesWithoutRootOnTheServer()
    {
        BoxSeen box;
        QString asked;
        // sudo asks for the password before it says that the user may not.
        typePasswordOf(QStringLiteral("ntpplain"), &asked,
                       [&box] { answerNextBox(QMessageBox::Ok, &box); });
        const SshHost::Settings settings =
            SshTestServer::instance().settings(QStringLiteral("ntpplain"));
        QCOMPARE(runNtpServiceManager(m_app, 0, serverFile, settings), -1);
        QVERIFY(box.shown);
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY2(
            box.text.startsWith(QStringLiteral("Root cannot be had on ") + settings.destination),
            qPrintable(box.text));
        QCOMPARE(asked, QStringLiteral("Password for sudo on ntpplain@127.0.0.1:"));
        QVERIFY(Host::current().isLocal());
        for (QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<FNTP*>(widget));
    }

    void saysWhenTheServerCannotBeReached()
    {
        SshHost::Settings settings = SshTestServer::instance().settings(QStringLiteral("root"));
        settings.sshOptions << QStringLiteral("-p") << QString::number(SshTestServer::closedPort);
        BoxSeen box;
        answerNextBox(QMessageBox::Ok, &box);
        QCOMPARE(runNtpServiceManager(m_app, 1000, serverFile, settings), -1);
        QVERIFY(box.shown);
        QCOMPARE(box.title, QStringLiteral("Fatal error"));
        QVERIFY2(box.text.contains(QStringLiteral("refused the connection")), qPrintable(box.text));
    }

    void titleNamesOnlyAnotherHost()
    {
        QCOMPARE(windowTitleFor(QStringLiteral("NTP service manager"), QString()),
                 QStringLiteral("NTP service manager"));
        QCOMPARE(
            windowTitleFor(QStringLiteral("NTP service manager"), QStringLiteral("timeserver.lan")),
            QStringLiteral("NTP service manager \u2014 timeserver.lan"));
    }

private:
    QtSingleApplication& m_app;
};

int main(int argc, char** argv)
{
    if (SshAskpass::requested())
        return SshAskpass::run(argc, argv);
    SshTestServer::enterPrivateNetwork();
    QStandardPaths::setTestModeEnabled(true);
    QtSingleApplication app(argc, argv, QStringLiteral("remote-startup-test"));
    QApplication::setQuitOnLastWindowClosed(true);
    TestRemoteStartup test(app);
    return QTest::qExec(&test, argc, argv);
}
#include "tst_remotestartup.moc"
