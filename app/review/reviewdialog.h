#pragma once

#include <QByteArray>
#include <QDialog>
#include <QVector>

#include "config/unifieddiff.h"

#include <QPlainTextEdit>

class QLabel;
class QPushButton;
class QTextCursor;

// A read-only view of diff lines, one line of the view for each, in the
// colour of its kind. Characters that would break or bend a line (a CR,
// U+2028, U+2029, other control characters) are shown as escapes ("\r",
// "\u2028") in a colour of their own, and where the diff holds CRLF line
// ends every line end is shown as what it is ("\r\n" or "\n").
// A long diff is laid out a page at a time: showMore() and showEarlier()
// add the pages after and before the lines shown.
class DiffView : public QPlainTextEdit
{
    Q_OBJECT
public:
    // A page holds at most this many diff lines and characters.
    static constexpr int pageLines = 5000;
    static constexpr int pageCharacters = 1 << 20;
    // A longer line is shown cut, saying how much of it is left out.
    static constexpr int lineCharacters = 10000;

    explicit DiffView(QWidget* parent = nullptr);
    void setLines(const QVector<DiffLine>& lines);
    const QVector<DiffLine>& lines() const { return m_lines; }
    // Shows no diff, but `message` where it would be.
    void showMessage(const QString& message);
    // Selects the diff line that shows line `number` of the new text (of
    // the old one when `inNew` is false), or the nearest before it.
    void showLine(int number, bool inNew);

    // The diff lines shown are [firstShown(), endShown()); view block k
    // shows diff line firstShown() + k.
    int firstShown() const { return m_first; }
    int endShown() const { return m_end; }
    void showMore();
    void showEarlier();

signals:
    void shownChanged();

private:
    void showWindow(int first, int end);
    void appendLine(QTextCursor& cursor, int index);
    void prependLine(QTextCursor& cursor, int index);
    void insertText(QTextCursor& cursor, int index);
    int pageAfter(int first) const;
    int pageBefore(int end) const;
    bool lineEndFollows(int index) const;

    QVector<DiffLine> m_lines;
    int m_first = 0;
    int m_end = 0;
    bool m_markLineEnds = false; // the diff shows a CRLF line end somewhere
};

// A diff view with the controls that show more of a long diff.
class DiffPane : public QWidget
{
    Q_OBJECT
public:
    explicit DiffPane(QWidget* parent = nullptr);
    DiffView* view() const { return m_view; }

private:
    void follow();

    DiffView* m_view;
    QLabel* m_part;
    QPushButton* m_earlier;
    QPushButton* m_more;
};

// Shows the unified diff between two versions of the configuration file,
// changed lines highlighted: what Apply would change, or what restoring a
// kept copy would change.
class ReviewDialog : public QDialog
{
    Q_OBJECT
    Q_PROPERTY(QByteArray proposedBytes READ proposedBytes)
public:
    ReviewDialog(const QString& title, QWidget* parent = nullptr);

    // Compares `current` (the file as it is) with `proposed`, showing
    // `context` unchanged lines around each change.
    void setTexts(const QString& fileName, const QByteArray& current, const QByteArray& proposed,
                  int context = 3);
    QByteArray proposedBytes() const { return m_proposed; }
    const QVector<DiffLine>& lines() const { return m_view->lines(); }
    void showLine(int number, bool proposed) { m_view->showLine(number, proposed); }

private:
    QLabel* m_summary;
    DiffView* m_view;
    QByteArray m_proposed;
};
