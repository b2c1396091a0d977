#pragma once

#include <QDockWidget>

#include "app/hooks/windowhooks.h"
#include "config/configcheck.h"

class ModifiableWidget;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

// The findings of the configuration check in a panel of the main window:
// of the file as it is while no page is edited, and of what Apply would
// write while one is. A double click shows the line in the review.
class CheckPanel : public QDockWidget
{
    Q_OBJECT
public:
    explicit CheckPanel(const WindowHooks& hooks);

    // Runs the check again (soon, once, however often it is asked for).
    void scheduleRefresh();
    void refresh();
    const QVector<CheckFinding>& findings() const { return m_findings; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void watchPage(ModifiableWidget* page);
    void showLine(QTreeWidgetItem* item);

    WindowHooks m_hooks;
    QLabel* m_subject;
    QTreeWidget* m_list;
    QVector<CheckFinding> m_findings;
    bool m_ofApply = false;
    bool m_refreshPending = false;
    bool m_stale = true;
};

// Before Apply writes lines the installed daemon would reject for `page`'s
// edits: asks once whether to write anyway (offering the review). True to
// go on.
bool confirmRejectedLines(QWidget* parent, ModifiableWidget* page);
