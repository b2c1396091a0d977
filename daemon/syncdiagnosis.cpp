#include "daemon/syncdiagnosis.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace
{
// The daemon offsets beyond this are stepped, not slewed.
constexpr double stepThresholdMs = 128.0;
// A source needs several samples in its filter before it can be selected.
constexpr int pollsBeforeSelection = 4;

QString tr(const char* text, int n = -1)
{
    return QCoreApplication::translate("SyncDiagnosis", text, nullptr, n);
}

bool isLocalClock(const PeerRow& row)
{
    return row.type == QLatin1String("l") || row.refid == QLatin1String(".LOCL.") ||
           row.remote.startsWith(QLatin1String("LOCAL("));
}

bool isUsable(const PeerRow& row)
{
    return row.reach != 0 && row.stratum >= 0 && row.stratum < 16;
}

int pollsAnswered(int reach)
{
    int count = 0;
    for (int bit = 0; bit < 8; ++bit)
        count += (reach >> bit) & 1;
    return count;
}

SyncDiagnosis made(SyncReason reason, const QString& text)
{
    SyncDiagnosis diagnosis;
    diagnosis.reason = reason;
    diagnosis.text = text;
    return diagnosis;
}

QString upFor(qint64 uptimeSeconds)
{
    return uptimeSeconds < 0
               ? QString()
               : QLatin1Char(' ') + tr("(up for %1)").arg(durationWords(uptimeSeconds));
}

bool justStarted(const PeersTable& peers, const SystemVariables& system, qint64 uptimeSeconds)
{
    if (uptimeSeconds >= 0) {
        // The sources polled most often have had the most chances.
        int shortestPoll = 1 << 17;
        for (const PeerRow& row : peers.rows) {
            const int poll = ntpqDurationSeconds(row.poll);
            if (poll > 0)
                shortestPoll = std::min(shortestPoll, poll);
        }
        return uptimeSeconds < qint64(pollsBeforeSelection) * shortestPoll;
    }
    // Without the uptime: the last event is still the start, a source has
    // begun to answer and none has answered the few polls a selection
    // needs. Sources that never answered are told as unreachable instead.
    if (!system.status.endsWith(QLatin1String("restart")))
        return false;
    bool answering = false;
    for (const PeerRow& row : peers.rows) {
        if (pollsAnswered(row.reach) >= pollsBeforeSelection)
            return false;
        answering = answering || row.reach != 0;
    }
    return answering;
}

SyncDiagnosis whySelectedNotSynchronised(const PeerRow& peer)
{
    if (!std::isnan(peer.offset) && std::abs(peer.offset) > stepThresholdMs)
        return made(SyncReason::StepRefused,
                    tr("The daemon selected %1, but the clock is %2 ms off and has not been "
                       "stepped: the daemon may lack the right to set the clock (see its log).")
                        .arg(peer.remote)
                        .arg(QString::number(peer.offset, 'f', 0)));
    return made(SyncReason::LeapAlarm,
                tr("The daemon selected %1 but still reports a leap alarm: it has not set the "
                   "clock yet.")
                    .arg(peer.remote));
}
} // namespace

SyncDiagnosis diagnoseSync(const PeersTable& peers, const SystemVariables& system, int minsane,
                           qint64 uptimeSeconds)
{
    if (peers.noAssociations || (peers.answered && peers.rows.isEmpty()))
        return made(SyncReason::NoSources,
                    tr("The daemon has no time sources: the file names no server, pool or "
                       "clock it could use."));
    const PeerRow* selected = peers.systemPeer();
    if (selected && (!system.answered || system.synchronised()))
        return isLocalClock(*selected)
                   ? made(SyncReason::OnlyLocalClock,
                          tr("Only the local clock %1 is used: no time source is reachable, "
                             "the clock runs free.")
                              .arg(selected->remote))
                   : made(SyncReason::Synchronised, QString());
    if (selected)
        return whySelectedNotSynchronised(*selected);
    // After a step every source's samples are void and gathered anew.
    if (system.status.endsWith(QLatin1String("clock_step")))
        return made(SyncReason::ClockStepped,
                    tr("The daemon has just stepped the clock and is collecting samples from "
                       "its sources again."));
    if (justStarted(peers, system, uptimeSeconds))
        return made(SyncReason::JustStarted,
                    tr("The daemon has just started%1 and is still collecting samples from its "
                       "sources.")
                        .arg(upFor(uptimeSeconds)));
    int reachable = 0;
    int usable = 0;
    int usableRemote = 0;
    for (const PeerRow& row : peers.rows) {
        reachable += row.reach != 0 ? 1 : 0;
        usable += isUsable(row) ? 1 : 0;
        usableRemote += isUsable(row) && !isLocalClock(row) ? 1 : 0;
    }
    if (reachable == 0)
        return made(SyncReason::NoneReachable,
                    tr("No time source is reachable: none of the %n sources answered the last "
                       "eight polls%1.",
                       peers.rows.size())
                        .arg(upFor(uptimeSeconds)));
    if (usable == 0)
        return made(SyncReason::SourcesUnsynced,
                    tr("The sources answer but are not synchronised themselves (stratum 16)."));
    if (usable < minsane)
        return made(SyncReason::TooFewCandidates,
                    tr("%n usable source(s), but \"tos minsane %1\" needs %1: the daemon "
                       "selects none.",
                       usable)
                        .arg(minsane));
    if (usableRemote == 0)
        return made(SyncReason::OnlyLocalClock,
                    tr("Only the local clock answers: no time source is reachable."));
    return made(SyncReason::LeapAlarm,
                tr("The daemon reports that it is not synchronised (leap alarm); its sources "
                   "do not agree well enough to select one yet."));
}

int minsaneOf(const QByteArray& configuration)
{
    static const QRegularExpression tos(QStringLiteral("^\\s*tos\\b[^#\\n]*\\bminsane\\s+(\\d+)"),
                                        QRegularExpression::MultilineOption);
    int minsane = 1;
    auto it = tos.globalMatch(QString::fromUtf8(configuration));
    while (it.hasNext())
        minsane = it.next().captured(1).toInt();
    return minsane;
}

qint64 uptimeOf(const QString& sysstats)
{
    static const QRegularExpression uptime(
        QStringLiteral("^uptime:\\s+(?:(\\d+)\\s+days?,?\\s+)?(\\d+):(\\d\\d):(\\d\\d)"),
        QRegularExpression::MultilineOption);
    static const QRegularExpression seconds(QStringLiteral("^uptime:\\s+(\\d+)\\s*$"),
                                            QRegularExpression::MultilineOption);
    const QRegularExpressionMatch clock = uptime.match(sysstats);
    if (clock.hasMatch())
        return ((clock.captured(1).toLongLong() * 24 + clock.captured(2).toLongLong()) * 60 +
                clock.captured(3).toLongLong()) *
                   60 +
               clock.captured(4).toLongLong();
    const QRegularExpressionMatch plain = seconds.match(sysstats);
    return plain.hasMatch() ? plain.captured(1).toLongLong() : -1;
}

QString durationWords(qint64 seconds)
{
    if (seconds < 120)
        return tr("%1 s").arg(seconds);
    if (seconds < 7200)
        return tr("%1 min").arg(seconds / 60);
    if (seconds < 2 * 86400)
        return tr("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
    return tr("%1 days").arg(seconds / 86400);
}
