#pragma once

#include <QString>

// The configuration file the program edits. Always "/etc/ntp.conf" in the
// shipped program; tests point it at a file of their own through
// setNtpConfPathForTesting(), which nothing in the program itself calls.
QString ntpConfPath();
void setNtpConfPathForTesting(const QString& path);
