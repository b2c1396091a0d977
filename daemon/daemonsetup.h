#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// Which NTP daemon the machine has and how it is set up. Start-up detects it
// once and hands it to setCurrentDaemon(); until then (and in tests that do
// not set one) the classic daemon with its fixed paths is assumed.
enum class DaemonFlavour {
    None,    // no NTP daemon installed
    Classic, // ntp 4.2.x: /etc/ntp.conf, /etc/init.d/ntp
    Ntpsec,  // NTPsec: /etc/ntpsec/ntp.conf, /etc/init.d/ntpsec
};

struct DaemonSetup {
    DaemonFlavour flavour = DaemonFlavour::Classic;
    QString version; // "4.2.8p15", "1.2.2"; empty when unknown

    // Another time service installed or running ("chrony",
    // "systemd-timesyncd", "OpenNTPD"); empty when there is none.
    QString otherTimeService;
    bool otherTimeServiceRuns = false;

    bool running = false; // an ntpd of this flavour runs now
    QString daemonConfig; // the file the daemon reads (or will read at its next start)
    QString editedConfig; // the file to edit for it: daemonConfig, or what a DHCP copy is made from
    QString dhcpConfig;   // the DHCP copy the daemon reads instead; empty when none
    QStringList dropIns;  // ntp.d/*.conf files the daemon reads as well
    QString deadClassicConfig; // an /etc/ntp.conf left beside the live file, read by nobody
    QString initScript;        // the daemon's init script; empty when there is none
    QString systemdUnit;       // the unit to control when there is no init script

    // What detection could not settle from the machine's files, for the
    // notices: the file it is about and, where there is one, the value.
    struct Doubt {
        enum Kind {
            UntrustedFile,        // not owned by root or writable by others: ignored
            OptionsNotUnderstood, // NTPD_OPTS depends on more than plain assignments
            RelativeConfig,       // -c with a relative path: taken from `value`'s folder
            ConfigLineBreak,      // NTPD_OPTS holds a line break, which splits words
        };
        Kind kind = UntrustedFile;
        QString file;
        QString value;
    };
    QVector<Doubt> doubts;

    bool isNtpsec() const { return flavour == DaemonFlavour::Ntpsec; }
};

const DaemonSetup& currentDaemon();
void setCurrentDaemon(const DaemonSetup& setup);

// Looks at the installed daemon (`ntpd --version`, the package database), the
// running processes, the daemon's defaults file and the init scripts of the
// current host (Host::current()), all under the system paths of
// ntpconfpath.h.
DaemonSetup detectDaemonSetup();

// Whether an ntpd of `flavour` runs now, and with which configuration file:
// the one answer to "is the daemon running" for the whole program. Only the
// installed daemon counts (installedDaemonProcesses(), daemonprocess.h), the
// one its root-owned pid file names first; a relative -c is taken from its
// working folder.
bool findRunningNtpd(DaemonFlavour flavour, QString* config = nullptr);

// The file the program edits: the one named on the command line, else the
// detected one.
QString configFileToEdit(const DaemonSetup& setup, const QString& commandLineFile);

// True when both name the same file of the current host (after following
// symbolic links; for paths of which one does not exist, when the paths are
// the same).
bool isSameFile(const QString& a, const QString& b);

// "NTPsec", "ntpd" (classic) or "" for none.
QString daemonDisplayName(DaemonFlavour flavour);
