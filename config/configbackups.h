#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

// Copies of a configuration file kept before it is replaced, readable by
// root only. Each edited file has a folder of its own in backupDirPath(),
// named after its full path (escaped), so that copies of two files called
// ntp.conf never mix. A copy is named
//   "<sequence>_<UTC time stamp>_<reason, escaped>"
// where the sequence number orders the copies by when the program wrote
// them, whatever the clock said then. The newest `keptCount` copies of a file
// stay; older ones go. Copies of the daemon's own file kept before copies had
// folders ("<file name>.<UTC time stamp>" in backupDirPath() itself) are
// still listed for it (the file the daemon reads, or ntpConfPath()), as older
// than every newer copy.
//
// Only root may control the folder: one that is a symbolic link or that
// another user owns or may write to is refused. Only regular files in it
// are copies; links, FIFOs and folders are never listed or removed.
struct ConfigBackup {
    QString path;
    QDateTime taken;     // UTC
    QString reason;      // what made the copy ("before Restore"); may be empty
    qint64 sequence = 0; // 0 for a copy of the older layout
    qint64 size = -1;    // bytes, as the folder's listing gave it
};

// Which copy a write of the file keeps, and which old copies go once the
// write has succeeded (the host's replaceFile() does both).
struct BackupPlan {
    int error = 0;    // errno value: no copy can be kept
    QString refusal;  // why the backup folder is not used, when it is not
    QString copyPath; // empty: nothing to keep
    QStringList removeAfterwards;
};

class Host;
struct HostRequest;

namespace ConfigBackups
{
constexpr int keptCount = 20;

// The folder that holds the copies of the file at `configPath`.
QString folderFor(const QString& configPath);

// The copies of the file at `configPath`, newest first. Empty, with the
// reason in `refusal`, when the backup folder is not root's alone.
QVector<ConfigBackup> list(const QString& configPath, QString* refusal = nullptr);

// Where the copy of the file at `configPath`, which holds `current` now
// (`exists` false: there is no file yet), goes; `reason` is stored with it.
// No copy is planned when there is nothing to copy or the newest copy
// already holds the same bytes. The folders are made (mode 0700) when
// missing. The copy planned is always kept, whatever the others' dates.
BackupPlan plan(const QString& configPath, bool exists, const QByteArray& current,
                const QString& reason = QString());
// The same, on `host` rather than the current one.
BackupPlan plan(Host& host, const QString& configPath, bool exists, const QByteArray& current,
                const QString& reason);
// What plan() looks at that can be asked for before it in one batch.
QVector<HostRequest> planRequests(const QString& configPath);
} // namespace ConfigBackups
