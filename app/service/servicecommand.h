#pragma once

#include <QString>
#include <QStringList>

#include "host/processrunner.h"

class QMainWindow;
class QWidget;

// Runs the service command `verb` ("start", "stop", "restart",
// "force-reload"; serviceCommandFor()) while `window` shows itself busy and
// reports the outcome in a box: `successText` when the command exited with
// 0 and its output tells of no failure (after start, restart and
// force-reload the daemon is checked first, see showServiceSuccess()), a
// warning with the failure's lines when exit code and output disagree, its
// output and exit code when it failed, and `failedToStartText` or the
// process error's text when it did not run to its end. Only the last MiB of
// each output channel is kept; the box says when there was more.
void runServiceCommand(QMainWindow* window, const QString& verb, const QString& successText,
                       const QString& failedToStartText);

// Runs a service command without freezing `window`: it keeps repainting,
// shows a busy cursor and a progress bar in its status bar, and takes no
// input (nor a close) until the command is done. The program runs in a
// process group of its own, ended as a whole when `timeoutMs` runs out; its
// output is read as it arrives and only the last 1 MiB of each channel kept.
ProcessResult runKeepingWindowAlive(QMainWindow* window, const QString& program,
                                    const QStringList& arguments, int timeoutMs);

// A command's output decoded from the local 8-bit encoding, only as much of
// its end as a report box can show: decoding a whole MiB would hold up the
// window for a noticeable time.
QString decodedReportTail(const QByteArray& output);

// Shows a critical box with `report`. The box stays on the screen: a report
// too long for it shows as many of its last lines as fit a third of the
// screen's height, and the last 16 KiB of it in the box's details, which
// scroll.
void showServiceError(QWidget* parent, const QString& title, const QString& report);

// The success box of a service command. After "start", "restart" and
// "force-reload" the daemon is first given a few seconds and then checked:
// configuration lines it rejected in this start are added as a warning
// (a line's text only from the edited file, the daemon's or its drop-ins:
// any other file a log message names is never opened), and
// a daemon that is no longer running turns the box into a warning with what
// it logged.
void showServiceSuccess(QMainWindow* window, const QString& argument, const QString& successText);

// How long after a start the daemon is checked; 0 or less: not at all. The
// shipped program waits 3000 ms; a test that ran a stand-in script is not
// checked unless it asks for it here (-1 restores the default).
void setDaemonCheckDelayForTesting(int milliseconds);

// The text a report box shows: at most `maxLines` last lines of `report`,
// each cut to a readable length; true in `shortened` when something was left
// out.
QString reportTail(const QString& report, int maxLines, bool* shortened);
