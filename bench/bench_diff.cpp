// The review's diff of a 100,000-line file with a few changes and with tens
// of thousands, against splitting the same two texts into lines; and the
// diff view's filling with a long diff, against plain text of the same
// lines in a QPlainTextEdit. Runs headless (offscreen unless
// QT_QPA_PLATFORM says otherwise).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QByteArrayList>
#include <QRandomGenerator>

#include "app/review/reviewdialog.h"
#include "config/unifieddiff.h"

#include <algorithm>
#include <vector>

namespace
{

constexpr int fileLines = 100000;

// A configuration text of `lines` lines; with `distinct` > 0 only that many
// different lines, repeated.
QByteArray generatedFile(int lines, int distinct = 0)
{
    QByteArray text;
    for (int i = 0; i < lines; ++i) {
        const int n = distinct > 0 ? i % distinct : i;
        const QByteArray octet = QByteArray::number(n % 250);
        switch (n % 4) {
        case 0:
            text += "# server group " + QByteArray::number(n) + '\n';
            break;
        case 1:
            text += "server 10." + QByteArray::number(n / 250 % 250) + '.' + octet + ".1 iburst\n";
            break;
        case 2:
            text += "restrict 10.0." + octet + ".0 mask 255.255.255.0 nomodify notrap\n";
            break;
        default:
            text += "pool " + octet + ".pool.example.org iburst\n";
            break;
        }
    }
    return text;
}

// `text` with `count` edits spread over it: runs of one to three lines
// replaced, inserted or removed.
QByteArray edited(const QByteArray& text, int count, quint32 seed)
{
    QRandomGenerator random(seed);
    const QList<QByteArray> lines = text.split('\n');
    std::vector<int> at(static_cast<size_t>(count));
    for (int& position : at)
        position = int(random.bounded(quint32(lines.size() - 1)));
    std::sort(at.begin(), at.end());
    QByteArrayList out;
    int next = 0;
    for (int edit = 0; edit < count; ++edit) {
        while (next < at[size_t(edit)])
            out.append(lines.at(next++));
        const int run = 1 + int(random.bounded(3u));
        switch (random.bounded(3u)) {
        case 0:
            next = std::min(next + run, lines.size() - 1);
            break;
        case 1:
            for (int i = 0; i < run; ++i)
                out.append("server 192.0.2." + QByteArray::number(edit % 250) + " # new");
            break;
        default:
            for (int i = 0; i < run && next < lines.size() - 1; ++i)
                out.append("# " + lines.at(next++));
            break;
        }
    }
    while (next < lines.size())
        out.append(lines.at(next++));
    return out.join('\n');
}

struct Texts {
    QByteArray before;
    QByteArray after;
};

// The cases, by benchmark argument.
const Texts& texts(int which)
{
    static const QByteArray plain = generatedFile(fileLines);
    static const QByteArray repeated = generatedFile(fileLines, 16);
    static const std::vector<Texts> cases = {
        {plain, edited(plain, 10, 1)},                             // 0: a few changes
        {plain, edited(plain, 30000, 2)},                          // 1: tens of thousands
        {QByteArray(plain).replace("\n", "\r\n"), plain},          // 2: every line end
        {repeated, edited(repeated, 10000, 3)},                    // 3: repeated lines
        {plain, QByteArray(plain).replace("server", "# server")}}; // 4: a quarter of the lines
    return cases.at(size_t(which));
}

void nameCase(benchmark::State& state)
{
    static const char* names[] = {"few changes", "30,000 edits", "CRLF to LF", "repeated lines",
                                  "25,000 lines replaced"};
    state.SetLabel(names[state.range(0)]);
}

void BM_BaselineSplitLines(benchmark::State& state)
{
    const Texts& pair = texts(int(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(pair.before.split('\n').size());
        benchmark::DoNotOptimize(pair.after.split('\n').size());
    }
    nameCase(state);
}

void BM_UnifiedDiff(benchmark::State& state)
{
    const Texts& pair = texts(int(state.range(0)));
    int lines = 0;
    for (auto _ : state)
        lines =
            unifiedDiff(pair.before, pair.after, QStringLiteral("a"), QStringLiteral("b")).size();
    state.counters["diff_lines"] = lines;
    nameCase(state);
}

// What opening the review costs: the diff, its summary and the first part
// of it laid out and painted.
void BM_ReviewSetTexts(benchmark::State& state)
{
    const Texts& pair = texts(int(state.range(0)));
    ReviewDialog dialog(QStringLiteral("Review changes"));
    dialog.show();
    for (auto _ : state) {
        dialog.setTexts(QStringLiteral("ntp.conf"), pair.before, pair.after);
        dialog.repaint();
    }
    nameCase(state);
}

void BM_BaselinePlainTextPage(benchmark::State& state)
{
    const QVector<DiffLine> lines = unifiedDiff(texts(1).before, texts(1).after, {}, {});
    QPlainTextEdit edit;
    edit.setLineWrapMode(QPlainTextEdit::NoWrap);
    edit.show();
    const QString page = unifiedDiffText(lines.mid(0, DiffView::pageLines));
    for (auto _ : state) {
        edit.setPlainText(page);
        edit.viewport()->repaint();
    }
}

void BM_DiffViewSetLines(benchmark::State& state)
{
    const QVector<DiffLine> lines = unifiedDiff(texts(1).before, texts(1).after, {}, {});
    DiffView view;
    view.show();
    for (auto _ : state) {
        view.setLines(lines);
        view.viewport()->repaint();
    }
    state.counters["diff_lines"] = lines.size();
}

void BM_DiffViewShowMore(benchmark::State& state)
{
    const QVector<DiffLine> lines = unifiedDiff(texts(1).before, texts(1).after, {}, {});
    DiffView view;
    view.show();
    for (auto _ : state) {
        state.PauseTiming();
        view.setLines(lines);
        state.ResumeTiming();
        view.showMore();
        view.viewport()->repaint();
    }
}

} // namespace

BENCHMARK(BM_BaselineSplitLines)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnifiedDiff)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReviewSetTexts)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselinePlainTextPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffViewSetLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DiffViewShowMore)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
