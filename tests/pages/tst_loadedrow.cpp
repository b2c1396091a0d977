// The rows a page loads from the file are ordinary list items: whatever walks
// an item's columns, copies it or streams it sees what the list shows.
// (The pages' rows keep their entries as data of types QDataStream does not
// know, so only the row on its own is streamed.)
#include <QDataStream>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "pages/foptaccess.h"
#include "pages/foptsync.h"
#include "pages/loadedrow.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;

namespace
{
// A plain item with the same texts and first-column data as `row`.
std::unique_ptr<QTreeWidgetItem> plainCopyOf(const QTreeWidgetItem* row, int columns)
{
    auto item = std::make_unique<QTreeWidgetItem>();
    for (int column = 0; column < columns; ++column)
        item->setText(column, row->text(column));
    for (int role = Qt::UserRole; role <= Qt::UserRole + 1; ++role)
        item->setData(0, role, row->data(0, role));
    return item;
}

QStringList textsOf(const QTreeWidgetItem* item)
{
    QStringList texts;
    for (int column = 0; column < item->columnCount(); ++column)
        texts << item->text(column);
    return texts;
}

// What `item` looks like after a trip through QDataStream.
QStringList streamedTexts(const QTreeWidgetItem* item)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << *item;
    QDataStream in(bytes);
    QTreeWidgetItem read;
    in >> read;
    return textsOf(&read);
}
} // namespace

class TestLoadedRow : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { QCOMPARE(rejectOpenModals(), 0); }
    void rowOnItsOwnMatchesAPlainItem();
    void loadedRowsMatchPlainItems();
};

void TestLoadedRow::rowOnItsOwnMatchesAPlainItem()
{
    LoadedRow row(3);
    row.setText(0, QStringLiteral("192.0.2.1"));
    row.setText(1, QString());
    row.setText(2, QStringLiteral("nomodify"));
    row.setData(0, Qt::UserRole, 42);
    const auto plain = plainCopyOf(&row, 3);

    QCOMPARE(row.columnCount(), plain->columnCount());
    const std::unique_ptr<QTreeWidgetItem> clone(row.clone());
    QCOMPARE(clone->columnCount(), plain->columnCount());
    QCOMPARE(textsOf(clone.get()), textsOf(plain.get()));
    QCOMPARE(clone->data(0, Qt::UserRole), QVariant(42));
    QCOMPARE(streamedTexts(&row), streamedTexts(plain.get()));
}

void TestLoadedRow::loadedRowsMatchPlainItems()
{
    ConfFile file("server a.example iburst minpoll 4\n"
                  "restrict 10.0.0.0 mask 255.0.0.0 notrap\n");
    FOptSync sync;
    FOptAccess access;
    for (QTreeWidget* list : {sync.findChild<QTreeWidget*>(), access.findChild<QTreeWidget*>()}) {
        QCOMPARE(list->topLevelItemCount(), 1);
        const QTreeWidgetItem* row = list->topLevelItem(0);
        const auto plain = plainCopyOf(row, list->columnCount());
        QCOMPARE(row->columnCount(), list->columnCount());
        QCOMPARE(textsOf(row), rowTexts(row));

        const std::unique_ptr<QTreeWidgetItem> clone(row->clone());
        QCOMPARE(textsOf(clone.get()), textsOf(plain.get()));
        QCOMPARE(clone->data(0, Qt::UserRole + 1).isValid(),
                 row->data(0, Qt::UserRole + 1).isValid());
    }
}

QTEST_MAIN(TestLoadedRow)
#include "tst_loadedrow.moc"
