#pragma once

#include <QString>
#include <QStringList>

class Host;
struct FileStatus;

// Paths of the managed machine taken apart and put together as text: nothing
// here but resolveSymlinks() looks at a file. Paths use "/" as separator.

// "/etc/ntpsec" for "/etc/ntpsec/ntp.conf", "/" for "/ntp.conf", "." for a
// name without a folder.
QString folderOfPath(const QString& path);
// "ntp.conf" for "/etc/ntpsec/ntp.conf".
QString fileNameOfPath(const QString& path);
// A relative `path` taken from the program's working folder, as the shell
// gave it; an absolute one as it is.
QString absolutePath(const QString& path);
// `path` without "." and ".." components and doubled slashes, as text (a
// ".." after a symbolic link is not where the link leads).
QString cleanPath(const QString& path);
// `name` in `folder`; an absolute `name` stands for itself.
QString pathIn(const QString& folder, const QString& name);
// "/", "/etc", "/etc/ntpsec", "/etc/ntpsec/ntp.conf" for the last one: the
// folders whose owners decide what an absolute `path` names, and the path.
QStringList pathsDownTo(const QString& path);

// Owned by root and writable by nobody else: a file or folder that only root
// can have put there or changed.
bool onlyRootMayChange(const FileStatus& status);

// Follows the chain of symbolic links at `path` on `host` to the path that
// finally names a file (which need not exist). Returns 0 or an errno value:
// ELOOP after as many links as the kernel would follow.
int resolveSymlinks(Host& host, const QString& path, QString* resolved);
