#include "config/configdocument.h"

#include "config/config.h"
#include "config/configbackups.h"
#include "config/filetrust.h"
#include "daemon/ntpconfpath.h"
#include "host/host.h"
#include "host/hostpath.h"
#include "host/prefetchedhost.h"

#include <cerrno>

namespace
{
// The lines of `bytes`, as the store reads them.
QVector<ConfigLine> linesOf(const QByteArray& bytes)
{
    FileContent content;
    content.bytes = bytes;
    QVector<ConfigLine> lines;
    parseConfigContent(content, &lines, nullptr);
    return lines;
}

// Everything a write of `file` looks at before it replaces the file, when
// no link leads elsewhere: the status of the file and of every folder above
// it, its bytes, and the backup folders.
QVector<HostRequest> writeRequests(const QString& file)
{
    const QString absolute = absolutePath(file);
    QVector<HostRequest> requests{{HostRequest::Status, QStringLiteral("/")}};
    QString above;
    for (const QString& part : cleanPath(absolute).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        above += QLatin1Char('/') + part;
        requests.append({HostRequest::Status, above}); // the file's own last
    }
    if (above != absolute) // asked as given, too
        requests.append({HostRequest::Status, absolute});
    requests.append({HostRequest::ReadFile, absolute, configFileLimit});
    return requests + ConfigBackups::planRequests(file);
}
} // namespace

ConfigDocument& ConfigDocument::instance()
{
    static ConfigDocument document;
    return document;
}

QString ConfigDocument::path() const
{
    return m_path.isEmpty() ? ntpConfPath() : m_path;
}

void ConfigDocument::setPath(const QString& path)
{
    m_path = path;
    forgetParse();
}

void ConfigDocument::forgetParse()
{
    m_parseValid = false;
    m_parsedBytes.clear();
    m_parsedRecord = NtpSettings();
}

void ConfigDocument::load(NtpSettings* record)
{
    const QString file = path();
    FileContent content;
    checkTrust();
    m_readError = Host::current().readFile(file, configFileLimit, &content, true);
    m_loadedPath = file;
    if (m_readError != 0) {
        // The store decides what an unreadable file gives: an empty record.
        forgetParse();
        record->readFrom(Config());
        m_loadedFingerprint = FileFingerprint();
        return;
    }
    if (!(m_parseValid && m_parsedPath == file && m_parsedBytes == content.bytes)) {
        m_parsedRecord.readFrom(Config(file, content));
        m_parseValid = true;
        m_parsedPath = file;
        m_parsedBytes = content.bytes;
    }
    *record = m_parsedRecord;
    m_loadedFingerprint = record->source;
}

QString ConfigDocument::checkTrust()
{
    m_readOnlyReason = FileTrust::whyUntrusted(Host::current(), path());
    return m_readOnlyReason;
}

FileFingerprint ConfigDocument::fingerprintOnDisk() const
{
    return FileFingerprint::ofFile(path());
}

bool ConfigDocument::changedOutside() const
{
    return fingerprintOnDisk() != m_loadedFingerprint;
}

void ConfigDocument::acceptOutsideChange(const FileFingerprint& seen)
{
    m_loadedFingerprint = seen;
    m_loadedPath = path();
}

bool ConfigDocument::save(const NtpSettings& record)
{
    if (m_capturing) {
        m_captured = render(record);
        return true;
    }
    return replaceWith(
        [&record](const QByteArray& current) { return record.render(linesOf(current)); },
        m_copyReason);
}

bool ConfigDocument::restore(const QString& backupPath)
{
    checkTrust();
    const QString refusal =
        m_readOnlyReason.isEmpty() ? whyNotAKeptCopy(backupPath) : m_readOnlyReason;
    if (!refusal.isEmpty()) {
        m_backupError.clear();
        m_foundChange = false;
        m_writeError = refusal;
        return false;
    }
    FileContent backup;
    if (const int error = Host::current().readFile(backupPath, configFileLimit, &backup)) {
        m_backupError.clear();
        m_foundChange = false;
        m_writeError = errnoText(error);
        return false;
    }
    return replaceWith([&backup](const QByteArray&) { return backup.bytes; }, tr("before Restore"));
}

// Only a copy in the backup folders is restored, while root alone controls
// them.
QString ConfigDocument::whyNotAKeptCopy(const QString& backupPath) const
{
    Host& host = Host::current();
    const QString top = cleanPath(absolutePath(backupDirPath()));
    const QString folder = folderOfPath(cleanPath(absolutePath(backupPath)));
    if (folder != ConfigBackups::folderFor(path()) && folder != top)
        return tr("%1 is not a copy kept in %2.").arg(backupPath, backupDirPath());
    QString refusal = FileTrust::whyUntrustedFolder(host, top);
    if (refusal.isEmpty() && folder != top)
        refusal = FileTrust::whyUntrustedFolder(host, folder);
    return refusal;
}

bool ConfigDocument::failWrite(int error)
{
    m_writeError = errnoText(error);
    return false;
}

// Reads the file (through its links), checks that it is still the one read,
// plans the copy of it, and has the host replace it in one call, which checks
// once more that nobody changed it meanwhile.
bool ConfigDocument::replaceWith(
    const std::function<QByteArray(const QByteArray& current)>& newBytes, const QString& reason)
{
    m_backupError.clear();
    m_foundChange = false;
    const QString file = path();
    // One round trip for all the checks below; replaceFile() checks once
    // more that the file is still the one read.
    PrefetchedHost host(Host::current());
    host.prefetch(writeRequests(file));
    // Asked again at each write: what the window showed may be older.
    m_readOnlyReason = FileTrust::whyUntrusted(host, file);
    if (!m_readOnlyReason.isEmpty()) {
        m_writeError = m_readOnlyReason;
        return false;
    }
    QString target;
    if (const int error = resolveSymlinks(host, file, &target))
        return failWrite(error);
    // What the file holds now is carried over; a file that exists but cannot
    // be read is not replaced, or its content would be lost.
    FileContent current;
    const int readError = host.readFile(target, configFileLimit, &current);
    if (readError != 0 && readError != ENOENT)
        return failWrite(readError);
    const bool exists = readError == 0;
    const FileFingerprint found =
        exists ? FileFingerprint::ofContent(current.bytes, current.modified) : FileFingerprint();
    if (m_loadedPath == file && found != m_loadedFingerprint) {
        m_foundChange = true;
        return failWrite(ESTALE);
    }

    const BackupPlan backup = ConfigBackups::plan(host, file, exists, current.bytes, reason);
    if (backup.error) {
        // Without a copy of the old file nothing is replaced.
        m_backupError = backup.refusal.isEmpty() ? errnoText(backup.error) : backup.refusal;
        m_writeError = m_backupError;
        return false;
    }
    FileReplacement replacement;
    replacement.target = target;
    replacement.bytes = newBytes(current.bytes);
    replacement.guarded = true;
    replacement.expectedExists = exists;
    replacement.expectedDigest = found.digest;
    // The file checked and read above, not one put in its place since.
    replacement.expectedFile = current.status;
    replacement.backupPath = backup.copyPath;
    replacement.removeAfterwards = backup.removeAfterwards;
    const ReplaceOutcome outcome = host.replaceFile(replacement);
    switch (outcome.failedStep) {
    case ReplaceOutcome::Done:
        break;
    case ReplaceOutcome::Guard:
        m_foundChange = true;
        return failWrite(outcome.error);
    case ReplaceOutcome::Backup:
        m_backupError = errnoText(outcome.error);
        return failWrite(outcome.error);
    case ReplaceOutcome::Target:
    case ReplaceOutcome::Write:
        if (outcome.outcomeUnknown)
            m_lostWrite = {true, file, exists, found.digest, replacement.bytes};
        return failWrite(outcome.error);
    }
    m_writeError.clear();
    // The program's own write is no outside change: the file is now what
    // was written.
    m_loadedFingerprint = FileFingerprint::ofContent(replacement.bytes, outcome.written.modified);
    m_loadedPath = file;
    emit saved();
    return true;
}

ConfigDocument::LostWrite ConfigDocument::settleLostWrite()
{
    if (!m_lostWrite.pending || m_lostWrite.path != path())
        return LostWrite::None;
    FileContent content;
    const int error = Host::current().readFile(m_lostWrite.path, configFileLimit, &content, true);
    if (error != 0 && error != ENOENT)
        return LostWrite::None;
    m_lostWrite.pending = false;
    const bool exists = error == 0;
    if (exists && content.bytes == m_lostWrite.newBytes) {
        m_loadedFingerprint = FileFingerprint::ofContent(content.bytes, content.modified);
        m_loadedPath = m_lostWrite.path;
        emit saved();
        return LostWrite::New;
    }
    const bool old = exists == m_lostWrite.oldExisted &&
                     (!exists || FileFingerprint::sha256(content.bytes) == m_lostWrite.oldDigest);
    return old ? LostWrite::Old : LostWrite::Other;
}

QByteArray ConfigDocument::currentBytes() const
{
    FileContent content;
    Host::current().readFile(path(), configFileLimit, &content, true);
    return content.bytes;
}

QByteArray ConfigDocument::captureSave(const std::function<void()>& save)
{
    m_capturing = true;
    m_captured.clear();
    save();
    m_capturing = false;
    return m_captured;
}

QByteArray ConfigDocument::render(const NtpSettings& record) const
{
    return record.render(linesOf(currentBytes()));
}
