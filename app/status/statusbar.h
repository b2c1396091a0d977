#pragma once

#include <QObject>

class DaemonStatusPoller;
class QLabel;
class QStatusBar;
struct DaemonSetup;

// The window's status bar part about the daemon: on the left how the clock
// is synchronised (from the poller's answers), at the right end the daemon,
// its version, the file edited and whether the daemon runs, looked at again
// every few seconds.
class DaemonStatusBar : public QObject
{
    Q_OBJECT
public:
    DaemonStatusBar(QStatusBar* statusBar, DaemonStatusPoller* poller);

    // Looks again whether the daemon runs.
    void refresh();

private:
    void showSetup(const DaemonSetup& setup);

    QLabel* m_sync;
    QLabel* m_summary;
};
