// Filling and sizing the lists of the pages.
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include "loadedrow.h"
#include "treecolumns.h"

class TestTreeColumns : public QObject
{
    Q_OBJECT

private slots:
    void sizesHiddenListsWhenShown()
    {
        QTreeWidget tree;
        tree.setColumnCount(2);
        auto* row = new QTreeWidgetItem(&tree);
        row->setText(0, QString(80, QLatin1Char('w')));
        const int before = tree.columnWidth(0);
        resizeColumnsToContents(&tree);
        QCOMPARE(tree.columnWidth(0), before); // not on screen: nothing measured yet
        tree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tree));
        const int shown = tree.columnWidth(0);
        QVERIFY(shown > before);

        // On screen, sizing is immediate; a second load adds no second sizer.
        row->setText(0, QString(160, QLatin1Char('w')));
        resizeColumnsToContents(&tree);
        QVERIFY(tree.columnWidth(0) > shown);
        QCOMPARE(tree.findChildren<QObject*>(QStringLiteral("columnSizer")).size(), 1);
    }

    void appendsRowsInOneInsertion()
    {
        // A sorted list gets the batch in one insertion and sorts it once.
        QTreeWidget tree;
        tree.setSortingEnabled(true);
        tree.sortByColumn(0, Qt::AscendingOrder);
        (new QTreeWidgetItem(&tree))->setText(0, QStringLiteral("b"));
        QSignalSpy inserted(tree.model(), &QAbstractItemModel::rowsInserted);
        appendRows(&tree, rowsOf({"d", "a", "c"}));
        QCOMPARE(inserted.size(), 1);
        QVERIFY(tree.isSortingEnabled());
        QCOMPARE(textsOf(tree), QStringList({"a", "b", "c", "d"}));
        QCOMPARE(tree.header()->sortIndicatorOrder(), Qt::AscendingOrder);

        // A list in the file's order (no sort column) keeps the batch's order
        // after the rows it has.
        QTreeWidget unsorted;
        unsorted.setSortingEnabled(true);
        unsorted.header()->setSortIndicator(-1, Qt::AscendingOrder);
        appendRows(&unsorted, rowsOf({"z", "x"}));
        appendRows(&unsorted, rowsOf({"y"}));
        appendRows(&unsorted, {});
        QCOMPARE(textsOf(unsorted), QStringList({"z", "x", "y"}));
    }

    void loadedRowsReadAndChangeLikeItems()
    {
        QTreeWidget tree;
        tree.setColumnCount(3);
        auto* row = new LoadedRow(3);
        row->setText(2, QStringLiteral("flags"));
        row->setText(0, QStringLiteral("192.0.2.1"));
        row->setData(0, Qt::UserRole, 42);
        row->setData(0, Qt::UserRole, 43); // replaces, as an item's data does
        row->setData(1, Qt::UserRole + 1, QStringLiteral("kept"));
        QCOMPARE(row->text(0), QStringLiteral("192.0.2.1"));
        QCOMPARE(row->data(0, Qt::EditRole).toString(), QStringLiteral("192.0.2.1"));
        QVERIFY(!row->data(1, Qt::DisplayRole).isValid()); // a column never set
        QCOMPARE(row->data(0, Qt::UserRole).toInt(), 43);
        QVERIFY(!row->data(0, Qt::UserRole + 1).isValid());

        auto* other = new QTreeWidgetItem;
        other->setText(0, QStringLiteral("10.0.0.1"));
        appendRows(&tree, {row, other});
        const QModelIndex index = tree.model()->index(0, 2);
        QCOMPARE(index.data().toString(), QStringLiteral("flags"));

        // Changed in a list: the view hears of it and every value stays.
        QSignalSpy changed(tree.model(), &QAbstractItemModel::dataChanged);
        row->setText(2, QStringLiteral("nomodify"));
        QVERIFY(changed.size() >= 1);
        QCOMPARE(index.data().toString(), QStringLiteral("nomodify"));
        QCOMPARE(row->text(0), QStringLiteral("192.0.2.1"));
        QCOMPARE(row->data(0, Qt::UserRole).toInt(), 43);
        QCOMPARE(row->data(1, Qt::UserRole + 1).toString(), QStringLiteral("kept"));

        // Sorting reads the loaded texts, also those of a row sorted in.
        tree.setSortingEnabled(true);
        tree.sortByColumn(0, Qt::AscendingOrder);
        QCOMPARE(tree.topLevelItem(0)->text(0), QStringLiteral("10.0.0.1"));
        auto* late = new LoadedRow(1);
        late->setText(0, QStringLiteral("172.16.0.1"));
        tree.addTopLevelItem(late);
        QCOMPARE(textsOf(tree), QStringList({"10.0.0.1", "172.16.0.1", "192.0.2.1"}));
    }

private:
    static QList<QTreeWidgetItem*> rowsOf(std::initializer_list<const char*> texts)
    {
        QList<QTreeWidgetItem*> rows;
        for (const char* text : texts) {
            rows.append(new QTreeWidgetItem);
            rows.last()->setText(0, QLatin1String(text));
        }
        return rows;
    }
    static QStringList textsOf(const QTreeWidget& tree)
    {
        QStringList texts;
        for (int row = 0; row < tree.topLevelItemCount(); ++row)
            texts.append(tree.topLevelItem(row)->text(0));
        return texts;
    }
};

QTEST_MAIN(TestTreeColumns)
#include "tst_treecolumns.moc"
