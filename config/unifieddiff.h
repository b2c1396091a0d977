#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// A line-by-line comparison of two versions of a text file in the unified
// format that diff -u prints, kept as lines so that a view can colour them.
struct DiffLine {
    enum Kind { Header, Hunk, Context, Removed, Added, NoNewline };
    Kind kind = Context;
    QString text;    // the line as diff -u prints it, without line end
    int oldLine = 0; // line number in the old text (Context, Removed), else 0
    int newLine = 0; // line number in the new text (Context, Added), else 0
};

// The unified diff of `before` and `after` with `context` unchanged lines
// around each change; empty when the texts are equal. The two header lines
// name the texts `beforeName` and `afterName`.
QVector<DiffLine> unifiedDiff(const QByteArray& before, const QByteArray& after,
                              const QString& beforeName, const QString& afterName, int context = 3);

// The diff as one text, as diff -u prints it.
QString unifiedDiffText(const QVector<DiffLine>& lines);
