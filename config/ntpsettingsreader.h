#pragma once

#include "config/ntpsettings.h"
#include "config/recordsections.h"

struct ConfigLine;

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
    LineRole takePeer(const ConfigLine& line);
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
