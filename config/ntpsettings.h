#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>

#include "config/filefingerprint.h"

class Config;
struct ConfigLine;

// Every member a reader fills beyond the plain fields keeps what a line said
// that the record has no field for, so that writing the record back loses
// nothing: `extraOptions` are the tokens the option walk skipped, in order,
// and `comment` is the line's trailing "# ..." comment.

struct ServerEntry {
    QString address;
    QString key;
    int minPoll = -1;
    int maxPoll = -1;
    bool iburst = false;
    bool burst = false;
    bool prefer = false;
    bool noSelect = false;
    bool preempt = false;
    bool truechimer = false;
    int ttl = -1;
    int version = -1;
    int mode = -1;

    // A "pool" line: the address names a pool of servers of which the
    // daemon takes several. Only `servers` entries can be pools.
    bool pool = false;
    // A "peer" line (NTPsec reads it as "server"). Only `servers` entries.
    bool peer = false;
    // "-4" or "-6" when the line limits the source to one address family
    // (the word before the address); empty otherwise. Only `servers` entries.
    QString family;

    QStringList extraOptions;
    QString comment;

    // Whether the options the record has no field for include "nts"
    // (authentication by Network Time Security, NTPsec only), and setting it:
    // added at the end, or every "nts" removed.
    bool usesNts() const;
    void setNts(bool on);

    // Whether the options without a field hold a numeric option whose value
    // the record cannot hold (such as "mode 4294967295"), and dropping those
    // of the options `names` (for fields that are written anyway).
    bool holdsOutsizedNumber() const;
    void dropOutsizedNumbers(const QStringList& names);

    bool operator==(const ServerEntry& o) const;
    bool operator!=(const ServerEntry& o) const { return !(*this == o); }
};

struct FudgeEntry {
    QString address;
    int stratum = -1;
    int mode = -1;
    QString time1;
    QString time2;
    QString refid;
    bool flag1 = false;
    bool flag2 = false;
    bool flag3 = false;
    bool flag4 = false;
    // Which of flag1 to flag4 the line names. The daemon applies a clock's
    // fudge lines in order, each setting only what it names, so a line is
    // written with the flags it named (and any that are set): writing the
    // others as 0 would clear what an earlier line set. A new entry names all
    // four. Not part of the settings compared by ==.
    std::array<bool, 4> namedFlags{{true, true, true, true}};

    QStringList extraOptions;
    QString comment;

    bool operator==(const FudgeEntry& o) const;
    bool operator!=(const FudgeEntry& o) const { return !(*this == o); }
};

// A reference clock in NTPsec's syntax: "refclock NAME unit N ...". Numbers
// and flags not given are -1; options without a field stay in extraOptions.
struct RefclockEntry {
    QString driver; // the driver's short name as written ("shm", "nmea")
    int unit = -1;
    int mode = -1;
    int minPoll = -1;
    int maxPoll = -1;
    int stratum = -1;
    QString time1;
    QString time2;
    QString refid;
    bool prefer = false;
    int flag1 = -1;
    int flag2 = -1;
    int flag3 = -1;
    int flag4 = -1;

    QStringList extraOptions;
    QString comment;

    bool operator==(const RefclockEntry& o) const;
    bool operator!=(const RefclockEntry& o) const { return !(*this == o); }
};

struct FileGenEntry {
    QString name;
    QString type;
    QString file;
    bool link = false;
    bool enabled = false;
    // Whether the line names link or nolink, and enable or disable. For a
    // word not named the daemon keeps its own setting (link on, enabled as
    // the statistics line says), so a line is written with the words it
    // named (and any that are set): writing nolink or disable in their place
    // would switch off what nobody changed. A new entry names both. Not part
    // of the settings compared by ==.
    bool namesLink = true;
    bool namesEnable = true;

    QStringList extraOptions;
    QString comment;

    bool operator==(const FileGenEntry& o) const;
    bool operator!=(const FileGenEntry& o) const { return !(*this == o); }
};

struct RestrictEntry {
    QString address;
    QString mask;
    QMap<QString, bool> flags;

    // "-4" or "-6" when the line limits itself to one address family (the
    // word before the address); empty otherwise.
    QString family;
    QString comment;

    // True for the entries of the plain form: no family word and the address
    // "default" or four dotted decimal parts. Every other entry (IPv6, a
    // prefix such as 192.0.2.0/24, a host name, "source", a family word)
    // is written back as the file gave it while it is unchanged.
    bool isPlainIpv4() const;

    bool operator==(const RestrictEntry& o) const;
    bool operator!=(const RestrictEntry& o) const { return !(*this == o); }
};

struct DiscardEntry {
    QString average;
    QString minimum;
    QString monitor;

    QStringList extraOptions;
    QString comment;

    bool operator==(const DiscardEntry& o) const;
    bool operator!=(const DiscardEntry& o) const { return !(*this == o); }
};

// The typed record of every directive the program understands.
struct NtpSettings {
    QString statsDir;
    QString broadcastDelay;
    QString driftFile;
    QString logFile;
    bool clockStats = false;
    bool cryptoStats = false;
    bool loopStats = false;
    bool peerStats = false;
    bool rawStats = false;
    bool sysStats = false;
    bool broadcastClient = false;
    bool noVolley = false;
    QList<FudgeEntry> fudges;
    QList<FileGenEntry> fileGens;
    QList<RestrictEntry> restricts;
    QList<DiscardEntry> discards;
    QList<ServerEntry> servers;
    QList<ServerEntry> broadcasts;
    QList<ServerEntry> manycastServers;
    QList<ServerEntry> multicastClients;
    QList<RefclockEntry> refclocks; // "refclock" lines
    QStringList enables;
    QStringList logConfig;

    // Tokens of single-line directives that have no field, by directive
    // keyword ("statistics" names such as "protostats", words after the value
    // of "driftfile", ...), and the trailing comments of those lines.
    QMap<QString, QStringList> directiveExtras;
    QMap<QString, QString> directiveComments;

    // The file as it was when this record was last read from it.
    FileFingerprint source;

    // Reading (config/ntpsettingsreader.cpp) and writing
    // (config/ntpsettingswriter.cpp) the record.
    void readFrom(const Config& config);
    bool writeTo(const QString& path) const;
    // As writeTo(); on failure `errorMessage` receives the system's reason.
    bool writeTo(const QString& path, QString* errorMessage) const;
    // The text writeTo() would write over a file whose current lines are
    // `oldLines` (which of them are carried over, and where, is the rule of
    // config/carryoverplan.cpp).
    QByteArray render(const QVector<ConfigLine>& oldLines) const;

    // Compares the settings; `source` is not part of them.
    bool operator==(const NtpSettings& o) const;
    bool operator!=(const NtpSettings& o) const { return !(*this == o); }
};

extern NtpSettings ntpSettings;

// So that pages can keep a loaded entry with the row that shows it.
Q_DECLARE_METATYPE(ServerEntry)
Q_DECLARE_METATYPE(FudgeEntry)
Q_DECLARE_METATYPE(RefclockEntry)
Q_DECLARE_METATYPE(FileGenEntry)
Q_DECLARE_METATYPE(RestrictEntry)
