#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What a file looked like at one moment: enough to tell whether someone else
// changed it since. A null fingerprint stands for a file that did not exist
// or could not be read.
struct FileFingerprint {
    bool exists = false;
    qint64 size = -1;
    QDateTime modified;
    QByteArray digest; // SHA-256 of the content

    // The file on the current host (following symbolic links), as its
    // Digest request gives it.
    static FileFingerprint ofFile(const QString& path);
    static FileFingerprint ofContent(const QByteArray& content, const QDateTime& modified);
    static QByteArray sha256(const QByteArray& content);

    bool operator==(const FileFingerprint& other) const
    {
        // The time stamp alone does not count: a file touched but unchanged
        // holds nothing that could be overwritten.
        return exists == other.exists && size == other.size && digest == other.digest;
    }
    bool operator!=(const FileFingerprint& other) const { return !(*this == other); }
};
