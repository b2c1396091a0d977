#include "processrunner.h"

#include <QPointer>
#include <QTimer>

#include <signal.h>
#include <unistd.h>

namespace
{
ProcessRunner*& replacement()
{
    static ProcessRunner* runner = nullptr;
    return runner;
}
// A process that can lead a process group of its own.
class GroupProcess : public QProcess
{
public:
    bool newGroup = false;

protected:
    void setupChildProcess() override
    {
        if (newGroup)
            ::setsid();
    }
};

// Appends `chunk` keeping only the last `limit` bytes; the front is dropped
// only now and then so that a flood of output costs linear time.
void appendBounded(QByteArray* buffer, const QByteArray& chunk, int limit)
{
    buffer->append(chunk);
    if (buffer->size() > 2 * limit)
        buffer->remove(0, buffer->size() - limit);
}

void trimTo(QByteArray* buffer, int limit)
{
    if (buffer->size() > limit)
        buffer->remove(0, buffer->size() - limit);
}

class RunningJob : public ProcessJob
{
public:
    RunningJob(const QString& program, const QStringList& arguments, const ProcessOptions& options)
        : m_options(options)
    {
        m_process.newGroup = options.ownProcessGroup;
        connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] {
            appendBounded(&m_result.standardOutput, m_process.readAllStandardOutput(),
                          m_options.outputLimit);
            emit outputArrived();
        });
        connect(&m_process, &QProcess::readyReadStandardError, this, [this] {
            appendBounded(&m_result.standardError, m_process.readAllStandardError(),
                          m_options.outputLimit);
            emit outputArrived();
        });
        connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
                &RunningJob::processFinished);
        connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            // Reported from the event loop: start() may fail before the
            // caller has connected to the job.
            if (error == QProcess::FailedToStart) {
                m_result.error = error;
                QTimer::singleShot(0, this, &RunningJob::report);
            }
        });
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &RunningJob::timedOut);
        m_timer.start(options.timeoutMs);
        m_process.start(program, arguments, QIODevice::ReadWrite);
        // Nothing waits for input that never comes: what the caller gives
        // is all there is.
        if (!options.input.isEmpty())
            m_process.write(options.input);
        m_process.closeWriteChannel();
    }
    ~RunningJob() override { endProcess(); }

    void cancel() override
    {
        m_reported = true;
        endProcess();
        if (!parent())
            deleteLater();
    }

private:
    void processFinished(int exitCode, QProcess::ExitStatus status)
    {
        appendBounded(&m_result.standardOutput, m_process.readAllStandardOutput(),
                      m_options.outputLimit);
        appendBounded(&m_result.standardError, m_process.readAllStandardError(),
                      m_options.outputLimit);
        if (!m_timedOut) {
            m_result.finished = true;
            m_result.exitCode = exitCode;
            m_result.exitStatus = status;
            m_result.error = m_process.error();
        }
        report();
    }

    void timedOut()
    {
        m_timedOut = true;
        m_result.error = QProcess::Timedout;
        endProcess();
        report();
    }

    void endProcess()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        const qint64 pid = m_process.processId();
        if (m_options.ownProcessGroup && pid > 0)
            ::kill(-pid_t(pid), SIGKILL);
        m_process.kill();
        m_process.waitForFinished(1000);
    }

    void report()
    {
        if (m_reported)
            return;
        m_reported = true;
        m_timer.stop();
        trimTo(&m_result.standardOutput, m_options.outputLimit);
        trimTo(&m_result.standardError, m_options.outputLimit);
        emit finished(m_result);
        if (!parent())
            deleteLater();
    }

    ProcessOptions m_options;
    GroupProcess m_process;
    QTimer m_timer;
    ProcessResult m_result;
    bool m_timedOut = false;
    bool m_reported = false;
};

// A program ended without waiting for it: it is killed and the child handler
// of QProcess reaps it when it has gone.
class SessionProcess : public QProcess
{
public:
    ~SessionProcess() override
    {
        if (state() == NotRunning)
            return;
        kill();
        setProcessState(NotRunning);
    }
};

class RunningSession : public ProcessSession
{
public:
    RunningSession(const QString& program, const QStringList& arguments)
    {
        m_process.setStandardErrorFile(QProcess::nullDevice());
        connect(&m_process, &QProcess::readyReadStandardOutput, this,
                [this] { emit output(m_process.readAllStandardOutput()); });
        connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
                [this] { emit ended(false); });
        connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                QTimer::singleShot(0, this, [this] { emit ended(true); });
        });
        m_process.start(program, arguments, QIODevice::ReadWrite);
    }
    ~RunningSession() override { m_process.disconnect(this); }

    void write(const QByteArray& input) override
    {
        if (m_process.state() != QProcess::NotRunning)
            m_process.write(input);
    }

private:
    SessionProcess m_process;
};

class CannedJob : public ProcessJob
{
public:
    CannedJob(const ProcessResult& result, int delayMs) : m_result(result)
    {
        QTimer::singleShot(delayMs, this, [this] {
            if (m_cancelled)
                return;
            emit finished(m_result);
            if (!parent())
                deleteLater();
        });
    }
    void cancel() override
    {
        m_cancelled = true;
        if (!parent())
            deleteLater();
    }

private:
    ProcessResult m_result;
    bool m_cancelled = false;
};
} // namespace

ProcessJob* ProcessJob::finishedWith(const ProcessResult& result, int delayMs)
{
    return new CannedJob(result, delayMs);
}

ProcessJob* ProcessRunner::start(const QString& program, const QStringList& arguments,
                                 const ProcessOptions& options)
{
    return new RunningJob(program, arguments, options);
}

ProcessResult ProcessRunner::run(const QString& program, const QStringList& arguments,
                                 int timeoutMs)
{
    QProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    ProcessResult result;
    result.finished = process.waitForFinished(timeoutMs);
    result.error = process.error();
    if (result.finished) {
        result.exitStatus = process.exitStatus();
        result.exitCode = process.exitCode();
        result.standardOutput = process.readAllStandardOutput();
        result.standardError = process.readAllStandardError();
    } else if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
    }
    return result;
}

ProcessSession* ProcessRunner::startSession(const QString& program, const QStringList& arguments)
{
    return new RunningSession(program, arguments);
}

ProcessRunner& ProcessRunner::instance()
{
    static ProcessRunner real;
    return replacement() ? *replacement() : real;
}

void ProcessRunner::setInstanceForTesting(ProcessRunner* runner)
{
    replacement() = runner;
}
