#pragma once

#include <functional>

class QEvent;
class QTreeWidget;
class QWidget;

// What a list page does with its rows.
struct ListPageActions {
    std::function<void()> add;
    std::function<void()> edit;
    std::function<void()> remove;
};

// The list pages' handling of an event on their list: Return or Enter edits
// the current row, Delete deletes it, and a context menu request (when
// `menuAllowed`) opens a popup with "Add...", "Edit..." and "Delete", the
// last two only with a current row. The event is never consumed: the caller's
// event filter returns false, so the list still gets it.
void handleListEvent(QWidget* page, QTreeWidget* list, QEvent* event,
                     const ListPageActions& actions, bool menuAllowed = true);
