// The carry-over plan: which lines of the old file a write keeps as they
// stand, and where they go among the lines generated from the record.
//
// Which old lines the record holds is decided by RecordLineReader, the same
// class the reader uses: a line it takes in is always regenerated from the
// record (so an entry removed on a page stays removed) and never copied;
// every other line is carried.
//
// A pool line, an NTS server line or a restrict line of another form than
// plain IPv4 (see keptAsWritten()) whose entry is unchanged (its regenerated
// text is that of a generated line) is written as the old file's line itself,
// spacing, option order and comment included: these forms come from files
// the program did not write, and a rewrite in its own format would only stir
// them.
//
// Reference clock lines (server 127.127.t.u, fudge, refclock) and filegen
// lines whose entry is unchanged are written as the old file had them, byte
// for byte: the daemon applies a clock's fudge lines in order, and a filegen
// line's options, each setting only what it names, so a regenerated line must
// not gain options (such as flags set to 0, or nolink) that its line did not
// name. An entry counts as unchanged when it regenerates to the text the old
// line regenerates to.
//
// Where carried lines go:
// - Consecutive carried lines form a run. A run belongs to the taken-in line
//   that follows it in the old file, its anchor. The run is written directly
//   before the first generated line, not yet claimed by an earlier anchor,
//   whose text equals the anchor's regenerated text: a comment stays above
//   the directive it describes. If no generated line has that text any more
//   (the entry was edited or removed), the run goes to the start of the
//   anchor's section, or to where that section would be if it is now empty.
// - Of the run before the first taken-in line, the part up to and including
//   its last blank line is the file's header and stays at the very top; the
//   rest of that run is anchored as above. Runs after the last taken-in line
//   go to the end. (A file without any taken-in line keeps its header at the
//   top and the rest at the end.)
// - A carried line of a directive whose first line wins (a second or
//   valueless statsdir, driftfile, broadcastdelay, logfile, logconfig, or a
//   further broadcastclient) is placed after the record's line of that
//   directive, so the record's value still wins when the file is read again
//   (behind an empty statistics line that follows the record's line, which is
//   where the next save would find it).
//   When the record no longer holds the directive, such a line that gives a
//   value (and any further broadcastclient line) is dropped: it would bring
//   the removed setting back on the next read. When the old file did not give
//   the directive a value either (its first line is valueless), nothing was
//   removed: the later lines are kept, and those with a value are not placed
//   before that first line, so that it still comes first.
// - The statistics line is always written; when it is empty it is left out
//   if the line before or after it is already blank, so blank lines do not
//   pile up with every save. Carried lines due before an empty statistics
//   line are written after it: read again, that line is a blank line like any
//   other, and the lines before it would move behind it on the next save.

#include "config/carryoverplan.h"

#include "config/config.h"
#include "config/ntpsettings.h"
#include "config/ntpsettingsreader.h"
#include "config/ntpsettingswriter.h"
#include "config/referenceclocks.h"

namespace
{

// Whether the record holds a value for a directive whose first line wins.
bool recordHoldsDirective(const NtpSettings& record, Section section)
{
    switch (section) {
    case Section::StatsDir:
        return !record.statsDir.isEmpty();
    case Section::LogFile:
        return !record.logFile.isEmpty();
    case Section::LogConfig:
        return !record.logConfig.isEmpty();
    case Section::BroadcastClient:
        return record.broadcastClient;
    case Section::BroadcastDelay:
        return !record.broadcastDelay.isEmpty();
    case Section::DriftFile:
        return !record.driftFile.isEmpty();
    default:
        return false;
    }
}

// Reference clock and filegen lines keep their bytes while their entry is
// unchanged: the line the record took in as `role` of `record`.
bool keepsItsBytes(const NtpSettings& record, const LineRole& role)
{
    const Section section = role.section;
    if (section == Section::Servers) {
        const ServerEntry& entry = record.servers.at(role.item);
        return !entry.pool && isClockAddress(entry.address);
    }
    return section == Section::Fudges || section == Section::Refclocks ||
           section == Section::FileGens;
}

} // namespace

bool isBlankLine(const QByteArray& raw)
{
    return raw.trimmed().isEmpty();
}

bool keptAsWritten(const NtpSettings& record, const LineRole& role)
{
    if (!role.taken)
        return false;
    if (role.section == Section::Servers) {
        const ServerEntry& entry = record.servers.at(role.item);
        return entry.pool || entry.usesNts() || entry.peer || !entry.family.isEmpty() ||
               entry.holdsOutsizedNumber();
    }
    if (role.section == Section::Restricts)
        return !record.restricts.at(role.item).isPlainIpv4();
    return false;
}

CarryOverPlan::CarryOverPlan(const NtpSettings& record, const QStringList& generated,
                             const std::array<int, sectionCount + 1>& sectionStart,
                             const QVector<ConfigLine>& oldLines)
    : asWritten(generated.size(), -1), before(generated.size() + 1),
      movedBefore(generated.size() + 1), m_record(record), m_generated(generated),
      m_sectionStart(sectionStart), m_oldLines(oldLines)
{
    NtpSettings oldRecord;
    RecordLineReader reader(oldRecord);
    m_roles.reserve(oldLines.size());
    for (const ConfigLine& line : oldLines)
        m_roles.append(reader.take(line));
    m_oldSections = renderSections(oldRecord);
    for (int section = 0; section < sectionCount; ++section)
        m_oldRecordHeld[size_t(section)] = recordHoldsDirective(oldRecord, Section(section));
    m_firstPositionOfDirective.fill(noPosition);
    indexGenerated(generated);

    QVector<int> run;
    bool seenTaken = false;
    for (int i = 0; i < oldLines.size(); ++i) {
        if (!m_roles.at(i).taken) {
            run.append(i);
            continue;
        }
        bool sameText = false;
        const int anchor = anchorPosition(m_roles.at(i), &sameText);
        if (sameText &&
            (keptAsWritten(oldRecord, m_roles.at(i)) || keepsItsBytes(oldRecord, m_roles.at(i))))
            asWritten[anchor] = i;
        if (seenTaken)
            placeRun(run, anchor);
        else
            placeLeadingRun(run, anchor);
        seenTaken = true;
        run.clear();
    }
    const int end = generated.size();
    if (seenTaken)
        placeRun(run, end);
    else
        placeLeadingRun(run, end);
}

void CarryOverPlan::indexGenerated(const QStringList& generated)
{
    // Lines of equal text are chained from the first to the last; the hash
    // holds the first line not yet claimed.
    m_nextOfSameText.fill(-1, generated.size());
    m_unclaimedOfText.reserve(generated.size());
    for (int i = generated.size() - 1; i >= 0; --i) {
        const auto first = m_unclaimedOfText.find(generated.at(i));
        if (first == m_unclaimedOfText.end()) {
            m_unclaimedOfText.insert(generated.at(i), i);
        } else {
            m_nextOfSameText[i] = first.value();
            first.value() = i;
        }
    }
}

int CarryOverPlan::anchorPosition(const LineRole& role, bool* sameText)
{
    const QStringList& oldSection = m_oldSections[size_t(role.section)];
    if (role.item < oldSection.size()) {
        const QString& text = oldSection.at(role.item);
        const auto unclaimed = m_unclaimedOfText.find(text);
        if (unclaimed != m_unclaimedOfText.end() && unclaimed.value() >= 0) {
            const int position = unclaimed.value();
            unclaimed.value() = m_nextOfSameText.at(position);
            *sameText = true;
            return position;
        }
    }
    return m_sectionStart[size_t(role.section)];
}

void CarryOverPlan::placeLeadingRun(const QVector<int>& run, int anchor)
{
    int headerEnd = 0;
    for (int i = 0; i < run.size(); ++i) {
        if (isBlankLine(m_oldLines.at(run.at(i)).raw))
            headerEnd = i + 1;
    }
    placeRun(run.mid(0, headerEnd), topPosition);
    placeRun(run.mid(headerEnd), anchor);
}

void CarryOverPlan::placeRun(const QVector<int>& run, int position)
{
    for (int line : run)
        place(line, position);
}

void CarryOverPlan::place(int line, int position)
{
    const LineRole& role = m_roles.at(line);
    if (role.firstLineWins) {
        const size_t section = size_t(role.section);
        if (!recordHoldsDirective(m_record, role.section)) {
            if (m_oldRecordHeld[section] || role.section == Section::BroadcastClient) {
                if (role.hasValue || role.section == Section::BroadcastClient)
                    return;
            } else if (m_firstPositionOfDirective[section] == noPosition) {
                m_firstPositionOfDirective[section] = position;
            } else if (role.hasValue && position < m_firstPositionOfDirective[section]) {
                position = m_firstPositionOfDirective[section];
            }
        } else {
            const int recordLine = m_sectionStart[size_t(role.section)];
            if (position <= recordLine) {
                movedBefore[lineAfterRecordLine(recordLine)].append(line);
                return;
            }
        }
    }
    if (position == topPosition)
        top.append(line);
    else
        before[position].append(line);
}

// The position directly behind a record's line. An empty statistics line
// there is skipped: read again it is a blank line like any other, and a line
// placed behind it is where the next save would put it too.
int CarryOverPlan::lineAfterRecordLine(int recordLine) const
{
    const int next = recordLine + 1;
    const bool emptyStatistics =
        next == m_sectionStart[size_t(Section::Statistics)] && m_generated.at(next).isEmpty();
    return emptyStatistics ? next + 1 : next;
}
