#pragma once

#include <QString>
#include <QStringList>

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

    bool isNtpsec() const { return flavour == DaemonFlavour::Ntpsec; }
};

const DaemonSetup& currentDaemon();
void setCurrentDaemon(const DaemonSetup& setup);
