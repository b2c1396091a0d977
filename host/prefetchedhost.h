#pragma once

#include "host/host.h"

#include <QHash>

// A host that answers read-only looks from replies fetched beforehand in one
// batch, so that a sequence of checks costs one round trip on a remote host
// instead of one per check. A batch with any request not fetched goes to the
// host itself; so do every write and command. Meant for one short sequence
// of calls on one thread; the checks still see the host as it was when the
// batch was fetched, so only the writer's own guard may be relied on for
// what happens after.
class PrefetchedHost : public Host
{
public:
    explicit PrefetchedHost(Host& inner) : m_inner(inner) {}

    // Fetches `requests` in one query and keeps their replies.
    void prefetch(const QVector<HostRequest>& requests);

    QString name() const override { return m_inner.name(); }
    QVector<HostReply> query(const QVector<HostRequest>& requests) override;
    QVector<HostProcess> processes(const QString& proc) override;
    // EEXIST without crossing when the fetched status shows something
    // there (what mkdir() gives then); otherwise made, and what was fetched
    // of that path forgotten.
    int makeFolder(const QString& path, uint mode) override;
    int removeFile(const QString& path) override;
    ReplaceOutcome replaceFile(const FileReplacement& replacement) override;
    ProcessJob* start(const QString& program, const QStringList& arguments,
                      const ProcessOptions& options) override;
    ProcessSession* startSession(const QString& program, const QStringList& arguments) override;

private:
    void forget(const QString& path);

    Host& m_inner;
    QHash<QString, HostReply> m_replies; // by request
};
