#include "app/status/syncstatus.h"

#include <QCoreApplication>
#include <QWidget>
#include <QtConcurrent/QtConcurrentRun>

#include "config/config.h"
#include "config/configdocument.h"
#include "host/host.h"
#include "host/processrunner.h"

namespace
{
const int queryLimitMs = 6000;
// A peers table of a few hundred associations is far below this.
const int sessionOutputLimit = 256 * 1024;
// After a flood the next ntpq starts only after this pause.
const int floodPauseMs = 60000;

QString signedMs(double milliseconds)
{
    return (milliseconds >= 0 ? QStringLiteral("+") : QString()) +
           QString::number(milliseconds, 'f', 2);
}
} // namespace

QString syncSummary(const DaemonSnapshot& snapshot)
{
    const auto tr = [](const char* text) {
        return QCoreApplication::translate("FNTP", text);
    };
    switch (snapshot.state) {
    case DaemonSnapshot::State::Unknown:
        return QString();
    case DaemonSnapshot::State::NtpqMissing:
        return tr("Daemon status unknown: ntpq is not installed");
    case DaemonSnapshot::State::NoAnswer:
        return tr("Daemon not running");
    case DaemonSnapshot::State::Flooded:
        return tr("Daemon status unknown: ntpq printed more than %1 KiB for one query; asking "
                  "again in a minute")
            .arg(DaemonStatusPoller::outputLimit() / 1024);
    case DaemonSnapshot::State::Answered:
        break;
    }
    const QString why = snapshot.diagnosis.synchronised() ? QString() : snapshot.diagnosis.text;
    // A selected source the clock is not set from (a refused step) is no
    // synchronisation; the local clock is, though to no real time.
    const PeerRow* peer = snapshot.peers.systemPeer();
    const bool followed = snapshot.diagnosis.synchronised() ||
                          snapshot.diagnosis.reason == SyncReason::OnlyLocalClock;
    if (!peer || !followed)
        return why.isEmpty() ? tr("Not synchronised yet")
                             : tr("Not synchronised yet") + QStringLiteral(": ") + why;
    const double offset =
        std::isnan(snapshot.system.offset) ? peer->offset : snapshot.system.offset;
    return tr("Synchronised to %1 (stratum %2), offset %3 ms")
        .arg(peer->remote)
        .arg(peer->stratum)
        .arg(std::isnan(offset) ? QStringLiteral("?") : signedMs(offset));
}

SyncLight syncLightOf(const DaemonSnapshot& snapshot)
{
    switch (snapshot.state) {
    case DaemonSnapshot::State::NoAnswer:
        return SyncLight::NotRunning;
    case DaemonSnapshot::State::Answered:
        return snapshot.diagnosis.synchronised() ? SyncLight::Synchronised : SyncLight::NotYet;
    case DaemonSnapshot::State::Unknown:
    case DaemonSnapshot::State::NtpqMissing:
    case DaemonSnapshot::State::Flooded:
        break;
    }
    return SyncLight::Unknown;
}

namespace
{
// The file's `tos minsane`, read away from the GUI thread at start and
// after each write.
int s_configuredMinsane = 1;

int minsaneOfFile(const QString& path)
{
    FileContent content;
    if (Host::current().readFile(path, configFileLimit, &content, true) != 0)
        return 1;
    return minsaneOf(content.bytes);
}
} // namespace

int configuredMinsane()
{
    return s_configuredMinsane;
}

void setConfiguredMinsaneForTesting(int minsane)
{
    s_configuredMinsane = minsane;
}

QStringList ntpqStatusArguments()
{
    return {QStringLiteral("-n"),    QStringLiteral("-w"), QStringLiteral("-c"),
            QStringLiteral("peers"), QStringLiteral("-c"), QStringLiteral("rv")};
}

DaemonSnapshot snapshotFromParts(const QString& peers, const QString& variables)
{
    DaemonSnapshot snapshot;
    snapshot.taken = QDateTime::currentDateTime();
    snapshot.peers = parsePeers(peers);
    snapshot.system = parseSystemVariables(variables);
    snapshot.state = snapshot.peers.answered || snapshot.system.answered
                         ? DaemonSnapshot::State::Answered
                         : DaemonSnapshot::State::NoAnswer;
    snapshot.diagnosis = diagnoseSync(snapshot.peers, snapshot.system, configuredMinsane());
    return snapshot;
}

DaemonSnapshot snapshotFromParts(const QString& peers, const QString& variables,
                                 const QString& sysstats)
{
    DaemonSnapshot snapshot = snapshotFromParts(peers, variables);
    snapshot.uptimeSeconds = uptimeOf(sysstats);
    snapshot.diagnosis =
        diagnoseSync(snapshot.peers, snapshot.system, configuredMinsane(), snapshot.uptimeSeconds);
    return snapshot;
}

DaemonSnapshot snapshotFromNtpq(const QString& output)
{
    // The variables begin with "associd=" on a line of its own.
    int variablesAt = output.indexOf(QLatin1String("\nassocid="));
    if (output.startsWith(QLatin1String("associd=")))
        variablesAt = 0;
    if (variablesAt < 0)
        return snapshotFromParts(output, QString());
    return snapshotFromParts(output.left(variablesAt), output.mid(variablesAt));
}

QStringList ntpqSessionArguments()
{
    return {QStringLiteral("-n"), QStringLiteral("-w")};
}

DaemonStatusPoller::DaemonStatusPoller(QWidget* window, int intervalMs)
    : QObject(window), m_window(window)
{
    connect(&m_timer, &QTimer::timeout, this, &DaemonStatusPoller::tick);
    m_timer.start(intervalMs);
    m_limit.setSingleShot(true);
    m_limit.setInterval(queryLimitMs);
    connect(&m_limit, &QTimer::timeout, this, &DaemonStatusPoller::sessionTimedOut);
    m_floodPause.setSingleShot(true);
    m_floodPause.setInterval(floodPauseMs);
    connect(&m_minsaneRead, &QFutureWatcher<int>::finished, this,
            [this] { s_configuredMinsane = m_minsaneRead.result(); });
    connect(&ConfigDocument::instance(), &ConfigDocument::saved, this,
            &DaemonStatusPoller::readMinsane);
    readMinsane();
}

void DaemonStatusPoller::readMinsane()
{
    if (!m_minsaneRead.isRunning())
        m_minsaneRead.setFuture(
            QtConcurrent::run(minsaneOfFile, ConfigDocument::instance().path()));
}

int DaemonStatusPoller::outputLimit()
{
    return sessionOutputLimit;
}

DaemonStatusPoller::~DaemonStatusPoller()
{
    // The read uses the host, which may go with the window (a remote one).
    m_minsaneRead.waitForFinished();
    delete m_session;
    if (m_job)
        m_job->cancel();
}

void DaemonStatusPoller::tick()
{
    if (m_window->isVisible())
        pollNow();
}

void DaemonStatusPoller::pollNow()
{
    if (m_floodPause.isActive())
        return;
    if (m_oneShot)
        askOnce();
    else if (!m_asking)
        askSession();
}

void DaemonStatusPoller::askSession()
{
    if (!m_session) {
        m_session = Host::current().startSession(QStringLiteral("ntpq"), ntpqSessionArguments());
        connect(m_session, &ProcessSession::output, this, &DaemonStatusPoller::sessionOutput);
        connect(m_session, &ProcessSession::ended, this, &DaemonStatusPoller::sessionEnded);
        m_sessionAnswered = false;
    }
    m_asking = true;
    m_output.clear();
    m_limit.start();
    m_session->write(ntpqSessionQuery());
}

void DaemonStatusPoller::sessionOutput(const QByteArray& chunk)
{
    if (!m_asking)
        return;
    m_output += chunk;
    if (m_output.size() > m_outputLimit) {
        flooded();
        return;
    }
    const QList<QByteArray> sections = splitNtpqSections(m_output, 4);
    if (sections.isEmpty())
        return;
    m_asking = false;
    m_sessionAnswered = true;
    m_limit.stop();
    m_snapshot = snapshotFromParts(QString::fromLocal8Bit(sections.at(0)),
                                   QString::fromLocal8Bit(sections.at(1)),
                                   QString::fromLocal8Bit(sections.at(2)));
    m_snapshot.nts = parseNtsInfo(QString::fromLocal8Bit(sections.at(3)));
    emit updated(m_snapshot);
}

void DaemonStatusPoller::flooded()
{
    // An ntpq that never stops printing would keep a core busy: it is ended
    // and none is started until the pause is over.
    dropSession();
    m_output.clear();
    m_floodPause.start();
    report(DaemonSnapshot::State::Flooded);
}

void DaemonStatusPoller::sessionEnded(bool failedToStart)
{
    const bool wasAsking = m_asking;
    dropSession();
    if (wasAsking)
        report(failedToStart ? DaemonSnapshot::State::NtpqMissing
                             : DaemonSnapshot::State::NoAnswer);
}

void DaemonStatusPoller::sessionTimedOut()
{
    // Not even the version came back from a fresh session: this ntpq holds
    // its output back when it does not write to a terminal.
    m_oneShot = !m_sessionAnswered && m_output.isEmpty();
    dropSession();
    report(DaemonSnapshot::State::NoAnswer);
}

void DaemonStatusPoller::dropSession()
{
    m_asking = false;
    m_limit.stop();
    if (m_session) {
        m_session->disconnect(this);
        m_session->deleteLater();
        m_session = nullptr;
    }
}

void DaemonStatusPoller::report(DaemonSnapshot::State state)
{
    m_snapshot = DaemonSnapshot();
    m_snapshot.state = state;
    m_snapshot.taken = QDateTime::currentDateTime();
    emit updated(m_snapshot);
}

void DaemonStatusPoller::askOnce()
{
    if (m_job)
        return;
    ProcessOptions options;
    options.timeoutMs = queryLimitMs;
    options.outputLimit = m_outputLimit;
    m_job = Host::current().start(QStringLiteral("ntpq"), ntpqStatusArguments(), options);
    connect(m_job, &ProcessJob::finished, this, &DaemonStatusPoller::answered);
}

void DaemonStatusPoller::answered(const ProcessResult& result)
{
    m_job = nullptr;
    if (!result.finished && result.error == QProcess::FailedToStart) {
        report(DaemonSnapshot::State::NtpqMissing);
        return;
    }
    // The runner keeps only the output's end: a full buffer was cut.
    if (result.standardOutput.size() >= m_outputLimit) {
        m_floodPause.start();
        report(DaemonSnapshot::State::Flooded);
        return;
    }
    m_snapshot = snapshotFromNtpq(QString::fromLocal8Bit(result.standardOutput));
    emit updated(m_snapshot);
}
