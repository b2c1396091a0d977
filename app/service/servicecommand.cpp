#include "app/service/servicecommand.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QMainWindow>
#include <QMessageBox>
#include <QTextCodec>
#include <QTimer>

#include "app/service/busywindow.h"
#include "app/service/servicecontrol.h"
#include "config/config.h"
#include "config/configdocument.h"
#include "daemon/daemonlog.h"
#include "daemon/daemonsetup.h"
#include "daemon/ntpconfpath.h"
#include "host/host.h"

namespace
{
// The service commands' texts are the main window's: they keep its
// translation context.
QString fntpText(const char* text)
{
    return QCoreApplication::translate("FNTP", text);
}

const int reportLines = 40;
const int reportLineWidth = 300;
const int logQueryLimitMs = 10000;
// The end of the syslog that is searched for the daemon's messages.
const qint64 syslogTailLimit = 1024 * 1024;
const int defaultCheckDelayMs = 3000;

int& checkDelayOverride()
{
    static int delay = -1;
    return delay;
}

// The delay before the daemon is checked after a start; negative: no check.
int daemonCheckDelayMs()
{
    if (checkDelayOverride() >= 0)
        return checkDelayOverride() > 0 ? checkDelayOverride() : -1;
    // A stand-in script did not start the system's daemon: nothing to check.
    return initScriptPath() == QLatin1String("/etc/init.d/ntp") ||
                   initScriptPath() == QLatin1String("/etc/init.d/ntpsec")
               ? defaultCheckDelayMs
               : -1;
}

ProcessResult waitFor(ProcessJob* job)
{
    ProcessResult result;
    QEventLoop loop;
    QObject::connect(job, &ProcessJob::finished, &loop, [&](const ProcessResult& outcome) {
        result = outcome;
        loop.quit();
    });
    loop.exec();
    return result;
}

ProcessResult runAndWait(const QString& program, const QStringList& arguments, int timeoutMs)
{
    ProcessOptions options;
    options.timeoutMs = timeoutMs;
    options.ownProcessGroup = true;
    return waitFor(Host::current().start(program, arguments, options));
}

void pause(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

QString decoded(const QByteArray& bytes)
{
    return QTextCodec::codecForLocale()->toUnicode(bytes);
}

bool succeeded(const ProcessResult& result)
{
    return result.finished && result.exitStatus == QProcess::NormalExit && result.exitCode == 0;
}

// What the daemon logged since `since`: its unit's journal, or the syslog
// file on a machine without one.
QStringList daemonMessagesSince(const QDateTime& since)
{
    QString unit = currentDaemon().systemdUnit;
    if (unit.isEmpty())
        unit = currentDaemon().isNtpsec() ? QStringLiteral("ntpsec.service")
                                          : QStringLiteral("ntp.service");
    const ProcessResult journal = runAndWait(
        QStringLiteral("journalctl"),
        {QStringLiteral("-u"), unit, QStringLiteral("--since"),
         QLatin1Char('@') + QString::number(since.toSecsSinceEpoch()), QStringLiteral("-o"),
         QStringLiteral("cat"), QStringLiteral("--no-pager"), QStringLiteral("-q")},
        logQueryLimitMs);
    const QString journalText = decoded(journal.standardOutput).trimmed();
    if (succeeded(journal) && !journalText.isEmpty())
        return journalText.split(QLatin1Char('\n'));
    FileContent syslog;
    Host::current().readTail(syslogPath(), syslogTailLimit, &syslog);
    return daemonMessagesInSyslog(decoded(syslog.bytes), since);
}

QString configLine(const QString& file, int number)
{
    FileContent source;
    const QString path = file.isEmpty() ? ConfigDocument::instance().path() : file;
    if (Host::current().readFile(path, configFileLimit, &source, true) != 0)
        return QString();
    const QList<QByteArray> lines = source.bytes.split('\n');
    return number >= 1 && number <= lines.size() ? QString::fromUtf8(lines.at(number - 1)).trimmed()
                                                 : QString();
}

QString rejectedLinesText(const QVector<RejectedLine>& rejected)
{
    QString text = fntpText("Warning: the daemon rejected these lines of "
                            "the configuration:");
    for (const RejectedLine& entry : rejected)
        text += QStringLiteral("\n") +
                fntpText("line %1: %2").arg(entry.line).arg(configLine(entry.file, entry.line));
    return text;
}
// The end of a long report for the box's details: the details view lays
// out all of its text at once (about a second for 1 MiB), so it gets the
// last 16 KiB, starting at a line.
QString detailsTail(const QString& report)
{
    const int limit = 16 * 1024;
    if (report.size() <= limit)
        return report;
    QString tail = report.right(limit);
    const int lineStart = tail.indexOf(QLatin1Char('\n'));
    if (lineStart >= 0 && lineStart + 1 < tail.size())
        tail = tail.mid(lineStart + 1);
    return QStringLiteral("…\n") + tail;
}
} // namespace

QString decodedReportTail(const QByteArray& output)
{
    const int limit = 64 * 1024;
    QTextCodec* local = QTextCodec::codecForLocale();
    if (output.size() <= limit)
        return local->toUnicode(output);
    QByteArray tail = output.right(limit);
    const int lineStart = tail.indexOf('\n');
    if (lineStart >= 0)
        tail = tail.mid(lineStart + 1);
    return local->toUnicode(tail);
}

ProcessResult runKeepingWindowAlive(QMainWindow* window, const QString& program,
                                    const QStringList& arguments, int timeoutMs)
{
    BusyWindow busy(window);
    return runAndWait(program, arguments, timeoutMs);
}

QString reportTail(const QString& report, int maxLines, bool* shortened)
{
    *shortened = false;
    // Only the end is split: the report may hold a MiB of lines.
    int from = report.size();
    for (int found = 0; found < maxLines && from > 0; ++found)
        from = report.lastIndexOf(QLatin1Char('\n'), from - 1);
    if (from > 0 || (from == 0 && maxLines > 0 && report.startsWith(QLatin1Char('\n')))) {
        *shortened = true;
        ++from;
    } else {
        from = 0;
    }
    QStringList lines = report.mid(from).split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.size() > reportLineWidth) {
            line = line.left(reportLineWidth) + QStringLiteral("…");
            *shortened = true;
        }
    }
    return lines.join(QLatin1Char('\n'));
}

void showServiceError(QWidget* parent, const QString& title, const QString& report)
{
    bool shortened = false;
    const QString shown = reportTail(report, reportLines, &shortened);
    QMessageBox box(QMessageBox::Critical, title, shown, QMessageBox::Ok, parent);
    if (shortened)
        box.setDetailedText(detailsTail(report));
    box.exec();
}

void showServiceSuccess(QMainWindow* window, const QString& argument, const QString& successText)
{
    QMessageBox::Icon icon = QMessageBox::Information;
    QString title = fntpText("Information");
    QString extra;
    QString details;
    const int delay = daemonCheckDelayMs();
    if (delay > 0 && argument != QLatin1String("stop")) {
        BusyWindow busy(window);
        const QDateTime since = QDateTime::currentDateTime().addSecs(-1);
        pause(delay);
        const bool running = findRunningNtpd(currentDaemon().flavour);
        const QStringList messages = daemonMessagesSince(since);
        const QVector<RejectedLine> rejected = rejectedConfigLines(messages);
        if (!rejected.isEmpty())
            extra = rejectedLinesText(rejected);
        if (!running) {
            icon = QMessageBox::Warning;
            title = fntpText("Warning");
            bool shortened = false;
            const QString logged = reportTail(messages.join(QLatin1Char('\n')), 20, &shortened);
            extra = fntpText("The daemon is not running a few seconds "
                             "later. It logged:") +
                    QLatin1Char('\n') + (logged.isEmpty() ? fntpText("(nothing)") : logged) +
                    (extra.isEmpty() ? QString() : QStringLiteral("\n\n") + extra);
            if (shortened)
                details = detailsTail(messages.join(QLatin1Char('\n')));
        }
    }
    QMessageBox box(icon, title, successText, QMessageBox::Ok, window);
    if (!extra.isEmpty())
        box.setInformativeText(extra);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

void runServiceCommand(QMainWindow* window, const QString& verb, const QString& successText,
                       const QString& failedToStartText)
{
    const ServiceCommand command = serviceCommandFor(verb);
    const ProcessResult result =
        runKeepingWindowAlive(window, command.program, command.arguments, serviceWaitLimitMs());
    // A script killed by a signal has no exit code to trust: it failed.
    if (result.finished && result.exitStatus == QProcess::NormalExit) {
        if (result.exitCode == 0) {
            showServiceSuccess(window, verb, successText);
            return;
        }
        const QString report = decodedReportTail(result.standardOutput).trimmed() +
                               decodedReportTail(result.standardError).trimmed() +
                               QLatin1Char('\n') + fntpText("Failed! Exit code ") +
                               QString::number(result.exitCode) + QLatin1Char('\n');
        showServiceError(window, fntpText("Server error"), report);
        return;
    }
    const QProcess::ProcessError error = result.finished ? QProcess::Crashed : result.error;
    QString text;
    switch (error) {
    case QProcess::FailedToStart:
        text = failedToStartText;
        break;
    case QProcess::Crashed:
        text = fntpText("Crashed");
        break;
    case QProcess::Timedout:
        text = fntpText("Timed out");
        break;
    case QProcess::ReadError:
        text = fntpText("Read error");
        break;
    case QProcess::WriteError:
        text = fntpText("Write error");
        break;
    case QProcess::UnknownError:
        text = fntpText("Unknown error");
        break;
    }
    QMessageBox::critical(window, fntpText("Server error"), text, QMessageBox::Ok);
}

void setDaemonCheckDelayForTesting(int milliseconds)
{
    checkDelayOverride() = milliseconds;
}
