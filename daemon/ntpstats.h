#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// Lines of the daemon's statistics files, which start with the Modified
// Julian Day and the seconds of that day:
//   loopstats: MJD SECONDS OFFSET(s) FREQUENCY(ppm) JITTER(s) WANDER(ppm) TC
//              (the frequency is checked to be there but not kept)
//   peerstats: MJD SECONDS ADDRESS STATUS OFFSET(s) DELAY(s) DISPERSION(s) JITTER(s)

struct LoopSample {
    double time = 0;   // seconds since the Unix epoch
    double offset = 0; // seconds
    double jitter = 0; // seconds
};

Q_DECLARE_TYPEINFO(LoopSample, Q_PRIMITIVE_TYPE);

struct PeerSample {
    double time = 0;
    QString peer;
    double offset = 0; // seconds
    double delay = 0;
    double jitter = 0;
};

// Seconds since the Unix epoch of a line's first two fields; false when the
// line does not start with a day and seconds.
bool statsLineTime(const char* begin, const char* end, double* time);

bool parseLoopLine(const char* begin, const char* end, LoopSample* sample);
bool parsePeerLine(const char* begin, const char* end, PeerSample* sample);

// The part of a statistics file whose lines are not older than `since`: the
// lines are in time order, so the start is found by halving the file instead
// of reading it from its beginning. Empty when the file cannot be read.
QByteArray statsTailSince(const QString& path, double since);

// The files a filegen writes in `dir` for the file name `base`: "base" and
// its generations "base.20240101" and so on, oldest first, each inode once
// (the current generation is also linked as "base"), leaving out those last
// changed before `since`.
QStringList statsGenerations(const QString& dir, const QString& base, double since);

struct StatsRead {
    QVector<LoopSample> loop;
    QVector<PeerSample> peers;
    int malformedLines = 0;
    int filesRead = 0;
};

// Every loopstats sample of the files of `base` in `dir` from `since` on.
StatsRead readLoopStats(const QString& dir, const QString& base, double since);
StatsRead readPeerStats(const QString& dir, const QString& base, double since);
