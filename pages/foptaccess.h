#pragma once

#include <QList>
#include <QPair>

#include "modifiablewidget.h"
#include "ntpsettings.h"

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class FOptAccess_Add;

// Settings page for the access restrictions ("restrict" lines): one row per
// network or for the default entry, with its access mode and flags. Every
// restrict line is a row: those the IPv4 fields cannot hold (IPv6, prefixes,
// host names, "source", "-4"/"-6") are edited in FOptAccess_AddAny.
class FOptAccess : public ModifiableWidget
{
    Q_OBJECT
public:
    explicit FOptAccess(QWidget* parent = nullptr);

public slots:
    void loadSettings() override;
    void saveSettings() override;
    virtual void Add_clicked();
    virtual void Edit_clicked();
    virtual void Delete_clicked();
    virtual void itemDoubleClicked(QTreeWidgetItem* item, int column);
    virtual void currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeWidgetItem* rowFor(const RestrictEntry& entry) const;
    RestrictEntry entryOf(const QTreeWidgetItem* item) const;
    bool isUneditedDefaultRow(const QTreeWidgetItem* item) const;
    QTreeWidgetItem* findDefaultRow(const QTreeWidgetItem* except = nullptr) const;
    bool checkAddress(const QString& address, const QString& mask);
    void presetDialog(FOptAccess_Add& dialog, const QTreeWidgetItem* item) const;
    void presetMode(FOptAccess_Add& dialog, const QTreeWidgetItem* item) const;
    void editOtherRow(QTreeWidgetItem* item);

    QTreeWidget* twList;
    QPushButton* bDelete;
    QPushButton* bEdit;
    QPushButton* bAdd;
    // Default entries after the first one (not shown), with their index in
    // the list; kept while the shown default row stays as loaded.
    QList<QPair<int, RestrictEntry>> hiddenDefaults;
};
