#include "host/prefetchedhost.h"

namespace
{
QString keyOf(const HostRequest& request)
{
    return QStringLiteral("%1 %2 %3 ")
               .arg(int(request.kind))
               .arg(request.limit)
               .arg(int(request.followLink)) +
           request.path;
}
} // namespace

void PrefetchedHost::prefetch(const QVector<HostRequest>& requests)
{
    const QVector<HostReply> replies = m_inner.query(requests);
    if (replies.size() != requests.size())
        return; // asked again one by one, where the failure is told
    for (int i = 0; i < requests.size(); ++i)
        m_replies.insert(keyOf(requests.at(i)), replies.at(i));
}

// Only what was not fetched crosses, in one batch; what it brings is kept.
QVector<HostReply> PrefetchedHost::query(const QVector<HostRequest>& requests)
{
    QVector<HostRequest> missing;
    for (const HostRequest& request : requests) {
        if (!m_replies.contains(keyOf(request)))
            missing.append(request);
    }
    if (!missing.isEmpty()) {
        const QVector<HostReply> fetched = m_inner.query(missing);
        if (fetched.size() != missing.size())
            return fetched; // the connection's failure, as the host told it
        for (int i = 0; i < missing.size(); ++i)
            m_replies.insert(keyOf(missing.at(i)), fetched.at(i));
    }
    QVector<HostReply> replies;
    replies.reserve(requests.size());
    for (const HostRequest& request : requests)
        replies.append(m_replies.value(keyOf(request)));
    return replies;
}

QVector<HostProcess> PrefetchedHost::processes(const QString& proc)
{
    return m_inner.processes(proc);
}

int PrefetchedHost::makeFolder(const QString& path, uint mode)
{
    const auto found = m_replies.constFind(keyOf({HostRequest::Status, path}));
    if (found != m_replies.constEnd() && found->error == 0 && found->status.exists())
        return EEXIST;
    forget(path);
    return m_inner.makeFolder(path, mode);
}

int PrefetchedHost::removeFile(const QString& path)
{
    forget(path);
    return m_inner.removeFile(path);
}

ReplaceOutcome PrefetchedHost::replaceFile(const FileReplacement& replacement)
{
    m_replies.clear();
    return m_inner.replaceFile(replacement);
}

ProcessJob* PrefetchedHost::start(const QString& program, const QStringList& arguments,
                                  const ProcessOptions& options)
{
    return m_inner.start(program, arguments, options);
}

ProcessSession* PrefetchedHost::startSession(const QString& program, const QStringList& arguments)
{
    return m_inner.startSession(program, arguments);
}

// A changed path: its own replies and its folder's listing are stale.
void PrefetchedHost::forget(const QString& path)
{
    const QString folder = path.left(qMax(1, path.lastIndexOf(QLatin1Char('/'))));
    const QString folderListing = keyOf({HostRequest::ListFolder, folder});
    for (auto it = m_replies.begin(); it != m_replies.end();) {
        if (it.key().section(QLatin1Char(' '), 3) == path || it.key() == folderListing)
            it = m_replies.erase(it);
        else
            ++it;
    }
}
