#include "config/referenceclocks.h"

#include <QHash>
#include <QSet>

namespace
{

const QString clockPrefix = QStringLiteral("127.127.");
const QString calibrateFlag = QStringLiteral("calibrate");

// The drivers of NTPsec's list of reference clock drivers, by the number the
// classic daemon gives the same driver.
struct RefclockName {
    int driver;
    const char* name;
};
const RefclockName refclockNames[] = {
    {1, "local"},    {4, "spectracom"}, {5, "truetime"},  {8, "generic"},
    {11, "arbiter"}, {18, "modem"},     {20, "nmea"},     {22, "pps"},
    {26, "hpgps"},   {28, "shm"},       {29, "trimble"},  {30, "oncore"},
    {40, "jjy"},     {42, "zyfer"},     {44, "neoclock"}, {46, "gpsd"},
};

int toInt(const QString& text)
{
    return text.toInt(nullptr, 10);
}

int pollOrDefault(int poll, int fallback)
{
    return poll < 0 ? fallback : poll;
}

// The intervals as the page shows them: not given is 0/10, and the maximum
// is never below the minimum.
void setIntervals(ClockSettings& settings, int minPoll, int maxPoll)
{
    settings.minPoll = pollOrDefault(minPoll, 0);
    settings.maxPoll = qMax(pollOrDefault(maxPoll, 10), settings.minPoll);
}

LoadedClock classicClock(const ClockId& id, const ServerEntry& server, const FudgeEntry* fudge)
{
    LoadedClock clock;
    clock.syntax = ClockSyntax::Classic;
    clock.server = server;
    ClockSettings& s = clock.settings;
    s.id = id;
    s.mode = qMax(server.mode, 0);
    s.prefer = server.prefer;
    setIntervals(s, server.minPoll, server.maxPoll);
    if (fudge) {
        clock.hasFudge = true;
        clock.fudge = *fudge;
        s.hasDriverOptions = true;
        s.stratum = fudge->stratum;
        s.time1 = fudge->time1;
        s.time2 = fudge->time2;
        s.refid = fudge->refid;
        s.flags = {fudge->flag1, fudge->flag2, fudge->flag3, fudge->flag4};
    }
    return clock;
}

ClockId refclockId(const RefclockEntry& entry)
{
    return {refclockDriverNumber(entry.driver), qMax(entry.unit, 0)};
}

LoadedClock refclockClock(const RefclockEntry& entry)
{
    LoadedClock clock;
    clock.syntax = ClockSyntax::Refclock;
    clock.refclock = entry;
    ClockSettings& s = clock.settings;
    s.id = refclockId(entry);
    s.mode = qMax(entry.mode, 0);
    s.prefer = entry.prefer;
    setIntervals(s, entry.minPoll, entry.maxPoll);
    s.hasDriverOptions = true;
    s.stratum = entry.stratum;
    s.time1 = entry.time1;
    s.time2 = entry.time2;
    s.refid = entry.refid;
    s.flags = {entry.flag1 == 1, entry.flag2 == 1, entry.flag3 == 1, entry.flag4 == 1};
    return clock;
}

// The syntax a clock is written in: its line's, or for an added clock the
// installed daemon's; refclock only for a driver NTPsec has.
ClockSyntax syntaxToWrite(const ClockToSave& clock, bool ntpsec)
{
    const bool refclockPossible = !refclockDriverName(clock.settings.id.driver).isEmpty();
    const bool refclockWanted =
        clock.loaded ? clock.origin.syntax == ClockSyntax::Refclock : ntpsec;
    return refclockWanted && refclockPossible ? ClockSyntax::Refclock : ClockSyntax::Classic;
}

bool keepsLines(const ClockToSave& clock, ClockSyntax syntax)
{
    if (!clock.loaded || clock.edited || clock.settings != clock.origin.settings ||
        syntax != clock.origin.syntax)
        return false;
    // A second preferred clock is shown without "Prefer", and written so.
    const bool linePrefers =
        syntax == ClockSyntax::Refclock ? clock.origin.refclock.prefer : clock.origin.server.prefer;
    if (linePrefers != clock.settings.prefer)
        return false;
    // Written in full, the line would lose the number the record cannot hold.
    return syntax == ClockSyntax::Refclock || !clock.catalogued ||
           clock.origin.server.holdsOutsizedNumber();
}

// The classic lines of a clock written in full.
void fillClassic(const ClockToSave& clock, ServerEntry& server, FudgeEntry& fudge)
{
    const ClockSettings& s = clock.settings;
    const bool classicOrigin = clock.loaded && clock.origin.syntax == ClockSyntax::Classic;
    server = classicOrigin ? clock.origin.server : ServerEntry();
    fudge = classicOrigin && clock.origin.hasFudge ? clock.origin.fudge : FudgeEntry();
    const QString address = clockAddress(s.id);
    server.address = address;
    // The page's values take the place of any the record could not hold.
    server.dropOutsizedNumbers(
        {QStringLiteral("mode"), QStringLiteral("minpoll"), QStringLiteral("maxpoll")});
    server.mode = s.mode;
    server.prefer = s.prefer;
    server.minPoll = s.minPoll;
    server.maxPoll = s.maxPoll;
    fudge.address = address;
    // The daemon takes the mode from the server line; a fudge line gets one
    // only where the file gave it one (newer daemons refuse it there).
    fudge.mode = fudge.mode >= 0 ? s.mode : -1;
    fudge.stratum = s.hasDriverOptions ? s.stratum : 0;
    fudge.time1 = s.time1;
    fudge.time2 = s.time2;
    fudge.refid = s.refid;
    fudge.flag1 = s.flags[0];
    fudge.flag2 = s.flags[1];
    fudge.flag3 = s.flags[2];
    fudge.flag4 = s.flags[3];
    fudge.namedFlags.fill(true);
}

// Sets `field` to `value` when the clock's value differs from what its line
// gave (`loaded`), so that a line keeps the options the user did not touch
// exactly as they were written.
template <class T> void updateIfChanged(T& field, const T& value, const T& loaded, bool isNew)
{
    if (isNew || value != loaded)
        field = value;
}

void setRefclockFlag(int& field, bool value, bool loaded, bool isNew)
{
    if (isNew ? value : value != loaded)
        field = value ? 1 : 0;
}

// A refclock line: the loaded one with the changed options replaced, or a
// new one naming what differs from the daemon's defaults.
RefclockEntry refclockToWrite(const ClockToSave& clock)
{
    const ClockSettings& s = clock.settings;
    const bool isNew = !clock.loaded || clock.origin.syntax != ClockSyntax::Refclock;
    RefclockEntry entry = isNew ? RefclockEntry() : clock.origin.refclock;
    const ClockSettings& old = clock.origin.settings;
    if (isNew || refclockDriverNumber(entry.driver) != s.id.driver)
        entry.driver = refclockDriverName(s.id.driver);
    if (isNew || s.id.unit != qMax(entry.unit, 0))
        entry.unit = s.id.unit;
    if (isNew ? s.mode != 0 : s.mode != old.mode)
        entry.mode = s.mode;
    entry.prefer = s.prefer;
    if (isNew || s.minPoll != old.minPoll || s.maxPoll != old.maxPoll) {
        entry.minPoll = s.minPoll;
        entry.maxPoll = s.maxPoll;
    }
    const int stratum = s.hasDriverOptions ? s.stratum : -1;
    if (isNew ? stratum > 0 : stratum != old.stratum)
        entry.stratum = stratum;
    updateIfChanged(entry.time1, s.time1, old.time1, isNew);
    updateIfChanged(entry.time2, s.time2, old.time2, isNew);
    updateIfChanged(entry.refid, s.refid, old.refid, isNew);
    int* const flags[] = {&entry.flag1, &entry.flag2, &entry.flag3, &entry.flag4};
    for (int i = 0; i < 4; ++i)
        setRefclockFlag(*flags[i], s.flags[size_t(i)], old.flags[size_t(i)], isNew);
    return entry;
}

// One clock as it goes into the record, with the lines that are written
// right after its own: lines repeating the clock it was loaded from, and
// fudge lines for its address that must not override it.
struct ClockLines {
    ClockSyntax syntax = ClockSyntax::Classic;
    ServerEntry server;
    bool writesFudge = false;
    FudgeEntry fudge;
    RefclockEntry refclock;
    bool loaded = false;
    ClockId origin;
    bool keepTied = false;
    QList<ServerEntry> followingServers;
    QList<FudgeEntry> followingFudges;
    QList<RefclockEntry> followingRefclocks;
};

ClockLines linesOf(const ClockToSave& clock, bool ntpsec)
{
    ClockLines lines;
    lines.syntax = syntaxToWrite(clock, ntpsec);
    lines.loaded = clock.loaded;
    lines.origin = clock.origin.settings.id;
    lines.keepTied = clock.loaded && !clock.edited;
    if (keepsLines(clock, lines.syntax)) {
        lines.server = clock.origin.server;
        lines.writesFudge = clock.origin.hasFudge;
        lines.fudge = clock.origin.fudge;
        lines.refclock = clock.origin.refclock;
    } else if (lines.syntax == ClockSyntax::Classic) {
        fillClassic(clock, lines.server, lines.fudge);
        lines.writesFudge = true;
    } else {
        lines.refclock = refclockToWrite(clock);
    }
    return lines;
}

ClockLines* clockLoadedAs(QVector<ClockLines>& clocks, const ClockId& id)
{
    for (ClockLines& clock : clocks) {
        if (clock.loaded && clock.origin == id)
            return &clock;
    }
    return nullptr;
}

ClockLines* clockWritingFudge(QVector<ClockLines>& clocks, const QString& address)
{
    for (ClockLines& clock : clocks) {
        if (clock.writesFudge && clock.fudge.address == address)
            return &clock;
    }
    return nullptr;
}

// Lines the loaded clocks were made of. The first line of a clock is
// replaced by the clocks written; a repeated one follows its clock while that
// is unedited, and goes with it otherwise.
class ClockMerge
{
public:
    ClockMerge(const NtpSettings& record, QVector<ClockLines>& clocks) : m_clocks(clocks)
    {
        mergeServers(record.servers);
        mergeRefclocks(record.refclocks);
        mergeFudges(record.fudges);
    }

    QList<ServerEntry> servers;
    QList<RefclockEntry> refclocks;
    QList<FudgeEntry> fudges;

private:
    // True for the first line of a clock; a repeated line is handed to `tie`.
    template <class Tie> bool isFirstLine(const ClockId& id, Tie tie)
    {
        if (!m_shown.contains(id)) {
            m_shown.insert(id);
            return true;
        }
        ClockLines* owner = clockLoadedAs(m_clocks, id);
        if (owner && owner->keepTied)
            tie(*owner);
        return false;
    }

    void mergeServers(const QList<ServerEntry>& entries)
    {
        for (const ServerEntry& entry : entries) {
            ClockId id;
            if (!parseClockAddress(entry.address, &id)) {
                servers << entry;
                continue;
            }
            if (isFirstLine(id, [&](ClockLines& owner) { owner.followingServers << entry; }))
                m_shownAddresses.insert(entry.address);
        }
    }

    void mergeRefclocks(const QList<RefclockEntry>& entries)
    {
        for (const RefclockEntry& entry : entries) {
            const ClockId id = refclockId(entry);
            if (id.driver == 0)
                refclocks << entry;
            else
                isFirstLine(id, [&](ClockLines& owner) { owner.followingRefclocks << entry; });
        }
    }

    // The first fudge line of a classic clock's address belongs to it.
    // Other fudge lines stay at their place, unless a clock now writes a
    // fudge line for their address: they then follow it, so that it stays
    // the one in effect.
    void mergeFudges(const QList<FudgeEntry>& entries)
    {
        QSet<QString> replaced;
        for (const FudgeEntry& entry : entries) {
            if (m_shownAddresses.contains(entry.address)) {
                if (replaced.contains(entry.address)) {
                    ClockId id;
                    parseClockAddress(entry.address, &id);
                    ClockLines* owner = clockLoadedAs(m_clocks, id);
                    if (owner && owner->keepTied)
                        owner->followingFudges << entry;
                } else {
                    replaced.insert(entry.address);
                }
            } else if (ClockLines* clock = clockWritingFudge(m_clocks, entry.address)) {
                clock->followingFudges << entry;
            } else {
                fudges << entry;
            }
        }
    }

    QVector<ClockLines>& m_clocks;
    QSet<ClockId> m_shown;
    QSet<QString> m_shownAddresses;
};

} // namespace

uint qHash(const ClockId& id, uint seed)
{
    return ::qHash(qMakePair(id.driver, id.unit), seed);
}

bool isClockAddress(const QString& address)
{
    return address.startsWith(clockPrefix);
}

bool parseClockAddress(const QString& address, ClockId* id)
{
    if (!isClockAddress(address))
        return false;
    const QStringList parts = address.mid(clockPrefix.size()).split(QLatin1Char('.'));
    if (parts.size() != 2)
        return false;
    id->driver = toInt(parts.at(0));
    id->unit = toInt(parts.at(1));
    return true;
}

QString clockAddress(const ClockId& id)
{
    return clockPrefix + QString::number(id.driver) + QLatin1Char('.') + QString::number(id.unit);
}

int refclockDriverNumber(const QString& name)
{
    for (const RefclockName& known : refclockNames) {
        if (name.compare(QLatin1String(known.name), Qt::CaseInsensitive) == 0)
            return known.driver;
    }
    return 0;
}

QString refclockDriverName(int driver)
{
    for (const RefclockName& known : refclockNames) {
        if (known.driver == driver)
            return QLatin1String(known.name);
    }
    return QString();
}

bool calibrateEnabled(const QStringList& enables)
{
    return enables.contains(calibrateFlag);
}

void setCalibrate(QStringList& enables, bool enabled)
{
    if (!enabled) {
        enables.removeAll(calibrateFlag);
        return;
    }
    const int first = enables.indexOf(calibrateFlag);
    if (first < 0) {
        enables << calibrateFlag;
        return;
    }
    for (int i = enables.size() - 1; i > first; --i) {
        if (enables.at(i) == calibrateFlag)
            enables.removeAt(i);
    }
}

bool ClockSettings::operator==(const ClockSettings& o) const
{
    const bool same = id == o.id && mode == o.mode && prefer == o.prefer && minPoll == o.minPoll &&
                      maxPoll == o.maxPoll && hasDriverOptions == o.hasDriverOptions;
    return same &&
           (!hasDriverOptions || (stratum == o.stratum && time1 == o.time1 && time2 == o.time2 &&
                                  refid == o.refid && flags == o.flags));
}

QList<LoadedClock> loadReferenceClocks(const NtpSettings& record)
{
    // The first fudge line of an address is the one that counts.
    QHash<QString, const FudgeEntry*> fudgeOf;
    for (const FudgeEntry& fudge : record.fudges) {
        if (!fudgeOf.contains(fudge.address))
            fudgeOf.insert(fudge.address, &fudge);
    }
    QList<LoadedClock> clocks;
    QSet<ClockId> seen;
    for (const ServerEntry& server : record.servers) {
        ClockId id;
        if (!parseClockAddress(server.address, &id) || seen.contains(id))
            continue;
        seen.insert(id);
        clocks << classicClock(id, server, fudgeOf.value(server.address));
    }
    for (const RefclockEntry& entry : record.refclocks) {
        const ClockId id = refclockId(entry);
        if (id.driver == 0 || seen.contains(id))
            continue;
        seen.insert(id);
        clocks << refclockClock(entry);
    }
    bool preferShown = false;
    for (LoadedClock& clock : clocks) {
        clock.settings.prefer = clock.settings.prefer && !preferShown;
        preferShown = preferShown || clock.settings.prefer;
    }
    return clocks;
}

void storeReferenceClocks(NtpSettings& record, const QVector<ClockToSave>& clocks, bool ntpsec)
{
    QVector<ClockLines> lines;
    lines.reserve(clocks.size());
    for (const ClockToSave& clock : clocks)
        lines << linesOf(clock, ntpsec);
    ClockMerge merge(record, lines);
    for (const ClockLines& clock : qAsConst(lines)) {
        if (clock.syntax == ClockSyntax::Classic)
            merge.servers << clock.server;
        else
            merge.refclocks << clock.refclock;
        if (clock.writesFudge && clock.syntax == ClockSyntax::Classic)
            merge.fudges << clock.fudge;
        merge.servers << clock.followingServers;
        merge.refclocks << clock.followingRefclocks;
        merge.fudges << clock.followingFudges;
    }
    record.servers = merge.servers;
    record.refclocks = merge.refclocks;
    record.fudges = merge.fudges;
}
