#include "pages/treecolumns.h"

#include <QEvent>
#include <QSignalBlocker>
#include <QTreeWidget>

namespace
{

// Sizes the columns of the list it watches at its next Show event.
class ColumnSizer : public QObject
{
public:
    explicit ColumnSizer(QTreeWidget* tree) : QObject(tree), m_tree(tree)
    {
        setObjectName(QStringLiteral("columnSizer"));
        tree->installEventFilter(this);
    }
    void resizeNow()
    {
        m_pending = false;
        for (int column = 0; column < m_tree->columnCount(); ++column)
            m_tree->resizeColumnToContents(column);
    }
    void resizeAtNextShow() { m_pending = true; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_tree && event->type() == QEvent::Show && m_pending)
            resizeNow();
        return false;
    }

private:
    QTreeWidget* m_tree;
    bool m_pending = false;
};

ColumnSizer* sizerOf(QTreeWidget* tree)
{
    if (auto* sizer = tree->findChild<ColumnSizer*>(QStringLiteral("columnSizer"),
                                                    Qt::FindDirectChildrenOnly))
        return sizer;
    return new ColumnSizer(tree);
}

} // namespace

void appendRows(QTreeWidget* tree, const QList<QTreeWidgetItem*>& rows)
{
    // A sorted list takes a batch only one item at a time.
    const bool sorting = tree->isSortingEnabled();
    tree->setSortingEnabled(false);
    tree->addTopLevelItems(rows);
    tree->setSortingEnabled(sorting); // sorts once by the current indicator
}

void resizeColumnsToContents(QTreeWidget* tree)
{
    ColumnSizer* sizer = sizerOf(tree);
    if (tree->isVisible())
        sizer->resizeNow();
    else
        sizer->resizeAtNextShow();
}

void fillLineColumn(QTreeWidget* tree, int column, const RowLine& lineOf)
{
    const QSignalBlocker quiet(tree);
    for (int row = 0; row < tree->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = tree->topLevelItem(row);
        item->setText(column, lineOf(item));
    }
}

void keepLineColumn(QTreeWidget* tree, int column, const RowLine& lineOf)
{
    fillLineColumn(tree, column, lineOf);
    QObject::connect(tree, &QTreeWidget::itemChanged, tree,
                     [column, lineOf](QTreeWidgetItem* item, int changed) {
                         if (changed == column)
                             return;
                         const QString line = lineOf(item);
                         if (item->text(column) != line)
                             item->setText(column, line);
                     });
}
