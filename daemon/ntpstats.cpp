#include "daemon/ntpstats.h"

#include "host/host.h"
#include "host/hostpath.h"

#include <QDateTime>
#include <QSet>
#include <algorithm>
#include <charconv>
#include <cstring>

namespace
{
const double unixEpochMjd = 40587;
const int probeLineLimit = 4096;
// The first read of a file's end; most files need no second one.
const qint64 firstTailRead = 256 * 1024;
// Even a week of a busy peerstats file stays far below this.
const qint64 tailLimit = 256LL * 1024 * 1024;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// The next blank-separated field of [*cursor, end).
bool nextField(const char** cursor, const char* end, const char** fieldBegin, const char** fieldEnd)
{
    const char* p = *cursor;
    while (p < end && isBlank(*p))
        ++p;
    const char* start = p;
    while (p < end && !isBlank(*p))
        ++p;
    *cursor = p;
    *fieldBegin = start;
    *fieldEnd = p;
    return start != p;
}

// The next blank-separated number of [*cursor, end). Plain decimals
// ("-0.000421553", "61382") are read in the same pass that finds the field's
// end, several times faster than the general conversion the rest ("6e-05")
// goes through.
bool nextNumber(const char** cursor, const char* end, double* value)
{
    static const double powersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                         1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
    const char* p = *cursor;
    while (p < end && isBlank(*p))
        ++p;
    const char* begin = p;
    const bool negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+'))
        ++p;
    quint64 mantissa = 0;
    int digits = 0;
    int fractionDigits = 0;
    bool dot = false;
    bool plain = true;
    for (; p < end && !isBlank(*p); ++p) {
        const unsigned digit = unsigned(*p - '0');
        if (digit < 10 && digits < 18) {
            mantissa = mantissa * 10 + digit;
            ++digits;
            fractionDigits += dot;
        } else if (*p == '.' && !dot) {
            dot = true;
        } else {
            plain = false;
        }
    }
    *cursor = p;
    if (plain && digits > 0) {
        const double magnitude = double(mantissa) / powersOfTen[fractionDigits];
        *value = negative ? -magnitude : magnitude;
        return true;
    }
    if (begin == p)
        return false;
    const auto result = std::from_chars(begin, p, *value);
    return result.ec == std::errc() && result.ptr == p;
}

bool lineTime(const char** cursor, const char* end, double* time)
{
    double day = 0;
    double seconds = 0;
    if (!nextNumber(cursor, end, &day) || !nextNumber(cursor, end, &seconds))
        return false;
    if (day < unixEpochMjd || seconds < 0 || seconds > 86401)
        return false;
    *time = (day - unixEpochMjd) * 86400.0 + seconds;
    return true;
}

// Offset of the first line of `text` that starts at or after `position`.
int lineStartFrom(const QByteArray& text, int position)
{
    if (position == 0)
        return 0;
    const int newline = text.indexOf('\n', position - 1);
    return newline < 0 ? text.size() : newline + 1;
}

// The time of the first readable line at or after `start`; false at the end.
bool timeOfLineAt(const QByteArray& text, int start, double* time)
{
    const char* end = text.constData() + text.size();
    for (int tries = 0; tries < 8 && start < text.size(); ++tries) {
        const char* cursor = text.constData() + start;
        const char* lineEnd = static_cast<const char*>(memchr(cursor, '\n', size_t(end - cursor)));
        if (!lineEnd)
            lineEnd = end;
        if (lineTime(&cursor, std::min(lineEnd, cursor + probeLineLimit), time))
            return true;
        start = int(lineEnd - text.constData()) + 1;
    }
    return false;
}

// Offset of the first line of `text` from `first` (where a line starts) on
// that is not older than `since` (or the first line that cannot be read):
// the lines are in time order, so it is found by halving the text instead of
// reading it from its beginning.
int tailStart(const QByteArray& text, int first, double since)
{
    const int size = text.size();
    // Invariant: the first line not older than `since` starts in [low, high].
    int low = first;
    int high = size;
    while (high - low > probeLineLimit) {
        const int start = lineStartFrom(text, low + (high - low) / 2);
        double time = 0;
        if (start >= high || !timeOfLineAt(text, start, &time)) {
            high = low + (high - low) / 2;
            continue;
        }
        if (time < since)
            low = start;
        else
            high = start;
    }
    // Skip the few older lines left before the start.
    int position = lineStartFrom(text, low);
    while (position < size) {
        const int newline = text.indexOf('\n', position);
        if (newline < 0)
            return position; // an unfinished last line
        const char* cursor = text.constData() + position;
        double time = 0;
        if (!lineTime(&cursor, text.constData() + newline, &time) || time >= since)
            return position;
        position = newline + 1;
    }
    return size;
}

// The first complete line of a tail read: its first piece may be the end of a
// line cut off by the read.
int firstWholeLine(const FileContent& tail)
{
    if (tail.bytes.size() >= tail.status.size)
        return 0;
    const int newline = tail.bytes.indexOf('\n');
    return newline < 0 ? tail.bytes.size() : newline + 1;
}

// The time of the last readable line of `text`; false when none can be read.
bool timeOfLastLine(const QByteArray& text, double* time)
{
    int end = text.size();
    for (int tries = 0; tries < 8 && end > 0; ++tries) {
        const int start = text.lastIndexOf('\n', end - 2) + 1;
        const char* cursor = text.constData() + start;
        if (lineTime(&cursor, text.constData() + end, time))
            return true;
        end = start;
    }
    return false;
}

// How much of the file's end to read next: enough, at the density of the
// lines read so far, to reach back to `since`, and at least twice as much.
qint64 nextTailLimit(const FileContent& tail, int firstLine, double since, qint64 limit)
{
    double first = 0;
    double last = 0;
    qint64 wanted = limit * 2;
    if (timeOfLineAt(tail.bytes, firstLine, &first) && timeOfLastLine(tail.bytes, &last) &&
        last > first) {
        const double bytesPerSecond = double(tail.bytes.size() - firstLine) / (last - first);
        wanted = std::max(wanted, qint64((last - since) * bytesPerSecond * 1.25));
    }
    return std::min(wanted, tailLimit);
}

// What was read of a file's end, and where in it the lines from a point in
// time on start.
struct Tail {
    QByteArray bytes;
    int start = 0;
};

// The end of the file at `path` that reaches back to `since`, read through the
// host from the end: the part of a long file that is needed, not all of it.
Tail tailSince(const QString& path, double since, int* filesRead)
{
    Host& host = Host::current();
    qint64 limit = firstTailRead;
    for (;;) {
        FileContent tail;
        if (host.readTail(path, limit, &tail) != 0)
            return Tail();
        const int firstLine = firstWholeLine(tail);
        double firstTime = 0;
        const bool reachesBack =
            firstLine == 0 || limit >= tailLimit ||
            (timeOfLineAt(tail.bytes, firstLine, &firstTime) && firstTime < since);
        if (reachesBack) {
            if (filesRead)
                ++*filesRead;
            // Parsed where it lies: a copy of megabytes would cost more than
            // the parsing.
            return {tail.bytes, tailStart(tail.bytes, firstLine, since)};
        }
        limit = nextTailLimit(tail, firstLine, since, limit);
    }
}

template <class Sample, class Parse>
void readSamples(const QString& dir, const QString& base, double since, QVector<Sample>* samples,
                 StatsRead* read, Parse parse)
{
    for (const QString& path : statsGenerations(dir, base, since)) {
        const Tail text = tailSince(path, since, &read->filesRead);
        const int size = text.bytes.size() - text.start;
        samples->reserve(samples->size() + std::min(size / 48, 1 << 20));
        const char* p = text.bytes.constData() + text.start;
        const char* end = p + size;
        while (p < end) {
            const char* lineEnd = static_cast<const char*>(memchr(p, '\n', size_t(end - p)));
            if (!lineEnd)
                lineEnd = end;
            Sample sample;
            if (parse(p, lineEnd, &sample)) {
                if (sample.time >= since)
                    samples->append(sample);
            } else if (lineEnd != p) {
                ++read->malformedLines;
            }
            p = lineEnd + 1;
        }
    }
    const auto earlier = [](const Sample& a, const Sample& b) {
        return a.time < b.time;
    };
    // Generations are read oldest first, so the samples are usually in order.
    if (!std::is_sorted(samples->cbegin(), samples->cend(), earlier))
        std::stable_sort(samples->begin(), samples->end(), earlier);
}
} // namespace

bool statsLineTime(const char* begin, const char* end, double* time)
{
    return lineTime(&begin, end, time);
}

bool parseLoopLine(const char* begin, const char* end, LoopSample* sample)
{
    const char* cursor = begin;
    const char* frequencyBegin;
    const char* frequencyEnd;
    return lineTime(&cursor, end, &sample->time) && nextNumber(&cursor, end, &sample->offset) &&
           nextField(&cursor, end, &frequencyBegin, &frequencyEnd) &&
           nextNumber(&cursor, end, &sample->jitter);
}

bool parsePeerLine(const char* begin, const char* end, PeerSample* sample)
{
    const char* cursor = begin;
    const char* addressBegin;
    const char* addressEnd;
    const char* statusBegin;
    const char* statusEnd;
    if (!lineTime(&cursor, end, &sample->time) ||
        !nextField(&cursor, end, &addressBegin, &addressEnd) ||
        !nextField(&cursor, end, &statusBegin, &statusEnd))
        return false;
    double dispersion = 0;
    if (!nextNumber(&cursor, end, &sample->offset) || !nextNumber(&cursor, end, &sample->delay) ||
        !nextNumber(&cursor, end, &dispersion) || !nextNumber(&cursor, end, &sample->jitter))
        return false;
    sample->peer = QString::fromLatin1(addressBegin, int(addressEnd - addressBegin));
    return true;
}

QByteArray statsTailSince(const QString& path, double since)
{
    const Tail tail = tailSince(path, since, nullptr);
    return tail.bytes.mid(tail.start);
}

QStringList statsGenerations(const QString& dir, const QString& base, double since)
{
    QVector<FolderEntry> entries;
    QStringList paths;
    if (Host::current().listFolder(dir, &entries) != 0)
        return paths;
    // Only regular files: a link in the daemon's folder (which its own user
    // may write to) does not decide what the program reads.
    QVector<FolderEntry> candidates;
    for (const FolderEntry& entry : qAsConst(entries)) {
        const bool named = entry.name == base || entry.name.startsWith(base + QLatin1Char('.'));
        if (named && entry.status.isRegular() &&
            double(entry.status.modified.toSecsSinceEpoch()) >= since)
            candidates.append(entry);
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const FolderEntry& a, const FolderEntry& b) {
                         return a.status.modified < b.status.modified;
                     });
    QSet<QPair<quint64, quint64>> seen;
    for (const FolderEntry& entry : qAsConst(candidates)) {
        const QPair<quint64, quint64> inode{entry.status.device, entry.status.inode};
        if (!seen.contains(inode)) {
            seen.insert(inode);
            paths.append(pathIn(dir, entry.name));
        }
    }
    return paths;
}

StatsRead readLoopStats(const QString& dir, const QString& base, double since)
{
    StatsRead read;
    readSamples(dir, base, since, &read.loop, &read, parseLoopLine);
    return read;
}

StatsRead readPeerStats(const QString& dir, const QString& base, double since)
{
    StatsRead read;
    readSamples(dir, base, since, &read.peers, &read, parsePeerLine);
    return read;
}
