#include "config/unifieddiff.h"

#include <QTextCodec>

#include <dtl/dtl.hpp>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace
{

using LineView = std::string_view;

// dtl records one path coordinate per step of its search and, past two
// million of them, starts again from where it got to; that restart loses
// its place (lines repeated or missing). A region of M by N lines costs at
// most (M + 1) * (N + 1) coordinates, so below this budget it never
// restarts; and the smaller the regions dtl is given, the less a region
// full of changes costs.
constexpr qint64 dtlBudget = qint64(1) << 18;
// What all of dtl's work on one pair of texts may cost, in coordinates: this
// plus so much per line. Only texts made to be hard (many lines, few of
// them different, none unique) reach it; the regions left are then shown
// replaced.
constexpr qint64 totalBudget = qint64(1) << 22;
constexpr qint64 budgetPerLine = 32;
// Nesting of splits at unique lines before a region is only cut in two.
constexpr int maxUniqueDepth = 48;
// Where a region is cut in two: the other side's cut is searched this many
// lines around the proportional place, for the longest run of equal lines.
constexpr int cutWindow = 256;
constexpr int cutRun = 16;

// Each line with its "\n", so that a last line without one differs from the
// same line with one (diff -u tells them apart as well).
std::vector<LineView> splitLines(const QByteArray& text)
{
    std::vector<LineView> lines;
    const char* at = text.constData();
    const char* const end = at + text.size();
    while (at < end) {
        const void* newline = std::memchr(at, '\n', size_t(end - at));
        const char* next = newline ? static_cast<const char*>(newline) + 1 : end;
        lines.emplace_back(at, size_t(next - at));
        at = next;
    }
    return lines;
}

enum class Edit : unsigned char { Keep, Remove, Add };

// The edit script of two sequences of line numbers (equal lines have equal
// numbers). dtl compares every region it can without running out of its
// budget, exactly and minimally; a larger region is split at the lines that
// occur once in each side (in their longest common order, as patience diff
// does), else cut in two where the lines around agree best; a region
// without any line in common is replaced as a whole.
class EditScript
{
public:
    EditScript(const std::vector<int>& before, const std::vector<int>& after, int distinct)
        : m_old(before), m_new(after), m_inOld(size_t(distinct)), m_inNew(size_t(distinct)),
          m_whereNew(size_t(distinct)),
          m_budget(totalBudget + budgetPerLine * qint64(before.size() + after.size()))
    {
        m_edits.reserve(before.size() + after.size());
        compare({0, int(before.size())}, {0, int(after.size())}, 0);
    }
    std::vector<Edit> take() { return std::move(m_edits); }

private:
    struct Span {
        int begin;
        int end;
        int size() const { return end - begin; }
    };
    using Pairs = std::vector<std::pair<int, int>>;

    void append(Edit edit, int count) { m_edits.insert(m_edits.end(), size_t(count), edit); }
    void replace(Span a, Span b)
    {
        append(Edit::Remove, a.size());
        append(Edit::Add, b.size());
    }

    void compare(Span a, Span b, int depth)
    {
        int prefix = 0;
        while (prefix < a.size() && prefix < b.size() &&
               m_old[size_t(a.begin + prefix)] == m_new[size_t(b.begin + prefix)])
            ++prefix;
        append(Edit::Keep, prefix);
        a.begin += prefix;
        b.begin += prefix;
        int suffix = 0;
        while (suffix < a.size() && suffix < b.size() &&
               m_old[size_t(a.end - 1 - suffix)] == m_new[size_t(b.end - 1 - suffix)])
            ++suffix;
        a.end -= suffix;
        b.end -= suffix;

        const qint64 cost = qint64(a.size() + 1) * (b.size() + 1);
        if (a.size() == 0 || b.size() == 0)
            replace(a, b);
        else if (cost > dtlBudget)
            bySplitting(a, b, depth);
        else if (m_spent + cost <= m_budget)
            byDtl(a, b);
        else
            replace(a, b);
        append(Edit::Keep, suffix);
    }

    void byDtl(Span a, Span b)
    {
        const std::vector<int> x(m_old.begin() + a.begin, m_old.begin() + a.end);
        const std::vector<int> y(m_new.begin() + b.begin, m_new.begin() + b.end);
        dtl::Diff<int, std::vector<int>> diff(x, y);
        diff.compose();
        m_spent += dtlCost(diff.getEditDistance(), a, b);
        const size_t start = m_edits.size();
        for (const auto& element : diff.getSes().getSequence()) {
            const dtl::edit_t type = element.second.type;
            m_edits.push_back(type == dtl::SES_COMMON   ? Edit::Keep
                              : type == dtl::SES_DELETE ? Edit::Remove
                                                        : Edit::Add);
        }
        // Within its budget dtl is exact; should it ever not be, the region
        // is shown replaced rather than wrong.
        if (!replays(start, a, b)) {
            m_edits.resize(start);
            replace(a, b);
        }
    }

    // The coordinates dtl recorded for a region: (P + 1)(delta + 1) + P(P + 1)
    // for P = (D - delta) / 2 deletions beyond the difference in length.
    static qint64 dtlCost(qint64 distance, Span a, Span b)
    {
        const qint64 delta = std::abs(a.size() - b.size());
        const qint64 p = (distance - delta) / 2;
        return (p + 1) * (delta + 1) + p * (p + 1);
    }

    bool replays(size_t start, Span a, Span b) const
    {
        int i = a.begin;
        int j = b.begin;
        for (size_t k = start; k < m_edits.size(); ++k) {
            if (m_edits[k] == Edit::Keep &&
                (i >= a.end || j >= b.end || m_old[size_t(i)] != m_new[size_t(j)]))
                return false;
            i += m_edits[k] != Edit::Add;
            j += m_edits[k] != Edit::Remove;
        }
        return i == a.end && j == b.end;
    }

    void bySplitting(Span a, Span b, int depth)
    {
        bool shared = false;
        const Pairs unique = uniqueInBoth(a, b, &shared);
        if (!shared) {
            replace(a, b);
            return;
        }
        if (unique.empty() || depth >= maxUniqueDepth) {
            byCutting(a, b, depth);
            return;
        }
        int oldAt = a.begin;
        int newAt = b.begin;
        for (const auto& [i, j] : longestIncreasing(unique)) {
            compare({oldAt, i}, {newAt, j}, depth + 1);
            append(Edit::Keep, 1);
            oldAt = i + 1;
            newAt = j + 1;
        }
        compare({oldAt, a.end}, {newAt, b.end}, depth + 1);
    }

    // The positions (old, new) of the lines that occur once in each side.
    Pairs uniqueInBoth(Span a, Span b, bool* shared)
    {
        for (int i = a.begin; i < a.end; ++i)
            ++m_inOld[size_t(m_old[size_t(i)])];
        for (int j = b.begin; j < b.end; ++j) {
            const size_t line = size_t(m_new[size_t(j)]);
            ++m_inNew[line];
            m_whereNew[line] = j;
        }
        Pairs unique;
        for (int i = a.begin; i < a.end; ++i) {
            const size_t line = size_t(m_old[size_t(i)]);
            if (m_inNew[line] == 0)
                continue;
            *shared = true;
            if (m_inOld[line] == 1 && m_inNew[line] == 1)
                unique.emplace_back(i, m_whereNew[line]);
        }
        for (int i = a.begin; i < a.end; ++i)
            m_inOld[size_t(m_old[size_t(i)])] = 0;
        for (int j = b.begin; j < b.end; ++j)
            m_inNew[size_t(m_new[size_t(j)])] = 0;
        return unique;
    }

    // The longest run of `pairs` (ascending in first) ascending in second too.
    static Pairs longestIncreasing(const Pairs& pairs)
    {
        std::vector<int> tails; // the index of the lowest end of a run of each length
        std::vector<int> previous(pairs.size());
        for (int p = 0; p < int(pairs.size()); ++p) {
            const auto tail = std::lower_bound(
                tails.begin(), tails.end(), pairs[size_t(p)].second,
                [&pairs](int index, int value) { return pairs[size_t(index)].second < value; });
            previous[size_t(p)] = tail == tails.begin() ? -1 : *(tail - 1);
            if (tail == tails.end())
                tails.push_back(p);
            else
                *tail = p;
        }
        Pairs run(tails.size());
        for (int p = tails.empty() ? -1 : tails.back(), k = int(run.size()) - 1; p >= 0;
             p = previous[size_t(p)], --k)
            run[size_t(k)] = pairs[size_t(p)];
        return run;
    }

    // Cuts the longer side in its middle and the other near the same
    // proportion, where the most lines after both cuts agree.
    void byCutting(Span a, Span b, int depth)
    {
        int oldCut = 0;
        int newCut = 0;
        if (a.size() >= b.size()) {
            oldCut = a.begin + a.size() / 2;
            newCut = bestCut(m_old, oldCut, a.end, m_new, b,
                             b.begin + int(qint64(b.size()) * (oldCut - a.begin) / a.size()));
        } else {
            newCut = b.begin + b.size() / 2;
            oldCut = bestCut(m_new, newCut, b.end, m_old, a,
                             a.begin + int(qint64(a.size()) * (newCut - b.begin) / b.size()));
        }
        compare({a.begin, oldCut}, {b.begin, newCut}, depth + 1);
        compare({oldCut, a.end}, {newCut, b.end}, depth + 1);
    }

    static int bestCut(const std::vector<int>& cutSide, int cut, int cutEnd,
                       const std::vector<int>& other, Span span, int guess)
    {
        int best = guess;
        int bestRun = -1;
        const int last = std::min(span.end, guess + cutWindow);
        for (int j = std::max(span.begin, guess - cutWindow); j <= last; ++j) {
            int run = 0;
            while (run < cutRun && cut + run < cutEnd && j + run < span.end &&
                   cutSide[size_t(cut + run)] == other[size_t(j + run)])
                ++run;
            if (run > bestRun || (run == bestRun && std::abs(j - guess) < std::abs(best - guess))) {
                best = j;
                bestRun = run;
            }
        }
        return best;
    }

    const std::vector<int>& m_old;
    const std::vector<int>& m_new;
    // Per line number, while a region is searched for unique lines.
    std::vector<int> m_inOld;
    std::vector<int> m_inNew;
    std::vector<int> m_whereNew;
    std::vector<Edit> m_edits;
    qint64 m_budget;
    qint64 m_spent = 0;
};

// Within a change, removed lines come first, as diff -u prints them.
void removedFirst(std::vector<Edit>* edits)
{
    for (auto at = edits->begin(); at != edits->end();) {
        if (*at == Edit::Keep) {
            ++at;
            continue;
        }
        const auto end = std::find(at, edits->end(), Edit::Keep);
        const auto removed = std::count(at, end, Edit::Remove);
        std::fill(at, at + removed, Edit::Remove);
        std::fill(at + removed, end, Edit::Add);
        at = end;
    }
}

// The edit script that makes `after` of `before`. The common start and end
// are left out of the comparison, and the rest is compared as numbers.
std::vector<Edit> editScript(const std::vector<LineView>& before,
                             const std::vector<LineView>& after)
{
    size_t prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix])
        ++prefix;
    size_t suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;

    std::unordered_map<LineView, int> numbers;
    numbers.reserve(before.size() + after.size() - 2 * (prefix + suffix));
    auto numbered = [&numbers, prefix, suffix](const std::vector<LineView>& lines) {
        std::vector<int> result;
        result.reserve(lines.size() - prefix - suffix);
        for (size_t i = prefix; i < lines.size() - suffix; ++i)
            result.push_back(numbers.emplace(lines[i], int(numbers.size())).first->second);
        return result;
    };
    const std::vector<int> oldNumbers = numbered(before);
    const std::vector<int> newNumbers = numbered(after);

    std::vector<Edit> edits(prefix, Edit::Keep);
    const std::vector<Edit> middle = EditScript(oldNumbers, newNumbers, int(numbers.size())).take();
    edits.insert(edits.end(), middle.begin(), middle.end());
    edits.insert(edits.end(), suffix, Edit::Keep);
    removedFirst(&edits);
    return edits;
}

QString range(int first, int count)
{
    // diff -u names an empty range by the line before it.
    const int start = count == 0 ? first - 1 : first;
    return count == 1 ? QString::number(start)
                      : QString::number(start) + QLatin1Char(',') + QString::number(count);
}

// Writes hunks of an edit script as diff lines.
class HunkWriter
{
public:
    HunkWriter(const std::vector<LineView>& before, const std::vector<LineView>& after,
               QVector<DiffLine>* out)
        : m_old(before), m_new(after), m_out(out), m_codec(QTextCodec::codecForLocale())
    {
    }

    // The edits [first, last) as one hunk; `oldLine` and `newLine` count the
    // lines before it.
    void write(const std::vector<Edit>& edits, size_t first, size_t last, int oldLine, int newLine)
    {
        const auto removed =
            std::count(edits.begin() + qint64(first), edits.begin() + qint64(last), Edit::Remove);
        const auto added =
            std::count(edits.begin() + qint64(first), edits.begin() + qint64(last), Edit::Add);
        const int kept = int(last - first) - int(removed + added);
        m_out->append({DiffLine::Hunk,
                       QStringLiteral("@@ -%1 +%2 @@")
                           .arg(range(oldLine + 1, kept + int(removed)),
                                range(newLine + 1, kept + int(added))),
                       0, 0});
        for (size_t k = first; k < last; ++k) {
            switch (edits[k]) {
            case Edit::Keep:
                append(DiffLine::Context, ' ', m_old[size_t(oldLine)], oldLine + 1, newLine + 1);
                ++oldLine;
                ++newLine;
                break;
            case Edit::Remove:
                append(DiffLine::Removed, '-', m_old[size_t(oldLine)], oldLine + 1, 0);
                ++oldLine;
                break;
            case Edit::Add:
                append(DiffLine::Added, '+', m_new[size_t(newLine)], 0, newLine + 1);
                ++newLine;
                break;
            }
        }
    }

private:
    void append(DiffLine::Kind kind, char mark, LineView line, int oldLine, int newLine)
    {
        const bool ended = !line.empty() && line.back() == '\n';
        const QString text = m_codec->toUnicode(line.data(), int(line.size()) - int(ended));
        m_out->append({kind, QLatin1Char(mark) + text, oldLine, newLine});
        if (!ended)
            m_out->append(
                {DiffLine::NoNewline, QStringLiteral("\\ No newline at end of file"), 0, 0});
    }

    const std::vector<LineView>& m_old;
    const std::vector<LineView>& m_new;
    QVector<DiffLine>* m_out;
    QTextCodec* m_codec;
};

bool differsOnlyInCr(const QString& withCr, const QString& without)
{
    return withCr.size() == without.size() + 1 && withCr.endsWith(QLatin1Char('\r')) &&
           withCr.midRef(1, without.size() - 1) == without.midRef(1);
}

} // namespace

QVector<DiffLine> unifiedDiff(const QByteArray& before, const QByteArray& after,
                              const QString& beforeName, const QString& afterName, int context)
{
    QVector<DiffLine> out;
    if (before == after)
        return out;
    const std::vector<LineView> oldLines = splitLines(before);
    const std::vector<LineView> newLines = splitLines(after);
    const std::vector<Edit> edits = editScript(oldLines, newLines);
    out.append({DiffLine::Header, QStringLiteral("--- ") + beforeName, 0, 0});
    out.append({DiffLine::Header, QStringLiteral("+++ ") + afterName, 0, 0});

    HunkWriter writer(oldLines, newLines, &out);
    const size_t count = edits.size();
    const size_t around = size_t(std::max(context, 0));
    auto isChange = [&edits](size_t k) {
        return edits[k] != Edit::Keep;
    };
    size_t done = 0; // the edits before this one are written or skipped
    int oldLine = 0; // the old and new lines before edit `done`
    int newLine = 0;
    for (;;) {
        size_t change = done;
        while (change < count && !isChange(change))
            ++change;
        if (change == count)
            break;
        // The hunk starts `context` lines before the change and grows while
        // the next change is at most 2 * context unchanged lines away.
        const size_t first = change - std::min(change - done, around);
        size_t last = change;
        for (;;) {
            while (last < count && isChange(last))
                ++last;
            size_t next = last;
            while (next < count && !isChange(next))
                ++next;
            if (next < count && next - last <= 2 * around) {
                last = next;
                continue;
            }
            last += std::min(count - last, around);
            break;
        }
        oldLine += int(first - done);
        newLine += int(first - done);
        writer.write(edits, first, last, oldLine, newLine);
        for (size_t k = first; k < last; ++k) {
            oldLine += edits[k] != Edit::Add;
            newLine += edits[k] != Edit::Remove;
        }
        done = last;
    }
    return out;
}

QString unifiedDiffText(const QVector<DiffLine>& lines)
{
    int size = 0;
    for (const DiffLine& line : lines)
        size += line.text.size() + 1;
    QString text;
    text.reserve(size);
    for (const DiffLine& line : lines) {
        text += line.text;
        text += QLatin1Char('\n');
    }
    return text;
}

LineEndChanges lineEndChangesOf(const QVector<DiffLine>& lines)
{
    LineEndChanges changes;
    // The removed and the added lines of one change; -1 for a line without
    // a line end.
    QVector<int> removed;
    QVector<int> added;
    auto pairUp = [&]() {
        for (int k = 0; k < std::min(removed.size(), added.size()); ++k) {
            if (removed.at(k) < 0 || added.at(k) < 0)
                continue;
            const QString& old = lines.at(removed.at(k)).text;
            const QString& fresh = lines.at(added.at(k)).text;
            changes.toLf += differsOnlyInCr(old, fresh);
            changes.toCrlf += differsOnlyInCr(fresh, old);
        }
        removed.clear();
        added.clear();
    };
    for (int i = 0; i < lines.size(); ++i) {
        const DiffLine::Kind kind = lines.at(i).kind;
        const bool ended = i + 1 == lines.size() || lines.at(i + 1).kind != DiffLine::NoNewline;
        if (kind == DiffLine::Removed && !added.isEmpty())
            pairUp();
        if (kind == DiffLine::Removed)
            removed.append(ended ? i : -1);
        else if (kind == DiffLine::Added)
            added.append(ended ? i : -1);
        else if (kind != DiffLine::NoNewline)
            pairUp();
    }
    pairUp();
    return changes;
}
