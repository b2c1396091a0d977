// Filling and sizing the lists of the pages.
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include "pages/treecolumns.h"

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
