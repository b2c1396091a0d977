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
//
// The diff is exact for any text (patch makes `after` of `before` with it)
// and takes time about linear in the size of the texts. It is minimal where
// a change is of moderate size; within a large region without a line unique
// to both texts it may show more lines changed than necessary.
QVector<DiffLine> unifiedDiff(const QByteArray& before, const QByteArray& after,
                              const QString& beforeName, const QString& afterName, int context = 3);

// The diff as one text, as diff -u prints it.
QString unifiedDiffText(const QVector<DiffLine>& lines);

// Changed lines of a diff whose only change is their line end: a removed
// line and the added line in its place that differ only in the CR of a CRLF.
struct LineEndChanges {
    int toLf = 0;   // CRLF became LF
    int toCrlf = 0; // LF became CRLF
};
LineEndChanges lineEndChangesOf(const QVector<DiffLine>& lines);
