#pragma once

#include <QStringList>

#include "host/host.h"

// Forwards to another host and counts the calls that cross to it: a remote
// host pays one round trip for each. `crossings` names them, for a failure
// message.
class CountingHost : public Host
{
public:
    explicit CountingHost(Host* inner) : m_inner(inner) {}
    int calls = 0;
    QStringList crossings;

    QString name() const override { return m_inner->name(); }
    QVector<HostReply> query(const QVector<HostRequest>& requests) override
    {
        QStringList asked;
        for (const HostRequest& request : requests)
            asked << QStringLiteral("%1:%2").arg(int(request.kind)).arg(request.path);
        count(QStringLiteral("query ") + asked.join(QLatin1Char(' ')));
        return m_inner->query(requests);
    }
    QVector<HostProcess> processes(const QString& proc) override
    {
        count(QStringLiteral("processes"));
        return m_inner->processes(proc);
    }
    int makeFolder(const QString& path, uint mode) override
    {
        count(QStringLiteral("makeFolder ") + path);
        return m_inner->makeFolder(path, mode);
    }
    int removeFile(const QString& path) override
    {
        count(QStringLiteral("removeFile ") + path);
        return m_inner->removeFile(path);
    }
    ReplaceOutcome replaceFile(const FileReplacement& replacement) override
    {
        count(QStringLiteral("replaceFile ") + replacement.target);
        return m_inner->replaceFile(replacement);
    }
    ProcessJob* start(const QString& program, const QStringList& arguments,
                      const ProcessOptions& options) override
    {
        count(QStringLiteral("start ") + program);
        return m_inner->start(program, arguments, options);
    }
    ProcessSession* startSession(const QString& program, const QStringList& arguments) override
    {
        count(QStringLiteral("startSession ") + program);
        return m_inner->startSession(program, arguments);
    }

    void reset()
    {
        calls = 0;
        crossings.clear();
    }

private:
    void count(const QString& what)
    {
        ++calls;
        crossings << what;
    }

    Host* m_inner;
};

// A host whose answer to a replacement is lost on the way back, after the
// replacement was made or not.
class LostAnswerHost : public CountingHost
{
public:
    explicit LostAnswerHost(Host* inner) : CountingHost(inner) {}
    bool replaces = true;

    ReplaceOutcome replaceFile(const FileReplacement& replacement) override
    {
        if (replaces)
            CountingHost::replaceFile(replacement);
        ReplaceOutcome lost;
        lost.failedStep = ReplaceOutcome::Write;
        lost.error = EHOSTDOWN;
        lost.outcomeUnknown = true;
        return lost;
    }
};
