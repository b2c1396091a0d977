#include "configbackups.h"

#include "fileio.h"
#include "ntpconfpath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

namespace
{

const QString stampFormat = QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'");

QString prefixOf(const QString& configPath)
{
    return QFileInfo(configPath).fileName() + QLatin1Char('.');
}

// Creates the folder (mode 0700) unless it exists; a file in its place is
// an error.
int ensureFolder(const QString& folder)
{
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), 0700) == 0)
        return ::chmod(name.constData(), 0700) == 0 ? 0 : errno;
    if (errno != EEXIST)
        return errno;
    struct stat st;
    if (::stat(name.constData(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// A name not taken yet: two copies within one millisecond get the next one.
QString freshPath(const QString& folder, const QString& prefix)
{
    QDateTime stamp = QDateTime::currentDateTimeUtc();
    QString path;
    do {
        path = folder + QLatin1Char('/') + prefix + stamp.toString(stampFormat);
        stamp = stamp.addMSecs(1);
    } while (QFileInfo::exists(path));
    return path;
}

} // namespace

QVector<ConfigBackup> ConfigBackups::list(const QString& configPath)
{
    const QString prefix = prefixOf(configPath);
    const QDir folder(backupDirPath());
    QStringList names = folder.entryList({prefix + QLatin1Char('*')}, QDir::Files, QDir::Name);
    QVector<ConfigBackup> backups;
    for (auto it = names.crbegin(); it != names.crend(); ++it) {
        QDateTime taken = QDateTime::fromString(it->mid(prefix.size()), stampFormat);
        if (!taken.isValid())
            continue;
        taken.setTimeSpec(Qt::UTC);
        backups.append({folder.filePath(*it), taken});
    }
    return backups;
}

int ConfigBackups::keep(const QString& configPath, QString* made)
{
    made->clear();
    QString target;
    if (const int error = resolveSymlinks(configPath, &target))
        return error;
    FileContent content;
    if (const int error = readWholeFile(target, &content))
        return error == ENOENT ? 0 : error;
    const QString folder = backupDirPath();
    if (const int error = ensureFolder(folder))
        return error;
    const QVector<ConfigBackup> existing = list(configPath);
    if (!existing.isEmpty()) {
        FileContent newest;
        if (readWholeFile(existing.first().path, &newest) == 0 && newest.bytes == content.bytes)
            return 0;
    }
    const QString path = freshPath(folder, prefixOf(configPath));
    if (const int error = writePrivateFileAtomically(path, content.bytes))
        return error;
    *made = path;
    return 0;
}

void ConfigBackups::prune(const QString& configPath)
{
    const QVector<ConfigBackup> backups = list(configPath);
    for (int i = keptCount; i < backups.size(); ++i)
        QFile::remove(backups.at(i).path);
}
