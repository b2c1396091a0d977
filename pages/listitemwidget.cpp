#include "pages/listitemwidget.h"

#include <QIcon>
#include <QStackedWidget>
#include <QTreeWidget>

ListItemWidget::ListItemWidget(QWidget* parent) : QListWidget(parent) {}

void ListItemWidget::addPageItem(QTreeWidgetItem* item, QStackedWidget* stack, QTreeWidget* tree)
{
    auto* entry = new QListWidgetItem(this);
    entry->setText(item->text(0));
    const QVariant decoration = item->data(0, Qt::DecorationRole);
    entry->setIcon(decoration.canConvert<QIcon>() ? decoration.value<QIcon>() : QIcon());
    entry->setData(Qt::UserRole, QVariant::fromValue(item));
    // One connection per list is enough: the handler reads the entry it is given.
    if (count() == 1)
        connect(this, &QListWidget::doubleClicked, this,
                [this, stack, tree](const QModelIndex& index) { showPageOf(index, stack, tree); });
}

void ListItemWidget::showPageOf(const QModelIndex& index, QStackedWidget* stack, QTreeWidget* tree)
{
    const QVariant value = item(index.row()) ? item(index.row())->data(Qt::UserRole) : QVariant();
    if (value.canConvert<QTreeWidgetItem*>()) {
        if (auto* treeItem = value.value<QTreeWidgetItem*>()) {
            stack->setCurrentIndex(treeItem->data(0, Qt::UserRole).toInt());
            tree->setCurrentItem(treeItem);
        }
    }
    setCurrentRow(-1);
}
