#include "config/ntpsettingsreader.h"

#include "config/config.h"
#include "config/referenceclocks.h"

namespace
{

bool isAddressFamilyWord(const QString& word)
{
    return word == QLatin1String("-4") || word == QLatin1String("-6");
}

const QString associationKeywords[] = {QStringLiteral("server"), QStringLiteral("broadcast"),
                                       QStringLiteral("manycastserver"),
                                       QStringLiteral("multicastclient")};

// text.toInt(ok, 10), with a quick path for up to nine ASCII digits: the
// common case, and toInt's general conversion showed in the load time of
// large files.
template <class Text> int decimalOf(const Text& text, bool* ok)
{
    const int size = text.size();
    if (size >= 1 && size <= 9) {
        int value = 0;
        bool digits = true;
        for (int i = 0; i < size && digits; ++i) {
            const ushort code = text.at(i).unicode();
            digits = code >= '0' && code <= '9';
            value = value * 10 + (code - '0');
        }
        if (digits) {
            *ok = true;
            return value;
        }
    }
    return text.toInt(ok, 10);
}

// Text that is not a decimal integer, or lies outside the int range, is 0.
int toNumber(const QString& text)
{
    bool ok = false;
    const int value = decimalOf(text, &ok);
    return ok ? value : 0;
}

void appendComment(QString& target, const QString& comment)
{
    if (comment.isEmpty())
        return;
    if (!target.isEmpty())
        target += QLatin1Char(' ');
    target += comment;
}

int* associationNumber(ServerEntry& entry, const QString& word)
{
    if (word == QLatin1String("minpoll"))
        return &entry.minPoll;
    if (word == QLatin1String("maxpoll"))
        return &entry.maxPoll;
    if (word == QLatin1String("ttl"))
        return &entry.ttl;
    if (word == QLatin1String("version"))
        return &entry.version;
    if (word == QLatin1String("mode"))
        return &entry.mode;
    return nullptr;
}

bool* associationFlag(ServerEntry& entry, const QString& word)
{
    if (word == QLatin1String("prefer"))
        return &entry.prefer;
    if (word == QLatin1String("preempt"))
        return &entry.preempt;
    if (word == QLatin1String("burst"))
        return &entry.burst;
    if (word == QLatin1String("iburst"))
        return &entry.iburst;
    if (word == QLatin1String("noselect"))
        return &entry.noSelect;
    if (word == QLatin1String("true"))
        return &entry.truechimer;
    return nullptr;
}

// A decimal number (optional sign, ASCII digits) that an int cannot hold.
// The record would keep another value in its place (0), and writing it back
// would change what the line says.
bool overflowsInt(const QString& token)
{
    const int start =
        token.startsWith(QLatin1Char('+')) || token.startsWith(QLatin1Char('-')) ? 1 : 0;
    if (token.size() <= start)
        return false;
    for (int i = start; i < token.size(); ++i) {
        const ushort code = token.at(i).unicode();
        if (code < '0' || code > '9')
            return false;
    }
    bool ok = false;
    token.toInt(&ok, 10);
    return !ok;
}

// `values` start with the address, or with "-4" or "-6" and the address. A
// number the record cannot hold stays with its option among the options
// without a field, so the line keeps it.
ServerEntry parseAssociation(const QStringList& values)
{
    ServerEntry entry;
    int i = 0;
    if (isAddressFamilyWord(values.first()))
        entry.family = values.at(i++);
    entry.address = values.at(i++);
    const int count = values.size();
    while (i < count) {
        const QString word = values.at(i).toLower();
        const bool valueFollows = i + 1 < count;
        if (valueFollows && word == QLatin1String("key")) {
            entry.key = values.at(i + 1);
            i += 2;
        } else if (valueFollows && associationNumber(entry, word) &&
                   overflowsInt(values.at(i + 1))) {
            entry.extraOptions << values.at(i) << values.at(i + 1);
            i += 2;
        } else if (int* number = valueFollows ? associationNumber(entry, word) : nullptr) {
            *number = toNumber(values.at(i + 1));
            i += 2;
        } else if (bool* flag = associationFlag(entry, word)) {
            *flag = true;
            ++i;
        } else {
            entry.extraOptions.append(values.at(i));
            ++i;
        }
    }
    return entry;
}

// The flag named `word` ("flag1" to "flag4"), marked as named by the line.
bool* fudgeFlag(FudgeEntry& entry, const QString& word)
{
    if (word.size() != 5 || !word.startsWith(QLatin1String("flag")))
        return nullptr;
    const int index = word.at(4).unicode() - '1';
    if (index < 0 || index > 3)
        return nullptr;
    entry.namedFlags[size_t(index)] = true;
    bool* const flags[] = {&entry.flag1, &entry.flag2, &entry.flag3, &entry.flag4};
    return flags[index];
}

// Sets the fudge field named `word` from `value`; false for other words.
bool setFudgeOption(FudgeEntry& entry, const QString& word, const QString& value)
{
    if (word == QLatin1String("time1"))
        entry.time1 = value;
    else if (word == QLatin1String("time2"))
        entry.time2 = value;
    else if (word == QLatin1String("stratum"))
        entry.stratum = toNumber(value);
    else if (word == QLatin1String("refid"))
        entry.refid = value;
    else if (word == QLatin1String("mode"))
        entry.mode = toNumber(value);
    else if (bool* flag = fudgeFlag(entry, word))
        *flag = toNumber(value) != 0;
    else
        return false;
    return true;
}

FudgeEntry parseFudge(const QStringList& values)
{
    FudgeEntry entry;
    entry.namedFlags.fill(false);
    entry.address = values.first();
    const int count = values.size();
    int i = 1;
    while (i < count) {
        if (i + 1 < count && setFudgeOption(entry, values.at(i).toLower(), values.at(i + 1))) {
            i += 2;
        } else {
            entry.extraOptions.append(values.at(i));
            ++i;
        }
    }
    return entry;
}

// Sets the refclock field named `word` from `value`; false for other words.
bool setRefclockOption(RefclockEntry& entry, const QString& word, const QString& value)
{
    int* const numbers[] = {&entry.unit,    &entry.mode,    &entry.minPoll,
                            &entry.maxPoll, &entry.stratum, &entry.flag1,
                            &entry.flag2,   &entry.flag3,   &entry.flag4};
    const char* const numberNames[] = {"unit",  "mode",  "minpoll", "maxpoll", "stratum",
                                       "flag1", "flag2", "flag3",   "flag4"};
    for (int i = 0; i < 9; ++i) {
        if (word == QLatin1String(numberNames[i])) {
            const int number = toNumber(value);
            *numbers[i] = i >= 5 ? int(number != 0) : number; // flags are 0 or 1
            return true;
        }
    }
    if (word == QLatin1String("time1"))
        entry.time1 = value;
    else if (word == QLatin1String("time2"))
        entry.time2 = value;
    else if (word == QLatin1String("refid"))
        entry.refid = value;
    else
        return false;
    return true;
}

RefclockEntry parseRefclock(const QStringList& values)
{
    RefclockEntry entry;
    entry.driver = values.first();
    const int count = values.size();
    int i = 1;
    while (i < count) {
        const QString word = values.at(i).toLower();
        if (i + 1 < count && setRefclockOption(entry, word, values.at(i + 1))) {
            i += 2;
        } else if (word == QLatin1String("prefer")) {
            entry.prefer = true;
            ++i;
        } else {
            entry.extraOptions.append(values.at(i));
            ++i;
        }
    }
    return entry;
}

QStringList unusedTokens(const QStringList& values, const QVector<bool>& used)
{
    QStringList unused;
    for (int i = 0; i < values.size(); ++i) {
        if (!used.at(i))
            unused.append(values.at(i));
    }
    return unused;
}

FileGenEntry parseFileGen(const QStringList& values)
{
    FileGenEntry entry;
    entry.namesLink = entry.namesEnable = false;
    entry.name = values.first();
    const int count = values.size();
    QVector<bool> used(count, false);
    used[0] = true;
    for (int i = 1; i < count; ++i) {
        if (i + 1 < count && values.at(i).toLower() == QLatin1String("file")) {
            entry.file = values.at(i + 1);
            used[i] = used[i + 1] = true;
            // The name is not read as a keyword as well: a file named "type"
            // would otherwise take the next word as its type once written.
            ++i;
            continue;
        }
        const QString word = values.at(i).toLower();
        if (i + 1 < count && word == QLatin1String("type")) {
            entry.type = values.at(i + 1);
            used[i] = used[i + 1] = true;
            ++i;
        } else if (word == QLatin1String("link") || word == QLatin1String("nolink")) {
            entry.link = word == QLatin1String("link"); // the last word counts
            entry.namesLink = used[i] = true;
        } else if (word == QLatin1String("enable") || word == QLatin1String("disable")) {
            entry.enabled = word == QLatin1String("enable");
            entry.namesEnable = used[i] = true;
        }
    }
    entry.extraOptions = unusedTokens(values, used);
    return entry;
}

DiscardEntry parseDiscard(const QStringList& values)
{
    DiscardEntry entry;
    const std::pair<QLatin1String, QString*> tests[] = {{QLatin1String("average"), &entry.average},
                                                        {QLatin1String("minimum"), &entry.minimum},
                                                        {QLatin1String("monitor"), &entry.monitor}};
    const int count = values.size();
    QVector<bool> used(count, false);
    for (int i = 0; i < count; ++i) {
        for (const auto& test : tests) {
            if (i + 1 < count && values.at(i).toLower() == test.first) {
                *test.second = values.at(i + 1);
                used[i] = used[i + 1] = true;
                ++i;
            }
        }
    }
    entry.extraOptions = unusedTokens(values, used);
    return entry;
}

// Restrict options that are followed by a value of their own.
bool takesValue(const QString& word)
{
    return word == QLatin1String("ippeerlimit") || word == QLatin1String("serverresponse");
}

// `values` start with the address, or with "-4" or "-6" and the address.
RestrictEntry parseRestrict(const QStringList& values)
{
    RestrictEntry entry;
    int i = 0;
    if (isAddressFamilyWord(values.first()))
        entry.family = values.at(i++);
    entry.address = values.at(i++);
    const int count = values.size();
    while (i < count) {
        const QString word = values.at(i).toLower();
        if (i + 1 < count && word == QLatin1String("mask")) {
            entry.mask = values.at(i + 1);
            i += 2;
        } else if (i + 1 < count && takesValue(word)) {
            // One flag with its value: sorted apart, "ippeerlimit -1" would
            // turn into two words the daemon refuses.
            entry.flags.insert(word + QLatin1Char(' ') + values.at(i + 1).toLower(), true);
            i += 2;
        } else {
            entry.flags.insert(word, true);
            ++i;
        }
    }
    return entry;
}

LineRole takenAs(Section section, int item)
{
    LineRole role;
    role.taken = true;
    role.section = section;
    role.item = item;
    return role;
}

// Options such as "-4" in front of the address of an association are not
// understood; taking the line would turn the option into the host name.
bool startsWithAddressFamily(const QStringList& values)
{
    return isAddressFamilyWord(values.first());
}

// A restrict line names what it restricts: an address, possibly after a
// family word.
bool namesRestrictTarget(const QStringList& values)
{
    return !values.isEmpty() && (!isAddressFamilyWord(values.first()) || values.size() > 1);
}

// Whether every value of a numeric option on the line fits the record. A
// line with one that does not is carried over as it stands. The scan looks at
// every word that names a numeric option, even one the parser would read as
// the value of another option: carrying a line too many is harmless.
bool numbersFit(const QStringList& values, bool (*isNumericOption)(const QString&))
{
    for (int i = 1; i + 1 < values.size(); ++i) {
        if (isNumericOption(values.at(i).toLower()) && overflowsInt(values.at(i + 1)))
            return false;
    }
    return true;
}

bool isAssociationNumber(const QString& word)
{
    ServerEntry probe;
    return associationNumber(probe, word) != nullptr;
}

bool isFudgeNumber(const QString& word)
{
    return word == QLatin1String("stratum") || word == QLatin1String("mode") ||
           (word.size() == 5 && word.startsWith(QLatin1String("flag")) &&
            word.at(4) >= QLatin1Char('1') && word.at(4) <= QLatin1Char('4'));
}

const QString statisticsNames[] = {QStringLiteral("clockstats"), QStringLiteral("cryptostats"),
                                   QStringLiteral("loopstats"),  QStringLiteral("peerstats"),
                                   QStringLiteral("rawstats"),   QStringLiteral("sysstats")};

bool* statisticsFlag(NtpSettings& record, const QString& name)
{
    bool* flags[] = {&record.clockStats, &record.cryptoStats, &record.loopStats,
                     &record.peerStats,  &record.rawStats,    &record.sysStats};
    for (int i = 0; i < 6; ++i) {
        if (name == statisticsNames[i])
            return flags[i];
    }
    return nullptr;
}

} // namespace

RecordLineReader::RecordLineReader(NtpSettings& record) : m_record(record)
{
    m_record = NtpSettings();
}

LineRole RecordLineReader::take(const ConfigLine& line)
{
    const QString& key = line.key;
    const QStringList& values = line.values;
    if (key.isEmpty() || key == QLatin1String("#") || !line.validText)
        return LineRole();
    if (key == associationKeywords[0])
        return takeAssociation(m_record.servers, Section::Servers, line);
    if (key == QLatin1String("pool"))
        return takePool(line);
    if (key == QLatin1String("peer"))
        return takePeer(line);
    if (key == associationKeywords[1])
        return takeAssociation(m_record.broadcasts, Section::Broadcasts, line);
    if (key == associationKeywords[2])
        return takeAssociation(m_record.manycastServers, Section::ManycastServers, line);
    if (key == associationKeywords[3])
        return takeAssociation(m_record.multicastClients, Section::MulticastClients, line);
    if (key == QLatin1String("fudge") && !values.isEmpty() && numbersFit(values, isFudgeNumber)) {
        m_record.fudges.append(parseFudge(values));
        m_record.fudges.last().comment = line.trailingComment;
        return takenAs(Section::Fudges, m_record.fudges.size() - 1);
    }
    if (key == QLatin1String("refclock") && !values.isEmpty()) {
        m_record.refclocks.append(parseRefclock(values));
        m_record.refclocks.last().comment = line.trailingComment;
        return takenAs(Section::Refclocks, m_record.refclocks.size() - 1);
    }
    if (key == QLatin1String("filegen") && !values.isEmpty()) {
        m_record.fileGens.append(parseFileGen(values));
        m_record.fileGens.last().comment = line.trailingComment;
        return takenAs(Section::FileGens, m_record.fileGens.size() - 1);
    }
    if (key == QLatin1String("restrict") && namesRestrictTarget(values)) {
        m_record.restricts.append(parseRestrict(values));
        m_record.restricts.last().comment = line.trailingComment;
        return takenAs(Section::Restricts, m_record.restricts.size() - 1);
    }
    if (key == QLatin1String("discard")) {
        m_record.discards.append(parseDiscard(values));
        m_record.discards.last().comment = line.trailingComment;
        return takenAs(Section::Discards, m_record.discards.size() - 1);
    }
    if (key == QLatin1String("statsdir"))
        return takeSingleValue(m_record.statsDir, Section::StatsDir, line);
    if (key == QLatin1String("driftfile"))
        return takeSingleValue(m_record.driftFile, Section::DriftFile, line);
    if (key == QLatin1String("broadcastdelay"))
        return takeSingleValue(m_record.broadcastDelay, Section::BroadcastDelay, line);
    if (key == QLatin1String("logfile"))
        return takeSingleValue(m_record.logFile, Section::LogFile, line);
    if (key == QLatin1String("logconfig"))
        return takeLogConfig(line);
    if (key == QLatin1String("broadcastclient"))
        return takeBroadcastClient(line);
    if (key == QLatin1String("statistics"))
        return takeStatistics(line);
    if (key == QLatin1String("enable"))
        return takeEnable(line);
    return LineRole();
}

LineRole RecordLineReader::takeAssociation(QList<ServerEntry>& list, Section section,
                                           const ConfigLine& line)
{
    if (line.values.isEmpty())
        return LineRole();
    // The time sources take every form the daemon reads; the pages of the
    // other associations have no place for a family word or a number that
    // does not fit, so such lines stay as they are.
    if (section == Section::Servers) {
        if (startsWithAddressFamily(line.values) && line.values.size() < 2)
            return LineRole();
    } else if (startsWithAddressFamily(line.values) ||
               !numbersFit(line.values, isAssociationNumber)) {
        return LineRole();
    }
    list.append(parseAssociation(line.values));
    list.last().comment = line.trailingComment;
    return takenAs(section, list.size() - 1);
}

LineRole RecordLineReader::takePool(const ConfigLine& line)
{
    // A reference clock address is no pool; such a line stays as it is.
    if (!line.values.isEmpty() && isClockAddress(line.values.first()))
        return LineRole();
    const LineRole role = takeAssociation(m_record.servers, Section::Servers, line);
    if (role.taken)
        m_record.servers.last().pool = true;
    return role;
}

LineRole RecordLineReader::takePeer(const ConfigLine& line)
{
    // A reference clock address is the clock page's; such a line stays.
    if (line.values.isEmpty() || isClockAddress(line.values.first()))
        return LineRole();
    const LineRole role = takeAssociation(m_record.servers, Section::Servers, line);
    if (role.taken)
        m_record.servers.last().peer = true;
    return role;
}

LineRole RecordLineReader::carriedRepeat(Section section, const ConfigLine& line)
{
    LineRole role;
    role.section = section;
    role.firstLineWins = true;
    role.hasValue = !line.values.isEmpty();
    return role;
}

LineRole RecordLineReader::takeSingleValue(QString& field, Section section, const ConfigLine& line)
{
    bool& seen = m_seen[size_t(section)];
    if (seen || line.values.isEmpty()) {
        seen = true;
        return carriedRepeat(section, line);
    }
    seen = true;
    field = line.values.first();
    const QString& key = line.key;
    if (line.values.size() > 1)
        m_record.directiveExtras.insert(key, line.values.mid(1));
    if (!line.trailingComment.isEmpty())
        m_record.directiveComments.insert(key, line.trailingComment);
    return takenAs(section, 0);
}

LineRole RecordLineReader::takeLogConfig(const ConfigLine& line)
{
    bool& seen = m_seen[size_t(Section::LogConfig)];
    if (seen || line.values.isEmpty()) {
        seen = true;
        return carriedRepeat(Section::LogConfig, line);
    }
    seen = true;
    m_record.logConfig = line.values;
    if (!line.trailingComment.isEmpty())
        m_record.directiveComments.insert(line.key, line.trailingComment);
    return takenAs(Section::LogConfig, 0);
}

LineRole RecordLineReader::takeBroadcastClient(const ConfigLine& line)
{
    bool& seen = m_seen[size_t(Section::BroadcastClient)];
    if (seen)
        return carriedRepeat(Section::BroadcastClient, line);
    seen = true;
    m_record.broadcastClient = true;
    QStringList words = line.values;
    m_record.noVolley = !words.isEmpty() && words.first().toLower() == QLatin1String("novolley");
    if (m_record.noVolley)
        words.removeFirst();
    if (!words.isEmpty())
        m_record.directiveExtras.insert(line.key, words);
    if (!line.trailingComment.isEmpty())
        m_record.directiveComments.insert(line.key, line.trailingComment);
    return takenAs(Section::BroadcastClient, 0);
}

LineRole RecordLineReader::takeStatistics(const ConfigLine& line)
{
    // A bare "statistics" says nothing the always written statistics line
    // would not say; it stays as it is.
    if (line.values.isEmpty() && line.trailingComment.isEmpty())
        return LineRole();
    for (const QString& value : line.values) {
        if (bool* flag = statisticsFlag(m_record, value.toLower()))
            *flag = true;
        else
            m_record.directiveExtras[line.key].append(value);
    }
    appendComment(m_record.directiveComments[line.key], line.trailingComment);
    if (m_record.directiveComments.value(line.key).isEmpty())
        m_record.directiveComments.remove(line.key);
    return takenAs(Section::Statistics, 0);
}

LineRole RecordLineReader::takeEnable(const ConfigLine& line)
{
    if (line.values.isEmpty())
        return LineRole();
    const int first = m_record.enables.size();
    m_record.enables.append(line.values);
    if (!line.trailingComment.isEmpty())
        appendComment(m_record.directiveComments[line.key], line.trailingComment);
    return takenAs(Section::Enables, first);
}

void NtpSettings::readFrom(const Config& config)
{
    // One pass in file order gives every list its items in the order the
    // per-keyword lookups would, since each keyword's lines keep file order.
    RecordLineReader reader(*this);
    for (const ConfigLine& line : config.entries())
        reader.take(line);
    source = config.fingerprint();
}
