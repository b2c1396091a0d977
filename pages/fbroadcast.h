#pragma once

#include <QList>
#include <QPair>

#include "config/ntpsettings.h"
#include "pages/listpage.h"

class QButtonGroup;
class QLabel;
class QTreeWidgetItem;
class FBroadcast_Add;

namespace Ui
{
class FBroadcast;
}

// Settings page for broadcast time service: the work mode (client only, or
// client and broadcast server) and the networks broadcast to.
class FBroadcast : public ListPage
{
    Q_OBJECT
public:
    explicit FBroadcast(QWidget* parent = nullptr);
    // The page's name in the navigation tree and its title.
    static QString pageTitle();
    ~FBroadcast() override;

    enum Mode { ClientOnly = 0, ClientAndServer = 1 };

public slots:
    void loadSettings() override;
    void saveSettings() override;
    virtual void buttonToggled(int id, bool value);
    void Add_clicked() override;
    void Delete_clicked() override;
    void Edit_clicked() override;
    void itemDoubleClicked(QTreeWidgetItem* item, int column) override;
    void currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    // The list offers its menu only while the page serves broadcasts.
    bool offersContextMenu() const override;

private:
    int mode() const;
    void showModeNotice(int broadcastNetworks);
    static QTreeWidgetItem* rowFor(const ServerEntry& entry);
    void setRowFromDialog(QTreeWidgetItem* item, const FBroadcast_Add& dialog);
    void presetDialog(FBroadcast_Add& dialog, const QTreeWidgetItem* item) const;
    ServerEntry entryOf(const QTreeWidgetItem* item) const;

    Ui::FBroadcast* ui;
    QButtonGroup* modeGroup;
    QLabel* notice = nullptr; // above the mode switch
    // Loaded entries the list does not show, with their index in the list.
    QList<QPair<int, ServerEntry>> hiddenEntries;
};
