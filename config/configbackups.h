#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

// Copies of the configuration file kept before it is replaced, in
// backupDirPath() as "<file name>.<UTC time stamp>", readable by root only.
// The newest `keptCount` copies of a file name stay; older ones go.
struct ConfigBackup {
    QString path;
    QDateTime taken; // UTC
};

namespace ConfigBackups
{
constexpr int keptCount = 20;

// The copies of files named like `configPath`, newest first.
QVector<ConfigBackup> list(const QString& configPath);

// Keeps a copy of the file at `configPath` as it is now. Returns 0, or the
// errno value of the step that failed. `made` receives the new copy's path;
// it stays empty when there was nothing to copy (no file yet) or the newest
// copy already holds the same bytes.
int keep(const QString& configPath, QString* made);

// Removes all but the newest `keptCount` copies of the file.
void prune(const QString& configPath);
} // namespace ConfigBackups
