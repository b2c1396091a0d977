#pragma once

#include <QString>

class Host;

// Whether only root can decide what a path names. The program runs as root:
// a file that another user can create, change or replace (itself, or by
// changing a folder above it) must not decide what root reads or writes.
// The rule is the one sshd's StrictModes applies: the file and every folder
// above it are owned by root and writable by nobody else; a sticky folder
// such as /tmp may be writable by all, as only the owner of an entry there
// can replace it. A root-owned symbolic link in such a folder is followed,
// and where it leads is held to the same rule.
namespace FileTrust
{
// Empty when only root controls `path` (which need not exist yet); otherwise
// the reason, naming the path at fault.
QString whyUntrusted(Host& host, const QString& path);

// Empty when `folder` is a real folder (no link) that only root controls,
// like the folder above it; otherwise the reason. A missing folder gives
// an empty reason: the caller creates it.
QString whyUntrustedFolder(Host& host, const QString& folder);
} // namespace FileTrust
