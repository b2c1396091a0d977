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

// The file a rejected line's message points into, to be opened for the
// line's text: `logged` (the message's file, as the daemon named it) only
// when it is one of `ownFiles` (the edited file, the file the daemon reads,
// its ntp.d drop-ins), compared as paths; empty otherwise. Anyone may write
// to the log (logger), so a message never makes the program open any other
// file. A message without a file points into `ownFiles.first()`.
QString fileOfRejectedLine(const QString& logged, const QStringList& ownFiles);

// The lines of a service command's output that tell of a failure ("fatal",
// "error", "failed", "cannot", ...): a script that says so has failed,
// whatever its exit code.
QStringList failureLines(const QString& output);
