#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include "daemon/daemonsetup.h"

struct ConfigLine;

// What the check of a configuration found on one line.
struct CheckFinding {
    enum Severity {
        Error,   // the installed daemon rejects the line
        Warning, // accepted, but ignored or unlikely to work as meant
        Hint,    // works, but the daemon documents another way
    };
    int line = 0; // 1-based; 0 for the file as a whole
    Severity severity = Warning;
    QString text;
    // What the finding is about when the daemon may say it too ("rejected",
    // "ignored-flag notrap", ...): the merge keeps one finding per line and
    // topic. Empty: the text alone tells.
    QString topic;

    bool operator==(const CheckFinding& o) const
    {
        return line == o.line && severity == o.severity && text == o.text;
    }
};

// Checks the lines of a configuration file for the daemon `daemon`: the
// directives and options it rejects or ignores, and settings that cannot
// work together. Files named in the configuration (the keys file, the
// folders of the drift file, ...) are looked up on this machine, below
// `root` when one is given.
QVector<CheckFinding> checkConfiguration(const QVector<ConfigLine>& lines,
                                         const DaemonSetup& daemon = currentDaemon(),
                                         const QString& root = QString());
QVector<CheckFinding> checkConfiguration(const QByteArray& text,
                                         const DaemonSetup& daemon = currentDaemon(),
                                         const QString& root = QString());

bool hasErrors(const QVector<CheckFinding>& findings);
QString severityName(CheckFinding::Severity severity);
// "line 12: error: text", one finding per line.
QString findingsText(const QVector<CheckFinding>& findings);

// Whether the daemon `daemon` authenticates the servers of a pool line with
// "nts": NTPsec from 1.2.5 on (older ones accept the word without using it).
// A version that is not known is taken for a current one.
bool authenticatesPoolsWithNts(const DaemonSetup& daemon);
