#include "syncstatus.h"

#include <QCoreApplication>
#include <QWidget>

#include "processrunner.h"

namespace
{
const int queryLimitMs = 6000;

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
    case DaemonSnapshot::State::Answered:
        break;
    }
    const PeerRow* peer = snapshot.peers.systemPeer();
    if (!peer)
        return tr("Not synchronised yet");
    const double offset =
        std::isnan(snapshot.system.offset) ? peer->offset : snapshot.system.offset;
    return tr("Synchronised to %1 (stratum %2), offset %3 ms")
        .arg(peer->remote)
        .arg(peer->stratum)
        .arg(std::isnan(offset) ? QStringLiteral("?") : signedMs(offset));
}

QStringList ntpqStatusArguments()
{
    return {QStringLiteral("-n"),    QStringLiteral("-w"), QStringLiteral("-c"),
            QStringLiteral("peers"), QStringLiteral("-c"), QStringLiteral("rv")};
}

DaemonSnapshot snapshotFromNtpq(const QString& output)
{
    DaemonSnapshot snapshot;
    snapshot.taken = QDateTime::currentDateTime();
    // The variables begin with "associd=" on a line of its own.
    int variablesAt = output.indexOf(QLatin1String("\nassocid="));
    if (output.startsWith(QLatin1String("associd=")))
        variablesAt = 0;
    const QString peersPart = variablesAt < 0 ? output : output.left(variablesAt);
    snapshot.peers = parsePeers(peersPart);
    if (variablesAt >= 0)
        snapshot.system = parseSystemVariables(output.mid(variablesAt));
    snapshot.state = snapshot.peers.answered || snapshot.system.answered
                         ? DaemonSnapshot::State::Answered
                         : DaemonSnapshot::State::NoAnswer;
    return snapshot;
}

DaemonStatusPoller::DaemonStatusPoller(QWidget* window, int intervalMs)
    : QObject(window), m_window(window)
{
    connect(&m_timer, &QTimer::timeout, this, &DaemonStatusPoller::tick);
    m_timer.start(intervalMs);
}

DaemonStatusPoller::~DaemonStatusPoller()
{
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
    if (m_job)
        return;
    ProcessOptions options;
    options.timeoutMs = queryLimitMs;
    options.outputLimit = 256 * 1024;
    m_job = ProcessRunner::instance().start(QStringLiteral("ntpq"), ntpqStatusArguments(), options);
    connect(m_job, &ProcessJob::finished, this, &DaemonStatusPoller::answered);
}

void DaemonStatusPoller::answered(const ProcessResult& result)
{
    m_job = nullptr;
    if (!result.finished && result.error == QProcess::FailedToStart) {
        m_snapshot = DaemonSnapshot();
        m_snapshot.state = DaemonSnapshot::State::NtpqMissing;
        m_snapshot.taken = QDateTime::currentDateTime();
    } else {
        m_snapshot = snapshotFromNtpq(QString::fromLocal8Bit(result.standardOutput));
    }
    emit updated(m_snapshot);
}
