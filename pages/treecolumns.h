#pragma once

#include <QList>

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
