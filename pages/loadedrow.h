#pragma once

#include <QTreeWidgetItem>

// A list row built from the file: an ordinary QTreeWidgetItem whose storage
// is sized for all its columns at once, so that filling it does not grow
// the item's per-column vectors one column at a time. Everything about it
// (columnCount(), clone(), the stream operators) is QTreeWidgetItem's own.
class LoadedRow : public QTreeWidgetItem
{
public:
    explicit LoadedRow(int columns);
};
