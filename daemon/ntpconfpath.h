#pragma once

#include <QString>

// The classic daemon's configuration file, "/etc/ntp.conf". The file actually
// edited is ConfigDocument::path(), chosen at start-up; this is its default.
// Tests point it at a file of their own through setNtpConfPathForTesting(),
// which nothing in the program itself calls.
QString ntpConfPath();
void setNtpConfPathForTesting(const QString& path);

// Paths of the machine's NTP set-up. Each is the absolute system path passed
// through systemPath(), so that tests can lay out a whole fake system in a
// folder with setSystemRootForTesting(); the program itself never calls it.
QString systemPath(const QString& absolutePath);
void setSystemRootForTesting(const QString& root);
QString classicConfPath();       // /etc/ntp.conf, whatever file is edited
QString ntpsecConfPath();        // /etc/ntpsec/ntp.conf
QString ntpsecDhcpConfPath();    // /run/ntpsec/ntp.conf.dhcp
QString classicDhcpConfPath();   // /run/ntp.conf.dhcp
QString ntpsecDefaultsPath();    // /etc/default/ntpsec
QString classicInitScriptPath(); // /etc/init.d/ntp
QString ntpsecInitScriptPath();  // /etc/init.d/ntpsec
QString ntpdProgramPath();       // /usr/sbin/ntpd
QString dpkgStatusPath();        // /var/lib/dpkg/status
QString procPath();              // /proc
QString ntpdPidFilePath();       // /run/ntpd.pid, written by both daemons' scripts and units
QString systemdRuntimePath();    // /run/systemd/system: present while systemd runs
QString syslogPath();            // /var/log/syslog, where there is no journal

// Where copies of the configuration file are kept before it is replaced.
// Always "/var/backups/ntp-service-manager" in the shipped program; tests
// point it at a folder of their own through setBackupDirPathForTesting().
QString backupDirPath();
void setBackupDirPathForTesting(const QString& path);
