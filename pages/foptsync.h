#pragma once

#include "modifiablewidget.h"

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class FOptSync_Add;
struct ServerEntry;

// The time sources the daemon synchronises with: the "server" lines whose
// address is not a reference clock and the "pool" lines, one row each.
class FOptSync : public ModifiableWidget
{
    Q_OBJECT
public:
    explicit FOptSync(QWidget* parent = nullptr);

public slots:
    void loadSettings() override;
    void saveSettings() override;
    virtual void Add_clicked();
    virtual void Delete_clicked();
    virtual void Edit_clicked();
    virtual void itemDoubleClicked(QTreeWidgetItem* item, int column);
    virtual void currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeWidgetItem* rowFor(const ServerEntry& entry) const;
    void fillRowFromDialog(QTreeWidgetItem* item, const FOptSync_Add& dialog) const;
    void presetDialogFromRow(FOptSync_Add& dialog, const QTreeWidgetItem* item) const;
    ServerEntry entryFromRow(const QTreeWidgetItem* item) const;

    QTreeWidget* serverList = nullptr;
    QPushButton* editButton = nullptr;
    QPushButton* deleteButton = nullptr;
};
