#pragma once

#include <QListWidget>
#include <QMetaType>
#include <QTreeWidgetItem>

Q_DECLARE_METATYPE(QTreeWidgetItem*)

class QModelIndex;
class QStackedWidget;
class QTreeWidget;

// Overview of one navigation category: one entry per page of the category;
// a double click on an entry shows the page.
class ListItemWidget : public QListWidget
{
    Q_OBJECT
public:
    explicit ListItemWidget(QWidget* parent = nullptr);

    void addPageItem(QTreeWidgetItem* item, QStackedWidget* stack, QTreeWidget* tree);

private:
    void showPageOf(const QModelIndex& index, QStackedWidget* stack, QTreeWidget* tree);
};
