#pragma once

#include <QList>
#include <QString>

#include <functional>

class QTreeWidget;
class QTreeWidgetItem;

// Appends `rows` (items not yet in any list) to `tree` in one insertion and,
// if the list is sorted, sorts once afterwards. Adding rows one by one costs
// a model signal and a view update per row, and a sorted list re-sorts on
// every insertion: thousands of rows took most of a page's load time.
void appendRows(QTreeWidget* tree, const QList<QTreeWidgetItem*>& rows);

// Sizes every column of `tree` to its contents: at once when the list is on
// screen, otherwise when it is next shown. Measuring thousands of rows is
// the dearest part of loading a page, and most pages are not on screen when
// the window builds them.
void resizeColumnsToContents(QTreeWidget* tree);

// The line a row stands for, as the file writes it.
using RowLine = std::function<QString(const QTreeWidgetItem*)>;

// Keeps column `column` of every row of `tree` showing lineOf(row): filled
// now for the rows there are, and again whenever another column of a row
// changes (an edit, a row added).
void keepLineColumn(QTreeWidget* tree, int column, const RowLine& lineOf);
// Fills the column for every row now (after a load).
void fillLineColumn(QTreeWidget* tree, int column, const RowLine& lineOf);
