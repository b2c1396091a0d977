#pragma once

#include <QHash>
#include <QStringList>
#include <QVector>

#include <array>

#include "config/recordsections.h"

struct ConfigLine;
struct NtpSettings;

// Which lines of the old file a write keeps as they stand, and where they go
// among the lines generated from the record (the rule is written out at the
// top of carryoverplan.cpp).
class CarryOverPlan
{
public:
    // `generated` are the record's lines in section order; `sectionStart`
    // the index of each section's first line (and, last, their count).
    CarryOverPlan(const NtpSettings& record, const QStringList& generated,
                  const std::array<int, sectionCount + 1>& sectionStart,
                  const QVector<ConfigLine>& oldLines);

    QVector<int> top;
    // [generated line] the old line written instead of it (kept as written),
    // or -1.
    QVector<int> asWritten;
    QVector<QVector<int>> before; // [generated line] carried lines written before it; last = end
    // [generated line] carried lines moved behind the record's line of their
    // directive; written before the lines of `before`.
    QVector<QVector<int>> movedBefore;

private:
    static constexpr int topPosition = -1;
    static constexpr int noPosition = -2;

    void indexGenerated(const QStringList& generated);
    int anchorPosition(const LineRole& role, bool* sameText);
    void placeLeadingRun(const QVector<int>& run, int anchor);
    void placeRun(const QVector<int>& run, int position);
    void place(int line, int position);
    int lineAfterRecordLine(int recordLine) const;

    const NtpSettings& m_record;
    const QStringList& m_generated;
    const std::array<int, sectionCount + 1>& m_sectionStart;
    const QVector<ConfigLine>& m_oldLines;
    QVector<LineRole> m_roles;
    SectionLines m_oldSections;
    QHash<QString, int> m_unclaimedOfText;
    QVector<int> m_nextOfSameText;
    std::array<bool, sectionCount> m_oldRecordHeld{};
    // Where the first carried line of a directive that neither the old nor
    // the new record holds went; its later lines with a value may not go
    // before it.
    std::array<int, sectionCount> m_firstPositionOfDirective;
};

// Whether a line the record took in (as `role`) is written back exactly as
// the file gave it while its entry is unchanged: pool and peer lines, server
// lines with "nts", a family word or a number the record cannot hold, and
// restrict lines other than the plain IPv4 form. Other lines
// are written in the record's own format.
bool keptAsWritten(const NtpSettings& record, const LineRole& role);

// A line of blanks only: where the header of a file ends, and what an empty
// statistics line is left out beside.
bool isBlankLine(const QByteArray& raw);
