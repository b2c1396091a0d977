// Filling and sizing the lists of the pages.
#include <QHeaderView>
#include <QTest>
#include <QTreeWidget>

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

    void fillsSortedListsOnce()
    {
        QTreeWidget tree;
        tree.setSortingEnabled(true);
        tree.sortByColumn(0, Qt::AscendingOrder);
        fillSorted(&tree, [&tree] {
            QVERIFY(!tree.isSortingEnabled());
            for (const char* text : {"c", "a", "b"})
                (new QTreeWidgetItem(&tree))->setText(0, QLatin1String(text));
        });
        QVERIFY(tree.isSortingEnabled());
        QCOMPARE(tree.topLevelItem(0)->text(0), QStringLiteral("a"));
        QCOMPARE(tree.topLevelItem(2)->text(0), QStringLiteral("c"));
        QCOMPARE(tree.header()->sortIndicatorOrder(), Qt::AscendingOrder);
    }
};

QTEST_MAIN(TestTreeColumns)
#include "tst_treecolumns.moc"
