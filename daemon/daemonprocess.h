#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

class Host;
struct FileStatus;
struct HostProcess;

// Which of the host's processes is the installed NTP daemon. The program runs
// as root and edits the file the daemon reads, so a process counts only when
// nobody but root can have chosen it: its executable (/proc/PID/exe) is a
// root-owned `ntpd`, not writable by group or others, in a system program
// folder whose folders up to / are all root-owned and not writable by group
// or others, and it runs as root or as the daemon's own system account.
// Any other process called ntpd (a copy run by an ordinary user, a program
// of that name in a user's folder) is ignored.

struct DaemonProcess {
    qint64 pid = 0;
    QStringList arguments;    // argv without argv[0]
    QString workingDirectory; // where a relative -c is taken from; empty when unknown
};

// The user ids of the daemon's system accounts ("ntpsec", "ntp") in a
// passwd text.
QSet<uint> daemonAccountUids(const QByteArray& passwd);

// The installed daemon's processes among `processes` of `host`, in their
// order. The host's /etc/passwd (systemPath()) names the daemon's accounts.
QVector<DaemonProcess> installedDaemonProcesses(Host& host, const QVector<HostProcess>& processes);

// The executable of a /proc/PID/exe link text: " (deleted)" of a program
// replaced by an upgrade while it runs is taken off.
QString executableOfLink(const QString& link);

// Whether root may run the program at `path` on `host`: a regular,
// executable file that only root may change.
bool isRootsProgram(Host& host, const QString& path);
