#include "host/host.h"

#include "host/processrunner.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// More entries than this in one folder are not listed (E2BIG): no folder the
// program looks at holds that many, and a listing must stay bounded.
constexpr int maxFolderEntries = 100000;
// /proc/PID/cmdline and /proc/PID/status are read up to this size.
constexpr qint64 procFileLimit = 64 * 1024;
// The file replaceFile() replaces is read whole (for the guard and the copy)
// up to this size; callers refuse far smaller configuration files.
constexpr qint64 replacedFileLimit = 256 * 1024 * 1024;
// A write killed half-way leaves its temporary file; the next write removes
// those older than this (a younger one may belong to a write under way).
constexpr int staleTempAgeSeconds = 60;

// Closes a descriptor when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now; returns 0 or the errno value of close().
    int reset(int fd = -1)
    {
        int result = 0;
        if (m_fd >= 0 && ::close(m_fd) != 0)
            result = errno;
        m_fd = fd;
        return result;
    }

private:
    int m_fd;
};

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

FileStatus::Type typeOf(mode_t mode)
{
    if (S_ISREG(mode))
        return FileStatus::Regular;
    if (S_ISDIR(mode))
        return FileStatus::Directory;
    if (S_ISLNK(mode))
        return FileStatus::Symlink;
    if (S_ISFIFO(mode))
        return FileStatus::Fifo;
    return FileStatus::Other;
}

FileStatus statusFrom(const struct stat& st)
{
    FileStatus status;
    status.error = 0;
    status.type = typeOf(st.st_mode);
    status.uid = st.st_uid;
    status.gid = st.st_gid;
    status.mode = st.st_mode & 07777;
    status.device = quint64(st.st_dev);
    status.inode = quint64(st.st_ino);
    status.size = qint64(st.st_size);
    status.modified = QDateTime::fromMSecsSinceEpoch(qint64(st.st_mtim.tv_sec) * 1000 +
                                                     st.st_mtim.tv_nsec / 1000000);
    return status;
}

FileStatus statusOf(const QString& path, bool follow)
{
    struct stat st;
    const QByteArray name = encoded(path);
    if ((follow ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) != 0) {
        FileStatus missing;
        missing.error = errno;
        return missing;
    }
    return statusFrom(st);
}

int readLinkAt(const QString& path, QString* target)
{
    QByteArray buffer(4096, '\0');
    for (;;) {
        const ssize_t n =
            ::readlink(encoded(path).constData(), buffer.data(), size_t(buffer.size()));
        if (n < 0)
            return errno;
        if (n < buffer.size()) {
            *target = QFile::decodeName(buffer.left(int(n)));
            return 0;
        }
        if (buffer.size() >= 1 << 20)
            return ENAMETOOLONG;
        buffer.resize(buffer.size() * 4);
    }
}

// Opens a regular file for reading without ever blocking on a FIFO or a
// device; the descriptor is blocking again afterwards.
int openRegular(const QString& path, bool followLink, Descriptor* fd, struct stat* st)
{
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    fd->reset(::open(encoded(path).constData(), flags));
    if (!fd->valid())
        return errno;
    if (::fstat(fd->get(), st) != 0)
        return errno;
    if (S_ISDIR(st->st_mode))
        return EISDIR;
    if (!S_ISREG(st->st_mode))
        return EINVAL;
    const int now = ::fcntl(fd->get(), F_GETFL);
    if (now >= 0)
        ::fcntl(fd->get(), F_SETFL, now & ~O_NONBLOCK);
    return 0;
}

// Reads to the end, but never more than `limit` bytes: EFBIG when there is
// more (a file that grows while it is read is caught as well). `expected`
// (what fstat() said is left) saves growing the buffer step by step.
int readBounded(int fd, qint64 limit, QByteArray* bytes, qint64 expected = 0)
{
    bytes->clear();
    bytes->reserve(int(qBound<qint64>(0, expected, limit)));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (bytes->size() + qint64(n) > limit)
            return EFBIG;
        bytes->append(buffer, int(n));
    }
}

HostReply readWhole(const HostRequest& request)
{
    HostReply reply;
    Descriptor fd;
    struct stat st;
    reply.error =
        request.limit > 0 ? openRegular(request.path, request.followLink, &fd, &st) : EINVAL;
    if (reply.error != 0)
        return reply;
    reply.status = statusFrom(st);
    // A file larger than the limit (a sparse one too) is refused unread.
    reply.error = qint64(st.st_size) > request.limit
                      ? EFBIG
                      : readBounded(fd.get(), request.limit, &reply.bytes, qint64(st.st_size));
    if (reply.error != 0)
        reply.bytes.clear();
    return reply;
}

HostReply readTailOf(const HostRequest& request)
{
    HostReply reply;
    Descriptor fd;
    struct stat st;
    reply.error =
        request.limit > 0 ? openRegular(request.path, request.followLink, &fd, &st) : EINVAL;
    if (reply.error != 0)
        return reply;
    reply.status = statusFrom(st);
    const qint64 start = qMax<qint64>(0, qint64(st.st_size) - request.limit);
    if (start > 0 && ::lseek(fd.get(), off_t(start), SEEK_SET) < 0) {
        reply.error = errno;
        return reply;
    }
    // The file may have grown since: the tail read is still cut to the limit.
    reply.error = readBounded(fd.get(), request.limit, &reply.bytes, qint64(st.st_size) - start);
    if (reply.error == EFBIG)
        reply.error = 0;
    return reply;
}

HostReply digestOf(const HostRequest& request)
{
    HostReply whole = readWhole(request);
    if (whole.error == 0)
        whole.digest = QCryptographicHash::hash(whole.bytes, QCryptographicHash::Sha256);
    whole.bytes.clear();
    return whole;
}

int listEntries(const QString& path, QVector<FolderEntry>* entries)
{
    const int fd =
        ::open(encoded(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    int error = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        if (entries->size() >= maxFolderEntries) {
            error = E2BIG;
            break;
        }
        struct stat st;
        FolderEntry listed;
        listed.name = QFile::decodeName(name);
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            listed.status = statusFrom(st);
        else
            listed.status.error = errno;
        entries->append(listed);
    }
    ::closedir(dir);
    std::sort(entries->begin(), entries->end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    if (error != 0)
        entries->clear();
    return error;
}

HostReply answer(const HostRequest& request)
{
    HostReply reply;
    switch (request.kind) {
    case HostRequest::Status:
    case HostRequest::StatusFollowing:
        reply.status = statusOf(request.path, request.kind == HostRequest::StatusFollowing);
        reply.error = reply.status.error;
        return reply;
    case HostRequest::ReadLink:
        reply.error = readLinkAt(request.path, &reply.linkTarget);
        return reply;
    case HostRequest::ReadFile:
        return readWhole(request);
    case HostRequest::ReadTail:
        return readTailOf(request);
    case HostRequest::ListFolder:
        reply.error = listEntries(request.path, &reply.entries);
        return reply;
    case HostRequest::Digest:
        return digestOf(request);
    }
    reply.error = EINVAL;
    return reply;
}

// ---- Writing

int writeAllTo(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        left -= n;
    }
    return 0;
}

void syncFolder(const QString& folder)
{
    // The rename is done; a folder that cannot be synced (some file systems
    // refuse) does not make the new content any less written.
    Descriptor fd(::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

int giveTo(int fd, uint mode, uint uid, uint gid)
{
    if (::fchmod(fd, mode_t(mode)) != 0)
        return errno;
    if (::fchown(fd, uid_t(uid), gid_t(gid)) != 0) {
        // Only root may give a file away; anyone else keeps their own file.
        if (!(errno == EPERM && ::geteuid() != 0))
            return errno;
    }
    return 0;
}

struct Written {
    QByteArray tempName;
    int error = 0;
};

// A new temporary file `prefix`XXXXXX with `bytes`, synced, with the mode and
// owner given; removed again on failure.
Written writeTemporary(const QString& prefix, const QByteArray& bytes, uint mode, uint uid,
                       uint gid)
{
    Written written;
    written.tempName = encoded(prefix + QStringLiteral("XXXXXX"));
    Descriptor fd(::mkostemp(written.tempName.data(), O_CLOEXEC));
    if (!fd.valid()) {
        written.error = errno;
        return written;
    }
    written.error = writeAllTo(fd.get(), bytes);
    if (!written.error && ::fsync(fd.get()) != 0)
        written.error = errno;
    if (!written.error)
        written.error = giveTo(fd.get(), mode, uid, gid);
    const int closeError = fd.reset();
    if (!written.error)
        written.error = closeError;
    if (written.error)
        ::unlink(written.tempName.constData());
    return written;
}

QString folderOf(const QString& path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString nameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString tempPrefixFor(const QString& target)
{
    return folderOf(target) + QStringLiteral("/.") + nameOf(target) + QStringLiteral(".ntpsm-");
}

// A new file at `path` that never replaces anything there: written beside it
// under a temporary name and linked into place.
int createExclusive(const QString& path, const QByteArray& bytes)
{
    const Written temp =
        writeTemporary(folderOf(path) + QStringLiteral("/.ntpsm-"), bytes, 0600, 0, 0);
    if (temp.error)
        return temp.error;
    const int error = ::link(temp.tempName.constData(), encoded(path).constData()) == 0 ? 0 : errno;
    ::unlink(temp.tempName.constData());
    if (error == 0)
        syncFolder(folderOf(path));
    return error;
}

struct Current {
    int error = 0;
    bool exists = false;
    QByteArray bytes;
    FileStatus status;
};

// The target as it is: a regular file (never followed through a link) or
// nothing.
Current currentTarget(const QString& target)
{
    Current current;
    const FileStatus link = statusOf(target, false);
    if (link.error == ENOENT)
        return current;
    if (link.error) {
        current.error = link.error;
        return current;
    }
    if (link.isSymlink()) {
        current.error = ELOOP;
        return current;
    }
    HostRequest request{HostRequest::ReadFile, target, replacedFileLimit};
    const HostReply read = readWhole(request);
    current.error = read.error;
    current.exists = read.error == 0;
    current.bytes = read.bytes;
    current.status = read.status;
    return current;
}

bool guardHolds(const FileReplacement& replacement, const Current& current)
{
    if (!replacement.guarded)
        return true;
    if (current.exists != replacement.expectedExists)
        return false;
    if (current.exists && replacement.expectedFile.exists() &&
        !current.status.sameFile(replacement.expectedFile))
        return false;
    return !current.exists || QCryptographicHash::hash(current.bytes, QCryptographicHash::Sha256) ==
                                  replacement.expectedDigest;
}

void removeStaleTemporaries(const QString& target)
{
    const QString prefix = QStringLiteral(".") + nameOf(target) + QStringLiteral(".ntpsm-");
    QVector<FolderEntry> entries;
    if (listEntries(folderOf(target), &entries) != 0)
        return;
    const QDateTime cutoff = QDateTime::currentDateTime().addSecs(-staleTempAgeSeconds);
    for (const FolderEntry& entry : qAsConst(entries)) {
        if (entry.name.size() == prefix.size() + 6 && entry.name.startsWith(prefix) &&
            entry.status.isRegular() && entry.status.modified < cutoff)
            ::unlink(encoded(folderOf(target) + QLatin1Char('/') + entry.name).constData());
    }
}

int removeRegular(const QString& path)
{
    const FileStatus status = statusOf(path, false);
    if (status.error)
        return status.error;
    if (!status.isRegular())
        return EINVAL;
    return ::unlink(encoded(path).constData()) == 0 ? 0 : errno;
}

ReplaceOutcome failed(ReplaceOutcome::Step step, int error)
{
    ReplaceOutcome outcome;
    outcome.failedStep = step;
    outcome.error = error;
    return outcome;
}

ReplaceOutcome replace(const FileReplacement& replacement)
{
    const QString& target = replacement.target;
    Current current = currentTarget(target);
    if (current.error)
        return failed(ReplaceOutcome::Target, current.error);
    if (!guardHolds(replacement, current))
        return failed(ReplaceOutcome::Guard, ESTALE);

    bool backupMade = false;
    if (!replacement.backupPath.isEmpty() && current.exists) {
        if (const int error = createExclusive(replacement.backupPath, current.bytes))
            return failed(ReplaceOutcome::Backup, error);
        backupMade = true;
    }
    auto undoBackup = [&] {
        if (backupMade)
            ::unlink(encoded(replacement.backupPath).constData());
    };

    const uint mode = current.exists ? current.status.mode : 0644;
    const uint uid = current.exists ? current.status.uid : 0;
    const uint gid = current.exists ? current.status.gid : 0;
    const Written temp = writeTemporary(tempPrefixFor(target), replacement.bytes, mode, uid, gid);
    if (temp.error) {
        undoBackup();
        return failed(ReplaceOutcome::Write, temp.error);
    }
    // Another program may have written while this one did: checked again
    // right before the file is replaced.
    const Current again = replacement.guarded ? currentTarget(target) : current;
    int error = again.error;
    if (!error && !guardHolds(replacement, again))
        error = ESTALE;
    if (!error && ::rename(temp.tempName.constData(), encoded(target).constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(temp.tempName.constData());
        undoBackup();
        return failed(error == ESTALE ? ReplaceOutcome::Guard : ReplaceOutcome::Write, error);
    }
    syncFolder(folderOf(target));
    removeStaleTemporaries(target);
    for (const QString& old : replacement.removeAfterwards)
        removeRegular(old);
    ReplaceOutcome outcome;
    outcome.written = statusOf(target, false);
    outcome.backupMade = backupMade;
    return outcome;
}

// ---- Processes

QByteArray procFile(const QString& path)
{
    HostRequest request{HostRequest::ReadFile, path, procFileLimit};
    // /proc files report a size of 0: the bounded read decides.
    return readWhole(request).bytes;
}

// The real user id of a /proc/PID/status text; HostProcess::unknownUid when
// it names none.
uint realUid(const QByteArray& status)
{
    for (const QByteArray& line : status.split('\n')) {
        if (!line.startsWith("Uid:"))
            continue;
        bool ok = false;
        const uint uid = line.mid(4).simplified().split(' ').first().toUInt(&ok);
        return ok ? uid : HostProcess::unknownUid;
    }
    return HostProcess::unknownUid;
}

class LocalHost : public Host
{
public:
    QString name() const override { return QString(); }

    QVector<HostReply> query(const QVector<HostRequest>& requests) override
    {
        QVector<HostReply> replies;
        replies.reserve(requests.size());
        for (const HostRequest& request : requests)
            replies.append(answer(request));
        return replies;
    }

    QVector<HostProcess> processes(const QString& proc) override
    {
        QVector<HostProcess> found;
        QVector<FolderEntry> entries;
        if (listEntries(proc, &entries) != 0)
            return found;
        QString ourNet;
        readLinkAt(proc + QStringLiteral("/self/ns/net"), &ourNet);
        for (const FolderEntry& entry : qAsConst(entries)) {
            bool numeric = false;
            const qint64 pid = entry.name.toLongLong(&numeric);
            if (numeric && pid > 0)
                addProcess(proc + QLatin1Char('/') + entry.name, pid, ourNet, &found);
        }
        return found;
    }

    int makeFolder(const QString& path, uint mode) override
    {
        if (::mkdir(encoded(path).constData(), mode_t(mode)) != 0)
            return errno;
        // The umask may have taken bits away.
        Descriptor fd(
            ::open(encoded(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd.valid())
            return errno;
        return ::fchmod(fd.get(), mode_t(mode)) == 0 ? 0 : errno;
    }

    int removeFile(const QString& path) override { return removeRegular(path); }

    ReplaceOutcome replaceFile(const FileReplacement& replacement) override
    {
        return replace(replacement);
    }

    ProcessJob* start(const QString& program, const QStringList& arguments,
                      const ProcessOptions& options) override
    {
        return ProcessRunner::instance().start(program, arguments, options);
    }

    ProcessSession* startSession(const QString& program, const QStringList& arguments) override
    {
        return ProcessRunner::instance().startSession(program, arguments);
    }

private:
    static void addProcess(const QString& dir, qint64 pid, const QString& ourNet,
                           QVector<HostProcess>* found)
    {
        QByteArray cmdline = procFile(dir + QStringLiteral("/cmdline"));
        if (cmdline.isEmpty())
            return; // a kernel thread, or gone already
        if (cmdline.endsWith('\0'))
            cmdline.chop(1);
        HostProcess process;
        process.pid = pid;
        for (const QByteArray& word : cmdline.split('\0'))
            process.commandLine << QFile::decodeName(word);
        process.uid = realUid(procFile(dir + QStringLiteral("/status")));
        readLinkAt(dir + QStringLiteral("/exe"), &process.executable);
        readLinkAt(dir + QStringLiteral("/cwd"), &process.workingDirectory);
        QString theirNet;
        readLinkAt(dir + QStringLiteral("/ns/net"), &theirNet);
        process.inOurNetwork = ourNet.isEmpty() || theirNet.isEmpty() || ourNet == theirNet;
        found->append(process);
    }
};

} // namespace

Host& localHost()
{
    static LocalHost host;
    return host;
}
