#pragma once

#include "pages/modifiablewidget.h"

class QEvent;
class QPoint;
class QHBoxLayout;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The three buttons below a list page's list.
struct ListButtons {
    QPushButton* remove = nullptr;
    QPushButton* edit = nullptr;
    QPushButton* add = nullptr;
};

// Base of the settings pages that edit a list of rows through an add/edit
// dialog. It wires the list and the "Delete", "Edit..." and "Add..." buttons
// the same way on every such page:
// - the buttons run Delete_clicked(), Edit_clicked() and Add_clicked();
// - a double click on a row, Return or Enter edit the current row, the
//   Delete key deletes it;
// - a context menu on the list offers "Add...", "Edit..." and "Delete";
// - "Edit..." and "Delete" (buttons and menu entries) are enabled only with a
//   current row;
// - the page's event filter never consumes an event of the list.
// Each page declares the operations again among its own slots, so that its
// meta-object lists them in the page's order.
class ListPage : public ModifiableWidget
{
    Q_OBJECT
public:
    virtual void Add_clicked() = 0;
    virtual void Edit_clicked() = 0;
    virtual void Delete_clicked() = 0;
    // Edits the row unless `item` is null; the column does not matter.
    virtual void itemDoubleClicked(QTreeWidgetItem* item, int column);
    // Enables "Edit..." and "Delete" exactly when there is a current row.
    virtual void currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    explicit ListPage(QWidget* parent = nullptr);

    // New "Delete", "Edit..." and "Add..." buttons (object names bDelete,
    // bEdit, bAdd), for a page whose form does not have them.
    ListButtons createButtons();
    // A row of a stretch and the three buttons in that order.
    static QHBoxLayout* buttonRow(const ListButtons& buttons);
    // Connects `list` and `buttons` to the operations and installs the page
    // as the list's event filter.
    void setUpList(QTreeWidget* list, const ListButtons& buttons);

    // Whether a context menu request on the list opens the menu now.
    virtual bool offersContextMenu() const;

private:
    void runContextMenu(const QPoint& globalPos);

    QTreeWidget* m_list = nullptr;
    ListButtons m_buttons;
};
