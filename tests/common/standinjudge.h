#pragma once

#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include "config/daemonjudge.h"
#include "host/processrunner.h"

// Stands in for the installed daemon as the judge of the check: answers the
// judging command (DaemonJudge's "/bin/sh -c SCRIPT ntpsm-judge PATH ...")
// with what the command prints for a daemon that rejects every line whose
// first word is in `rejected`, or, with `unable` set, as a host where the
// daemon cannot be asked. Every other program runs for real. While it lives
// it is the host's command runner, and the program's judge has forgotten
// every judgement.
class StandInJudge : public ProcessRunner
{
public:
    QStringList rejected;
    QString unable;           // why the daemon cannot be asked; empty: it can
    int answerMs = 20;        // how long a judgement takes
    QList<QByteArray> judged; // the bytes of each judgement asked for

    StandInJudge()
    {
        DaemonJudge::instance().clear();
        ProcessRunner::setInstanceForTesting(this);
    }
    ~StandInJudge() override
    {
        ProcessRunner::setInstanceForTesting(nullptr);
        DaemonJudge::instance().clear();
    }

    static bool isJudgement(const QString& program, const QStringList& arguments)
    {
        return program == QLatin1String("/bin/sh") &&
               arguments.value(2) == QLatin1String("ntpsm-judge");
    }

    ProcessJob* start(const QString& program, const QStringList& arguments,
                      const ProcessOptions& options) override
    {
        if (!isJudgement(program, arguments))
            return ProcessRunner::start(program, arguments, options);
        judged << options.input;
        ProcessResult result;
        result.finished = true;
        if (!unable.isEmpty()) {
            result.exitCode = 3;
            result.standardError = unable.toUtf8() + '\n';
        } else {
            result.standardOutput = output(options.input, arguments.value(3));
        }
        return ProcessJob::finishedWith(result, answerMs);
    }

private:
    QSet<int> rejectedLines(const QByteArray& bytes) const
    {
        QSet<int> lines;
        const QList<QByteArray> rows = bytes.split('\n');
        for (int i = 0; i < rows.size(); ++i) {
            const QString first = QString::fromUtf8(rows.at(i)).simplified().section(' ', 0, 0);
            if (!first.isEmpty() && rejected.contains(first))
                lines.insert(i + 1);
        }
        return lines;
    }

    // One run of the daemon, as the judging command prints it.
    static QByteArray round(int number, const QByteArray& path, const QList<int>& errors)
    {
        const QByteArray log = "2026-01-01T00:00:00 ntpd[100]: ";
        QByteArray out = "ntpsm-judge: round " + QByteArray::number(number) +
                         "\nntpsm-judge: sandbox ready\n" + log +
                         "INIT: ntpd ntpsec-1.2.2: Starting\n" + log +
                         "CONFIG: readconfig: parsing file: " + path + '\n';
        for (int line : errors)
            out += log + "CONFIG: syntax error in " + path + " line " + QByteArray::number(line) +
                   ", column 0\n";
        return out + "\nntpsm-judge: exit 124\n";
    }

    QByteArray output(const QByteArray& bytes, const QString& target) const
    {
        const QByteArray folder = "/tmp/ntpsm-judge.standin";
        const QByteArray path = QFileInfo(target).isFile() ? target.toUtf8() : folder + "/ntp.conf";
        QList<int> errors = rejectedLines(bytes).values();
        std::sort(errors.begin(), errors.end());
        QByteArray out = "ntpsm-judge: folder " + folder + "\nntpsm-judge: judging " + path + '\n' +
                         round(1, path, errors);
        if (errors.isEmpty())
            return out;
        for (int line : errors)
            out += "ntpsm-judge: blanked " + QByteArray::number(line) + '\n';
        return out + round(2, path, {});
    }
};
