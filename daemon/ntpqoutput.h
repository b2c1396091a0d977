#pragma once

#include <QByteArray>
#include <QChar>
#include <QList>
#include <QMap>
#include <QString>
#include <QVector>
#include <cmath>

// What the daemon's query tool prints, turned into records: the peers table
// of "ntpq -pn" and the system variables of "ntpq -c rv". Both the classic
// daemon's ntpq and NTPsec's are understood.

// The daemon's verdict on a peer, from the tally character before its name.
enum class PeerSelection {
    Rejected,    // ' ' discarded: unreachable, too far, ...
    FalseTicker, // 'x'
    Excess,      // '.'
    Outlier,     // '-'
    Candidate,   // '+'
    Backup,      // '#'
    SystemPeer,  // '*'
    PpsPeer,     // 'o'
};

PeerSelection peerSelectionOf(QChar tally);

struct PeerRow {
    QChar tally = QLatin1Char(' ');
    QString remote;
    QString refid;
    int stratum = -1; // -1: not known
    QString type;     // "u", "l", "b", ... as printed
    QString when;     // "12", "3m", "-" as printed
    QString poll;     // "64", "1024" as printed
    int reach = 0;    // the reach register: bit 0 is the latest poll
    double delay = NAN;
    double offset = NAN; // milliseconds
    double jitter = NAN;

    PeerSelection selection() const { return peerSelectionOf(tally); }
    bool isSystemPeer() const
    {
        return selection() == PeerSelection::SystemPeer || selection() == PeerSelection::PpsPeer;
    }
};

struct PeersTable {
    QVector<PeerRow> rows;
    // The daemon answered but has no peers ("No association ID's returned").
    bool noAssociations = false;
    // The text looked like a peers table (a header or the answer above).
    bool answered = false;

    const PeerRow* systemPeer() const;
};

PeersTable parsePeers(const QString& text);

// "when" and "poll" columns in seconds ("12", "3m", "2h", "1d"); -1 for "-".
int ntpqDurationSeconds(const QString& text);

// The reach register as the last eight polls, oldest first: "11111011".
QString reachAsPolls(int reach);

// "key=value" pairs of a variables answer; the status word's words that
// follow it ("status=0615 leap_none, sync_ntp, ...") stay with it and
// quoted values lose their quotes.
QMap<QString, QString> parseVariables(const QString& text);

struct SystemVariables {
    bool answered = false;
    int leap = -1; // 0 none, 1 insert, 2 delete, 3 alarm (not synchronised)
    int stratum = -1;
    QString refid;
    double offset = NAN;    // milliseconds
    double sysJitter = NAN; // milliseconds
    double frequency = NAN; // ppm
    QString version;
    QString status; // the status word and its words: "c016, leap_alarm, ..., restart"

    bool synchronised() const { return answered && leap >= 0 && leap != 3 && stratum < 16; }
};

SystemVariables parseSystemVariables(const QString& text);

// Why ntpq did not give an answer, from its own words.
enum class NtpqFailure {
    None,
    TimedOut,     // "***Request timed out", nothing listening
    Refused,      // "Connection refused", "***Server reports ..."
    Unrecognised, // text that is neither an answer nor a known failure
};

NtpqFailure ntpqFailureOf(const QString& text);

// One status query written to a running ntpq: "version" is a command both
// ntpq programs answer at once and alone on a line, so its line marks where
// the output of each following command ends.
QByteArray ntpqSessionQuery();

// The output of ntpqSessionQuery() split at those lines: the peers table,
// the system variables, the daemon's counters (sysstats) and its NTS
// counters (ntsinfo; the classic ntpq's complaint about an unknown command).
// Empty while the first `count` of them have not all arrived yet.
QList<QByteArray> splitNtpqSections(const QByteArray& output, int count);
// The first two of them; false while they have not arrived yet.
bool splitNtpqSession(const QByteArray& output, QByteArray* peers, QByteArray* variables);

// The reach register as the polls answered of the last eight: "7/8".
QString reachSummary(int reach);

// What NTPsec's "ntpq -c ntsinfo" counts for this daemon as a client.
struct NtsCounters {
    bool answered = false;
    int clientGood = 0; // authenticated answers received
    int keGood = 0;     // key exchanges that succeeded
    int keBad = 0;      // key exchanges that failed
};
NtsCounters parseNtsInfo(const QString& text);
