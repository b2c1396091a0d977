#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>

#include "config/ntpsettings.h"

// The rules of reference clocks that need no window: their addresses, the
// names NTPsec gives their drivers, how a record's server, fudge and refclock
// lines make up one clock each, how edited clocks go back into a record, and
// the "calibrate" flag.

// A clock's driver number and unit: the t and u of its pseudo-address
// 127.127.t.u.
struct ClockId {
    int driver = 0;
    int unit = 0;
    bool operator==(const ClockId& o) const { return driver == o.driver && unit == o.unit; }
};
uint qHash(const ClockId& id, uint seed = 0);

bool isClockAddress(const QString& address);
// 127.127.t.u: false unless the part after "127.127." is exactly two fields
// (numbers that do not parse count as 0).
bool parseClockAddress(const QString& address, ClockId* id);
QString clockAddress(const ClockId& id);

// NTPsec's "refclock" directive names a driver by a short name, in any case.
// The number is 0 for a name NTPsec does not document, the name empty for a
// driver NTPsec does not have.
int refclockDriverNumber(const QString& name);
QString refclockDriverName(int driver);

bool calibrateEnabled(const QStringList& enables);
// Adds "calibrate" once or removes every one; other flags stay as they are.
void setCalibrate(QStringList& enables, bool enabled);

enum class ClockSyntax {
    Classic,  // server 127.127.t.u with fudge lines
    Refclock, // refclock NAME unit u ...
};

// What the Hardware clock page shows of one clock.
struct ClockSettings {
    ClockId id;
    int mode = 0;
    bool prefer = false;
    int minPoll = 0;
    int maxPoll = 10;
    // Whether stratum, time1, time2, refid and the flags are known: a classic
    // clock has them only with a fudge line.
    bool hasDriverOptions = false;
    int stratum = -1;
    QString time1;
    QString time2;
    QString refid;
    std::array<bool, 4> flags{};

    // Driver options count only where they are known.
    bool operator==(const ClockSettings& o) const;
    bool operator!=(const ClockSettings& o) const { return !(*this == o); }
};

// One clock of a record, with the lines it was read from.
struct LoadedClock {
    ClockSettings settings;
    ClockSyntax syntax = ClockSyntax::Classic;
    ServerEntry server; // Classic
    bool hasFudge = false;
    FudgeEntry fudge;       // Classic: the first fudge line of the address
    RefclockEntry refclock; // Refclock
};
Q_DECLARE_METATYPE(LoadedClock)

// The clocks of a record: every server line with a 127.127.t.u address and
// every refclock line of a driver NTPsec documents, one clock per driver and
// unit (the first line counts; server lines before refclock lines), each
// with the first fudge line of its address. Only the first preferred clock is
// shown preferred.
QList<LoadedClock> loadReferenceClocks(const NtpSettings& record);

// One clock as it goes back into the record.
struct ClockToSave {
    ClockSettings settings;
    bool loaded = false; // else added
    LoadedClock origin;  // what a loaded clock was read from
    // Changed in the dialog: lines that repeat the clock (a second server
    // line, later fudge lines) go with its old state.
    bool edited = false;
    // The driver is in the page's catalogue: a classic clock of it is always
    // written in full (minpoll, maxpoll, mode, and a fudge line with every
    // flag), as the page has always written them.
    bool catalogued = true;
};

// Replaces the record's reference clocks by `clocks`, in their order. A
// clock keeps the syntax of its line; an added one gets the syntax of the
// installed daemon (`ntpsec`: refclock, where NTPsec has the driver). An
// unchanged clock that is not written in full keeps its lines as they are;
// lines the clocks cannot hold (malformed addresses, unknown refclock names,
// fudge lines without a clock) stay where they are.
void storeReferenceClocks(NtpSettings& record, const QVector<ClockToSave>& clocks, bool ntpsec);
