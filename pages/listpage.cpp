#include "listpage.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QTreeWidget>

namespace
{

QAction* addMenuAction(QMenu& menu, QWidget* page, const char* text, const char* name)
{
    // The texts are the page's own button texts, translated in its context.
    QAction* action =
        menu.addAction(QCoreApplication::translate(page->metaObject()->className(), text));
    action->setObjectName(QLatin1String(name));
    return action;
}

void execContextMenu(QWidget* page, QTreeWidget* list, const QPoint& globalPos,
                     const ListPageActions& actions)
{
    const bool hasCurrent = list->currentItem() != nullptr;
    QMenu menu(page);
    menu.setObjectName(QStringLiteral("contextMenu"));
    QAction* add = addMenuAction(menu, page, "Add...", "aAdd");
    QAction* edit = addMenuAction(menu, page, "Edit...", "aEdit");
    QAction* remove = addMenuAction(menu, page, "Delete", "aDelete");
    edit->setEnabled(hasCurrent);
    remove->setEnabled(hasCurrent);
    QAction* chosen = menu.exec(globalPos);
    if (chosen == add)
        actions.add();
    else if (chosen == edit)
        actions.edit();
    else if (chosen == remove)
        actions.remove();
}

} // namespace

void handleListEvent(QWidget* page, QTreeWidget* list, QEvent* event,
                     const ListPageActions& actions, bool menuAllowed)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            actions.edit();
        else if (key == Qt::Key_Delete)
            actions.remove();
    } else if (event->type() == QEvent::ContextMenu && menuAllowed) {
        execContextMenu(page, list, static_cast<QContextMenuEvent*>(event)->globalPos(), actions);
    }
}
