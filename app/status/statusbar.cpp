#include "app/status/statusbar.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include "app/status/syncstatus.h"
#include "config/configdocument.h"
#include "daemon/daemonnotices.h"
#include "daemon/daemonsetup.h"

namespace
{
// How often the status bar looks whether the daemon runs.
constexpr int runningCheckIntervalMs = 5000;
} // namespace

DaemonStatusBar::DaemonStatusBar(QStatusBar* statusBar, DaemonStatusPoller* poller)
    : QObject(statusBar), m_sync(new QLabel), m_summary(new QLabel)
{
    m_sync->setObjectName(QStringLiteral("syncStatus"));
    statusBar->addWidget(m_sync);
    connect(poller, &DaemonStatusPoller::updated, m_sync,
            [this](const DaemonSnapshot& snapshot) { m_sync->setText(syncSummary(snapshot)); });

    m_summary->setObjectName(QStringLiteral("daemonSummary"));
    statusBar->addPermanentWidget(m_summary);
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &DaemonStatusBar::refresh);
    timer->start(runningCheckIntervalMs);
    // Start-up has just looked for a running daemon: the first text says
    // what it found instead of walking every process again.
    showSetup(currentDaemon());
}

void DaemonStatusBar::refresh()
{
    DaemonSetup setup = currentDaemon();
    setup.running = findRunningNtpd(setup.flavour);
    showSetup(setup);
}

void DaemonStatusBar::showSetup(const DaemonSetup& setup)
{
    m_summary->setText(daemonSummary(setup, ConfigDocument::instance().path()));
}
