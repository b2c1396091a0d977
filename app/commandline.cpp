#include "app/commandline.h"

#include <QCommandLineParser>

#include "config/version.h"
#include "host/hostpath.h"
#include "remote/sshhost.h"

namespace
{
QString programName(const QStringList& arguments)
{
    return arguments.isEmpty() ? QStringLiteral("ntp-service-manager")
                               : fileNameOfPath(arguments.constFirst());
}

// QCommandLineParser::helpText() wants an application object for the
// program's name; this one is written out here instead.
QString helpText(const QString& program)
{
    return QStringLiteral("Usage: %1 [options]\n"
                          "Network Time Protocol service manager: edits the NTP daemon's "
                          "configuration and controls its service. Run it as root.\n\n"
                          "Options:\n"
                          "  --config <file>  Edit <file> instead of the configuration file\n"
                          "                   of the installed NTP daemon.\n"
                          "  --host <[user@]host>  Manage <host> over SSH (the system's ssh\n"
                          "                   client, with ~/.ssh/config); root there, by\n"
                          "                   login or sudo; root is not needed here.\n"
                          "  -h, --help       Show this help and exit.\n"
                          "  -v, --version    Show the version and exit.\n")
        .arg(program);
}
} // namespace

CommandLine parseCommandLine(const QStringList& arguments, bool strict)
{
    QCommandLineParser parser;
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Edit <file> instead of the daemon's file."),
                                    QStringLiteral("file"));
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("Manage <host> over SSH."),
                                  QStringLiteral("[user@]host"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    // "-reverse" or "-stylesheet" (Qt's own options) must not read as -r -e -v ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({config, host, help, version});
    const bool parsed = parser.parse(arguments);
    CommandLine result;
    const QString program = programName(arguments);
    if (parser.isSet(help)) {
        result.outcome = CommandLine::Answered;
        result.output = helpText(program);
    } else if (parser.isSet(version)) {
        result.outcome = CommandLine::Answered;
        result.output =
            program + QLatin1Char(' ') + QStringLiteral(NTPSM_VERSION) + QLatin1Char('\n');
    } else if (strict && (!parsed || !parser.positionalArguments().isEmpty())) {
        result.outcome = CommandLine::Error;
        const QString reason = parsed ? QStringLiteral("Unexpected argument '%1'.")
                                            .arg(parser.positionalArguments().constFirst())
                                      : parser.errorText();
        result.output =
            program + QStringLiteral(": ") + reason + QLatin1Char('\n') + helpText(program);
    } else if (strict && parser.isSet(host) &&
               !SshHost::destinationProblem(parser.value(host)).isEmpty()) {
        result.outcome = CommandLine::Error;
        result.output = program + QStringLiteral(": --host: ") +
                        SshHost::destinationProblem(parser.value(host)) + QLatin1Char('\n');
    } else if (strict && parser.isSet(host) && !parser.value(config).isEmpty() &&
               !parser.value(config).startsWith(QLatin1Char('/'))) {
        // A relative name would be read from this machine's current folder.
        result.outcome = CommandLine::Error;
        result.output =
            program + QStringLiteral(": --config needs an absolute path with --host.\n");
    } else {
        result.host = parser.value(host);
        // Absolute, so that the editor opened as the desktop's user (from
        // that user's home folder) and the status bar name the same file.
        const QString file = parser.value(config);
        result.configFile = file.isEmpty() ? file : absolutePath(file);
    }
    return result;
}
