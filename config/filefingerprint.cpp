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
    // Guards against changes made by other programs, not against attackers: a
    // fast digest keeps loading large files quick.
    fingerprint.digest = QCryptographicHash::hash(content, QCryptographicHash::Md5);
    return fingerprint;
}
