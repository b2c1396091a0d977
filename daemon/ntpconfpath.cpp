#include "daemon/ntpconfpath.h"

namespace
{
QString& overriddenPath()
{
    static QString path;
    return path;
}

QString& systemRoot()
{
    static QString root;
    return root;
}

QString& overriddenBackupDir()
{
    static QString path;
    return path;
}
} // namespace

QString ntpConfPath()
{
    const QString& path = overriddenPath();
    return path.isEmpty() ? classicConfPath() : path;
}

void setNtpConfPathForTesting(const QString& path)
{
    overriddenPath() = path;
}

QString systemPath(const QString& absolutePath)
{
    return systemRoot() + absolutePath;
}

void setSystemRootForTesting(const QString& root)
{
    systemRoot() = root;
}

QString classicConfPath()
{
    return systemPath(QStringLiteral("/etc/ntp.conf"));
}

QString ntpsecConfPath()
{
    return systemPath(QStringLiteral("/etc/ntpsec/ntp.conf"));
}

QString ntpsecDhcpConfPath()
{
    return systemPath(QStringLiteral("/run/ntpsec/ntp.conf.dhcp"));
}

QString classicDhcpConfPath()
{
    return systemPath(QStringLiteral("/run/ntp.conf.dhcp"));
}

QString ntpsecDefaultsPath()
{
    return systemPath(QStringLiteral("/etc/default/ntpsec"));
}

QString classicInitScriptPath()
{
    return systemPath(QStringLiteral("/etc/init.d/ntp"));
}

QString ntpsecInitScriptPath()
{
    return systemPath(QStringLiteral("/etc/init.d/ntpsec"));
}

QString ntpdProgramPath()
{
    return systemPath(QStringLiteral("/usr/sbin/ntpd"));
}

QString dpkgStatusPath()
{
    return systemPath(QStringLiteral("/var/lib/dpkg/status"));
}

QString procPath()
{
    return systemPath(QStringLiteral("/proc"));
}

QString ntpdPidFilePath()
{
    return systemPath(QStringLiteral("/run/ntpd.pid"));
}

QString systemdRuntimePath()
{
    return systemPath(QStringLiteral("/run/systemd/system"));
}

QString syslogPath()
{
    return systemPath(QStringLiteral("/var/log/syslog"));
}

QString backupDirPath()
{
    const QString& path = overriddenBackupDir();
    return path.isEmpty() ? systemPath(QStringLiteral("/var/backups/ntp-service-manager")) : path;
}

void setBackupDirPathForTesting(const QString& path)
{
    overriddenBackupDir() = path;
}
