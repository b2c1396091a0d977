#pragma once

#include <functional>

class QTreeWidget;

// Adds rows to a sorted list with sorting suspended, then sorts once: a
// list sorted on every insertion costs quadratic time on large files.
void fillSorted(QTreeWidget* tree, const std::function<void()>& addRows);

// Sizes every column of `tree` to its contents: at once when the list is on
// screen, otherwise when it is next shown. Measuring thousands of rows is
// the dearest part of loading a page, and most pages are not on screen when
// the window builds them.
void resizeColumnsToContents(QTreeWidget* tree);
