#pragma once

#include "pages/listpage.h"

#include <QList>

class QTreeWidget;
class QTreeWidgetItem;
class FOptSync_Add;
struct ServerEntry;

// The time sources the daemon synchronises with: the "server" lines whose
// address is not a reference clock and the "pool" lines, one row each.
class FOptSync : public ListPage
{
    Q_OBJECT
public:
    explicit FOptSync(QWidget* parent = nullptr);
    // The page's name in the navigation tree and its title.
    static QString pageTitle();

public slots:
    void loadSettings() override;
    void saveSettings() override;
    void Add_clicked() override;
    void Delete_clicked() override;
    void Edit_clicked() override;
    void itemDoubleClicked(QTreeWidgetItem* item, int column) override;
    void currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeWidgetItem* rowFor(const ServerEntry& entry) const;
    void fillRowFromDialog(QTreeWidgetItem* item, const FOptSync_Add& dialog) const;
    void presetDialogFromRow(FOptSync_Add& dialog, const QTreeWidgetItem* item) const;
    ServerEntry entryFromRow(const QTreeWidgetItem* item) const;
    static void markReplacedByDhcp(const QList<QTreeWidgetItem*>& rows, const QString& copy);
    QList<QTreeWidgetItem*> dhcpRows(const QString& copy) const;
    bool refusedAsDhcpRow(const QTreeWidgetItem* item);

    QTreeWidget* serverList = nullptr;
};
