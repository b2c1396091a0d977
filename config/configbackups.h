#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

// Copies of the configuration file kept before it is replaced, in
// backupDirPath() as "<file name>.<UTC time stamp>", readable by root only.
// The newest `keptCount` copies of a file name stay; older ones go.
struct ConfigBackup {
    QString path;
    QDateTime taken; // UTC
};

// Which copy a write of the file keeps, and which old copies go once the
// write has succeeded (the host's replaceFile() does both).
struct BackupPlan {
    int error = 0;    // errno value: no copy can be kept
    QString copyPath; // empty: nothing to keep
    QStringList removeAfterwards;
};

namespace ConfigBackups
{
constexpr int keptCount = 20;

// The copies of files named like `configPath`, newest first.
QVector<ConfigBackup> list(const QString& configPath);

// Where the copy of the file at `configPath`, which holds `current` now
// (`exists` false: there is no file yet), goes. No copy is planned when
// there is nothing to copy or the newest copy already holds the same bytes.
// The backup folder is made (mode 0700) when it is missing.
BackupPlan plan(const QString& configPath, bool exists, const QByteArray& current);
} // namespace ConfigBackups
