#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include "config/configcheck.h"

struct ConfigLine;

// What the installed NTP daemon said about the bytes of a configuration file
// when it was started on them (see DaemonJudge): its complaints as findings
// of the file's lines. Qt Core only, without processes, so that real daemon
// output can be replayed in tests.
struct DaemonVerdict {
    // The daemon read the file and its messages were understood. False: it
    // could not be asked, and `failure` says why.
    bool asked = false;
    QString failure;
    // The daemon read the file to its end: it was still running when it was
    // stopped, and no rejected line was left unlocated.
    bool complete = false;
    // More output came than is read; the findings cover only its start.
    bool outputCut = false;
    QString daemonVersion; // as it announced itself: "ntpsec-1.2.2", "4.2.8p15"
    QVector<CheckFinding> findings;
};

// The entries of a private /etc/hosts under which the daemon resolves every
// host name of the server, pool, peer and restrict lines to a documentation
// address (192.0.2.x and 2001:db8::x), so that "restrict HOSTNAME" is judged
// as on a machine with working DNS, without asking a name server. At most
// `limit` names; names with other characters than letters, digits, ".", "-"
// and "_" are left out.
QString judgeHostsEntries(const QVector<ConfigLine>& lines, int limit = 500);

// Reads what the judging command printed (DaemonJudge's script: marker lines
// "ntpsm-judge: ..." around the daemon's own log lines, one run of the
// daemon per round) into the daemon's findings about `lines`. The path the
// daemon was given is replaced by `shownPath` in the texts.
DaemonVerdict verdictOfJudgeOutput(const QByteArray& output, const QVector<ConfigLine>& lines,
                                   const QString& shownPath);

// The topic of the finding of the file as a whole that mergeFindings() adds
// when the daemon could not be asked.
inline constexpr char notAskedTopic[] = "not asked";

// The rules' findings and the daemon's, one finding per line and topic:
// where both say the same the daemon's text wins for errors and the rules'
// (which explain more) for warnings; rule errors on lines the daemon read
// without complaint are dropped when it read the whole file. A daemon that
// could not be asked adds one finding of the file as a whole and leaves the
// rules to decide. Sorted by line, errors first.
QVector<CheckFinding> mergeFindings(const QVector<CheckFinding>& rules,
                                    const DaemonVerdict& verdict);
