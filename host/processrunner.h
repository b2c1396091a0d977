#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// Outcome of a program run to its end (or until the wait gave up).
struct ProcessResult {
    bool finished = false; // ended on its own, within the wait limit
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = 0;
    QProcess::ProcessError error = QProcess::UnknownError;
    QByteArray standardOutput;
    QByteArray standardError;
    // A remote host's errno value when the command was not carried to its
    // end there (EHOSTDOWN: the connection failed or was lost), so that a
    // remote exit code 255 is never mistaken for it. 0 on this machine.
    int hostError = 0;
};

struct ProcessOptions {
    int timeoutMs = 30000;
    // Each output channel keeps only its last this many bytes.
    int outputLimit = 1024 * 1024;
    // The program and every process it starts form a process group of their
    // own, which is ended as a whole on time-out.
    bool ownProcessGroup = false;
    // Written to the program's standard input, which is then closed.
    QByteArray input;
};

// One program started without waiting for it: `finished` is emitted once,
// from the event loop, with the outcome. The job deletes itself afterwards
// unless it was given a parent.
class ProcessJob : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Ends the program (its whole group when it has one) without a report;
    // a job without a parent then deletes itself.
    virtual void cancel() {}

    // A job that reports `result` from the event loop, for stand-in runners.
    static ProcessJob* finishedWith(const ProcessResult& result, int delayMs = 0);

signals:
    void outputArrived();
    void finished(const ProcessResult& result);
};

// A program that keeps running and is talked to through its standard input:
// `output` carries its standard output as it arrives (standard error is
// dropped) and `ended` comes once, from the event loop, when the program has
// gone or could not start. Deleting the session ends the program.
class ProcessSession : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void write(const QByteArray& input) = 0;

signals:
    void output(const QByteArray& chunk);
    void ended(bool failedToStart);
};

// Every child process the program starts on this machine for the daemon goes
// through here (the local host's commands), so that tests can see what would
// run and decide the outcome.
class ProcessRunner
{
public:
    virtual ~ProcessRunner() = default;

    // Runs and waits up to `timeoutMs`; a program still running then is killed.
    virtual ProcessResult run(const QString& program, const QStringList& arguments, int timeoutMs);
    // Starts and returns at once; the outcome comes through the job's
    // finished signal (a program that cannot start is reported there too).
    virtual ProcessJob* start(const QString& program, const QStringList& arguments,
                              const ProcessOptions& options);
    // Starts a program that reads its commands from standard input; the
    // caller owns the session.
    virtual ProcessSession* startSession(const QString& program, const QStringList& arguments);

    static ProcessRunner& instance();
    // Tests only: nullptr restores the real runner. Not owned.
    static void setInstanceForTesting(ProcessRunner* runner);
};
