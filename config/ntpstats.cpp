#include "ntpstats.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <charconv>
#include <sys/stat.h>

namespace
{
const double unixEpochMjd = 40587;
const qint64 probeLineLimit = 4096;
const int readChunk = 1 << 20;
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

// Offset of the first line that starts at or after `position`.
qint64 lineStartFrom(QFile& file, qint64 position)
{
    if (position == 0)
        return 0;
    if (!file.seek(position - 1))
        return file.size();
    char c = 0;
    while (file.getChar(&c)) {
        if (c == '\n')
            return file.pos();
    }
    return file.size();
}

// The time of the first readable line at or after `start`; false at the end.
bool timeOfLineAt(QFile& file, qint64 start, double* time)
{
    if (!file.seek(start))
        return false;
    for (int tries = 0; tries < 8 && !file.atEnd(); ++tries) {
        const QByteArray line = file.readLine(probeLineLimit);
        const char* cursor = line.constData();
        if (lineTime(&cursor, line.constData() + line.size(), time))
            return true;
    }
    return false;
}

// Offset of the first line of `file` not older than `since` (or the first
// line that cannot be read): the lines are in time order, so it is found by
// halving the file instead of reading it from its beginning.
qint64 tailStart(QFile& file, double since)
{
    const qint64 size = file.size();
    // Invariant: the first line not older than `since` starts in [low, high].
    qint64 low = 0;
    qint64 high = size;
    while (high - low > probeLineLimit) {
        const qint64 start = lineStartFrom(file, low + (high - low) / 2);
        double time = 0;
        if (start >= high || !timeOfLineAt(file, start, &time)) {
            high = low + (high - low) / 2;
            continue;
        }
        if (time < since)
            low = start;
        else
            high = start;
    }
    low = lineStartFrom(file, std::max(low, size - tailLimit));
    // Skip the few older lines left before the start.
    if (!file.seek(low))
        return size;
    qint64 position = low;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(probeLineLimit);
        const char* cursor = line.constData();
        double time = 0;
        if (!line.endsWith('\n') || !lineTime(&cursor, line.constData() + line.size(), &time) ||
            time >= since)
            return position;
        position += line.size();
    }
    return size;
}

template <class Sample, class Parse>
void readSamples(const QString& dir, const QString& base, double since, QVector<Sample>* samples,
                 StatsRead* read, Parse parse)
{
    for (const QString& path : statsGenerations(dir, base, since)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        ++read->filesRead;
        if (!file.seek(tailStart(file, since)))
            continue;
        const qint64 expected = std::min<qint64>((file.size() - file.pos()) / 48, 1 << 20);
        samples->reserve(samples->size() + int(expected));
        // Read in large pieces into one buffer; a line cut by the end of a
        // piece is carried over to the next one.
        QByteArray buffer(readChunk, Qt::Uninitialized);
        qint64 carried = 0;
        for (;;) {
            const qint64 got = file.read(buffer.data() + carried, buffer.size() - carried);
            if (got <= 0 && carried == 0)
                break;
            const qint64 filled = carried + std::max<qint64>(got, 0);
            const char* p = buffer.constData();
            const char* end = p + filled;
            const bool last = got <= 0;
            while (p < end) {
                const char* lineEnd = static_cast<const char*>(memchr(p, '\n', size_t(end - p)));
                if (!lineEnd) {
                    if (!last)
                        break;
                    lineEnd = end;
                }
                Sample sample;
                if (parse(p, lineEnd, &sample)) {
                    if (sample.time >= since)
                        samples->append(sample);
                } else if (lineEnd != p) {
                    ++read->malformedLines;
                }
                p = lineEnd + 1;
            }
            if (last)
                break;
            carried = std::max<qint64>(0, end - p);
            if (carried >= buffer.size()) {
                // A line longer than the buffer is no statistics line.
                carried = 0;
                ++read->malformedLines;
            }
            memmove(buffer.data(), p, size_t(carried));
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const qint64 start = tailStart(file, since);
    if (!file.seek(start))
        return QByteArray();
    return file.readAll();
}

QStringList statsGenerations(const QString& dir, const QString& base, double since)
{
    QDir folder(dir);
    QFileInfoList candidates =
        folder.entryInfoList({base, base + QStringLiteral(".*")}, QDir::Files | QDir::Readable);
    std::sort(candidates.begin(), candidates.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return a.lastModified() < b.lastModified();
    });
    QStringList paths;
    QSet<QPair<quint64, quint64>> seen;
    for (const QFileInfo& info : candidates) {
        if (double(info.lastModified().toSecsSinceEpoch()) < since)
            continue;
        struct stat st;
        if (::stat(QFile::encodeName(info.filePath()).constData(), &st) == 0 &&
            !seen.contains({quint64(st.st_dev), quint64(st.st_ino)})) {
            seen.insert({quint64(st.st_dev), quint64(st.st_ino)});
            paths.append(info.filePath());
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
