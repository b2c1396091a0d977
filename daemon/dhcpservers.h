#pragma once

#include <QString>
#include <QVector>

// The time sources of the configuration copy a DHCP client writes for the
// daemon (DaemonSetup::dhcpConfig): the servers the daemon uses instead of
// those of the edited file.
struct DhcpSource {
    QString keyword; // "server", "pool" or "peer"
    QString address;
    QString line; // the line as the copy gives it, without its comment
};

struct DhcpSources {
    QVector<DhcpSource> sources;
    // Why the copy was not read (not root's, too large, unreadable); empty
    // when it was.
    QString error;
};

// Largest DHCP copy read; a larger one is reported, not read.
constexpr qint64 dhcpConfigLimit = 1024 * 1024;

// Reads the copy at `path` through Host::current(). Only a regular file of
// root's, in a folder of root's, that neither group nor others can write is
// read: anyone else could make it show any servers.
DhcpSources readDhcpSources(const QString& path);
