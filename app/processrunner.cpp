#include "processrunner.h"

#include <QDesktopServices>
#include <QUrl>

namespace
{
ProcessRunner*& replacement()
{
    static ProcessRunner* runner = nullptr;
    return runner;
}
} // namespace

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

bool ProcessRunner::startDetached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

bool ProcessRunner::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
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
