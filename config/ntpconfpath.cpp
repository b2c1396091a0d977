#include "ntpconfpath.h"

namespace
{
QString& overriddenPath()
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
