#include "pages/listpage.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>

namespace
{

// The texts are the page's own, translated in the context of its class.
QString pageText(const QObject* page, const char* text)
{
    return QCoreApplication::translate(page->metaObject()->className(), text);
}

QPushButton* namedButton(const QString& text, const char* name)
{
    auto* button = new QPushButton(text);
    button->setObjectName(QLatin1String(name));
    return button;
}

QAction* addMenuAction(QMenu& menu, const QObject* page, const char* text, const char* name)
{
    QAction* action = menu.addAction(pageText(page, text));
    action->setObjectName(QLatin1String(name));
    return action;
}

} // namespace

ListPage::ListPage(QWidget* parent) : ModifiableWidget(parent) {}

ListButtons ListPage::createButtons()
{
    return {namedButton(pageText(this, "Delete"), "bDelete"),
            namedButton(pageText(this, "Edit..."), "bEdit"),
            namedButton(pageText(this, "Add..."), "bAdd")};
}

QHBoxLayout* ListPage::buttonRow(const ListButtons& buttons)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(buttons.remove);
    row->addWidget(buttons.edit);
    row->addWidget(buttons.add);
    return row;
}

void ListPage::setUpList(QTreeWidget* list, const ListButtons& buttons)
{
    m_list = list;
    m_buttons = buttons;
    connect(buttons.remove, &QPushButton::clicked, this, &ListPage::Delete_clicked);
    connect(buttons.edit, &QPushButton::clicked, this, &ListPage::Edit_clicked);
    connect(buttons.add, &QPushButton::clicked, this, &ListPage::Add_clicked);
    connect(list, &QTreeWidget::itemDoubleClicked, this, &ListPage::itemDoubleClicked);
    connect(list, &QTreeWidget::currentItemChanged, this, &ListPage::currentItemChanged);
    // Also sees the viewport's context menu requests: the viewport leaves
    // them unhandled, so they travel on to the list.
    list->installEventFilter(this);
}

bool ListPage::offersContextMenu() const
{
    return true;
}

void ListPage::itemDoubleClicked(QTreeWidgetItem* item, int /*column*/)
{
    if (item)
        Edit_clicked();
}

void ListPage::currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* /*previous*/)
{
    if (!m_buttons.edit)
        return; // not set up yet
    m_buttons.edit->setEnabled(current != nullptr);
    m_buttons.remove->setEnabled(current != nullptr);
}

bool ListPage::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_list || watched != m_list)
        return ModifiableWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            Edit_clicked();
        else if (key == Qt::Key_Delete)
            Delete_clicked();
    } else if (event->type() == QEvent::ContextMenu && offersContextMenu()) {
        runContextMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
    }
    return false; // the list still gets every event
}

void ListPage::runContextMenu(const QPoint& globalPos)
{
    const bool hasCurrent = m_list->currentItem() != nullptr;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("contextMenu"));
    QAction* add = addMenuAction(menu, this, "Add...", "aAdd");
    QAction* edit = addMenuAction(menu, this, "Edit...", "aEdit");
    QAction* remove = addMenuAction(menu, this, "Delete", "aDelete");
    edit->setEnabled(hasCurrent);
    remove->setEnabled(hasCurrent);
    QAction* chosen = menu.exec(globalPos);
    if (chosen == add)
        Add_clicked();
    else if (chosen == edit)
        Edit_clicked();
    else if (chosen == remove)
        Delete_clicked();
}
