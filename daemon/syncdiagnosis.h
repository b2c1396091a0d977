#pragma once

#include <QByteArray>
#include <QString>

#include "daemon/ntpqoutput.h"

// Why the daemon has (not) selected a source, in words, from what ntpq
// reports and the configuration's `tos minsane`.
enum class SyncReason {
    Synchronised,
    NoSources,        // the daemon has no associations at all
    JustStarted,      // too few polls since the start to select anything
    ClockStepped,     // the clock was just stepped; the samples are gathered anew
    NoneReachable,    // no source has answered in the last eight polls
    SourcesUnsynced,  // the sources answer but are not synchronised themselves
    TooFewCandidates, // fewer usable sources than `tos minsane`
    OnlyLocalClock,   // the undisciplined local clock is the only source used
    StepRefused,      // selected a source but may not set the clock
    LeapAlarm,        // not synchronised for a reason the answers do not show
};

struct SyncDiagnosis {
    SyncReason reason = SyncReason::LeapAlarm;
    QString text;
    // Whether the clock follows a real time source.
    bool synchronised() const { return reason == SyncReason::Synchronised; }
};

// `uptimeSeconds` is how long the daemon has run (ntpq's sysstats); -1 when
// not known.
SyncDiagnosis diagnoseSync(const PeersTable& peers, const SystemVariables& system, int minsane,
                           qint64 uptimeSeconds = -1);

// The `tos minsane` value a configuration sets; the daemon's default of 1
// where it sets none.
int minsaneOf(const QByteArray& configuration);

// "uptime: 01:02:03" or "uptime: 3 days, 01:02:03" of ntpq's sysstats, in
// seconds; -1 when the text has none.
qint64 uptimeOf(const QString& sysstats);

// "4 s", "3 min", "2 h 5 min", "3 days".
QString durationWords(qint64 seconds);
