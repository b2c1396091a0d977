#include "daemon/daemonnotices.h"

#include <QCoreApplication>

#include <cerrno>

#include "daemon/ntpconfpath.h"
#include "host/host.h"
#include "host/hostpath.h"

namespace
{
QString tr(const char* text)
{
    return QCoreApplication::translate("DaemonNotices", text);
}

QString readFailureReason(int error)
{
    // The host's reads give EINVAL for anything that is not a regular file.
    if (error == EINVAL)
        return tr("it is not a regular file");
    return errnoText(error);
}

QString fileNames(const QStringList& paths)
{
    QStringList names;
    for (const QString& path : paths)
        names << fileNameOfPath(path);
    return names.join(QStringLiteral(", "));
}
QString doubtNotice(const DaemonSetup::Doubt& doubt, const DaemonSetup& setup)
{
    const QString reads = setup.daemonConfig.isEmpty() ? ntpConfPath() : setup.daemonConfig;
    switch (doubt.kind) {
    case DaemonSetup::Doubt::UntrustedFile:
        return tr("%1 is not owned by root or can be changed by other users: its settings are "
                  "ignored here, and the daemon may read another file than %2.")
            .arg(doubt.file, reads);
    case DaemonSetup::Doubt::OptionsNotUnderstood:
        return tr("%2 in %1 depends on more than plain assignments and is not worked out "
                  "here: the daemon may read another file than %3.")
            .arg(doubt.file, doubt.value, reads);
    case DaemonSetup::Doubt::RelativeConfig:
        return tr("The daemon is given its configuration file as the relative path %1, "
                  "taken from its working folder %2: %3.")
            .arg(doubt.file, doubt.value, reads);
    case DaemonSetup::Doubt::ConfigLineBreak:
        return tr("NTPD_OPTS in %1 holds a line break, which separates options like a blank: "
                  "the daemon reads %2.")
            .arg(doubt.file, reads);
    }
    return QString();
}
} // namespace

bool daemonReadsFile(const DaemonSetup& setup, const QString& file)
{
    // Until start-up has looked, the classic default is assumed.
    const QString reads = setup.daemonConfig.isEmpty() ? ntpConfPath() : setup.daemonConfig;
    return isSameFile(file, reads) ||
           (!setup.dhcpConfig.isEmpty() && isSameFile(file, setup.editedConfig));
}

QString daemonSummary(const DaemonSetup& setup, const QString& editedFile)
{
    const QString separator = QStringLiteral(" \u00b7 ");
    if (setup.flavour == DaemonFlavour::None)
        return tr("No NTP daemon installed") + separator + editedFile;
    QString daemon = daemonDisplayName(setup.flavour);
    if (!setup.version.isEmpty())
        daemon += QLatin1Char(' ') + setup.version;
    QString file = editedFile;
    if (!daemonReadsFile(setup, editedFile))
        file += QLatin1Char(' ') + tr("(not read by the daemon)");
    else if (!setup.dhcpConfig.isEmpty())
        file += QLatin1Char(' ') + tr("(servers from DHCP)");
    return daemon + separator + file + separator + (setup.running ? tr("running") : tr("stopped"));
}

QStringList daemonNotices(const DaemonSetup& setup, const QString& editedFile, int readError)
{
    QStringList notices;
    if (readError != 0 && readError != ENOENT)
        notices << tr("%1 cannot be read: %2. The pages show no settings.")
                       .arg(editedFile, readFailureReason(readError));
    if (setup.flavour == DaemonFlavour::None) {
        notices << (setup.otherTimeService.isEmpty()
                        ? tr("No NTP daemon is installed. Install the Debian package ntpsec "
                             "(or ntp on releases before Debian 12) for these settings to take "
                             "effect.")
                        : tr("No NTP daemon is installed: this machine keeps time with %1, "
                             "whose configuration this program does not edit. Install the "
                             "Debian package ntpsec (or ntp on releases before Debian 12) to "
                             "use an NTP daemon.")
                              .arg(setup.otherTimeService));
        return notices;
    }
    if (setup.otherTimeServiceRuns && !setup.running)
        notices << tr("%1 is running, so the NTP daemon will not: stop and disable %1 for "
                      "these settings to take effect.")
                       .arg(setup.otherTimeService);
    if (!daemonReadsFile(setup, editedFile))
        notices << tr("The daemon reads %1, not %2: changes made here have no effect on it.")
                       .arg(setup.daemonConfig.isEmpty() ? ntpConfPath() : setup.daemonConfig,
                            editedFile);
    if (!setup.deadClassicConfig.isEmpty() && !isSameFile(setup.deadClassicConfig, editedFile))
        notices << tr("%1 is left over from the classic NTP daemon and is read by nobody; "
                      "%2 reads %3.")
                       .arg(setup.deadClassicConfig, daemonDisplayName(setup.flavour),
                            setup.dhcpConfig.isEmpty() ? setup.daemonConfig : setup.editedConfig);
    if (!setup.dhcpConfig.isEmpty()) {
        QString text = tr("Time servers supplied by DHCP replace the server and pool lines of "
                          "%1: the daemon reads the copy %2.")
                           .arg(setup.editedConfig, setup.dhcpConfig);
        if (setup.isNtpsec())
            text += QLatin1Char(' ') +
                    tr("To use the servers of this file, set IGNORE_DHCP=yes in %1 and "
                       "restart the daemon.")
                        .arg(ntpsecDefaultsPath());
        notices << text;
    }
    if (!setup.dropIns.isEmpty())
        notices << tr("The daemon also reads %1 in %2; the settings there are not shown on "
                      "these pages.")
                       .arg(fileNames(setup.dropIns), folderOfPath(setup.dropIns.constFirst()));
    for (const DaemonSetup::Doubt& doubt : setup.doubts)
        notices << doubtNotice(doubt, setup);
    return notices;
}
