#include "app/review/reviewdialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
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
    }
    return lines;
}
} // namespace

DiffView::DiffView(QWidget* parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("teDiff"));
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

void DiffView::setLines(const QVector<DiffLine>& lines)
{
    m_lines = lines;
    setPlainText(unifiedDiffText(m_lines));
    highlight();
}

void DiffView::highlight()
{
    QList<QTextEdit::ExtraSelection> selections;
    QTextBlock block = document()->firstBlock();
    for (const DiffLine& line : qAsConst(m_lines)) {
        const QColor colour = backgroundOf(line.kind);
        if (colour.isValid()) {
            QTextEdit::ExtraSelection selection;
            selection.cursor = QTextCursor(block);
            selection.format.setBackground(colour);
            selection.format.setProperty(QTextFormat::FullWidthSelection, true);
            selections.append(selection);
        }
        block = block.next();
    }
    setExtraSelections(selections);
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
    QTextCursor cursor(document()->findBlockByNumber(best));
    cursor.select(QTextCursor::LineUnderCursor);
    setTextCursor(cursor);
    centerCursor();
}

ReviewDialog::ReviewDialog(const QString& title, QWidget* parent)
    : QDialog(parent), m_summary(new QLabel(this)), m_view(new DiffView(this))
{
    setObjectName(QStringLiteral("ReviewDialog"));
    setWindowTitle(title);
    m_summary->setObjectName(QStringLiteral("lSummary"));
    m_summary->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_view);
    layout->addWidget(buttons);
    resize(720, 480);
}

void ReviewDialog::setTexts(const QString& fileName, const QByteArray& current,
                            const QByteArray& proposed, int context)
{
    m_proposed = proposed;
    QVector<DiffLine> lines = unifiedDiff(current, proposed, fileName, fileName, context);
    int added = 0;
    int removed = 0;
    for (const DiffLine& line : qAsConst(lines)) {
        added += line.kind == DiffLine::Added;
        removed += line.kind == DiffLine::Removed;
    }
    m_summary->setText(lines.isEmpty()
                           ? tr("No line of %1 changes.").arg(fileName)
                           : tr("%1: %2 lines removed, %3 lines added; no other line changes.")
                                 .arg(fileName)
                                 .arg(removed)
                                 .arg(added));
    if (lines.isEmpty() && context > 3)
        lines = plainListing(current);
    m_view->setLines(lines);
}
