#include "config/unifieddiff.h"

#include <dtl/dtl.hpp>

#include <algorithm>
#include <string>
#include <vector>

namespace
{

using Lines = std::vector<std::string>;

// Each line with its "\n", so that a last line without one differs from the
// same line with one (diff -u tells them apart as well).
Lines splitLines(const QByteArray& text)
{
    Lines lines;
    int start = 0;
    while (start < text.size()) {
        int end = text.indexOf('\n', start);
        end = end < 0 ? text.size() : end + 1;
        lines.emplace_back(text.constData() + start, size_t(end - start));
        start = end;
    }
    return lines;
}

struct Step {
    DiffLine::Kind kind;
    const std::string* line;
    int oldLine;
    int newLine;
};

std::vector<Step> editScript(const Lines& before, const Lines& after)
{
    dtl::Diff<std::string, Lines> diff(before, after);
    diff.onHuge(); // large files: linear memory
    diff.compose();
    std::vector<Step> steps;
    for (const auto& element : diff.getSes().getSequence()) {
        const long long oldIndex = element.second.beforeIdx;
        const long long newIndex = element.second.afterIdx;
        if (element.second.type == dtl::SES_DELETE)
            steps.push_back({DiffLine::Removed, &before[size_t(oldIndex - 1)], int(oldIndex), 0});
        else if (element.second.type == dtl::SES_ADD)
            steps.push_back({DiffLine::Added, &after[size_t(newIndex - 1)], 0, int(newIndex)});
        else
            steps.push_back(
                {DiffLine::Context, &before[size_t(oldIndex - 1)], int(oldIndex), int(newIndex)});
    }
    // Within a change, removed lines come first, as diff -u prints them.
    auto isChange = [](const Step& step) {
        return step.kind != DiffLine::Context;
    };
    for (auto begin = steps.begin(); begin != steps.end();) {
        begin = std::find_if(begin, steps.end(), isChange);
        auto end = std::find_if_not(begin, steps.end(), isChange);
        std::stable_partition(begin, end,
                              [](const Step& step) { return step.kind == DiffLine::Removed; });
        begin = end;
    }
    return steps;
}

QString range(int first, int count)
{
    // diff -u names an empty range by the line before it.
    const int start = count == 0 ? first - 1 : first;
    return count == 1 ? QString::number(start)
                      : QString::number(start) + QLatin1Char(',') + QString::number(count);
}

void appendStep(QVector<DiffLine>& out, const Step& step)
{
    static const char marks[] = {' ', ' ', ' ', '-', '+'};
    QString text = QString::fromLocal8Bit(step.line->data(), int(step.line->size()));
    const bool ended = text.endsWith(QLatin1Char('\n'));
    if (ended)
        text.chop(1);
    out.append({step.kind, QLatin1Char(marks[step.kind]) + text, step.oldLine, step.newLine});
    if (!ended)
        out.append({DiffLine::NoNewline, QStringLiteral("\\ No newline at end of file"), 0, 0});
}

// One hunk of the steps [first, last).
void appendHunk(QVector<DiffLine>& out, const std::vector<Step>& steps, size_t first, size_t last,
                int oldStart, int newStart)
{
    int oldCount = 0;
    int newCount = 0;
    for (size_t i = first; i < last; ++i) {
        oldCount += steps[i].kind != DiffLine::Added;
        newCount += steps[i].kind != DiffLine::Removed;
    }
    out.append(
        {DiffLine::Hunk,
         QStringLiteral("@@ -%1 +%2 @@").arg(range(oldStart, oldCount), range(newStart, newCount)),
         0, 0});
    for (size_t i = first; i < last; ++i)
        appendStep(out, steps[i]);
}

} // namespace

QVector<DiffLine> unifiedDiff(const QByteArray& before, const QByteArray& after,
                              const QString& beforeName, const QString& afterName, int context)
{
    QVector<DiffLine> out;
    if (before == after)
        return out;
    const Lines oldLines = splitLines(before);
    const Lines newLines = splitLines(after);
    const std::vector<Step> steps = editScript(oldLines, newLines);
    out.append({DiffLine::Header, QStringLiteral("--- ") + beforeName, 0, 0});
    out.append({DiffLine::Header, QStringLiteral("+++ ") + afterName, 0, 0});

    const size_t count = steps.size();
    size_t i = 0;
    int oldLine = 1; // the old and new line numbers at step i
    int newLine = 1;
    while (i < count) {
        size_t change = i;
        while (change < count && steps[change].kind == DiffLine::Context)
            ++change;
        if (change == count)
            break;
        // The hunk starts `context` lines before the change and grows while
        // the next change is at most 2 * context unchanged lines away.
        const size_t start = change - std::min(change - i, size_t(context));
        size_t end = change;
        for (;;) {
            while (end < count && steps[end].kind != DiffLine::Context)
                ++end;
            size_t next = end;
            while (next < count && steps[next].kind == DiffLine::Context)
                ++next;
            if (next < count && next - end <= 2 * size_t(context)) {
                end = next;
                continue;
            }
            end = std::min(end + size_t(context), count);
            break;
        }
        for (size_t k = i; k < start; ++k) {
            ++oldLine;
            ++newLine;
        }
        appendHunk(out, steps, start, end, oldLine, newLine);
        for (size_t k = start; k < end; ++k) {
            oldLine += steps[k].kind != DiffLine::Added;
            newLine += steps[k].kind != DiffLine::Removed;
        }
        i = end;
    }
    return out;
}

QString unifiedDiffText(const QVector<DiffLine>& lines)
{
    QString text;
    for (const DiffLine& line : lines) {
        text += line.text;
        text += QLatin1Char('\n');
    }
    return text;
}
