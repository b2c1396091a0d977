#include "wispintegration/wispintegration.h"

namespace
{
struct ProgramInfo {
    QString version;
    QString description;
    QString license;
};

ProgramInfo& programInfo()
{
    static ProgramInfo info;
    return info;
}
} // namespace

void wispInit(const char* version, const char* description)
{
    programInfo().version = QString::fromUtf8(version ? version : "");
    programInfo().description = QString::fromUtf8(description ? description : "");
}

void wispSetLicense(const char* license)
{
    programInfo().license = QString::fromUtf8(license ? license : "");
}

QString wispVersion()
{
    return programInfo().version;
}
QString wispDescription()
{
    return programInfo().description;
}
QString wispLicense()
{
    return programInfo().license;
}
