#pragma once

#include <QString>
#include <QStringList>

// The daemon's init script ("/etc/init.d/ntp") and how long a command may
// take (30000 ms). Tests point both elsewhere through the setters, which
// nothing in the program itself calls.
QString initScriptPath();
int serviceWaitLimitMs();
void setInitScriptPathForTesting(const QString& path);
void setServiceWaitLimitForTesting(int milliseconds);

// The account on whose desktop the configuration file should open: the user
// who called sudo (SUDO_USER) or, failing that, pkexec (PKEXEC_UID). Empty
// when there is none or when the variable does not name an existing account.
QString callingDesktopUser();

// "su - USER -w DISPLAY xdg-open FILE"
QStringList editorArgumentsFor(const QString& user, const QString& file);
