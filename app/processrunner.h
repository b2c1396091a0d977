#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

class QUrl;

// Outcome of a program run to its end (or until the wait gave up).
struct ProcessResult {
    bool finished = false; // ended on its own, within the wait limit
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = 0;
    QProcess::ProcessError error = QProcess::UnknownError;
    QByteArray standardOutput;
    QByteArray standardError;
};

// Every child process the program starts goes through here, so that tests
// can see what would run and decide the outcome.
class ProcessRunner
{
public:
    virtual ~ProcessRunner() = default;

    // Runs and waits up to `timeoutMs`; a program still running then is killed.
    virtual ProcessResult run(const QString& program, const QStringList& arguments, int timeoutMs);
    virtual bool startDetached(const QString& program, const QStringList& arguments);
    virtual bool openUrl(const QUrl& url);

    static ProcessRunner& instance();
    // Tests only: nullptr restores the real runner. Not owned.
    static void setInstanceForTesting(ProcessRunner* runner);
};
