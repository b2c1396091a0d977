#pragma once

#include <QDateTime>
#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include "daemon/ntpqoutput.h"
#include "daemon/syncdiagnosis.h"

class ProcessJob;
class ProcessSession;
struct ProcessResult;

// What the last query of the running daemon found.
struct DaemonSnapshot {
    enum class State {
        Unknown,     // not asked yet
        Answered,    // the daemon answered
        NoAnswer,    // nothing answered: the daemon is not running
        NtpqMissing, // the query tool could not be started
        Flooded      // ntpq printed more than a query can; asked again after a pause
    };
    State state = State::Unknown;
    PeersTable peers;
    SystemVariables system;
    qint64 uptimeSeconds = -1; // -1: not known
    SyncDiagnosis diagnosis;   // meaningful while Answered
    NtsCounters nts;
    QDateTime taken;
};

// The sentence the status bar shows for a snapshot.
QString syncSummary(const DaemonSnapshot& snapshot);

// What the state icon beside that sentence shows.
enum class SyncLight { Synchronised, NotYet, NotRunning, Unknown };
SyncLight syncLightOf(const DaemonSnapshot& snapshot);

// The `tos minsane` of the edited file (1, the daemon's default, until the
// file has been read).
int configuredMinsane();
void setConfiguredMinsaneForTesting(int minsane);

// Asks the daemon (ntpq, through the process runner, never waiting for it)
// every few seconds while `window` is visible, and on demand. One query at a
// time; failures only change the snapshot's state. One ntpq keeps running
// and is given the commands of each query, as starting it costs far more than
// the query; it is started again when it has gone or did not answer in time.
// An ntpq that never prints a thing in that session is asked afresh each time.
class DaemonStatusPoller : public QObject
{
    Q_OBJECT
public:
    explicit DaemonStatusPoller(QWidget* window, int intervalMs = 5000);
    ~DaemonStatusPoller() override;

    const DaemonSnapshot& snapshot() const { return m_snapshot; }
    void setQueryLimitForTesting(int milliseconds) { m_limit.setInterval(milliseconds); }
    void setOutputLimitForTesting(int bytes) { m_outputLimit = bytes; }
    void setFloodPauseForTesting(int milliseconds) { m_floodPause.setInterval(milliseconds); }
    // Output beyond this in one query ends the query and the ntpq.
    static int outputLimit();

public slots:
    void pollNow();

signals:
    void updated(const DaemonSnapshot& snapshot);

private:
    void tick();
    void askSession();
    void sessionOutput(const QByteArray& chunk);
    void sessionEnded(bool failedToStart);
    void sessionTimedOut();
    void dropSession();
    void flooded();
    void readMinsane();
    void report(DaemonSnapshot::State state);
    void askOnce();
    void answered(const ProcessResult& result);

    QWidget* m_window;
    QTimer m_timer;
    QTimer m_limit;
    QTimer m_floodPause; // running: no ntpq is started
    QFutureWatcher<int> m_minsaneRead;
    int m_outputLimit = outputLimit();
    ProcessSession* m_session = nullptr;
    bool m_sessionAnswered = false; // the running session answered a query
    bool m_asking = false;
    bool m_oneShot = false;
    QByteArray m_output;
    QPointer<ProcessJob> m_job;
    DaemonSnapshot m_snapshot;
};

// The arguments of the one ntpq call that fetches the peers (numeric, wide)
// and the system variables.
QStringList ntpqStatusArguments();
// Splits that call's output into the snapshot.
DaemonSnapshot snapshotFromNtpq(const QString& output);
DaemonSnapshot snapshotFromParts(const QString& peers, const QString& variables);
DaemonSnapshot snapshotFromParts(const QString& peers, const QString& variables,
                                 const QString& sysstats);
// The arguments of the ntpq that keeps running and reads its commands.
QStringList ntpqSessionArguments();
