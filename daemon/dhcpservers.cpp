#include "daemon/dhcpservers.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

#include "host/host.h"
#include "host/hostpath.h"

namespace
{

QString tr(const char* text)
{
    return QCoreApplication::translate("DhcpServers", text);
}

// Why the copy may not decide what the page shows; empty when it may.
QString untrustedReason(Host& host, const QString& path)
{
    const FileStatus file = host.status(path);
    if (!file.exists())
        return tr("The DHCP copy %1 does not exist.").arg(path);
    if (!file.isRegular() || !onlyRootMayChange(file))
        return tr("The DHCP copy %1 is not a file of root's alone; its servers are not shown.")
            .arg(path);
    const QString folder = QFileInfo(path).path();
    const FileStatus parent = host.status(folder);
    if (!parent.isDirectory() || !onlyRootMayChange(parent))
        return tr("The folder %1 is not root's alone; the servers of its DHCP copy are not "
                  "shown.")
            .arg(folder);
    if (file.size > dhcpConfigLimit)
        return tr("The DHCP copy %1 is larger than %2 KiB; its servers are not shown.")
            .arg(path)
            .arg(dhcpConfigLimit / 1024);
    return QString();
}

bool isSourceKeyword(const QString& word)
{
    return word == QLatin1String("server") || word == QLatin1String("pool") ||
           word == QLatin1String("peer");
}

// A source line of the copy; an empty keyword for other lines.
DhcpSource sourceOf(const QString& rawLine)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QString line = rawLine.section(QLatin1Char('#'), 0, 0).simplified();
    const QStringList words = line.split(blanks, Qt::SkipEmptyParts);
    DhcpSource source;
    if (words.size() < 2 || !isSourceKeyword(words.first()))
        return source;
    const bool family = words.at(1) == QLatin1String("-4") || words.at(1) == QLatin1String("-6");
    if (family && words.size() < 3)
        return source;
    // Reference clocks are no servers a DHCP server hands out.
    const QString address = words.at(family ? 2 : 1);
    if (address.startsWith(QLatin1String("127.127.")))
        return source;
    source.keyword = words.first();
    source.address = address;
    source.line = line;
    return source;
}

} // namespace

DhcpSources readDhcpSources(const QString& path)
{
    DhcpSources result;
    Host& host = Host::current();
    result.error = untrustedReason(host, path);
    if (!result.error.isEmpty())
        return result;
    FileContent content;
    const int error = host.readFile(path, dhcpConfigLimit, &content);
    // The file may have been replaced between the look and the read.
    if (error == 0 && !(content.status.isRegular() && onlyRootMayChange(content.status)))
        result.error = tr("The DHCP copy %1 changed while it was read.").arg(path);
    else if (error != 0)
        result.error = tr("The DHCP copy %1 could not be read: %2").arg(path, errnoText(error));
    if (!result.error.isEmpty())
        return result;
    const QStringList lines = QString::fromUtf8(content.bytes).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const DhcpSource source = sourceOf(line);
        if (!source.keyword.isEmpty())
            result.sources.append(source);
    }
    return result;
}
