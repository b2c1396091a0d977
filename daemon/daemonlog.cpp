#include "daemon/daemonlog.h"

#include <QLocale>
#include <QRegularExpression>
#include <QSet>

#include "daemon/ntpconfpath.h"
#include "host/hostpath.h"

namespace
{
QDateTime stampOf(const QString& line, int year)
{
    static const QRegularExpression iso(QStringLiteral(
        "^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d)(\\.\\d+)?([-+]\\d\\d:?\\d\\d|Z)?"));
    const QRegularExpressionMatch isoMatch = iso.match(line);
    if (isoMatch.hasMatch()) {
        QDateTime stamp = QDateTime::fromString(isoMatch.captured(1), Qt::ISODate);
        QString zone = isoMatch.captured(3);
        if (zone.isEmpty()) {
            stamp.setTimeSpec(Qt::LocalTime);
        } else if (zone == QLatin1String("Z")) {
            stamp.setTimeSpec(Qt::UTC);
        } else {
            zone.remove(QLatin1Char(':'));
            const int sign = zone.startsWith(QLatin1Char('-')) ? -1 : 1;
            const int seconds =
                sign * (zone.mid(1, 2).toInt() * 3600 + zone.mid(3, 2).toInt() * 60);
            stamp.setOffsetFromUtc(seconds);
        }
        return stamp;
    }
    // "May  1 10:00:00": English month names whatever the locale.
    const QString traditional = line.left(15).simplified();
    const QDateTime stamp =
        QLocale::c().toDateTime(traditional + QLatin1Char(' ') + QString::number(year),
                                QStringLiteral("MMM d HH:mm:ss yyyy"));
    return stamp;
}
} // namespace

QStringList daemonMessagesInSyslog(const QString& syslog, const QDateTime& since)
{
    static const QRegularExpression daemonTag(QStringLiteral("\\sntpd\\[\\d+\\]:\\s"));
    QStringList messages;
    const int year = since.date().year();
    for (const QString& line : syslog.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch tag = daemonTag.match(line);
        if (!tag.hasMatch())
            continue;
        const QDateTime stamp = stampOf(line, year);
        if (!stamp.isValid() || stamp < since.addSecs(-1))
            continue;
        messages.append(line.mid(tag.capturedEnd()).trimmed());
    }
    return messages;
}

QVector<RejectedLine> rejectedConfigLines(const QStringList& messages)
{
    static const QRegularExpression inFile(QStringLiteral("syntax error in (\\S+) line (\\d+)"));
    static const QRegularExpression bare(QStringLiteral("line (\\d+) column \\d+ syntax error"));
    QVector<RejectedLine> rejected;
    QSet<int> seen;
    for (const QString& message : messages) {
        RejectedLine entry;
        QRegularExpressionMatch match = inFile.match(message);
        if (match.hasMatch()) {
            entry.file = match.captured(1);
            entry.line = match.captured(2).toInt();
        } else if ((match = bare.match(message)).hasMatch()) {
            entry.line = match.captured(1).toInt();
        } else {
            continue;
        }
        if (seen.contains(entry.line)) {
            for (RejectedLine& earlier : rejected) {
                if (earlier.line == entry.line && earlier.file.isEmpty())
                    earlier.file = entry.file;
            }
            continue;
        }
        seen.insert(entry.line);
        rejected.append(entry);
    }
    return rejected;
}

QString fileOfRejectedLine(const QString& logged, const QStringList& ownFiles)
{
    if (ownFiles.isEmpty())
        return QString();
    if (logged.isEmpty())
        return ownFiles.first();
    if (!logged.startsWith(QLatin1Char('/')))
        return QString();
    // The daemon names the host's path; tests lay the system out in a folder.
    const QString named = cleanPath(logged);
    const QString onSystem = systemPath(named);
    for (const QString& own : ownFiles) {
        const QString path = cleanPath(own);
        if (!own.isEmpty() && (path == named || path == onSystem))
            return own;
    }
    return QString();
}

QStringList failureLines(const QString& output)
{
    static const QRegularExpression failure(
        QStringLiteral("\\b(fatal|error|failed|failure|cannot|can't|unable)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    QStringList lines;
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        if (line.contains(failure))
            lines << line.trimmed();
    }
    return lines;
}
