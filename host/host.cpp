#include "host/host.h"

#include "host/processrunner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>

namespace
{
// A call shorter than this does not make the window look busy: the busy
// cursor would only flicker.
constexpr int indicatorDelayMs = 150;

Host*& chosenHost()
{
    static Host* host = nullptr;
    return host;
}

std::function<void(bool)>& indicator()
{
    static std::function<void(bool)> callback;
    return callback;
}

int& callCount()
{
    static int count = 0;
    return count;
}

// True while the indicator has been told that a call takes long.
bool& indicatorShown()
{
    static bool shown = false;
    return shown;
}

bool onGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

HostReply single(Host& host, const HostRequest& request)
{
    const QVector<HostReply> replies = host.query({request});
    if (replies.size() != 1) {
        HostReply failed;
        failed.error = EIO;
        return failed;
    }
    return replies.constFirst();
}

int readInto(const HostReply& reply, FileContent* content)
{
    if (reply.error == 0) {
        content->bytes = reply.bytes;
        content->modified = reply.status.modified;
        content->status = reply.status;
    }
    return reply.error;
}
} // namespace

FileStatus Host::status(const QString& path, bool followLinks)
{
    const HostReply reply =
        single(*this, {followLinks ? HostRequest::StatusFollowing : HostRequest::Status, path});
    FileStatus status = reply.status;
    status.error = reply.error;
    return status;
}

int Host::readLink(const QString& path, QString* target)
{
    const HostReply reply = single(*this, {HostRequest::ReadLink, path});
    if (reply.error == 0)
        *target = reply.linkTarget;
    return reply.error;
}

int Host::readFile(const QString& path, qint64 limit, FileContent* content, bool followLink)
{
    return readInto(single(*this, {HostRequest::ReadFile, path, limit, followLink}), content);
}

int Host::readTail(const QString& path, qint64 limit, FileContent* content)
{
    return readInto(single(*this, {HostRequest::ReadTail, path, limit}), content);
}

int Host::listFolder(const QString& path, QVector<FolderEntry>* entries)
{
    const HostReply reply = single(*this, {HostRequest::ListFolder, path});
    if (reply.error == 0)
        *entries = reply.entries;
    return reply.error;
}

ProcessResult Host::run(const QString& program, const QStringList& arguments, int timeoutMs)
{
    ProcessOptions options;
    options.timeoutMs = timeoutMs;
    Waiting waiting;
    ProcessResult result;
    QEventLoop loop;
    ProcessJob* job = start(program, arguments, options);
    QObject::connect(job, &ProcessJob::finished, &loop, [&](const ProcessResult& outcome) {
        result = outcome;
        loop.quit();
    });
    loop.exec();
    return result;
}

void Host::setWaitIndicator(const std::function<void(bool)>& callback)
{
    indicator() = callback;
}

int Host::callsUnderWay()
{
    return callCount();
}

Host& Host::current()
{
    return chosenHost() ? *chosenHost() : localHost();
}

void Host::setCurrent(Host* host)
{
    chosenHost() = host;
}

Host::Waiting::Waiting()
{
    ++callCount();
    if (!onGuiThread() || callCount() > 1)
        return;
    // Only the outermost call on the GUI thread tells the window; it does so
    // once the call has taken a moment.
    QTimer::singleShot(indicatorDelayMs, QCoreApplication::instance(), [] {
        if (callCount() > 0 && !indicatorShown() && indicator()) {
            indicatorShown() = true;
            indicator()(true);
        }
    });
}

Host::Waiting::~Waiting()
{
    --callCount();
    if (callCount() == 0 && indicatorShown() && onGuiThread()) {
        indicatorShown() = false;
        if (indicator())
            indicator()(false);
    }
}

QString errnoText(int error)
{
    // A remote host's calls fail with EHOSTDOWN when its connection is gone;
    // the system's "Host is down" would not say what happened.
    if (error == EHOSTDOWN)
        return QCoreApplication::translate("Host", "the connection to the server is lost");
    return QString::fromLocal8Bit(std::strerror(error));
}
