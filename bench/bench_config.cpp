// Reading and writing configuration files of 100, 10,000 and 100,000 lines,
// against a plain line-by-line read of the same file.

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>

#include "config/config.h"
#include "config/ntpsettings.h"

namespace
{

// A file of servers, restricts, fudges and comments, `lines` lines long.
QByteArray generatedFile(int lines)
{
    QByteArray text;
    for (int i = 0; i < lines; ++i) {
        const QByteArray n = QByteArray::number(i % 250);
        switch (i % 5) {
        case 0:
            text += "# server group " + QByteArray::number(i) + '\n';
            break;
        case 1:
            text += "server 10.0." + n + ".1 iburst minpoll 4 maxpoll 10\n";
            break;
        case 2:
            text += "restrict 10.0." + n + ".0 mask 255.255.255.0 nomodify notrap\n";
            break;
        case 3:
            text += "fudge 127.127.1." + n + " stratum 10 refid LOCL\n";
            break;
        default:
            text += "pool " + n + ".pool.example.org iburst\n";
            break;
        }
    }
    return text;
}

class BenchFile
{
public:
    explicit BenchFile(int lines)
        : m_path(m_dir.filePath("ntp.conf")), m_content(generatedFile(lines))
    {
        reset();
    }
    void reset() const
    {
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(m_path));
        file.write(m_content);
    }
    const QString& path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    QString m_path;
    QByteArray m_content;
};

void setLinesProcessed(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_BaselineReadLines(benchmark::State& state)
{
    const BenchFile file(int(state.range(0)));
    for (auto _ : state) {
        QFile in(file.path());
        if (!in.open(QIODevice::ReadOnly))
            state.SkipWithError("cannot open");
        qint64 total = 0;
        while (!in.atEnd())
            total += in.readLine().size();
        benchmark::DoNotOptimize(total);
    }
    setLinesProcessed(state);
}

void BM_ConfigRead(benchmark::State& state)
{
    const BenchFile file(int(state.range(0)));
    for (auto _ : state) {
        const Config config(file.path());
        benchmark::DoNotOptimize(config.entries().size());
    }
    setLinesProcessed(state);
}

void BM_ConfigReadAndReadFrom(benchmark::State& state)
{
    const BenchFile file(int(state.range(0)));
    for (auto _ : state) {
        const Config config(file.path());
        NtpSettings record;
        record.readFrom(config);
        benchmark::DoNotOptimize(record.servers.size());
    }
    setLinesProcessed(state);
}

void BM_Render(benchmark::State& state)
{
    const BenchFile file(int(state.range(0)));
    NtpSettings record;
    record.readFrom(Config(file.path()));
    const QVector<ConfigLine> oldLines = readConfigLines(file.path());
    for (auto _ : state)
        benchmark::DoNotOptimize(record.render(oldLines).size());
    setLinesProcessed(state);
}

void BM_WriteTo(benchmark::State& state)
{
    const BenchFile file(int(state.range(0)));
    NtpSettings record;
    record.readFrom(Config(file.path()));
    for (auto _ : state) {
        if (!record.writeTo(file.path()))
            state.SkipWithError("write failed");
    }
    setLinesProcessed(state);
}

} // namespace

BENCHMARK(BM_BaselineReadLines)->Arg(100)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConfigRead)->Arg(100)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConfigReadAndReadFrom)
    ->Arg(100)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Render)->Arg(100)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteTo)->Arg(100)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
