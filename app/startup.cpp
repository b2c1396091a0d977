#include "app/startup.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>

#include "app/fntp.h"
#include "app/icontheme.h"
#include "app/plurals.h"
#include "app/remotewindow.h"
#include "config/configdocument.h"
#include "config/version.h"
#include "daemon/daemonsetup.h"
#include "host/host.h"
#include "qtsingleapplication/qtsingleapplication.h"
#include "remote/sshhost.h"
#include "wispintegration/wispintegration.h"

void applyDaemonSetup(const QString& commandLineFile)
{
    const DaemonSetup setup = detectDaemonSetup();
    setCurrentDaemon(setup);
    ConfigDocument::instance().setPath(configFileToEdit(setup, commandLineFile));
}

namespace
{
void showFatal(const QString& text)
{
    QMessageBox::critical(nullptr, QObject::tr("Fatal error"), text, QMessageBox::Ok);
}

// The busy cursor while a call to the server takes noticeably long.
void showWaitsAsBusy()
{
    Host::setWaitIndicator([](bool waiting) {
        if (waiting)
            QApplication::setOverrideCursor(Qt::BusyCursor);
        else
            QApplication::restoreOverrideCursor();
    });
}

// Connects and becomes root on the server; false, after saying why, when
// that cannot be had. The event loop runs meanwhile (ssh's prompts come
// as dialogs).
bool connectToServer(SshHost* host)
{
    if (host->connectToHost() == 0)
        return true;
    QString text = host->lastConnectionError();
    if (host->lastFailure() == SshHost::Failure::RootRefused)
        text = QObject::tr("Root cannot be had on %1: %2\nLog in as root, or as a user for whom "
                           "sudo works.")
                   .arg(host->name(), text);
    showFatal(text);
    return false;
}

// Quits between two calls to the server, never inside one: a call's own
// event loop would take the quit and leave the main loop running.
// Waits no longer than `window` lives.
void quitWhenIdle(QWidget* window)
{
    if (Host::callsUnderWay() == 0) {
        QCoreApplication::quit();
        return;
    }
    QTimer::singleShot(10, window, [window] { quitWhenIdle(window); });
}

int runWindow(QtSingleApplication& app, const QString& configFile, SshHost* remote)
{
    // The window settings are kept under the program's own name.
    QCoreApplication::setOrganizationName(QStringLiteral("ntp-service-manager"));
    applyDaemonSetup(configFile);
    FNTP window;
    if (remote)
        watchConnection(&window, remote);
    app.setActivationWindow(&window, true);
    window.show();
    if (!remote)
        return app.exec();
    const bool quitOnClose = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
    const QMetaObject::Connection closed =
        QObject::connect(&app, &QGuiApplication::lastWindowClosed, &window, [&window, quitOnClose] {
            if (quitOnClose)
                quitWhenIdle(&window);
        });
    const int code = app.exec();
    QObject::disconnect(closed);
    QApplication::setQuitOnLastWindowClosed(quitOnClose);
    return code;
}

int runRemote(QtSingleApplication& app, const QString& configFile, const SshHost::Settings& remote)
{
    showWaitsAsBusy();
    DialogPrompter prompter;
    SshHost host(remote, &prompter);
    if (!connectToServer(&host))
        return -1;
    Host::setCurrent(&host);
    const int code = runWindow(app, configFile, &host);
    Host::setCurrent(nullptr);
    Host::setWaitIndicator(nullptr);
    return code;
}
} // namespace

int runNtpServiceManager(QtSingleApplication& app, uid_t realUserId, const QString& configFile,
                         const SshHost::Settings& remote)
{
    if (app.isRunning()) {
        app.sendMessage(QStringLiteral("raise"), 5000);
        return 1;
    }
    wispInit(NTPSM_VERSION, "Network Time Protocol service manager");
    wispSetLicense("GNU General Public License, version 2 or (at your option) any later "
                   "version (GPL-2.0-or-later)");
    useFallbackIconTheme();
    installPluralForms(app);
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("clock")));
    // On another machine root is needed there, not here.
    if (!remote.destination.isEmpty())
        return runRemote(app, configFile, remote);
    if (realUserId != 0) {
        showFatal(QObject::tr("You should run this application with superuser privileges."));
        return -1;
    }
    return runWindow(app, configFile, nullptr);
}
