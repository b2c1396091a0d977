#include "config/filetrust.h"

#include "host/host.h"
#include "host/hostpath.h"

#include <QCoreApplication>
#include <QVector>

namespace
{
constexpr uint groupOrOtherWritable = 022;
constexpr uint sticky = 01000;
constexpr int maxLinkDepth = 40;

QString tr(const char* text)
{
    return QCoreApplication::translate("FileTrust", text);
}

QString modeText(uint mode)
{
    return QStringLiteral("%1").arg(mode & 07777, 4, 8, QLatin1Char('0'));
}

QString ownerFault(const QString& path, const FileStatus& status)
{
    if (status.uid != 0)
        return tr("%1 belongs to the user with id %2, not to root.").arg(path).arg(status.uid);
    return QString();
}

// What is wrong with one folder on the way (status followed through a link).
QString folderFault(const QString& path, const FileStatus& status)
{
    if (!status.isDirectory())
        return tr("%1 is not a folder.").arg(path);
    const QString owner = ownerFault(path, status);
    if (!owner.isEmpty())
        return owner;
    if ((status.mode & groupOrOtherWritable) && !(status.mode & sticky))
        return tr("The folder %1 can be changed by users other than root (mode %2).")
            .arg(path, modeText(status.mode));
    return QString();
}

// Only who may change the file counts here: that it is no regular file is
// for the reader and the writer to tell, which refuse it.
QString fileFault(const QString& path, const FileStatus& status)
{
    const QString owner = ownerFault(path, status);
    if (!owner.isEmpty())
        return owner;
    if (status.mode & groupOrOtherWritable)
        return tr("%1 can be changed by users other than root (mode %2).")
            .arg(path, modeText(status.mode));
    return QString();
}

QString whyUntrustedAt(Host& host, const QString& given, int depth, bool folder = false);

// A symbolic link on the way: the link itself must be root's (its folder is
// checked already), and where it leads is checked as a path of its own.
QString linkFault(Host& host, const QString& path, const FileStatus& link, int depth, bool folder)
{
    const QString owner = ownerFault(path, link);
    if (!owner.isEmpty())
        return owner;
    if (depth >= maxLinkDepth)
        return QString(); // root's own loop: no read or write gets through it
    QString target;
    if (const int error = host.readLink(path, &target))
        return tr("%1 cannot be followed: %2").arg(path, errnoText(error));
    return whyUntrustedAt(host, cleanPath(pathIn(folderOfPath(path), target)), depth + 1, folder);
}

QString whyUntrustedAt(Host& host, const QString& given, int depth, bool folder)
{
    const QStringList paths = pathsDownTo(cleanPath(absolutePath(given)));
    QVector<HostRequest> requests;
    for (const QString& path : paths)
        requests.append({HostRequest::Status, path, 0});
    const QVector<HostReply> replies = host.query(requests);
    if (replies.size() != paths.size())
        return tr("%1 cannot be looked at.").arg(given);
    for (int i = 0; i < paths.size(); ++i) {
        const FileStatus& status = replies.at(i).status;
        const bool file = !folder && i == paths.size() - 1;
        if (replies.at(i).error == ENOENT)
            return QString(); // created by root, in a folder found safe
        if (replies.at(i).error || !status.exists())
            return tr("%1 cannot be looked at: %2")
                .arg(paths.at(i), errnoText(replies.at(i).error));
        if (i < paths.size() - 1 && status.isRegular())
            return QString(); // nothing can be below a file: the write fails
        QString fault;
        if (status.isSymlink())
            fault = linkFault(host, paths.at(i), status, depth, !file);
        else
            fault = file ? fileFault(paths.at(i), status) : folderFault(paths.at(i), status);
        if (!fault.isEmpty())
            return fault;
    }
    return QString();
}
} // namespace

QString FileTrust::whyUntrusted(Host& host, const QString& path)
{
    return whyUntrustedAt(host, path, 0);
}

QString FileTrust::whyUntrustedFolder(Host& host, const QString& folder)
{
    const FileStatus status = host.status(folder);
    if (status.error == ENOENT)
        return whyUntrustedAt(host, folderOfPath(folder), 0, true);
    if (status.isSymlink())
        return tr("%1 is a symbolic link, not a folder.").arg(folder);
    const QString fault = folderFault(folder, status);
    if (!fault.isEmpty())
        return fault;
    return whyUntrustedAt(host, folderOfPath(folder), 0, true);
}
