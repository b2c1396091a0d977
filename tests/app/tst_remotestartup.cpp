// Start-up for another machine: the window connects to a real sshd (in a
// private network and mount namespace) and then reads the server's files.
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include "app/fntp.h"
#include "app/remotewindow.h"
#include "app/startup.h"
#include "config/configdocument.h"
#include "host/host.h"
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
};

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
        QFile file(SshTestServer::instance().etcFolder() + serverFile.mid(int(qstrlen("/etc"))));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(serverText), qint64(serverText.size()));
        file.close();
        QVERIFY(!QFile::exists(serverFile));
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
