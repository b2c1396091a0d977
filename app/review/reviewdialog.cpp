#include "app/review/reviewdialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>

namespace
{
QColor backgroundOf(DiffLine::Kind kind)
{
    switch (kind) {
    case DiffLine::Added:
        return QColor(0xd4, 0xf7, 0xd4);
    case DiffLine::Removed:
        return QColor(0xf9, 0xd0, 0xd0);
    case DiffLine::Hunk:
    case DiffLine::Header:
        return QColor(0xe4, 0xe4, 0xf4);
    default:
        return QColor();
    }
}

QTextBlockFormat blockFormatOf(DiffLine::Kind kind)
{
    QTextBlockFormat format;
    const QColor colour = backgroundOf(kind);
    if (colour.isValid())
        format.setBackground(colour);
    return format;
}

// Marks in their own colour, so that they cannot be taken for the file's
// own characters.
QTextCharFormat markFormat()
{
    QTextCharFormat format;
    format.setForeground(QColor(0xa0, 0x00, 0xa0));
    return format;
}

QTextCharFormat lineEndFormat()
{
    QTextCharFormat format;
    format.setForeground(QColor(0x80, 0x80, 0x80));
    return format;
}

// How a character that would break a line of the view, bend it or not show
// at all is shown instead, as an escape any font can show: CR as "\r",
// other control characters as "\x07", line and paragraph separators,
// bidirectional controls and the characters the view keeps for itself as
// "\u2028". Empty for any other character (a tab stays a tab).
QString visibleMark(QChar c)
{
    const ushort u = c.unicode();
    if (u == '\r')
        return QStringLiteral("\\r");
    if ((u < 0x20 && u != '\t') || u == 0x7f)
        return QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    const bool escaped = (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029 ||
                         (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069) ||
                         u == 0xfdd0 || u == 0xfdd1 || u == 0xfffc;
    return escaped ? QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0')) : QString();
}

bool isFileLine(DiffLine::Kind kind)
{
    return kind == DiffLine::Context || kind == DiffLine::Removed || kind == DiffLine::Added;
}

// Every line of an unchanged text, numbered, so that one can be shown.
QVector<DiffLine> plainListing(const QByteArray& text)
{
    QVector<DiffLine> lines;
    const QList<QByteArray> raw = text.split('\n');
    for (int i = 0; i < raw.size(); ++i) {
        if (i == raw.size() - 1 && raw.at(i).isEmpty())
            break;
        lines.append({DiffLine::Context, QLatin1Char(' ') + QString::fromLocal8Bit(raw.at(i)),
                      i + 1, i + 1});
        if (i == raw.size() - 1)
            lines.append(
                {DiffLine::NoNewline, QStringLiteral("\\ No newline at end of file"), 0, 0});
    }
    return lines;
}

QString lineEndPhrase(int count, int lineEnds, const char* all, const char* one, const char* some)
{
    if (count == lineEnds)
        return ReviewDialog::tr(all);
    return count == 1 ? ReviewDialog::tr(one) : ReviewDialog::tr(some).arg(count);
}

// "ntp.conf: 3 lines removed, 4 lines added; no other line changes.", and
// what of it only changes line ends.
QString summaryOf(const QString& fileName, const QVector<DiffLine>& lines,
                  const QByteArray& current, const QByteArray& proposed)
{
    if (lines.isEmpty())
        return ReviewDialog::tr("No line of %1 changes.").arg(fileName);
    int added = 0;
    int removed = 0;
    for (const DiffLine& line : lines) {
        added += line.kind == DiffLine::Added;
        removed += line.kind == DiffLine::Removed;
    }
    const LineEndChanges ends = lineEndChangesOf(lines);
    const bool onlyLineEnds = ends.toLf + ends.toCrlf == removed && removed == added;
    QStringList phrases;
    if (ends.toLf > 0)
        phrases << lineEndPhrase(ends.toLf, onlyLineEnds ? int(current.count('\n')) : -1,
                                 "all line ends change from CRLF to LF",
                                 "1 line end changes from CRLF to LF",
                                 "%1 line ends change from CRLF to LF");
    if (ends.toCrlf > 0)
        phrases << lineEndPhrase(ends.toCrlf, onlyLineEnds ? int(proposed.count('\n')) : -1,
                                 "all line ends change from LF to CRLF",
                                 "1 line end changes from LF to CRLF",
                                 "%1 line ends change from LF to CRLF");
    if (onlyLineEnds)
        return ReviewDialog::tr("%1: %2; no other line changes.")
            .arg(fileName, phrases.join(QStringLiteral(", ")));
    const QString counts = ReviewDialog::tr("%n lines removed", nullptr, removed) +
                           QStringLiteral(", ") +
                           ReviewDialog::tr("%n lines added", nullptr, added);
    return ReviewDialog::tr("%1: %2; no other line changes.")
        .arg(fileName, phrases.isEmpty()
                           ? counts
                           : counts + QStringLiteral(" (") + phrases.join(QStringLiteral(", ")) +
                                 QLatin1Char(')'));
}
} // namespace

DiffView::DiffView(QWidget* parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("teDiff"));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

void DiffView::setLines(const QVector<DiffLine>& lines)
{
    m_lines = lines;
    m_markLineEnds = false;
    for (int i = 0; i < m_lines.size() && !m_markLineEnds; ++i)
        m_markLineEnds = isFileLine(m_lines.at(i).kind) &&
                         m_lines.at(i).text.endsWith(QLatin1Char('\r')) && lineEndFollows(i);
    setPlaceholderText(QString());
    showWindow(0, pageAfter(0));
}

void DiffView::showMessage(const QString& message)
{
    setLines({});
    setPlaceholderText(message);
}

bool DiffView::lineEndFollows(int index) const
{
    return index + 1 >= m_lines.size() || m_lines.at(index + 1).kind != DiffLine::NoNewline;
}

int DiffView::pageAfter(int first) const
{
    int end = first;
    int characters = 0;
    while (end < m_lines.size() && end - first < pageLines && characters < pageCharacters)
        characters += std::min(m_lines.at(end++).text.size(), lineCharacters);
    return end;
}

int DiffView::pageBefore(int end) const
{
    int first = end;
    int characters = 0;
    while (first > 0 && end - first < pageLines && characters < pageCharacters)
        characters += std::min(m_lines.at(--first).text.size(), lineCharacters);
    return first;
}

void DiffView::showWindow(int first, int end)
{
    clear();
    m_first = first;
    m_end = first;
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    for (int i = first; i < end; ++i) {
        if (i == first) {
            cursor.setBlockFormat(blockFormatOf(m_lines.at(i).kind)); // the one empty block
            insertText(cursor, i);
        } else {
            appendLine(cursor, i);
        }
    }
    cursor.endEditBlock();
    m_end = end;
    emit shownChanged();
}

void DiffView::showMore()
{
    const int end = pageAfter(m_end);
    if (end == m_end)
        return;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (int i = m_end; i < end; ++i)
        appendLine(cursor, i);
    cursor.endEditBlock();
    m_end = end;
    emit shownChanged();
}

void DiffView::showEarlier()
{
    const int first = pageBefore(m_first);
    if (first == m_first)
        return;
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    for (int i = first; i < m_first; ++i)
        prependLine(cursor, i);
    cursor.endEditBlock();
    m_first = first;
    emit shownChanged();
}

// Adds line `index` as the view's last block.
void DiffView::appendLine(QTextCursor& cursor, int index)
{
    cursor.insertBlock(blockFormatOf(m_lines.at(index).kind));
    insertText(cursor, index);
}

// Adds line `index` before the block at the cursor, which stays there.
void DiffView::prependLine(QTextCursor& cursor, int index)
{
    const QTextBlockFormat following = cursor.blockFormat();
    insertText(cursor, index);
    cursor.insertBlock(following);
    QTextCursor inserted(cursor.block().previous());
    inserted.setBlockFormat(blockFormatOf(m_lines.at(index).kind));
}

void DiffView::insertText(QTextCursor& cursor, int index)
{
    const DiffLine& line = m_lines.at(index);
    const bool fileLine = isFileLine(line.kind);
    const bool ended = fileLine && lineEndFollows(index);
    const bool crlf = ended && line.text.endsWith(QLatin1Char('\r'));
    const int length = line.text.size() - int(crlf);
    const int shown = std::min(length, lineCharacters);
    const QTextCharFormat plain;
    int run = 0; // the start of the characters not inserted yet
    for (int i = 0; i < shown; ++i) {
        const QString mark = visibleMark(line.text.at(i));
        if (mark.isEmpty())
            continue;
        cursor.insertText(line.text.mid(run, i - run), plain);
        cursor.insertText(mark, markFormat());
        run = i + 1;
    }
    cursor.insertText(line.text.mid(run, shown - run), plain);
    if (shown < length)
        cursor.insertText(tr(" [... %1 more characters]").arg(QLocale().toString(length - shown)),
                          markFormat());
    if (crlf)
        cursor.insertText(QStringLiteral("\\r\\n"), lineEndFormat());
    else if (ended && m_markLineEnds)
        cursor.insertText(QStringLiteral("\\n"), lineEndFormat());
}

void DiffView::showLine(int number, bool inNew)
{
    int best = -1;
    for (int i = 0; i < m_lines.size(); ++i) {
        const int line = inNew ? m_lines.at(i).newLine : m_lines.at(i).oldLine;
        if (line > 0 && line <= number)
            best = i;
    }
    if (best < 0)
        return;
    if (best < m_first || best >= m_end) {
        // Half a page before the line, half after it.
        const int first = pageBefore(best + 1);
        const int start = best - (best - first) / 2;
        showWindow(start, std::max(pageAfter(start), best + 1));
    }
    QTextCursor cursor(document()->findBlockByNumber(best - m_first));
    cursor.select(QTextCursor::LineUnderCursor);
    setTextCursor(cursor);
    centerCursor();
}

DiffPane::DiffPane(QWidget* parent)
    : QWidget(parent), m_view(new DiffView(this)), m_part(new QLabel(this)),
      m_earlier(new QPushButton(tr("Show earlier"), this)),
      m_more(new QPushButton(tr("Show more"), this))
{
    m_part->setObjectName(QStringLiteral("lDiffPart"));
    m_earlier->setObjectName(QStringLiteral("bShowEarlier"));
    m_more->setObjectName(QStringLiteral("bShowMore"));
    m_earlier->setAutoDefault(false);
    m_more->setAutoDefault(false);
    auto* bar = new QHBoxLayout;
    bar->addWidget(m_part, 1);
    bar->addWidget(m_earlier);
    bar->addWidget(m_more);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view, 1);
    layout->addLayout(bar);
    connect(m_earlier, &QPushButton::clicked, m_view, &DiffView::showEarlier);
    connect(m_more, &QPushButton::clicked, m_view, &DiffView::showMore);
    connect(m_view, &DiffView::shownChanged, this, &DiffPane::follow);
    follow();
}

// The bar shows only while part of the diff is left out.
void DiffPane::follow()
{
    const int total = m_view->lines().size();
    const bool whole = m_view->firstShown() == 0 && m_view->endShown() == total;
    m_part->setVisible(!whole);
    m_earlier->setVisible(!whole);
    m_more->setVisible(!whole);
    if (whole)
        return;
    const QLocale locale;
    m_part->setText(tr("Diff lines %1 to %2 of %3 shown.")
                        .arg(locale.toString(m_view->firstShown() + 1),
                             locale.toString(m_view->endShown()), locale.toString(total)));
    m_earlier->setEnabled(m_view->firstShown() > 0);
    m_more->setEnabled(m_view->endShown() < total);
}

ReviewDialog::ReviewDialog(const QString& title, QWidget* parent)
    : QDialog(parent), m_summary(new QLabel(this))
{
    setObjectName(QStringLiteral("ReviewDialog"));
    setWindowTitle(title);
    m_summary->setObjectName(QStringLiteral("lSummary"));
    m_summary->setWordWrap(true);
    auto* pane = new DiffPane(this);
    m_view = pane->view();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(pane);
    layout->addWidget(buttons);
    resize(720, 480);
}

void ReviewDialog::setTexts(const QString& fileName, const QByteArray& current,
                            const QByteArray& proposed, int context)
{
    m_proposed = proposed;
    QVector<DiffLine> lines = unifiedDiff(current, proposed, fileName, fileName, context);
    m_summary->setText(summaryOf(fileName, lines, current, proposed));
    if (lines.isEmpty() && context > 3)
        lines = plainListing(current);
    m_view->setLines(lines);
}
