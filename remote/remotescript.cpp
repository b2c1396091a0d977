#include "remote/remotescript.h"

#include <QFile>
#include <QHash>

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

QByteArray RemoteScript::program(const QByteArray& nonce, Library library,
                                 const QByteArray& calls)
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
