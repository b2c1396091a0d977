#pragma once

#include <QDateTime>
#include <QObject>
#include <QPixmap>

#include "app/status/syncstatus.h"

class QLabel;
class QStatusBar;
class WindowEvents;
struct DaemonSetup;

// The window's status bar part about the daemon: on the left a coloured
// light and how the clock is synchronised (from the poller's answers), the
// reminder that the daemon still runs the configuration from before the last
// write, and at the right end the daemon, its version, the file edited and
// whether the daemon runs, looked at again every few seconds.
class DaemonStatusBar : public QObject
{
    Q_OBJECT
public:
    DaemonStatusBar(QStatusBar* statusBar, DaemonStatusPoller* poller,
                    WindowEvents* events = nullptr);

    // Looks again whether the daemon runs.
    void refresh();

private:
    void showSetup(const DaemonSetup& setup);
    void showSnapshot(const DaemonSnapshot& snapshot);
    void fileWritten();
    void serviceCommandFinished(const QString& verb);

    DaemonStatusPoller* m_poller;
    QLabel* m_light;
    QLabel* m_sync;
    QLabel* m_reminder;
    QLabel* m_summary;
    // Whether the daemon's process ran when last looked at: a daemon that
    // runs but keeps ntpq out is not called "not running".
    bool m_daemonRuns = false;
    DaemonSnapshot m_lastSnapshot;
    QDateTime m_writtenAt; // invalid: no reminder pending
    bool m_commandSinceWrite = false;
};

// A small round light in the colour of `light`, drawn so that it shows
// without any icon theme.
QPixmap syncLightPixmap(SyncLight light, int size);

// Whether a daemon that has run for `uptimeSeconds` at `now` was started
// after `writtenAt`.
bool startedSince(qint64 uptimeSeconds, const QDateTime& writtenAt, const QDateTime& now);
