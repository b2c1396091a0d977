// Writing the record back to the configuration file.
//
// The file is regenerated from the record in a fixed order of sections
// (enable, statsdir, logfile, logconfig, broadcastclient, broadcastdelay,
// driftfile, statistics, server, broadcast, manycastserver, multicastclient,
// fudge, filegen, restrict, discard). Lines of the old file that the record
// does not hold are carried over byte for byte, so that saving never loses
// comments, blank lines or directives the program does not understand.
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

#include "config/config.h"
#include "config/ntpsettings.h"
#include "config/recordlines.h"
#include "host/host.h"
#include "host/hostpath.h"

#include <QCryptographicHash>
#include <QHash>
#include <QTextCodec>

#include <cerrno>

namespace
{

const QChar space(QLatin1Char(' '));

QString withTail(QString text, const QStringList& extras, const QString& comment)
{
    for (const QString& extra : extras) {
        text += space;
        text += extra;
    }
    if (!comment.isEmpty()) {
        text += space;
        text += comment;
    }
    return text;
}

// The lines are built piece by piece: a file may hold a great many of them.
void appendWord(QString& text, const char* word)
{
    text += space;
    text += QLatin1String(word);
}

// -1 stands for "not given". Other negative numbers are what the file said
// (nonsense the daemon will refuse, but the administrator's): dropping them
// would lose the option without a word.
void appendIfSet(QString& text, const char* option, int value)
{
    if (value != -1) {
        appendWord(text, option);
        text += space;
        text += QString::number(value);
    }
}

void appendIfSet(QString& text, const char* option, const QString& value)
{
    if (!value.isEmpty()) {
        appendWord(text, option);
        text += space;
        text += value;
    }
}

void appendIf(QString& text, const char* word, bool set)
{
    if (set)
        appendWord(text, word);
}

QString startLine(const QString& first)
{
    QString text;
    text.reserve(first.size() + 96);
    text += first;
    return text;
}

QString associationText(const QString& prefix, const ServerEntry& entry)
{
    QString text = startLine(prefix);
    text += entry.address;
    appendIfSet(text, "key", entry.key);
    appendIfSet(text, "minpoll", entry.minPoll);
    appendIfSet(text, "maxpoll", entry.maxPoll);
    appendIfSet(text, "version", entry.version);
    appendIfSet(text, "ttl", entry.ttl);
    appendIfSet(text, "mode", entry.mode);
    appendIf(text, "burst", entry.burst);
    appendIf(text, "iburst", entry.iburst);
    appendIf(text, "prefer", entry.prefer);
    appendIf(text, "noselect", entry.noSelect);
    appendIf(text, "preempt", entry.preempt);
    appendIf(text, "true", entry.truechimer);
    return withTail(text, entry.extraOptions, entry.comment);
}

QString fudgeText(const QString& prefix, const FudgeEntry& entry)
{
    QString text = startLine(prefix);
    text += entry.address;
    appendIfSet(text, "stratum", entry.stratum);
    appendIfSet(text, "refid", entry.refid);
    appendIfSet(text, "mode", entry.mode);
    appendIfSet(text, "time1", entry.time1);
    appendIfSet(text, "time2", entry.time2);
    const std::pair<const char*, bool> flags[] = {{"flag1", entry.flag1},
                                                  {"flag2", entry.flag2},
                                                  {"flag3", entry.flag3},
                                                  {"flag4", entry.flag4}};
    for (size_t i = 0; i < 4; ++i) {
        if (!entry.namedFlags[i] && !flags[i].second)
            continue; // not named: a 0 here would clear an earlier line's 1
        appendWord(text, flags[i].first);
        text += flags[i].second ? QLatin1String(" 1") : QLatin1String(" 0");
    }
    return withTail(text, entry.extraOptions, entry.comment);
}

QString refclockText(const QString& prefix, const RefclockEntry& entry)
{
    QString text = startLine(prefix);
    text += entry.driver;
    appendIfSet(text, "unit", entry.unit);
    appendIf(text, "prefer", entry.prefer);
    appendIfSet(text, "mode", entry.mode);
    appendIfSet(text, "minpoll", entry.minPoll);
    appendIfSet(text, "maxpoll", entry.maxPoll);
    appendIfSet(text, "time1", entry.time1);
    appendIfSet(text, "time2", entry.time2);
    appendIfSet(text, "stratum", entry.stratum);
    appendIfSet(text, "refid", entry.refid);
    appendIfSet(text, "flag1", entry.flag1);
    appendIfSet(text, "flag2", entry.flag2);
    appendIfSet(text, "flag3", entry.flag3);
    appendIfSet(text, "flag4", entry.flag4);
    return withTail(text, entry.extraOptions, entry.comment);
}

QString fileGenText(const QString& prefix, const FileGenEntry& entry)
{
    QString text = startLine(prefix);
    text += entry.name;
    appendIfSet(text, "type", entry.type);
    appendIfSet(text, "file", entry.file);
    if (entry.namesLink || entry.link)
        text += entry.link ? QLatin1String(" link") : QLatin1String(" nolink");
    if (entry.namesEnable || entry.enabled)
        text += entry.enabled ? QLatin1String(" enable") : QLatin1String(" disable");
    return withTail(text, entry.extraOptions, entry.comment);
}

QString restrictText(const QString& prefix, const RestrictEntry& entry)
{
    QString text = startLine(prefix);
    if (!entry.family.isEmpty()) {
        text += entry.family;
        text += space;
    }
    text += entry.address;
    appendIfSet(text, "mask", entry.mask);
    for (auto it = entry.flags.cbegin(); it != entry.flags.cend(); ++it) {
        if (it.value()) {
            text += space;
            text += it.key();
        }
    }
    return withTail(text, QStringList(), entry.comment);
}

QString discardText(const DiscardEntry& entry)
{
    QString text = startLine(QStringLiteral("discard"));
    appendIfSet(text, "average", entry.average);
    appendIfSet(text, "minimum", entry.minimum);
    appendIfSet(text, "monitor", entry.monitor);
    return withTail(text, entry.extraOptions, entry.comment);
}

QStringList associationLines(const char* keyword, const QList<ServerEntry>& entries)
{
    QStringList lines;
    lines.reserve(entries.size());
    const QString prefix = QLatin1String(keyword) + space;
    for (const ServerEntry& entry : entries)
        lines.append(associationText(prefix, entry));
    return lines;
}

// Servers and pools share one list, so each keeps its place among the other.
QStringList serverLines(const QList<ServerEntry>& entries)
{
    QStringList lines;
    lines.reserve(entries.size());
    const QString server = QStringLiteral("server ");
    const QString pool = QStringLiteral("pool ");
    for (const ServerEntry& entry : entries)
        lines.append(associationText(entry.pool ? pool : server, entry));
    return lines;
}

template <typename Entry>
QStringList entryLines(const char* keyword, const QList<Entry>& entries,
                       QString (*text)(const QString&, const Entry&))
{
    QStringList lines;
    lines.reserve(entries.size());
    const QString prefix = QLatin1String(keyword) + space;
    for (const Entry& entry : entries)
        lines.append(text(prefix, entry));
    return lines;
}

// "keyword value" plus the line's other words and comment; nothing when the
// value is empty.
QStringList singleValueLine(const NtpSettings& record, const char* keyword, const QString& value)
{
    if (value.isEmpty())
        return QStringList();
    const QString key = QLatin1String(keyword);
    return {withTail(key + space + value, record.directiveExtras.value(key),
                     record.directiveComments.value(key))};
}

QStringList enableLines(const NtpSettings& record)
{
    QStringList lines;
    for (const QString& item : record.enables)
        lines.append(QStringLiteral("enable ") + item);
    const QString comment = record.directiveComments.value(QStringLiteral("enable"));
    if (!lines.isEmpty() && !comment.isEmpty())
        lines.last() += space + comment;
    return lines;
}

QStringList logConfigLine(const NtpSettings& record)
{
    if (record.logConfig.isEmpty())
        return QStringList();
    return {withTail(QStringLiteral("logconfig ") + record.logConfig.join(space), QStringList(),
                     record.directiveComments.value(QStringLiteral("logconfig")))};
}

QStringList broadcastClientLine(const NtpSettings& record)
{
    if (!record.broadcastClient)
        return QStringList();
    const QString key = QStringLiteral("broadcastclient");
    QString text = key;
    appendIf(text, "novolley", record.noVolley);
    return {withTail(text, record.directiveExtras.value(key), record.directiveComments.value(key))};
}

QString statisticsLine(const NtpSettings& record)
{
    const QString key = QStringLiteral("statistics");
    QString text = key;
    appendIf(text, "clockstats", record.clockStats);
    appendIf(text, "cryptostats", record.cryptoStats);
    appendIf(text, "loopstats", record.loopStats);
    appendIf(text, "peerstats", record.peerStats);
    appendIf(text, "rawstats", record.rawStats);
    appendIf(text, "sysstats", record.sysStats);
    text = withTail(text, record.directiveExtras.value(key), record.directiveComments.value(key));
    return text == key ? QString() : text;
}

bool isBlank(const QByteArray& raw)
{
    return raw.trimmed().isEmpty();
}

// Reference clock and filegen lines keep their bytes while their entry is
// unchanged.
bool keepsItsBytes(Section section, const QString& text)
{
    return section == Section::Fudges || section == Section::Refclocks ||
           section == Section::FileGens ||
           (section == Section::Servers && text.startsWith(QLatin1String("server 127.127.")));
}

// Decides where the carried lines of the old file go among the generated
// lines (see the comment at the top of this file).
class CarryOverPlan
{
public:
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
        if (sameText && (keptAsWritten(oldRecord, m_roles.at(i)) ||
                         keepsItsBytes(m_roles.at(i).section, m_generated.at(anchor))))
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
        if (isBlank(m_oldLines.at(run.at(i)).raw))
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

// Collects the output and leaves out an empty statistics line next to a
// blank one.
class OutputBuilder
{
public:
    explicit OutputBuilder(int expectedLines) { m_lines.reserve(expectedLines); }

    void addCarried(const QByteArray& raw) { m_lines.append({raw, isBlank(raw), false}); }
    void addGenerated(const QByteArray& text, bool emptyStatistics)
    {
        m_lines.append({text, text.isEmpty(), emptyStatistics});
    }

    QByteArray result() const
    {
        QByteArray out;
        qsizetype size = 0;
        for (const Line& line : m_lines)
            size += line.bytes.size() + 1;
        out.reserve(int(size));
        for (int i = 0; i < m_lines.size(); ++i) {
            if (m_lines.at(i).emptyStatistics && nextToBlank(i))
                continue;
            out += m_lines.at(i).bytes;
            out += '\n';
        }
        return out;
    }

private:
    struct Line {
        QByteArray bytes;
        bool blank;
        bool emptyStatistics;
    };

    bool nextToBlank(int i) const
    {
        return (i > 0 && m_lines.at(i - 1).blank) ||
               (i + 1 < m_lines.size() && m_lines.at(i + 1).blank);
    }

    QVector<Line> m_lines;
};

} // namespace

SectionLines renderSections(const NtpSettings& r)
{
    SectionLines s;
    s[size_t(Section::Enables)] = enableLines(r);
    s[size_t(Section::StatsDir)] = singleValueLine(r, "statsdir", r.statsDir);
    s[size_t(Section::LogFile)] = singleValueLine(r, "logfile", r.logFile);
    s[size_t(Section::LogConfig)] = logConfigLine(r);
    s[size_t(Section::BroadcastClient)] = broadcastClientLine(r);
    s[size_t(Section::BroadcastDelay)] = singleValueLine(r, "broadcastdelay", r.broadcastDelay);
    s[size_t(Section::DriftFile)] = singleValueLine(r, "driftfile", r.driftFile);
    s[size_t(Section::Statistics)] = QStringList{statisticsLine(r)};
    s[size_t(Section::Servers)] = serverLines(r.servers);
    s[size_t(Section::Broadcasts)] = associationLines("broadcast", r.broadcasts);
    s[size_t(Section::ManycastServers)] = associationLines("manycastserver", r.manycastServers);
    s[size_t(Section::MulticastClients)] = associationLines("multicastclient", r.multicastClients);
    s[size_t(Section::Refclocks)] = entryLines("refclock", r.refclocks, &refclockText);
    s[size_t(Section::Fudges)] = entryLines("fudge", r.fudges, &fudgeText);
    s[size_t(Section::FileGens)] = entryLines("filegen", r.fileGens, &fileGenText);
    s[size_t(Section::Restricts)] = entryLines("restrict", r.restricts, &restrictText);
    QStringList discards;
    for (const DiscardEntry& entry : r.discards)
        discards.append(discardText(entry));
    s[size_t(Section::Discards)] = discards;
    return s;
}

QByteArray NtpSettings::render(const QVector<ConfigLine>& oldLines) const
{
    const SectionLines sections = renderSections(*this);
    QStringList generated;
    std::array<int, sectionCount + 1> sectionStart{};
    for (int s = 0; s < sectionCount; ++s) {
        sectionStart[size_t(s)] = generated.size();
        generated += sections[size_t(s)];
    }
    sectionStart[sectionCount] = generated.size();
    const int statisticsLine = sectionStart[size_t(Section::Statistics)];

    const CarryOverPlan plan(*this, generated, sectionStart, oldLines);
    QTextCodec* codec = QTextCodec::codecForLocale();
    OutputBuilder out(generated.size() + oldLines.size());
    auto addCarried = [&](const QVector<int>& lines) {
        for (int line : lines)
            out.addCarried(oldLines.at(line).raw);
    };
    addCarried(plan.top);
    const bool statisticsEmpty = generated.at(statisticsLine).isEmpty();
    for (int i = 0; i <= generated.size(); ++i) {
        const bool emptyStatistics = statisticsEmpty && i == statisticsLine;
        if (emptyStatistics)
            out.addGenerated(QByteArray(), true);
        addCarried(plan.movedBefore.at(i));
        addCarried(plan.before.at(i));
        if (i < generated.size() && !emptyStatistics) {
            const int old = plan.asWritten.at(i);
            out.addGenerated(old >= 0 ? oldLines.at(old).raw : codec->fromUnicode(generated.at(i)),
                             false);
        }
    }
    return out.result();
}

bool NtpSettings::writeTo(const QString& path) const
{
    return writeTo(path, nullptr);
}

bool NtpSettings::writeTo(const QString& path, QString* errorMessage) const
{
    auto fail = [errorMessage](int error) {
        if (errorMessage)
            *errorMessage = errnoText(error);
        return false;
    };
    Host& host = Host::current();
    FileReplacement replacement;
    if (const int error = resolveSymlinks(host, path, &replacement.target))
        return fail(error);
    // What the file holds now is carried over; a file that exists but cannot
    // be read is not replaced, or its content would be lost.
    FileContent old;
    const int readError = host.readFile(replacement.target, configFileLimit, &old);
    if (readError != 0 && readError != ENOENT)
        return fail(readError);
    QVector<ConfigLine> oldLines;
    parseConfigContent(old, &oldLines, nullptr);
    replacement.bytes = render(oldLines);
    // Lines carried over from a file another program replaced meanwhile
    // would bring back the old file's lines: the host checks it is the same.
    replacement.guarded = true;
    replacement.expectedExists = readError == 0;
    replacement.expectedDigest = QCryptographicHash::hash(old.bytes, QCryptographicHash::Sha256);
    if (const int error = host.replaceFile(replacement).error)
        return fail(error);
    if (errorMessage)
        errorMessage->clear();
    return true;
}
