#pragma once

#include <QString>
#include <QStringList>

// The daemon's init script (the detected daemon's, "/etc/init.d/ntp" when
// there is none) and how long a command may take (30000 ms). Tests point
// both elsewhere through the setters, which nothing in the program itself
// calls.
QString initScriptPath();
int serviceWaitLimitMs();
void setInitScriptPathForTesting(const QString& path);
void setServiceWaitLimitForTesting(int milliseconds);

// What a service command ("start", "stop", "restart", "force-reload") runs:
// the daemon's init script with the verb, or, where the daemon has no init
// script but systemd runs, "systemctl VERB UNIT".
struct ServiceCommand {
    QString program;
    QStringList arguments;
};
ServiceCommand serviceCommandFor(const QString& verb);

// The account on whose desktop the configuration file should open: the user
// who called sudo (SUDO_USER) or, failing that, pkexec (PKEXEC_UID). Empty
// when there is none or when the variable does not name an existing account.
QString callingDesktopUser();

// "su - USER -w DISPLAY xdg-open FILE"
QStringList editorArgumentsFor(const QString& user, const QString& file);
