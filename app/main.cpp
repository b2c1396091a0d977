#include <unistd.h>

#include <cstdio>

#include "app/commandline.h"
#include "app/startup.h"
#include "qtsingleapplication/qtsingleapplication.h"
#include "remote/askpass.h"

namespace
{
QStringList argumentList(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// Prints the answer or error of the command line; returns its exit code.
int finish(const CommandLine& line)
{
    const bool answered = line.outcome == CommandLine::Answered;
    std::fputs(line.output.toLocal8Bit().constData(), answered ? stdout : stderr);
    return answered ? 0 : 2;
}
} // namespace

int main(int argc, char** argv)
{
    // Run by ssh as its SSH_ASKPASS: forward the prompt, nothing else.
    if (SshAskpass::requested())
        return SshAskpass::run(argc, argv);
    // --help and --version answer before anything needs a display.
    const CommandLine first = parseCommandLine(argumentList(argc, argv), false);
    if (first.outcome != CommandLine::Run)
        return finish(first);
    // One window per host: the host is part of the instance's key.
    QtSingleApplication app(argc, argv, first.host);
    const CommandLine line = parseCommandLine(QCoreApplication::arguments(), true);
    if (line.outcome != CommandLine::Run)
        return finish(line);
    SshHost::Settings remote;
    remote.destination = line.host;
    return runNtpServiceManager(app, getuid(), line.configFile, remote);
}
