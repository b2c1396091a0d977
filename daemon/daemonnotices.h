#pragma once

#include <QString>
#include <QStringList>

#include "daemon/daemonsetup.h"

// What the window tells about the daemon it manages, decided from the
// detected set-up alone so that it can be tested without a window.

// One line for the status bar: daemon and version, the edited file and
// whether the daemon runs, e.g. "NTPsec 1.2.2 · /etc/ntpsec/ntp.conf · running".
// A file the daemon does not read is marked as such.
QString daemonSummary(const DaemonSetup& setup, const QString& editedFile);

// The notices to show above the pages, in order of importance; empty when
// all is as expected. `readError` is the errno value of the last read of
// `editedFile` (0 when it was read, ENOENT when it does not exist).
QStringList daemonNotices(const DaemonSetup& setup, const QString& editedFile, int readError);

// True when the daemon reads `file`, directly or through its DHCP copy.
bool daemonReadsFile(const DaemonSetup& setup, const QString& file);
