#include "loadedrow.h"

LoadedRow::LoadedRow(int columns)
{
    m_texts.reserve(columns);
}

QVariant LoadedRow::data(int column, int role) const
{
    if (!keepsOwnValues() || column < 0)
        return QTreeWidgetItem::data(column, role);
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return column < m_texts.size() ? m_texts.at(column) : QVariant();
    for (const Value& kept : m_values) {
        if (kept.column == column && kept.role == role)
            return kept.value;
    }
    return QVariant();
}

void LoadedRow::setData(int column, int role, const QVariant& value)
{
    // A row in a list, and check states (which reach the row's children and
    // flags), take the usual way.
    if (column < 0 || treeWidget() || role == Qt::CheckStateRole)
        handOver();
    if (!keepsOwnValues()) {
        QTreeWidgetItem::setData(column, role, value);
        return;
    }
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        if (m_texts.size() <= column)
            m_texts.resize(column + 1);
        m_texts[column] = value;
        return;
    }
    for (Value& kept : m_values) {
        if (kept.column == column && kept.role == role) {
            kept.value = value;
            return;
        }
    }
    m_values.append({column, role, value});
}

void LoadedRow::handOver()
{
    if (m_handedOver)
        return;
    m_handedOver = true;
    for (int column = 0; column < m_texts.size(); ++column) {
        if (m_texts.at(column).isValid())
            QTreeWidgetItem::setData(column, Qt::DisplayRole, m_texts.at(column));
    }
    for (const Value& kept : qAsConst(m_values))
        QTreeWidgetItem::setData(kept.column, kept.role, kept.value);
    m_texts = {};
    m_values = {};
}
