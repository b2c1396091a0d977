// libFuzzer target for the configuration store: any file content must read,
// write back and read again without a crash, a sanitizer report or a hang,
// give the same record the second time, keep every line the record did not
// take in byte for byte (and so the pool, NTS and restrict lines of other
// forms it did take in, which are written as the file gave them while
// unchanged), and be a fixed point of a second save.
#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "config/carryoverplan.h"
#include "config/config.h"
#include "config/ntpsettings.h"
#include "config/ntpsettingsreader.h"

namespace
{

// Directive keywords that the record has fields for. A line whose first word
// is none of these can only reach the written file by being carried over.
const char* const recordKeywords[] = {
    "server",          "pool",      "peer",       "broadcast",      "manycastserver",
    "multicastclient", "fudge",     "refclock",   "restrict",       "discard",
    "filegen",         "logconfig", "statistics", "statsdir",       "driftfile",
    "broadcastdelay",  "logfile",   "enable",     "broadcastclient"};

bool isRecordKeyword(const QString& key)
{
    for (const char* keyword : recordKeywords) {
        if (key == QLatin1String(keyword))
            return true;
    }
    return false;
}

[[noreturn]] void fail(const char* what, const QByteArray& detail = QByteArray())
{
    std::fprintf(stderr, "fuzz_config: %s\n", what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  line: \"%s\"\n", detail.toHex(' ').constData());
    std::abort();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail("cannot write the scratch file");
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail("the written file cannot be read");
    return file.readAll();
}

NtpSettings recordOf(const QString& path)
{
    const Config config(path);
    NtpSettings record;
    record.readFrom(config);
    return record;
}

// How many times each line (the bytes between two LFs) occurs in `bytes`.
QHash<QByteArray, int> lineCounts(const QByteArray& bytes)
{
    QHash<QByteArray, int> counts;
    const QList<QByteArray> lines = bytes.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        if (i == lines.size() - 1 && lines.at(i).isEmpty())
            break; // after the final LF
        ++counts[lines.at(i)];
    }
    return counts;
}

// Lines of `input` that must come out unchanged: those the store's own
// classifier leaves out of the record or keeps as written, and, independently
// of it, blank lines, comments and lines of directives the record has no
// field for.
QHash<QByteArray, int> carriedLineCounts(const QString& inputPath)
{
    QHash<QByteArray, int> counts;
    NtpSettings scratch;
    RecordLineReader reader(scratch);
    for (const ConfigLine& line : readConfigLines(inputPath)) {
        const LineRole role = reader.take(line);
        const bool taken = role.taken;
        const bool outsideRecord =
            line.key.isEmpty() || line.key == QLatin1String("#") || !isRecordKeyword(line.key);
        if (taken && outsideRecord)
            fail("the classifier took in a line of no directive the record holds", line.raw);
        if (!taken || keptAsWritten(scratch, role))
            ++counts[line.raw];
    }
    return counts;
}

void checkCarriedLines(const QString& inputPath, const QByteArray& written)
{
    const QHash<QByteArray, int> carried = carriedLineCounts(inputPath);
    const QHash<QByteArray, int> present = lineCounts(written);
    for (auto it = carried.cbegin(); it != carried.cend(); ++it) {
        // The line may end in LF or, where the file used them, in CR LF.
        const int found = present.value(it.key()) + present.value(it.key() + '\r');
        if (found < it.value())
            fail("a line the record does not hold is missing from the written file", it.key());
    }
}

QTemporaryDir& scratchDir()
{
    static QTemporaryDir dir;
    if (!dir.isValid())
        fail("no scratch directory");
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));
    const QString inputPath = scratchDir().filePath(QStringLiteral("input.conf"));
    const QString outputPath = scratchDir().filePath(QStringLiteral("ntp.conf"));
    writeFile(inputPath, input);
    // The program always saves over the file it read, carrying over what the
    // record does not hold, so the output starts as a copy of the input.
    writeFile(outputPath, input);

    const NtpSettings first = recordOf(inputPath);
    if (!first.writeTo(outputPath))
        fail("writeTo failed on a writable file");
    const QByteArray written = readFile(outputPath);

    const NtpSettings second = recordOf(outputPath);
    if (second != first)
        fail("reading the written file gives a different record");
    checkCarriedLines(inputPath, written);

    // Saving an unchanged record again must not change the file.
    if (!second.writeTo(outputPath))
        fail("second writeTo failed");
    if (readFile(outputPath) != written)
        fail("a second save of the unchanged record changed the file");
    return 0;
}
