#include "app/status/statusfeature.h"

#include <QAction>
#include <QBoxLayout>
#include <QCoreApplication>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QToolBar>

#include <memory>

#include "app/hooks/windowhooks.h"
#include "app/status/daemonnotice.h"
#include "app/status/daemonstatuswindow.h"
#include "app/status/statusbar.h"
#include "app/status/syncstatus.h"
#include "config/configdocument.h"

namespace
{
// The first answer comes soon after the window appears.
constexpr int firstPollDelayMs = 500;

void addNotice(const WindowHooks& hooks)
{
    auto* notice = new DaemonNotice(hooks.window);
    hooks.aboveThePages->insertWidget(0, notice);
    // A write that succeeds ends a read error the notice may show.
    QObject::connect(&ConfigDocument::instance(), &ConfigDocument::saved, notice,
                     &DaemonNotice::refresh);
}

void addStatusWindowAction(const WindowHooks& hooks, DaemonStatusPoller* poller)
{
    QMainWindow* window = hooks.window;
    auto* action =
        new QAction(QIcon::fromTheme(QStringLiteral("utilities-system-monitor")),
                    QCoreApplication::translate("DaemonStatusWindow", "Daemon status"), window);
    action->setObjectName(QStringLiteral("aDaemonStatus"));
    hooks.serverMenu->addAction(action);
    hooks.serviceToolBar->addAction(action);
    // One status window, made when it is first asked for.
    auto statusWindow = std::make_shared<QPointer<DaemonStatusWindow>>();
    QObject::connect(action, &QAction::triggered, window, [window, poller, statusWindow] {
        if (!*statusWindow)
            *statusWindow = new DaemonStatusWindow(poller, window);
        (*statusWindow)->show();
        (*statusWindow)->raise();
        (*statusWindow)->activateWindow();
    });
}
} // namespace

void installDaemonStatus(const WindowHooks& hooks)
{
    addNotice(hooks);
    auto* poller = new DaemonStatusPoller(hooks.window);
    new DaemonStatusBar(hooks.statusBar, poller, hooks.events);
    addStatusWindowAction(hooks, poller);
    QMainWindow* window = hooks.window;
    QTimer::singleShot(firstPollDelayMs, poller, [window, poller] {
        if (window->isVisible())
            poller->pollNow();
    });
}
