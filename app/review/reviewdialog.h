#pragma once

#include <QByteArray>
#include <QDialog>
#include <QVector>

#include "config/unifieddiff.h"

#include <QPlainTextEdit>

class QLabel;

// A read-only view of diff lines, changed lines highlighted.
class DiffView : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit DiffView(QWidget* parent = nullptr);
    void setLines(const QVector<DiffLine>& lines);
    const QVector<DiffLine>& lines() const { return m_lines; }
    // Selects the diff line that shows line `number` of the new text (of
    // the old one when `inNew` is false), or the nearest before it.
    void showLine(int number, bool inNew);

private:
    void highlight();
    QVector<DiffLine> m_lines;
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
