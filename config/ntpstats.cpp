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

bool nextNumber(const char** cursor, const char* end, double* value)
{
    const char* b;
    const char* e;
    if (!nextField(cursor, end, &b, &e))
        return false;
    const auto result = std::from_chars(b, e, *value);
    return result.ec == std::errc() && result.ptr == e;
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

template <class Sample, class Parse>
void readSamples(const QString& dir, const QString& base, double since, QVector<Sample>* samples,
                 StatsRead* read, Parse parse)
{
    for (const QString& path : statsGenerations(dir, base, since)) {
        const QByteArray tail = statsTailSince(path, since);
        ++read->filesRead;
        const char* p = tail.constData();
        const char* end = p + tail.size();
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
    std::stable_sort(samples->begin(), samples->end(),
                     [](const Sample& a, const Sample& b) { return a.time < b.time; });
}
} // namespace

bool statsLineTime(const char* begin, const char* end, double* time)
{
    return lineTime(&begin, end, time);
}

bool parseLoopLine(const char* begin, const char* end, LoopSample* sample)
{
    const char* cursor = begin;
    return lineTime(&cursor, end, &sample->time) && nextNumber(&cursor, end, &sample->offset) &&
           nextNumber(&cursor, end, &sample->frequency) &&
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
    low = std::max(low, size - tailLimit);
    low = lineStartFrom(file, low);
    if (!file.seek(low))
        return QByteArray();
    QByteArray tail = file.readAll();
    // Drop the few older lines left before the start; a line that cannot be
    // read stays for the caller to count.
    qsizetype from = 0;
    while (from < tail.size()) {
        const qsizetype lineEnd = tail.indexOf('\n', from);
        const char* cursor = tail.constData() + from;
        double time = 0;
        const char* end = tail.constData() + (lineEnd < 0 ? tail.size() : lineEnd);
        if (!lineTime(&cursor, end, &time) || time >= since)
            break;
        if (lineEnd < 0)
            return QByteArray();
        from = lineEnd + 1;
    }
    return from == 0 ? tail : tail.mid(from);
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
