#pragma once

#include <QTreeWidgetItem>
#include <QVariant>
#include <QVector>

// A list row that keeps the texts and data it is given before it joins a list
// in plain arrays, and hands them over to QTreeWidgetItem's own storage only
// when something changes the row afterwards. QTreeWidgetItem allocates per
// column and per value, and filling thousands of rows that way was most of
// the time a large file took to load. Views, sorting and the pages read a row
// only through data(), so the row looks the same either way.
class LoadedRow : public QTreeWidgetItem
{
public:
    explicit LoadedRow(int columns);

    QVariant data(int column, int role) const override;
    void setData(int column, int role, const QVariant& value) override;

private:
    struct Value {
        int column;
        int role;
        QVariant value;
    };

    bool keepsOwnValues() const { return !m_handedOver; }
    void handOver();

    QVector<QVariant> m_texts; // display text per column; invalid where unset
    QVector<Value> m_values;   // any other role
    bool m_handedOver = false;
};
