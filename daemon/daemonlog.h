#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

// What the daemon logged, as read from the systemd journal ("journalctl -o
// cat": messages only) or from a syslog file.

// The daemon's messages in a syslog text written at or after `since`: lines
// of "ntpd[PID]: " with either an ISO time stamp ("2024-05-01T10:00:00.123
// +00:00 host ntpd[1]: ...") or the traditional one ("May  1 10:00:00 host
// ntpd[1]: ...", read as the year of `since`).
QStringList daemonMessagesInSyslog(const QString& syslog, const QDateTime& since);

struct RejectedLine {
    int line = 0;
    QString file; // as the daemon named it; empty when it did not
};

// The configuration lines the daemon refused: "syntax error in FILE line N,
// column C" (both daemons) and "line N column C syntax error" (NTPsec), each
// line number once, in the order logged.
QVector<RejectedLine> rejectedConfigLines(const QStringList& messages);
