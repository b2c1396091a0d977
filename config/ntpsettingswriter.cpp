// Writing the record back to the configuration file.
//
// The file is regenerated from the record in a fixed order of sections
// (enable, statsdir, logfile, logconfig, broadcastclient, broadcastdelay,
// driftfile, statistics, server, broadcast, manycastserver, multicastclient,
// fudge, filegen, restrict, discard). Lines of the old file that the record
// does not hold are carried over byte for byte, so that saving never loses
// comments, blank lines or directives the program does not understand.
//
// Which lines of the old file are carried over, which are written as they
// stand and where the carried ones go is the carry-over plan's rule
// (config/carryoverplan.cpp); the reader (RecordLineReader) decides which
// lines the record holds, for the reader and the writer alike.

#include "config/ntpsettingswriter.h"

#include "config/carryoverplan.h"
#include "config/config.h"
#include "config/ntpsettings.h"
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
    if (!entry.family.isEmpty()) {
        text += entry.family;
        text += space;
    }
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
    for (const ServerEntry& entry : entries)
        lines.append(serverLine(entry));
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

// Collects the output and leaves out an empty statistics line next to a
// blank one.
class OutputBuilder
{
public:
    explicit OutputBuilder(int expectedLines) { m_lines.reserve(expectedLines); }

    void addCarried(const QByteArray& raw) { m_lines.append({raw, isBlankLine(raw), false}); }
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

QString serverLine(const ServerEntry& entry)
{
    static const QString server = QStringLiteral("server ");
    static const QString pool = QStringLiteral("pool ");
    static const QString peer = QStringLiteral("peer ");
    return associationText(entry.pool ? pool : entry.peer ? peer : server, entry);
}

QString associationLine(const char* keyword, const ServerEntry& entry)
{
    return associationText(QLatin1String(keyword) + space, entry);
}

QString fudgeLine(const FudgeEntry& entry)
{
    return fudgeText(QStringLiteral("fudge "), entry);
}

QString refclockLine(const RefclockEntry& entry)
{
    return refclockText(QStringLiteral("refclock "), entry);
}

QString restrictLine(const RestrictEntry& entry)
{
    return restrictText(QStringLiteral("restrict "), entry);
}

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
