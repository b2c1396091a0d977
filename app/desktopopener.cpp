#include "desktopopener.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace
{
DesktopOpener*& replacement()
{
    static DesktopOpener* opener = nullptr;
    return opener;
}
} // namespace

bool DesktopOpener::startDetached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

bool DesktopOpener::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

DesktopOpener& DesktopOpener::instance()
{
    static DesktopOpener real;
    return replacement() ? *replacement() : real;
}

void DesktopOpener::setInstanceForTesting(DesktopOpener* opener)
{
    replacement() = opener;
}
