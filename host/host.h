#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cerrno>
#include <functional>

class ProcessJob;
class ProcessSession;
struct ProcessOptions;
struct ProcessResult;

// The machine whose NTP daemon the program manages: this one, or a server
// reached over SSH. Every file the program reads or writes for the daemon and
// every command it runs for it goes through the current host, so that no
// feature talks to the local system by accident. Qt Core only.
//
// Paths are absolute paths on that machine. Errors are errno values, so that
// callers can show the system's reason (errnoText()). A remote host answers
// the same errno values its server's system calls gave; EHOSTDOWN means the
// connection itself failed, ECANCELED that the call was given up.
//
// Calls are synchronous for the caller. On a remote host a call runs a local
// event loop until the answer is there: the window keeps repainting, and the
// wait indicator (setWaitIndicator()) holds back its input. Code that runs
// from timers must not assume that no other host call is under way
// (callsUnderWay() tells). query() and the reading calls built on it are
// also made from a worker thread (the daemon status window reads the
// statistics files there, away from the GUI thread); an implementation
// answers them from any thread.

struct FileStatus {
    enum Type { Missing, Regular, Directory, Symlink, Fifo, Other };
    int error = ENOENT; // 0 when the path could be looked at
    Type type = Missing;
    uint uid = 0;
    uint gid = 0;
    uint mode = 0; // permission bits, 07777
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    QDateTime modified;

    bool exists() const { return type != Missing; }
    bool isRegular() const { return type == Regular; }
    bool isDirectory() const { return type == Directory; }
    bool isSymlink() const { return type == Symlink; }
    // The same file as `other` (device and inode).
    bool sameFile(const FileStatus& other) const
    {
        return exists() && other.exists() && device == other.device && inode == other.inode;
    }
};

struct FileContent {
    QByteArray bytes;
    QDateTime modified;
    FileStatus status; // of the file that was opened and read
};

struct FolderEntry {
    QString name;
    FileStatus status; // not following a symbolic link
};

// One process of the host's process list, as its /proc shows it.
struct HostProcess {
    static constexpr uint unknownUid = uint(-1);
    qint64 pid = 0;
    uint uid = unknownUid;    // real user id
    QString executable;       // where /proc/PID/exe leads; empty when unknown
    QString workingDirectory; // where /proc/PID/cwd leads; empty when unknown
    QStringList commandLine;  // argv, argv[0] first
    bool inOurNetwork = true; // the same network namespace as the program (or unknown)
};

// One read-only look at the host. A batch of them costs one round trip on a
// remote host.
struct HostRequest {
    enum Kind {
        Status,          // lstat(): `status`
        StatusFollowing, // stat(): `status`
        ReadLink,        // readlink(): `linkTarget`
        ReadFile,        // the whole file, at most `limit` bytes (EFBIG past it)
        ReadTail,        // the last `limit` bytes of the file (all of a smaller one)
        ListFolder,      // `entries`, sorted by name, without "." and ".."
        Digest,          // SHA-256 of the whole file, at most `limit` bytes: `digest`
    };
    Kind kind = Status;
    QString path;
    qint64 limit = 0;
    // ReadFile, ReadTail, Digest: a symbolic link as the last component is
    // refused (ELOOP) unless this is set.
    bool followLink = false;
};

// ReadFile, ReadTail and Digest only ever open regular files: a FIFO, device
// or socket gives EINVAL without being opened for long (never blocking), a
// folder EISDIR. `status` is then the file's own status (fstat()).
struct HostReply {
    int error = 0;
    FileStatus status;
    QString linkTarget;
    QByteArray bytes;
    QByteArray digest;
    QVector<FolderEntry> entries;
};

// What replaceFile() does, in this order, stopping at the first failure:
//  1. `target` must be a regular file or missing; a symbolic link there is
//     refused (ELOOP), never followed.
//  2. With `guarded`: the file must still be the one read: there or not as
//     `expectedExists` says and, when there, with `expectedDigest` (SHA-256)
//     and, when `expectedFile` exists, the same file (device and inode) as
//     the one checked; otherwise ESTALE and nothing is changed.
//  3. With `backupPath` (a path in a folder the caller has checked): the
//     file's current bytes are kept there as a new regular file, mode 0600,
//     owned by root, never replacing anything (EEXIST).
//  4. The new bytes are written to a temporary file beside the target named
//     "." + file name + ".ntpsm-XXXXXX", synced, given the old file's mode
//     and owner (0644 root:root for a new file) and renamed over the target;
//     the folder is synced. The guard of step 2 is checked once more just
//     before the rename.
//     Should this step fail, the copy of step 3 is removed again.
//  5. The program's own temporary files of that target older than a minute
//     (a write killed half-way) and the files of `removeAfterwards` (regular
//     files only, never following a link) are removed; failures there do not
//     count.
struct FileReplacement {
    QString target;
    QByteArray bytes;
    bool guarded = false;
    bool expectedExists = true;
    QByteArray expectedDigest;
    FileStatus expectedFile; // Missing: any file with the digest will do
    QString backupPath;
    QStringList removeAfterwards;
};

struct ReplaceOutcome {
    enum Step { Done, Target, Guard, Backup, Write };
    Step failedStep = Done;
    int error = 0;
    FileStatus written; // the new file's status after a success
    bool backupMade = false;
    // The answer never came (a connection lost during the call): the target
    // is the old file or the new one, never a part of each, and which one
    // can only be told by looking again.
    bool outcomeUnknown = false;
};

class Host
{
public:
    virtual ~Host() = default;

    // Empty for this machine; the host name as the user gave it otherwise
    // ("timeserver.lan", "root@192.0.2.1").
    virtual QString name() const = 0;
    bool isLocal() const { return name().isEmpty(); }

    // ---- Reading
    virtual QVector<HostReply> query(const QVector<HostRequest>& requests) = 0;
    // Single requests, built on query().
    FileStatus status(const QString& path, bool followLinks = false);
    int readLink(const QString& path, QString* target);
    int readFile(const QString& path, qint64 limit, FileContent* content, bool followLink = false);
    int readTail(const QString& path, qint64 limit, FileContent* content);
    int listFolder(const QString& path, QVector<FolderEntry>* entries);
    // The host's processes (the kernel threads left out), from `proc`
    // ("/proc"; tests give a fake one).
    virtual QVector<HostProcess> processes(const QString& proc) = 0;

    // ---- Writing
    // mkdir() with `mode`; EEXIST when something is there already.
    virtual int makeFolder(const QString& path, uint mode) = 0;
    // Removes a regular file; anything else (a link, a FIFO, a folder) is
    // left alone with EINVAL.
    virtual int removeFile(const QString& path) = 0;
    virtual ReplaceOutcome replaceFile(const FileReplacement& replacement) = 0;

    // ---- Commands
    // As ProcessRunner::start() and ::startSession(), on the host (as root
    // there). The job reports from the event loop.
    virtual ProcessJob* start(const QString& program, const QStringList& arguments,
                              const ProcessOptions& options) = 0;
    virtual ProcessSession* startSession(const QString& program, const QStringList& arguments) = 0;
    // start() and wait for the outcome (a local event loop runs meanwhile).
    ProcessResult run(const QString& program, const QStringList& arguments, int timeoutMs);

    // ---- Waiting
    // Called with true when a call starts to take noticeably long and with
    // false when it is over; the window shows itself busy meanwhile. Only
    // ever called on the GUI thread.
    static void setWaitIndicator(const std::function<void(bool waiting)>& indicator);
    static int callsUnderWay();

    static Host& current();
    // The host the program manages; not owned. nullptr: this machine.
    static void setCurrent(Host* host);

protected:
    // For implementations: marks a call that waits, for callsUnderWay() and
    // the wait indicator.
    class Waiting
    {
    public:
        Waiting();
        ~Waiting();
        Waiting(const Waiting&) = delete;
        Waiting& operator=(const Waiting&) = delete;
    };
};

// This machine, through the system calls themselves.
Host& localHost();

// The system's text for an errno value.
QString errnoText(int error);
