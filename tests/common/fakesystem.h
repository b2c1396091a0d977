#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "daemon/daemonsetup.h"
#include "host/processrunner.h"

// A whole fake machine in a temporary folder: every system path of the
// program (ntpconfpath.h) resolves under it while this object lives. The
// layouts are those of real Debian and Ubuntu releases.
class FakeSystem
{
public:
    FakeSystem();
    ~FakeSystem();

    // The fake machine's path for an absolute system path.
    QString path(const QString& absolute) const;
    void write(const QString& absolute, const QByteArray& content) const;
    void writeExecutable(const QString& absolute, const QByteArray& content) const;
    void makeDir(const QString& absolute) const;

    // A package dpkg lists as installed.
    void installPackage(const QString& name, const QString& version,
                        const QByteArray& status = "install ok installed");
    // /usr/sbin/ntpd that prints `versionOutput` for --version.
    void installNtpd(const QByteArray& versionOutput) const;
    // A process with this command line in the fake /proc, as the kernel
    // shows one: cmdline, status with the real user id, and the exe and cwd
    // links (exe to argv[0], taken from /usr/sbin when it names no folder).
    void runProcess(int pid, const QStringList& commandLine, uint uid = 0) const;
    // systemd runs (/run/systemd/system exists).
    void bootWithSystemd() const;

    // Layouts, each a fresh install unless said otherwise.
    void debian11Classic();    // ntp 4.2.8p15: /etc/ntp.conf, /etc/init.d/ntp
    void debian12Ntpsec();     // ntpsec 1.2.2: /etc/ntpsec/ntp.conf, /etc/init.d/ntpsec
    void debian12Upgraded();   // from Debian 11: a dead /etc/ntp.conf, transitional ntp
    void ntpsecWithDhcp();     // running on the DHCP copy in /run/ntpsec
    void ntpsecWithDropIns();  // /etc/ntpsec/ntp.d/*.conf
    void chronyInstalled();    // chrony running, no NTP daemon
    void nothingInstalled() {} // an empty machine

private:
    QTemporaryDir m_dir;
    QByteArray m_dpkgStatus;
};

// Runs programs as real processes, remembering each call ("program args"),
// while it lives.
class RecordingProcessRunner : public ProcessRunner
{
public:
    RecordingProcessRunner();
    ~RecordingProcessRunner() override;
    QStringList calls;
    ProcessJob* start(const QString& program, const QStringList& arguments,
                      const ProcessOptions& options) override;
};
