#include "fileio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int maxSymlinkHops = 40;

QDateTime modificationTime(const struct stat& st)
{
    const qint64 ms = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return QDateTime::fromMSecsSinceEpoch(ms);
}

// Closes a descriptor when it goes out of scope, keeping errno intact.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now; returns 0 or the errno value of close().
    int reset()
    {
        int result = 0;
        if (m_fd >= 0 && ::close(m_fd) != 0)
            result = errno;
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

int readAllFrom(int fd, qint64 sizeHint, QByteArray* bytes)
{
    bytes->clear();
    bytes->reserve(int(qBound<qint64>(0, sizeHint, 1 << 30)));
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
        bytes->append(buffer, int(n));
    }
}

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

// Mode and owner the new file gets: the old file's, or 0644 for a new one.
struct Ownership {
    mode_t mode = 0644;
    uid_t uid = 0;
    gid_t gid = 0;
    bool known = false;
};

int ownershipOf(const QByteArray& path, Ownership* ownership)
{
    struct stat st;
    if (::stat(path.constData(), &st) != 0)
        return errno == ENOENT ? 0 : errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    ownership->mode = st.st_mode & 07777;
    ownership->uid = st.st_uid;
    ownership->gid = st.st_gid;
    ownership->known = true;
    return 0;
}

int applyOwnership(int fd, const Ownership& ownership)
{
    if (::fchmod(fd, ownership.mode) != 0)
        return errno;
    if (ownership.known && ::fchown(fd, ownership.uid, ownership.gid) != 0) {
        // Only root may give a file away; anyone else keeps their own file.
        if (!(errno == EPERM && ::geteuid() != 0))
            return errno;
    }
    return 0;
}

void syncDirectory(const QByteArray& dir)
{
    // The rename is done; a directory that cannot be synced (some file
    // systems refuse) does not make the new content any less written.
    Descriptor fd(::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

} // namespace

int readWholeFile(const QString& path, FileContent* content)
{
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so that a FIFO at the path cannot hang the reader.
    Descriptor fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return errno;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (!S_ISREG(st.st_mode))
        return EINVAL;
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    content->modified = modificationTime(st);
    return readAllFrom(fd.get(), st.st_size, &content->bytes);
}

int resolveSymlinks(const QString& path, QString* resolved)
{
    QString current = QFileInfo(path).absoluteFilePath();
    for (int hop = 0; hop < maxSymlinkHops; ++hop) {
        const QByteArray name = QFile::encodeName(current);
        struct stat st;
        if (::lstat(name.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            *resolved = current;
            return 0;
        }
        QByteArray target(int(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(name.constData(), target.data(), size_t(target.size()));
        if (n < 0)
            return errno;
        target.truncate(int(n));
        const QString next = QFile::decodeName(target);
        current = QDir::cleanPath(QFileInfo(current).absoluteDir().absoluteFilePath(next));
    }
    return ELOOP;
}

// A write killed half-way leaves its temporary file behind; the next
// successful write of the same file clears those older than a minute (a
// younger one may belong to a write under way).
void removeStaleTempFiles(const QFileInfo& target)
{
    const QString prefix = QLatin1Char('.') + target.fileName() + QLatin1Char('.');
    QDir dir = target.absoluteDir();
    const QDateTime cutoff = QDateTime::currentDateTimeUtc().addSecs(-60);
    const QFileInfoList candidates =
        dir.entryInfoList({prefix + QStringLiteral("??????")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& temp : candidates) {
        if (!temp.isSymLink() && temp.lastModified().toUTC() < cutoff)
            QFile::remove(temp.absoluteFilePath());
    }
}

namespace
{
int writeOver(const QString& path, const QByteArray& bytes, const Ownership& ownership)
{
    const QByteArray target = QFile::encodeName(path);
    const QFileInfo info(path);
    const QByteArray dir = QFile::encodeName(info.absolutePath());

    QByteArray tempName = QFile::encodeName(info.absolutePath() + QLatin1String("/.") +
                                            info.fileName() + QLatin1String(".XXXXXX"));
    Descriptor fd(::mkostemp(tempName.data(), O_CLOEXEC));
    if (!fd.valid())
        return errno;

    int error = writeAllTo(fd.get(), bytes);
    if (!error && ::fsync(fd.get()) != 0)
        error = errno;
    if (!error)
        error = applyOwnership(fd.get(), ownership);
    const int closeError = fd.reset();
    if (!error)
        error = closeError;
    if (!error && ::rename(tempName.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(tempName.constData());
        return error;
    }
    syncDirectory(dir);
    removeStaleTempFiles(info);
    return 0;
}
} // namespace

int replaceFileAtomically(const QString& path, const QByteArray& bytes)
{
    Ownership ownership;
    if (const int error = ownershipOf(QFile::encodeName(path), &ownership))
        return error;
    return writeOver(path, bytes, ownership);
}

int writePrivateFileAtomically(const QString& path, const QByteArray& bytes)
{
    Ownership rootOnly;
    rootOnly.mode = 0600;
    rootOnly.known = true; // uid and gid 0
    return writeOver(path, bytes, rootOnly);
}
