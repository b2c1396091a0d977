#pragma once

#include <QDockWidget>
#include <QPointer>

#include "app/hooks/windowhooks.h"
#include "config/configcheck.h"

class DaemonCheck;
class ModifiableWidget;
class QAction;
class QLabel;
class QTreeWidget;
class QTreeWidgetItem;

// The findings of the configuration check in a panel of the main window:
// of the file as it is while no page is edited, and of what Apply would
// write while one is. The rules' findings show at once, and the installed
// daemon's judgement of the same bytes joins them when it comes (off the
// GUI thread: the daemon runs as a command of the host). A double click
// shows the line in the review.
class CheckPanel : public QDockWidget
{
    Q_OBJECT
public:
    explicit CheckPanel(const WindowHooks& hooks);

    // Runs the check again (soon, once, however often it is asked for).
    void scheduleRefresh();
    void refresh();
    // "Check": shows the panel and has the daemon judge anew, forgetting
    // what it said before (a file named by an includefile line, or the
    // daemon itself, may have changed since).
    void checkNow();
    // The findings shown, one per line and problem.
    const QVector<CheckFinding>& findings() const { return m_findings; }
    // What is shown holds the daemon's judgement (or why there is none).
    bool isJudged() const;
    QAction* checkAction() const { return m_checkAction; }

signals:
    // The daemon's judgement of what is shown has come and is shown.
    void judged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void watchPage(ModifiableWidget* page);
    void showFindings();
    void showJudgement();
    void showLine(QTreeWidgetItem* item);

    WindowHooks m_hooks;
    QLabel* m_subject;
    QLabel* m_judgement;
    QTreeWidget* m_list;
    QAction* m_checkAction;
    QPointer<DaemonCheck> m_check;
    QVector<CheckFinding> m_findings;
    bool m_ofApply = false;
    bool m_refreshPending = false;
    bool m_stale = true;
};

// Before Apply writes lines the installed daemon would reject for `page`'s
// edits: asks once whether to write anyway (offering the review). The
// daemon judges exactly the bytes Apply writes, reusing the judgement made
// while the page was edited; while it is still judging, the window shows
// itself busy. True to go on.
bool confirmRejectedLines(QWidget* parent, ModifiableWidget* page);
