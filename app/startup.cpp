#include "app/startup.h"

#include <QIcon>
#include <QMessageBox>

#include "app/fntp.h"
#include "app/icontheme.h"
#include "app/plurals.h"
#include "config/configdocument.h"
#include "config/version.h"
#include "daemon/daemonsetup.h"
#include "qtsingleapplication/qtsingleapplication.h"
#include "wispintegration/wispintegration.h"

void applyDaemonSetup(const QString& commandLineFile)
{
    const DaemonSetup setup = detectDaemonSetup();
    setCurrentDaemon(setup);
    ConfigDocument::instance().setPath(configFileToEdit(setup, commandLineFile));
}

int runNtpServiceManager(QtSingleApplication& app, uid_t realUserId, const QString& configFile)
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
    if (realUserId != 0) {
        QMessageBox::critical(nullptr, QObject::tr("Fatal error"),
                              QObject::tr("You should run this application with superuser "
                                          "privileges."),
                              QMessageBox::Ok);
        return -1;
    }
    // The window settings are kept under the program's own name.
    QCoreApplication::setOrganizationName(QStringLiteral("ntp-service-manager"));
    applyDaemonSetup(configFile);
    FNTP window;
    app.setActivationWindow(&window, true);
    window.show();
    return app.exec();
}
