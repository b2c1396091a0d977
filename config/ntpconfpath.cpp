#include "ntpconfpath.h"

namespace
{
QString& overriddenPath()
{
    static QString path;
    return path;
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
    return path.isEmpty() ? QStringLiteral("/etc/ntp.conf") : path;
}

void setNtpConfPathForTesting(const QString& path)
{
    overriddenPath() = path;
}

QString backupDirPath()
{
    const QString& path = overriddenBackupDir();
    return path.isEmpty() ? QStringLiteral("/var/backups/ntp-service-manager") : path;
}

void setBackupDirPathForTesting(const QString& path)
{
    overriddenBackupDir() = path;
}
