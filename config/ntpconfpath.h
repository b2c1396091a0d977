#pragma once

#include <QString>

// The configuration file the program edits. Always "/etc/ntp.conf" in the
// shipped program; tests point it at a file of their own through
// setNtpConfPathForTesting(), which nothing in the program itself calls.
QString ntpConfPath();
void setNtpConfPathForTesting(const QString& path);

// Where copies of the configuration file are kept before it is replaced.
// Always "/var/backups/ntp-service-manager" in the shipped program; tests
// point it at a folder of their own through setBackupDirPathForTesting().
QString backupDirPath();
void setBackupDirPathForTesting(const QString& path);
