#include "remote/remotescript.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <locale.h>

// The texts of scripts/*.sh, embedded by the build.
namespace RemoteScriptText
{
extern const char common[];
extern const char query[];
extern const char replace[];
extern const char files[];
extern const char processes[];
extern const char command[];
} // namespace RemoteScriptText

namespace
{
// More entries than this in one folder are not listed (E2BIG), as on the
// local host.
constexpr int maxFolderEntries = 100000;
// cmdline files are read up to this size; a longer one is left out, as on
// the local host.
constexpr int cmdlineLimit = 64 * 1024;

const char* libraryText(RemoteScript::Library library)
{
    switch (library) {
    case RemoteScript::Library::Query:
        return RemoteScriptText::query;
    case RemoteScript::Library::Replace:
        return RemoteScriptText::replace;
    case RemoteScript::Library::Files:
        return RemoteScriptText::files;
    case RemoteScript::Library::Processes:
        return RemoteScriptText::processes;
    case RemoteScript::Library::Command:
        return RemoteScriptText::command;
    }
    return "";
}

const char* kindName(HostRequest::Kind kind)
{
    switch (kind) {
    case HostRequest::Status:
        return "status";
    case HostRequest::StatusFollowing:
        return "status-following";
    case HostRequest::ReadLink:
        return "link";
    case HostRequest::ReadFile:
        return "read";
    case HostRequest::ReadTail:
        return "tail";
    case HostRequest::ListFolder:
        return "list";
    case HostRequest::Digest:
        return "digest";
    }
    return "status";
}

// The names the programs use for the errors they decide themselves, and
// every text the C library has for an errno value (the tools print those).
QHash<QByteArray, int> errorTable()
{
    QHash<QByteArray, int> table;
#define NTPSM_ERRNO(name) table.insert(QByteArrayLiteral(#name), name);
    NTPSM_ERRNO(EPERM)
    NTPSM_ERRNO(ENOENT)
    NTPSM_ERRNO(EIO)
    NTPSM_ERRNO(E2BIG)
    NTPSM_ERRNO(EAGAIN)
    NTPSM_ERRNO(EACCES)
    NTPSM_ERRNO(EEXIST)
    NTPSM_ERRNO(ENOTDIR)
    NTPSM_ERRNO(EISDIR)
    NTPSM_ERRNO(EINVAL)
    NTPSM_ERRNO(EFBIG)
    NTPSM_ERRNO(ENOSPC)
    NTPSM_ERRNO(ELOOP)
    NTPSM_ERRNO(ESTALE)
#undef NTPSM_ERRNO
    const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    for (int error = 1; error < 256; ++error) {
        const QByteArray text(c ? ::strerror_l(error, c) : ::strerror(error));
        if (!text.startsWith("Unknown error") && !table.contains(text))
            table.insert(text, error);
    }
    if (c)
        ::freelocale(c);
    return table;
}

// The "NAME\0NAME -> TARGET\0" pairs of stat %N: where each link leads.
QHash<QByteArray, QString> linkTargets(const QByteArray& records)
{
    QHash<QByteArray, QString> targets;
    const QList<QByteArray> parts = records.split('\0');
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QByteArray& name = parts.at(i);
        const QByteArray arrow = name + " -> ";
        if (parts.at(i + 1).startsWith(arrow))
            targets.insert(name.left(name.indexOf('/')),
                           QFile::decodeName(parts.at(i + 1).mid(arrow.size())));
    }
    return targets;
}

qint64 number(const QByteArray& text, bool* ok)
{
    return text.toLongLong(ok);
}

// The entries of a listing: NUL-ended "STATUS NAME" records.
int entriesFrom(const QByteArray& bytes, QVector<FolderEntry>* entries)
{
    for (const QByteArray& record : bytes.split('\0')) {
        if (record.isEmpty())
            continue;
        // The status has ten fields; the name is the rest, spaces and all.
        int at = -1;
        for (int field = 0; field < 10 && (at = record.indexOf(' ', at + 1)) >= 0;)
            ++field;
        if (at < 0)
            return EIO;
        FolderEntry entry;
        entry.name = QFile::decodeName(record.mid(at + 1));
        if (!RemoteScript::statusFrom(record.left(at), &entry.status))
            return EIO;
        if (entries->size() >= maxFolderEntries)
            return E2BIG;
        entries->append(entry);
    }
    std::sort(entries->begin(), entries->end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return 0;
}
} // namespace

QByteArray RemoteScript::quoted(const QByteArray& text)
{
    QByteArray word = "'";
    for (const char c : text) {
        if (c == '\'')
            word += "'\\''";
        else
            word += c;
    }
    return word + '\'';
}

QByteArray RemoteScript::quoted(const QString& text)
{
    return quoted(QFile::encodeName(text));
}

QByteArray RemoteScript::program(const QByteArray& nonce, Library library, const QByteArray& calls)
{
    QByteArray text = "n=" + quoted(nonce) + '\n';
    text += RemoteScriptText::common;
    text += libraryText(library);
    text += "echo \"@@ $n\"\n";
    text += calls;
    text += "echo \".. $n\"\n";
    return text;
}

QByteArray RemoteScript::queryCalls(const QVector<HostRequest>& requests)
{
    QByteArray calls;
    for (int i = 0; i < requests.size(); ++i) {
        const HostRequest& request = requests.at(i);
        calls += "answer " + QByteArray::number(i) + ' ' + kindName(request.kind) + ' ' +
                 quoted(request.path) + ' ' + QByteArray::number(request.limit) + ' ' +
                 (request.followLink ? '1' : '0') + '\n';
    }
    return calls;
}

RemoteScript::Records RemoteScript::parse(const QByteArray& output, const QByteArray& nonce,
                                          int answerCount)
{
    Records records;
    records.answers.resize(answerCount);
    const QByteArray start = "@@ " + nonce + '\n';
    const QByteArray end = ".. " + nonce;
    int at = output.indexOf(start);
    if (at < 0)
        return records;
    at += start.size();
    int current = -1;
    while (at < output.size()) {
        int next = output.indexOf('\n', at);
        if (next < 0)
            next = output.size();
        const QByteArray line = output.mid(at, next - at);
        at = next + 1;
        if (line == end) {
            records.complete = true;
            break;
        }
        if (line.startsWith("@ ")) {
            bool ok = false;
            current = line.mid(2).toInt(&ok);
            if (!ok || current < 0 || current >= answerCount)
                current = -1;
            else
                records.answers[current].clear();
        } else if (current >= 0 && !line.isEmpty()) {
            records.answers[current].append({line.at(0), line.mid(2)});
        }
    }
    return records;
}

int RemoteScript::errorFrom(const QByteArray& text)
{
    static const QHash<QByteArray, int> table = errorTable();
    return table.value(text.trimmed(), EIO);
}

bool RemoteScript::statusFrom(const QByteArray& fields, FileStatus* status)
{
    const QList<QByteArray> parts = fields.split(' ');
    if (parts.size() < 10)
        return false;
    bool ok[7] = {};
    const uint raw = parts.at(0).toUInt(&ok[0], 16);
    status->uid = parts.at(1).toUInt(&ok[1]);
    status->gid = parts.at(2).toUInt(&ok[2]);
    status->device = parts.at(3).toULongLong(&ok[3]);
    status->inode = parts.at(4).toULongLong(&ok[4]);
    status->size = number(parts.at(5), &ok[5]);
    const qint64 seconds = number(parts.at(6), &ok[6]);
    if (std::find(std::begin(ok), std::end(ok), false) != std::end(ok))
        return false;
    // "%y" gives the nanoseconds: "HH:MM:SS.NNNNNNNNN".
    const QByteArray clock = parts.at(8);
    const int dot = clock.indexOf('.');
    const qint64 milliseconds = dot < 0 ? 0 : (clock.mid(dot + 1) + "000").left(3).toLongLong();
    status->modified = QDateTime::fromMSecsSinceEpoch(seconds * 1000 + milliseconds);
    status->mode = raw & 07777;
    switch (raw & 0170000) {
    case 0100000:
        status->type = FileStatus::Regular;
        break;
    case 0040000:
        status->type = FileStatus::Directory;
        break;
    case 0120000:
        status->type = FileStatus::Symlink;
        break;
    case 0010000:
        status->type = FileStatus::Fifo;
        break;
    default:
        status->type = FileStatus::Other;
    }
    status->error = 0;
    return true;
}

const RemoteScript::Record* RemoteScript::find(const QVector<Record>& answer, char tag)
{
    for (const Record& record : answer) {
        if (record.tag == tag)
            return &record;
    }
    return nullptr;
}

HostReply RemoteScript::replyFrom(const HostRequest& request, const QVector<Record>& answer)
{
    HostReply reply;
    if (answer.isEmpty()) {
        reply.error = EIO;
        return reply;
    }
    qint64 copied = 0;
    for (const Record& record : answer) {
        switch (record.tag) {
        case 's':
            if (!statusFrom(record.value, &reply.status))
                reply.error = EIO;
            break;
        case 'e':
            if (reply.error == 0)
                reply.error = errorFrom(record.value);
            break;
        case 'b':
            reply.bytes = QByteArray::fromBase64(record.value);
            break;
        case 'd':
            reply.digest = QByteArray::fromHex(record.value.left(64));
            break;
        case 'n':
            copied = record.value.toLongLong();
            break;
        case 'l':
            reply.linkTarget = QFile::decodeName(QByteArray::fromBase64(record.value));
            break;
        }
    }
    switch (request.kind) {
    case HostRequest::Status:
    case HostRequest::StatusFollowing:
        if (reply.error != 0)
            reply.status = FileStatus();
        reply.status.error = reply.error;
        break;
    case HostRequest::ReadFile:
    case HostRequest::Digest:
        // A file that grew past the limit while it was read.
        if (reply.error == 0 && qMax<qint64>(copied, reply.bytes.size()) > request.limit)
            reply.error = EFBIG;
        break;
    case HostRequest::ListFolder:
        if (reply.error == 0)
            reply.error = entriesFrom(reply.bytes, &reply.entries);
        if (reply.error != 0)
            reply.entries.clear();
        reply.bytes.clear();
        break;
    case HostRequest::ReadLink:
    case HostRequest::ReadTail:
        break;
    }
    if (reply.error != 0) {
        reply.bytes.clear();
        reply.digest.clear();
    }
    return reply;
}

bool RemoteScript::cutCommandLines(const QByteArray& heads, QVector<CommandLine>* lines)
{
    static const QByteArray opening = "==> ";
    static const QByteArray closing = "/cmdline <==\n";
    QSet<QByteArray> seen;
    int contentStart = -1;
    for (int at = 0; at < heads.size();) {
        // A header opens the output or follows the newline head puts
        // between two files.
        const bool header =
            (at == 0 || heads.at(at - 1) == '\n') && heads.mid(at, opening.size()) == opening;
        const int end = header ? heads.indexOf(closing, at + opening.size()) : -1;
        const QByteArray pid = end < 0 ? QByteArray() : heads.mid(at + 4, end - at - 4);
        bool numeric = false;
        pid.toLongLong(&numeric);
        if (!numeric || pid.startsWith('+') || pid.startsWith('-')) {
            const int next = heads.indexOf("\n==> ", at);
            at = next < 0 ? heads.size() : next + 1;
            continue;
        }
        if (seen.contains(pid))
            return false;
        seen.insert(pid);
        if (!lines->isEmpty())
            lines->last().bytes = heads.mid(contentStart, at - 1 - contentStart);
        contentStart = end + closing.size();
        lines->append({pid, QByteArray()});
        at = contentStart;
    }
    if (!lines->isEmpty())
        lines->last().bytes = heads.mid(contentStart);
    return true;
}

QVector<HostProcess> RemoteScript::processesFrom(const QVector<Record>& answer,
                                                 const QVector<CommandLine>& commandLines)
{
    QHash<QByteArray, uint> uids;
    QHash<QByteArray, QString> exes, cwds, nets;
    QString ourNet;
    for (const Record& record : answer) {
        if (record.tag == 'N') {
            ourNet = QFile::decodeName(record.value);
        } else if (record.tag == 'u') {
            const QList<QByteArray> fields = record.value.split(' ');
            bool ok = false;
            const uint uid = fields.value(1).toUInt(&ok);
            uids.insert(fields.value(0), ok ? uid : HostProcess::unknownUid);
        } else if (record.tag == 'x') {
            exes = linkTargets(QByteArray::fromBase64(record.value));
        } else if (record.tag == 'c') {
            cwds = linkTargets(QByteArray::fromBase64(record.value));
        } else if (record.tag == 't') {
            nets = linkTargets(QByteArray::fromBase64(record.value));
        }
    }
    QVector<HostProcess> found;
    for (const CommandLine& line : commandLines) {
        bool numeric = false;
        const qint64 pid = line.pid.toLongLong(&numeric);
        QByteArray cmdline = line.bytes;
        // A kernel thread, one gone already (no user id read), or one longer
        // than the limit.
        if (!numeric || pid <= 0 || cmdline.isEmpty() || cmdline.size() > cmdlineLimit ||
            !uids.contains(line.pid))
            continue;
        if (cmdline.endsWith('\0'))
            cmdline.chop(1);
        HostProcess process;
        process.pid = pid;
        for (const QByteArray& word : cmdline.split('\0'))
            process.commandLine << QFile::decodeName(word);
        process.uid = uids.value(line.pid, HostProcess::unknownUid);
        process.executable = exes.value(line.pid);
        process.workingDirectory = cwds.value(line.pid);
        const QString theirNet = nets.value(line.pid);
        process.inOurNetwork = ourNet.isEmpty() || theirNet.isEmpty() || ourNet == theirNet;
        found.append(process);
    }
    return found;
}
