#include "tests/common/fakesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "daemon/ntpconfpath.h"
#include "tests/common/testfiles.h"

FakeSystem::FakeSystem()
{
    setSystemRootForTesting(m_dir.path());
}

FakeSystem::~FakeSystem()
{
    // Never fall back to the real machine: later detections find nothing.
    setSystemRootForTesting(QStringLiteral("/nonexistent/ntp-service-manager-test"));
}

QString FakeSystem::path(const QString& absolute) const
{
    return m_dir.path() + absolute;
}

void FakeSystem::makeDir(const QString& absolute) const
{
    QDir().mkpath(path(absolute));
}

void FakeSystem::write(const QString& absolute, const QByteArray& content) const
{
    makeDir(QFileInfo(absolute).path());
    TestHelpers::writeFile(path(absolute), content);
}

void FakeSystem::writeExecutable(const QString& absolute, const QByteArray& content) const
{
    write(absolute, content);
    QFile(path(absolute)).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void FakeSystem::installPackage(const QString& name, const QString& version,
                                const QByteArray& status)
{
    m_dpkgStatus += "Package: " + name.toUtf8() + "\nStatus: " + status +
                    "\nPriority: optional\nVersion: " + version.toUtf8() +
                    "\nDescription: stand-in\n\n";
    write(QStringLiteral("/var/lib/dpkg/status"), m_dpkgStatus);
}

void FakeSystem::installNtpd(const QByteArray& versionOutput) const
{
    writeExecutable(QStringLiteral("/usr/sbin/ntpd"),
                    "#!/bin/sh\ncat <<'END'\n" + versionOutput + "\nEND\n");
}

void FakeSystem::runProcess(int pid, const QStringList& commandLine, uint uid) const
{
    const QString dir = QStringLiteral("/proc/%1").arg(pid);
    write(dir + QStringLiteral("/cmdline"),
          commandLine.join(QLatin1Char('\0')).toLocal8Bit() + '\0');
    const QString program = commandLine.value(0);
    const QByteArray id = QByteArray::number(uid);
    write(dir + QStringLiteral("/status"), "Name:\t" + QFileInfo(program).fileName().toUtf8() +
                                               "\nUmask:\t0022\nState:\tS (sleeping)\nUid:\t" + id +
                                               '\t' + id + '\t' + id + '\t' + id + "\n");
    const QString executable =
        program.startsWith(QLatin1Char('/')) ? program : QStringLiteral("/usr/sbin/") + program;
    QFile::link(executable, path(dir + QStringLiteral("/exe")));
    QFile::link(QStringLiteral("/"), path(dir + QStringLiteral("/cwd")));
}

void FakeSystem::bootWithSystemd() const
{
    makeDir(QStringLiteral("/run/systemd/system"));
}

void FakeSystem::debian11Classic()
{
    installPackage(QStringLiteral("ntp"), QStringLiteral("1:4.2.8p15+dfsg-1"));
    installNtpd("ntpd 4.2.8p15@1.3728-o Wed Sep 23 11:46:38 UTC 2020 (1)");
    write(QStringLiteral("/etc/ntp.conf"), "pool 0.debian.pool.ntp.org iburst\n");
    writeExecutable(QStringLiteral("/etc/init.d/ntp"), "#!/bin/sh\nexit 0\n");
    bootWithSystemd();
}

void FakeSystem::debian12Ntpsec()
{
    installPackage(QStringLiteral("ntpsec"), QStringLiteral("1.2.2+dfsg1-1+deb12u1"));
    installNtpd("ntpd ntpsec-1.2.2");
    write(QStringLiteral("/etc/ntpsec/ntp.conf"), "pool 0.debian.pool.ntp.org iburst\n");
    write(QStringLiteral("/etc/default/ntpsec"), "NTPD_OPTS=\"-g -N\"\n\nIGNORE_DHCP=\"\"\n");
    writeExecutable(QStringLiteral("/etc/init.d/ntpsec"), "#!/bin/sh\nexit 0\n");
    bootWithSystemd();
}

void FakeSystem::debian12Upgraded()
{
    debian12Ntpsec();
    installPackage(QStringLiteral("ntp"),
                   QStringLiteral("1:4.2.8p15+dfsg-2~1.2.2+dfsg1-1+deb12u1"));
    write(QStringLiteral("/etc/ntp.conf"), "server 192.0.2.1 iburst\n");
}

void FakeSystem::ntpsecWithDhcp()
{
    debian12Ntpsec();
    write(QStringLiteral("/run/ntpsec/ntp.conf.dhcp"), "server 198.51.100.7 iburst\n");
    write(QStringLiteral("/run/ntpd.pid"), "812\n");
    runProcess(812, {QStringLiteral("/usr/sbin/ntpd"), QStringLiteral("-p"),
                     QStringLiteral("/run/ntpd.pid"), QStringLiteral("-g"), QStringLiteral("-N"),
                     QStringLiteral("-c"), QStringLiteral("/run/ntpsec/ntp.conf.dhcp"),
                     QStringLiteral("-u"), QStringLiteral("ntpsec:ntpsec")});
}

void FakeSystem::ntpsecWithDropIns()
{
    debian12Ntpsec();
    write(QStringLiteral("/etc/ntpsec/ntp.d/use-gpsd-json.conf"), "refclock gpsd\n");
    write(QStringLiteral("/etc/ntpsec/ntp.d/default.conf"), "tos maxclock 11\n");
    write(QStringLiteral("/etc/ntpsec/ntp.d/README"), "not read by the daemon\n");
}

void FakeSystem::chronyInstalled()
{
    installPackage(QStringLiteral("chrony"), QStringLiteral("4.3-2+deb12u1"));
    write(QStringLiteral("/etc/chrony/chrony.conf"), "pool 2.debian.pool.ntp.org iburst\n");
    runProcess(640,
               {QStringLiteral("/usr/sbin/chronyd"), QStringLiteral("-F"), QStringLiteral("1")});
    bootWithSystemd();
}

RecordingProcessRunner::RecordingProcessRunner()
{
    ProcessRunner::setInstanceForTesting(this);
}

RecordingProcessRunner::~RecordingProcessRunner()
{
    ProcessRunner::setInstanceForTesting(nullptr);
}

ProcessJob* RecordingProcessRunner::start(const QString& program, const QStringList& arguments,
                                          const ProcessOptions& options)
{
    calls << (QStringList{program} + arguments).join(QLatin1Char(' '));
    return ProcessRunner::start(program, arguments, options);
}
