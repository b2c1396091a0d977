#include "config/configbackups.h"

#include "config/config.h"
#include "config/filefingerprint.h"
#include "daemon/ntpconfpath.h"
#include "host/host.h"
#include "host/hostpath.h"

#include <QSet>

#include <cerrno>

namespace
{

const QString stampFormat = QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'");

QString prefixOf(const QString& configPath)
{
    return fileNameOfPath(configPath) + QLatin1Char('.');
}

// Creates the folder (mode 0700) unless it exists; a file in its place is
// an error.
int ensureFolder(Host& host, const QString& folder)
{
    const int error = host.makeFolder(folder, 0700);
    if (error != EEXIST)
        return error;
    const FileStatus status = host.status(folder, true);
    if (status.error)
        return status.error;
    return status.isDirectory() ? 0 : ENOTDIR;
}

// A name not taken yet: two copies within one millisecond get the next one.
QString freshPath(const QString& folder, const QString& prefix, const QSet<QString>& taken)
{
    QDateTime stamp = QDateTime::currentDateTimeUtc();
    QString name;
    do {
        name = prefix + stamp.toString(stampFormat);
        stamp = stamp.addMSecs(1);
    } while (taken.contains(name));
    return pathIn(folder, name);
}

// The copies of `configPath` among the entries of the backup folder.
QVector<ConfigBackup> copiesAmong(const QVector<FolderEntry>& entries, const QString& configPath)
{
    const QString prefix = prefixOf(configPath);
    const QString folder = backupDirPath();
    QVector<ConfigBackup> backups;
    // The entries come sorted by name, which sorts the copies by time.
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        if (!it->status.isRegular() || !it->name.startsWith(prefix))
            continue;
        QDateTime taken = QDateTime::fromString(it->name.mid(prefix.size()), stampFormat);
        if (!taken.isValid())
            continue;
        taken.setTimeSpec(Qt::UTC);
        backups.append({pathIn(folder, it->name), taken});
    }
    return backups;
}

} // namespace

QVector<ConfigBackup> ConfigBackups::list(const QString& configPath)
{
    QVector<FolderEntry> entries;
    Host::current().listFolder(backupDirPath(), &entries);
    return copiesAmong(entries, configPath);
}

BackupPlan ConfigBackups::plan(const QString& configPath, bool exists, const QByteArray& current)
{
    BackupPlan plan;
    if (!exists)
        return plan;
    Host& host = Host::current();
    const QString folder = backupDirPath();
    if ((plan.error = ensureFolder(host, folder)) != 0)
        return plan;
    QVector<FolderEntry> entries;
    if ((plan.error = host.listFolder(folder, &entries)) != 0)
        return plan;
    const QVector<ConfigBackup> existing = copiesAmong(entries, configPath);
    bool newestHoldsThis = false;
    if (!existing.isEmpty()) {
        HostRequest digest{HostRequest::Digest, existing.first().path, configFileLimit};
        const QVector<HostReply> replies = host.query({digest});
        newestHoldsThis = replies.size() == 1 && replies.first().error == 0 &&
                          replies.first().digest == FileFingerprint::sha256(current);
    }
    int kept = keptCount;
    if (!newestHoldsThis) {
        QSet<QString> taken;
        for (const FolderEntry& entry : qAsConst(entries))
            taken.insert(entry.name);
        plan.copyPath = freshPath(folder, prefixOf(configPath), taken);
        --kept; // the new copy is one of them
    }
    for (int i = kept; i < existing.size(); ++i)
        plan.removeAfterwards.append(existing.at(i).path);
    return plan;
}
