#include "host/hostpath.h"

#include "host/host.h"

#include <QDir>

namespace
{
// As many links as the kernel follows in one path lookup.
constexpr int maxSymlinkHops = 40;
} // namespace

QString folderOfPath(const QString& path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QStringLiteral(".");
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString fileNameOfPath(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString absolutePath(const QString& path)
{
    return pathIn(QDir::currentPath(), path);
}

QString cleanPath(const QString& path)
{
    return QDir::cleanPath(path);
}

QString pathIn(const QString& folder, const QString& name)
{
    if (name.startsWith(QLatin1Char('/')))
        return name;
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

int resolveSymlinks(Host& host, const QString& path, QString* resolved)
{
    QString current = absolutePath(path);
    for (int hop = 0; hop < maxSymlinkHops; ++hop) {
        // Anything but a link (nothing there, a path through a file) ends
        // the chain: the reader or writer of the file reports the reason.
        if (!host.status(current).isSymlink()) {
            *resolved = current;
            return 0;
        }
        QString target;
        if (const int error = host.readLink(current, &target))
            return error;
        current = cleanPath(pathIn(folderOfPath(current), target));
    }
    return ELOOP;
}

QStringList pathsDownTo(const QString& path)
{
    QStringList paths{QStringLiteral("/")};
    QString current;
    for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        current += QLatin1Char('/') + part;
        paths << current;
    }
    return paths;
}

bool onlyRootMayChange(const FileStatus& status)
{
    return status.error == 0 && status.uid == 0 && (status.mode & 022) == 0;
}
