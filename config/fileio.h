#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "host/host.h"

// Low-level file access shared by the reader and the writer. Errors are
// reported as errno values so that callers can show the system's reason.

// Reads a whole regular file. Returns 0 on success, otherwise an errno value
// (EISDIR for a directory, EINVAL for anything that is not a regular file).
int readWholeFile(const QString& path, FileContent* content);

// Follows a chain of symbolic links to the path that finally names a file
// (which need not exist). Returns 0 or an errno value (ELOOP, ...).
int resolveSymlinks(const QString& path, QString* resolved);

// Replaces the file at `path` (not a symbolic link) with `bytes` in one
// step: a new file is written beside it, synced, given the old file's mode
// and owner, and renamed over it. Returns 0 or the errno value of the step
// that failed; the old file is then unchanged.
int replaceFileAtomically(const QString& path, const QByteArray& bytes);

// Writes `bytes` to `path` the same way, as a file of mode 0600 owned by
// root (by the caller when it is not root).
int writePrivateFileAtomically(const QString& path, const QByteArray& bytes);
