#pragma once

#include <QList>
#include <QPair>

#include "config/ntpsettings.h"
#include "pages/listpage.h"

class QTreeWidget;
class QTreeWidgetItem;
class FOptAccess_Add;

// Settings page for the access restrictions ("restrict" lines): one row per
// network or for the default entry, with its access mode and flags. Every
// restrict line is a row: those the IPv4 fields cannot hold (IPv6, prefixes,
// host names, "source", "-4"/"-6") are edited in FOptAccess_AddAny.
class FOptAccess : public ListPage
{
    Q_OBJECT
public:
    explicit FOptAccess(QWidget* parent = nullptr);
    // The page's name in the navigation tree and its title.
    static QString pageTitle();

public slots:
    void loadSettings() override;
    void saveSettings() override;
    void Add_clicked() override;
    void Edit_clicked() override;
    void Delete_clicked() override;
    void itemDoubleClicked(QTreeWidgetItem* item, int column) override;
    void currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeWidgetItem* repeatedDefaultRow(const RestrictEntry& entry) const;
    QTreeWidgetItem* rowFor(const RestrictEntry& entry) const;
    RestrictEntry entryOf(const QTreeWidgetItem* item) const;
    QTreeWidgetItem* findDefaultRow(const QTreeWidgetItem* except = nullptr) const;
    bool checkAddress(const QString& address, const QString& mask);
    void presetDialog(FOptAccess_Add& dialog, const QTreeWidgetItem* item) const;
    void presetMode(FOptAccess_Add& dialog, const QTreeWidgetItem* item) const;
    void editOtherRow(QTreeWidgetItem* item);

    QTreeWidget* twList;
};
