#pragma once

#include "config/ntpsettings.h"

#include <array>

struct ConfigLine;

// The sections of a written configuration file, in the order they appear.
enum class Section {
    Enables,
    StatsDir,
    LogFile,
    LogConfig,
    BroadcastClient,
    BroadcastDelay,
    DriftFile,
    Statistics,
    Servers,
    Broadcasts,
    ManycastServers,
    MulticastClients,
    Refclocks,
    Fudges,
    FileGens,
    Restricts,
    Discards,
};
constexpr int sectionCount = int(Section::Discards) + 1;

// What became of one line of a file when it was read into a record.
struct LineRole {
    // Taken in: the record holds the line, and writing regenerates it as line
    // `item` of `section`. Otherwise the line is carried over as it stands.
    bool taken = false;
    Section section = Section::Enables;
    int item = 0;
    // For a carried line of a directive whose first line wins: the section
    // of that directive, and whether the line gives it a value.
    bool firstLineWins = false;
    bool hasValue = false;
};

// Reads lines into a record one by one, in file order, and tells for every
// line whether the record took it in. The reader of the configuration and the
// writer (which decides what to carry over from the old file) both go
// through this class, so they never disagree about a line.
class RecordLineReader
{
public:
    // Empties `record` and fills it from the lines given to take().
    explicit RecordLineReader(NtpSettings& record);

    LineRole take(const ConfigLine& line);

private:
    LineRole takePool(const ConfigLine& line);
    LineRole takeAssociation(QList<ServerEntry>& list, Section section, const ConfigLine& line);
    LineRole takeSingleValue(QString& field, Section section, const ConfigLine& line);
    LineRole takeLogConfig(const ConfigLine& line);
    LineRole takeBroadcastClient(const ConfigLine& line);
    LineRole takeStatistics(const ConfigLine& line);
    LineRole takeEnable(const ConfigLine& line);
    // A later line of a directive whose first line already counted.
    static LineRole carriedRepeat(Section section, const ConfigLine& line);

    NtpSettings& m_record;
    std::array<bool, sectionCount> m_seen{};
};

// The record's lines of every section, as writing them gives them (without
// line ends). The statistics section always holds one line, possibly empty.
using SectionLines = std::array<QStringList, sectionCount>;
SectionLines renderSections(const NtpSettings& record);

// "default", or an IPv4 address of four dotted decimal parts from 0 to 255.
bool isPlainRestrictAddress(const QString& address);

// Whether a line the record took in (as `role`) is written back exactly as
// the file gave it while its entry is unchanged: pool lines, server lines
// with "nts" and restrict lines other than the plain IPv4 form. Other lines are written in the
// record's own format.
bool keptAsWritten(const NtpSettings& record, const LineRole& role);

// Whether the record holds a value for a directive whose first line wins.
bool recordHoldsDirective(const NtpSettings& record, Section section);
