#include "filefingerprint.h"

#include "fileio.h"

#include <QCryptographicHash>

FileFingerprint FileFingerprint::ofFile(const QString& path)
{
    FileContent content;
    if (readWholeFile(path, &content) != 0)
        return FileFingerprint();
    return ofContent(content.bytes, content.modified);
}

FileFingerprint FileFingerprint::ofContent(const QByteArray& content, const QDateTime& modified)
{
    FileFingerprint fingerprint;
    fingerprint.exists = true;
    fingerprint.size = content.size();
    fingerprint.modified = modified;
    fingerprint.sha256 = QCryptographicHash::hash(content, QCryptographicHash::Sha256);
    return fingerprint;
}
