#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include "config/configcheck.h"
#include "config/daemonverdict.h"
#include "daemon/daemonsetup.h"

class ProcessJob;
struct ProcessResult;

// The bytes of a configuration file to be judged and where they are (or are
// to be) on the current host: the daemon finds the files of relative
// includefile lines and its ntp.d folder from there, as it would once the
// bytes are written. An empty path, or one that names no file yet, has the
// daemon read the bytes from a private folder instead.
struct JudgeSubject {
    QByteArray bytes;
    QString path;
    DaemonSetup daemon = currentDaemon();

    // What a judgement is cached under: the SHA-256 of the bytes, the daemon
    // (flavour and version), the path and the host.
    QByteArray key() const;
};

// The installed NTP daemon of the current host as the judge of configuration
// files: it is started on exactly the given bytes, in the foreground for
// about a second, and its complaints become findings (DaemonVerdict).
//
// It runs as one command through Host::current() (so that it works the same
// on a server reached over SSH), which reads the bytes from its standard
// input into a private folder (mode 0700, removed afterwards) and runs the
// daemon inside fresh network, IPC and mount namespaces: only a downed
// loopback, every file system read-only, private /dev and /run, no right to
// set the clock, a hard time limit, and a private /etc/hosts that maps the
// file's host names to documentation addresses. The daemon's log goes to
// the command's output, never to the system's log. A daemon that reports
// several bad lines in a row as one is asked again with those lines blanked
// (the numbering kept), a few rounds at most.
//
// Asynchronous: nothing here waits on the GUI thread except waitFor(), which
// runs a local event loop. Judgements are cached, so that Apply reuses the
// one made while the page was edited. Qt Core only.
class DaemonJudge : public QObject
{
    Q_OBJECT
public:
    explicit DaemonJudge(QObject* parent = nullptr);
    ~DaemonJudge() override;

    // The program's judge, whose cache the check panel and Apply share.
    static DaemonJudge& instance();

    // Asks the daemon about `subject` unless its judgement is cached or under
    // way. One judgement runs at a time; of the requests waiting for it only
    // the newest is kept. Returns the subject's key; judged() tells when the
    // judgement is there (from the event loop, also for one that could not
    // be made: a daemon that cannot be asked is not asked again for another
    // file of the same host and daemon).
    QByteArray request(const JudgeSubject& subject);
    // The judgement cached under `key`; nullptr while there is none.
    const DaemonVerdict* verdict(const QByteArray& key) const;
    // Requests `subject` and waits for its judgement, at most `timeoutMs`,
    // running a local event loop. nullptr when it did not come in time.
    const DaemonVerdict* waitFor(const JudgeSubject& subject, int timeoutMs);
    bool isJudging() const { return !m_running.isEmpty(); }

    // How long the daemon runs each round (seconds) and how many rounds at
    // most. Tests shorten it.
    void setRunLimits(double seconds, int rounds);
    // Forgets every judgement (and every host found unable to judge).
    void clear();

    // The judging command's limits on its input: larger files are not
    // judged.
    static constexpr int maxBytes = 4 * 1024 * 1024;

signals:
    void judged(const QByteArray& key);

private:
    void start(const JudgeSubject& subject);
    void finish(const QByteArray& key, const JudgeSubject& subject, const ProcessResult& result);
    void remember(const QByteArray& key, const DaemonVerdict& verdict);
    void startQueued();
    bool isKnown(const QByteArray& key) const;

    QHash<QByteArray, DaemonVerdict> m_cache;
    QVector<QByteArray> m_cacheOrder;      // oldest first
    QHash<QString, QString> m_unableHosts; // host and daemon -> why it cannot judge
    QByteArray m_running;
    QPointer<ProcessJob> m_job;
    QByteArray m_queuedKey;
    JudgeSubject m_queued;
    double m_seconds = 1.0;
    int m_rounds = 8;
};

// One check of a file's bytes by the rules and the daemon: findings() holds
// the rules' findings at once (checkConfiguration()) and the merged ones
// (mergeFindings()) when the daemon's judgement has come, which judged()
// tells once, from the event loop.
//
// The check panel makes one per refresh and shows findings() again on
// judged(); Apply makes one of the bytes it would write and, unless
// isJudged() already, calls waitForJudgement() with the window shown busy.
class DaemonCheck : public QObject
{
    Q_OBJECT
public:
    explicit DaemonCheck(const JudgeSubject& subject, QObject* parent = nullptr,
                         DaemonJudge* judge = nullptr);

    const QVector<CheckFinding>& findings() const { return m_findings; }
    const QVector<CheckFinding>& ruleFindings() const { return m_rules; }
    // The daemon's judgement (or why there is none) is in findings().
    bool isJudged() const { return m_judged; }
    // Waits for the judgement (local event loop), at most `timeoutMs`; true
    // when it came.
    bool waitForJudgement(int timeoutMs);

signals:
    void judged();

private:
    // Merges the judgement once it is there; true when it did so now.
    bool take();

    DaemonJudge* m_judge;
    JudgeSubject m_subject;
    QByteArray m_key;
    QVector<CheckFinding> m_rules;
    QVector<CheckFinding> m_findings;
    bool m_judged = false;
};
