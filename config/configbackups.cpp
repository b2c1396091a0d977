#include "config/configbackups.h"

#include "config/config.h"
#include "config/filefingerprint.h"
#include "config/filetrust.h"
#include "daemon/daemonsetup.h"
#include "daemon/ntpconfpath.h"
#include "host/host.h"
#include "host/hostpath.h"

#include <QHash>

#include <algorithm>
#include <cerrno>

namespace
{

const QString stampFormat = QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'");
constexpr int sequenceDigits = 8;
// More entries than this in a backup folder are not looked at: the folder
// is root's alone, so only a fault makes it that large.
constexpr int maxEntries = 10000;

QString escaped(const QString& text)
{
    // Only letters, digits and "-.~" stay; "/" and "_" (the separator of
    // the parts of a copy's name) are escaped.
    return QString::fromLatin1(text.toUtf8().toPercentEncoding(QByteArray(), "_"));
}

QString unescaped(const QString& text)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toLatin1()));
}

QDateTime stampOf(const QString& text)
{
    QDateTime taken = QDateTime::fromString(text, stampFormat);
    if (taken.isValid())
        taken.setTimeSpec(Qt::UTC);
    return taken;
}

// Creates the folder (mode 0700) unless it exists; then it must be root's
// alone.
int ensureFolder(Host& host, const QString& folder, QString* refusal)
{
    const int error = host.makeFolder(folder, 0700);
    if (error != 0 && error != EEXIST)
        return error;
    *refusal = FileTrust::whyUntrustedFolder(host, folder);
    return refusal->isEmpty() ? 0 : EPERM;
}

// A copy in the folder of its file, by its name; sequence 0 if it is none.
ConfigBackup copyNamed(const QString& folder, const FolderEntry& entry)
{
    const QString& name = entry.name;
    ConfigBackup copy;
    const QStringList parts = name.split(QLatin1Char('_'));
    if (parts.size() != 3 || parts.first().size() != sequenceDigits)
        return copy;
    bool numeric = false;
    const qint64 sequence = parts.at(0).toLongLong(&numeric);
    const QDateTime taken = stampOf(parts.at(1));
    if (!numeric || sequence <= 0 || !taken.isValid())
        return copy;
    return {pathIn(folder, name), taken, unescaped(parts.at(2)), sequence, entry.status.size};
}

QVector<ConfigBackup> copiesIn(const QVector<FolderEntry>& entries, const QString& folder)
{
    QVector<ConfigBackup> copies;
    for (const FolderEntry& entry : entries) {
        if (!entry.status.isRegular())
            continue;
        const ConfigBackup copy = copyNamed(folder, entry);
        if (copy.sequence > 0)
            copies.append(copy);
    }
    return copies;
}

// Copies of the older layout were kept by file name only; they are taken as
// of the file the daemon reads, which the program edited then.
bool isDaemonsOwnFile(const QString& configPath)
{
    const QString path = cleanPath(absolutePath(configPath));
    const DaemonSetup& daemon = currentDaemon();
    for (const QString& own : {ntpConfPath(), daemon.daemonConfig, daemon.editedConfig}) {
        if (!own.isEmpty() && cleanPath(absolutePath(own)) == path)
            return true;
    }
    return false;
}

// Copies of the older layout: "<file name>.<stamp>" beside the folders.
QVector<ConfigBackup> flatCopiesIn(const QVector<FolderEntry>& entries, const QString& folder,
                                   const QString& configPath)
{
    QVector<ConfigBackup> copies;
    if (!isDaemonsOwnFile(configPath))
        return copies;
    const QString prefix = fileNameOfPath(configPath) + QLatin1Char('.');
    for (const FolderEntry& entry : entries) {
        if (!entry.status.isRegular() || !entry.name.startsWith(prefix))
            continue;
        const QDateTime taken = stampOf(entry.name.mid(prefix.size()));
        if (taken.isValid())
            copies.append({pathIn(folder, entry.name), taken, QString(), 0, entry.status.size});
    }
    return copies;
}

// Newest first: by sequence, the older layout by its time stamps after.
void sortNewestFirst(QVector<ConfigBackup>* copies)
{
    std::sort(copies->begin(), copies->end(), [](const ConfigBackup& a, const ConfigBackup& b) {
        if (a.sequence != b.sequence)
            return a.sequence > b.sequence;
        return a.taken > b.taken;
    });
}

struct Found {
    int error = 0;
    QString refusal;
    QVector<ConfigBackup> copies;
};

Found findCopies(Host& host, const QString& configPath)
{
    Found found;
    const QString top = backupDirPath();
    const QString own = ConfigBackups::folderFor(configPath);
    found.refusal = FileTrust::whyUntrustedFolder(host, top);
    if (found.refusal.isEmpty())
        found.refusal = FileTrust::whyUntrustedFolder(host, own);
    if (!found.refusal.isEmpty()) {
        found.error = EPERM;
        return found;
    }
    const QVector<HostReply> listings =
        host.query({{HostRequest::ListFolder, own}, {HostRequest::ListFolder, top}});
    auto usable = [&listings](int i) {
        return listings.size() == 2 && listings.at(i).error == 0 &&
               listings.at(i).entries.size() <= maxEntries;
    };
    if (usable(0))
        found.copies = copiesIn(listings.at(0).entries, own);
    if (usable(1))
        found.copies += flatCopiesIn(listings.at(1).entries, top, configPath);
    sortNewestFirst(&found.copies);
    return found;
}

qint64 nextSequence(const QVector<ConfigBackup>& copies)
{
    qint64 highest = 0;
    for (const ConfigBackup& copy : copies)
        highest = std::max(highest, copy.sequence);
    return highest + 1;
}

QString copyName(qint64 sequence, const QString& reason)
{
    return QStringLiteral("%1_%2_%3")
        .arg(sequence, sequenceDigits, 10, QLatin1Char('0'))
        .arg(QDateTime::currentDateTimeUtc().toString(stampFormat), escaped(reason));
}

// The digests of the copies this program wrote, by host and path. The
// folders are root's alone (checked at every write), so such a copy holds
// what was copied unless root changed it; its size is checked as well. Known
// here, the newest copy costs no round trip to a server at the next Apply.
// Used on the GUI thread only.
struct WrittenCopy {
    qint64 size = -1;
    QByteArray digest;
};
QHash<QString, WrittenCopy>& writtenCopies()
{
    static QHash<QString, WrittenCopy> copies;
    return copies;
}

QString copyKey(Host& host, const QString& path)
{
    return host.name() + QLatin1Char('\n') + path;
}

bool newestHolds(Host& host, const QVector<ConfigBackup>& copies, const QByteArray& current)
{
    if (copies.isEmpty())
        return false;
    const ConfigBackup& newest = copies.first();
    if (newest.size >= 0 && newest.size != current.size())
        return false;
    const QByteArray wanted = FileFingerprint::sha256(current);
    const auto written = writtenCopies().constFind(copyKey(host, newest.path));
    if (written != writtenCopies().constEnd() && written->size == newest.size)
        return written->digest == wanted;
    HostRequest digest{HostRequest::Digest, newest.path, configFileLimit};
    const QVector<HostReply> replies = host.query({digest});
    return replies.size() == 1 && replies.first().error == 0 && replies.first().digest == wanted;
}

} // namespace

QString ConfigBackups::folderFor(const QString& configPath)
{
    return pathIn(backupDirPath(), escaped(cleanPath(absolutePath(configPath))));
}

QVector<ConfigBackup> ConfigBackups::list(const QString& configPath, QString* refusal)
{
    const Found found = findCopies(Host::current(), configPath);
    if (refusal)
        *refusal = found.refusal;
    return found.copies;
}

BackupPlan ConfigBackups::plan(const QString& configPath, bool exists, const QByteArray& current,
                               const QString& reason)
{
    return plan(Host::current(), configPath, exists, current, reason);
}

// The folders' own status, the status of every folder above them and their
// listings.
QVector<HostRequest> ConfigBackups::planRequests(const QString& configPath)
{
    const QString top = backupDirPath();
    const QString own = folderFor(configPath);
    QVector<HostRequest> requests{{HostRequest::Status, top}, {HostRequest::Status, own}};
    QString above;
    requests.append({HostRequest::Status, QStringLiteral("/")});
    for (const QString& part :
         cleanPath(absolutePath(folderOfPath(top))).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        above += QLatin1Char('/') + part;
        requests.append({HostRequest::Status, above});
    }
    requests.append({HostRequest::ListFolder, own});
    requests.append({HostRequest::ListFolder, top});
    return requests;
}

BackupPlan ConfigBackups::plan(Host& host, const QString& configPath, bool exists,
                               const QByteArray& current, const QString& reason)
{
    BackupPlan plan;
    if (!exists)
        return plan;
    const QString own = folderFor(configPath);
    if ((plan.error = ensureFolder(host, backupDirPath(), &plan.refusal)) != 0 ||
        (plan.error = ensureFolder(host, own, &plan.refusal)) != 0)
        return plan;
    const Found found = findCopies(host, configPath);
    if ((plan.error = found.error) != 0) {
        plan.refusal = found.refusal;
        return plan;
    }
    int kept = keptCount;
    if (!newestHolds(host, found.copies, current)) {
        plan.copyPath = pathIn(own, copyName(nextSequence(found.copies), reason));
        writtenCopies().insert(copyKey(host, plan.copyPath),
                               {current.size(), FileFingerprint::sha256(current)});
        --kept; // the new copy is one of them, and the newest
    }
    for (int i = kept; i < found.copies.size(); ++i)
        plan.removeAfterwards.append(found.copies.at(i).path);
    return plan;
}
