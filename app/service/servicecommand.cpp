#include "app/service/servicecommand.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QMainWindow>
#include <QMessageBox>
#include <QScreen>
#include <QTextCodec>
#include <QTimer>

#include "app/service/busywindow.h"
#include "app/service/servicecontrol.h"
#include "config/config.h"
#include "config/configdocument.h"
#include "daemon/daemonlog.h"
#include "daemon/daemonprocess.h"
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
// A service command's output kept per channel: its end, which tells what
// went wrong. More is said so in the box.
const int serviceOutputLimit = 1024 * 1024;
// A file name taken from a log line is shown cut to this length.
const int loggedNameWidth = 200;

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
    // One byte more than is shown: a channel that fills it went past the
    // limit (outputWasCut()).
    options.outputLimit = serviceOutputLimit + 1;
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

QString detailsTail(const QString& report);

// The files a log message may point into: the edited one first.
QStringList ownConfigFiles()
{
    const DaemonSetup& daemon = currentDaemon();
    QStringList files{ConfigDocument::instance().path()};
    if (!daemon.daemonConfig.isEmpty())
        files << daemon.daemonConfig;
    return files + daemon.dropIns;
}

QString configLine(const QString& path, int number)
{
    FileContent source;
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
    const QStringList own = ownConfigFiles();
    for (const RejectedLine& entry : rejected) {
        const QString file = fileOfRejectedLine(entry.file, own);
        text += QStringLiteral("\n");
        if (file.isEmpty())
            text += fntpText("line %1 of %2 (not a file of this configuration; not opened)")
                        .arg(entry.line)
                        .arg(entry.file.left(loggedNameWidth));
        else
            text += fntpText("line %1: %2").arg(entry.line).arg(configLine(file, entry.line));
    }
    return text;
}

bool outputWasCut(const ProcessResult& result)
{
    return result.standardOutput.size() > serviceOutputLimit ||
           result.standardError.size() > serviceOutputLimit;
}

QByteArray shownOutput(const QByteArray& channel)
{
    return channel.size() > serviceOutputLimit ? channel.right(serviceOutputLimit) : channel;
}

QString outputCutText()
{
    return fntpText("The command printed more than %1 MiB: only the end of its output is kept "
                    "and shown.")
        .arg(serviceOutputLimit / (1024 * 1024));
}

// The last lines of `text` that a message box label of `box` shows within
// `height` pixels.
QString fittingTail(const QString& text, const QMessageBox& box, int height, bool* shortened)
{
    const QScreen* screen = box.screen();
    const int width = qMin(screen->availableGeometry().width() / 2, 500);
    const QFontMetrics metrics(QApplication::font("QLabel"));
    bool cut = false;
    QString shown = reportTail(text, reportLines, &cut);
    auto heightOf = [&](const QString& candidate) {
        return metrics.boundingRect(QRect(0, 0, width, 1 << 24), Qt::TextWordWrap, candidate)
            .height();
    };
    while (heightOf(shown) > height && shown.contains(QLatin1Char('\n'))) {
        shown = shown.mid(shown.indexOf(QLatin1Char('\n')) + 1);
        cut = true;
    }
    // A screen too small even for one line: the end of it.
    if (heightOf(shown) > height) {
        shown = shown.right(reportLineWidth / 4);
        cut = true;
    }
    *shortened = *shortened || cut;
    return shown;
}

// Shows a box that stays on the screen whatever it is given: its text and
// informative text are cut to a third of the screen's height each, the
// whole of either goes to the details, which scroll.
void showFittingBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                    const QString& text, const QString& informative = QString(),
                    QString details = QString())
{
    QMessageBox box(icon, title, QString(), QMessageBox::Ok, parent);
    // Output and log lines are text, never markup (a tag there could load a
    // file).
    box.setTextFormat(Qt::PlainText);
    const int third = box.screen()->availableGeometry().height() / 3;
    bool textCut = false, informativeCut = false;
    box.setText(fittingTail(text, box, third, &textCut));
    if (!informative.isEmpty())
        box.setInformativeText(fittingTail(informative, box, third, &informativeCut));
    if (details.isEmpty() && (textCut || informativeCut))
        details = detailsTail(textCut ? text : informative);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
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
    showFittingBox(parent, QMessageBox::Critical, title, report);
}

void showServiceSuccess(QMainWindow* window, const QString& argument, const QString& successText)
{
    QMessageBox::Icon icon = QMessageBox::Information;
    QString title = fntpText("Information");
    QString text = successText;
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
            // The command said it worked, the daemon says otherwise: no
            // success to report.
            icon = QMessageBox::Warning;
            title = fntpText("Warning");
            text = fntpText("The command ended with exit code 0, but the daemon is not "
                            "running.");
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
    showFittingBox(window, icon, title, text, extra, details);
}

void runServiceCommand(QMainWindow* window, const QString& verb, const QString& successText,
                       const QString& failedToStartText)
{
    const ServiceCommand command = serviceCommandFor(verb);
    // Run as root: a script another user may change would run their
    // commands. A missing one fails to start as always.
    if (command.program.startsWith(QLatin1Char('/')) &&
        Host::current().status(command.program, true).exists() &&
        !isRootsProgram(Host::current(), command.program)) {
        QMessageBox::critical(window, fntpText("Server error"),
                              fntpText("%1 is not owned by root or can be changed by other "
                                       "users: it is not run.")
                                  .arg(command.program),
                              QMessageBox::Ok);
        return;
    }
    const ProcessResult result =
        runKeepingWindowAlive(window, command.program, command.arguments, serviceWaitLimitMs());
    // A script killed by a signal has no exit code to trust: it failed.
    if (result.finished && result.exitStatus == QProcess::NormalExit) {
        const QString output = decodedReportTail(shownOutput(result.standardOutput)).trimmed();
        const QString errors = decodedReportTail(shownOutput(result.standardError)).trimmed();
        const QString cutNote = outputWasCut(result) ? outputCutText() : QString();
        if (result.exitCode == 0) {
            // A script that reports a failure has failed, whatever its exit
            // code says.
            const QStringList failure = failureLines(output + QLatin1Char('\n') + errors);
            if (failure.isEmpty()) {
                showServiceSuccess(window, verb, successText);
                return;
            }
            showFittingBox(window, QMessageBox::Warning, fntpText("Warning"),
                           failure.join(QLatin1Char('\n')),
                           fntpText("The command ended with exit code 0 but reported a "
                                    "failure.") +
                               (cutNote.isEmpty() ? QString() : QLatin1Char(' ') + cutNote),
                           detailsTail(output + QLatin1Char('\n') + errors));
            return;
        }
        const QString report = output + errors + QLatin1Char('\n') +
                               fntpText("Failed! Exit code ") + QString::number(result.exitCode) +
                               QLatin1Char('\n');
        showFittingBox(window, QMessageBox::Critical, fntpText("Server error"), report, cutNote);
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
