#include "app/service/servicecontrol.h"

#include <QProcessEnvironment>

#include "daemon/daemonsetup.h"
#include "daemon/ntpconfpath.h"

#include <pwd.h>
#include <sys/types.h>

namespace
{
QString& scriptOverride()
{
    static QString path;
    return path;
}

int& waitOverride()
{
    static int limit = 0;
    return limit;
}

bool isAccount(const QString& name)
{
    // A leading "-" would be taken by su as an option, never as a name.
    if (name.isEmpty() || name.startsWith(QLatin1Char('-')))
        return false;
    return getpwnam(name.toLocal8Bit().constData()) != nullptr;
}

QString accountOfUid(const QString& uidText)
{
    bool ok = false;
    const uint uid = uidText.toUInt(&ok, 10);
    if (!ok)
        return QString();
    const passwd* entry = getpwuid(uid_t(uid));
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}
} // namespace

QString initScriptPath()
{
    if (!scriptOverride().isEmpty())
        return scriptOverride();
    const QString detected = currentDaemon().initScript;
    return detected.isEmpty() ? classicInitScriptPath() : detected;
}

ServiceCommand serviceCommandFor(const QString& verb)
{
    const QString unit = currentDaemon().systemdUnit;
    if (scriptOverride().isEmpty() && currentDaemon().initScript.isEmpty() && !unit.isEmpty())
        return {QStringLiteral("systemctl"), {verb, unit}};
    return {initScriptPath(), {verb}};
}

int serviceWaitLimitMs()
{
    return waitOverride() > 0 ? waitOverride() : 30000;
}

void setInitScriptPathForTesting(const QString& path)
{
    scriptOverride() = path;
}

void setServiceWaitLimitForTesting(int milliseconds)
{
    waitOverride() = milliseconds;
}

QString callingDesktopUser()
{
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString sudoUser = env.value(QStringLiteral("SUDO_USER"));
    if (!sudoUser.isEmpty())
        return isAccount(sudoUser) ? sudoUser : QString();
    const QString pkexecUser = accountOfUid(env.value(QStringLiteral("PKEXEC_UID")));
    return isAccount(pkexecUser) ? pkexecUser : QString();
}

QStringList editorArgumentsFor(const QString& user, const QString& file)
{
    return {QStringLiteral("-"),        user, QStringLiteral("-w"), QStringLiteral("DISPLAY"),
            QStringLiteral("xdg-open"), file};
}
