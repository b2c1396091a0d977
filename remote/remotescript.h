#pragma once

#include "host/host.h"

#include <QByteArray>
#include <QVector>

// The POSIX sh programs an SshHost sends as its remote commands, and the
// records they answer with. Nothing is installed on the server: each
// program is the shared functions (scripts/common.sh), the functions of
// its kind and the calls, and it needs only sh and coreutils there.
namespace RemoteScript
{
enum class Library { Query, Replace, Files, Processes, Command };

// `text` as one word for sh: in single quotes, each ' written as '\''.
QByteArray quoted(const QByteArray& text);
// A path or argument in the encoding file names have (QFile::encodeName).
QByteArray quoted(const QString& text);

// The whole program: `nonce` frames its records between "@@ NONCE" and
// ".. NONCE", so that whatever the login's shell prints before does not
// count, and a program cut off half-way is told from a finished one.
QByteArray program(const QByteArray& nonce, Library library, const QByteArray& calls);

// The calls of one query() batch.
QByteArray queryCalls(const QVector<HostRequest>& requests);

// One record: a tag character and the rest of its line.
struct Record {
    char tag = 0;
    QByteArray value;
};
// The records of each "@ INDEX" answer; a repeated index starts over.
struct Records {
    bool complete = false; // the end of the program's records was there
    QVector<QVector<Record>> answers;
};
Records parse(const QByteArray& output, const QByteArray& nonce, int answerCount);

// The errno value of a program's error record: a name the program chose
// ("ELOOP") or the system's text a tool printed (in the C locale); EIO for
// a text not known.
int errorFrom(const QByteArray& text);
// The fields of the program's status format ("%f %u %g %d %i %s %Y %y").
bool statusFrom(const QByteArray& fields, FileStatus* status);
// The first record with `tag`, or nullptr.
const Record* find(const QVector<Record>& answer, char tag);

// A query() answer as the local host gives it.
HostReply replyFrom(const HostRequest& request, const QVector<Record>& answer);

// ---- processes(), from the records of list_processes

struct CommandLine {
    QByteArray pid;
    QByteArray bytes; // /proc/PID/cmdline
};
// The command lines in `head -v` output ("==> PID/cmdline <==" before
// each). A command line may hold such a header itself: the cut is trusted
// only when no process appears twice, so that no process can pass its own
// bytes off as another's; false otherwise.
bool cutCommandLines(const QByteArray& heads, QVector<CommandLine>* lines);
QVector<HostProcess> processesFrom(const QVector<Record>& answer,
                                   const QVector<CommandLine>& commandLines);
} // namespace RemoteScript
