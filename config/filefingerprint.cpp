#include "config/filefingerprint.h"

#include "config/config.h"
#include "host/host.h"

#include <QCryptographicHash>

FileFingerprint FileFingerprint::ofFile(const QString& path)
{
    // Only the digest crosses to this program: a remote file is not sent
    // whole to tell whether it changed.
    HostRequest request{HostRequest::Digest, path, configFileLimit, true};
    const QVector<HostReply> replies = Host::current().query({request});
    if (replies.size() != 1 || replies.first().error != 0)
        return FileFingerprint();
    const HostReply& reply = replies.first();
    FileFingerprint fingerprint;
    fingerprint.exists = true;
    fingerprint.size = reply.status.size;
    fingerprint.modified = reply.status.modified;
    fingerprint.digest = reply.digest;
    return fingerprint;
}

FileFingerprint FileFingerprint::ofContent(const QByteArray& content, const QDateTime& modified)
{
    FileFingerprint fingerprint;
    fingerprint.exists = true;
    fingerprint.size = content.size();
    fingerprint.modified = modified;
    // The digest the host gives for a file, so that a fingerprint taken from
    // the bytes read compares with one the host took.
    fingerprint.digest = sha256(content);
    return fingerprint;
}

QByteArray FileFingerprint::sha256(const QByteArray& content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256);
}
