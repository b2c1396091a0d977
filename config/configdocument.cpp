#include "configdocument.h"

#include "config.h"
#include "configbackups.h"
#include "fileio.h"
#include "ntpconfpath.h"

#include <QFile>

#include <cerrno>

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
    m_readError = readWholeFile(file, &content);
    if (m_readError != 0) {
        // The store decides what an unreadable file gives: an empty record.
        forgetParse();
        record->readFrom(Config(file));
        m_loadedFingerprint = record->source;
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

bool ConfigDocument::changedOutside() const
{
    return FileFingerprint::ofFile(path()) != m_loadedFingerprint;
}

bool ConfigDocument::save(const NtpSettings& record)
{
    if (m_capturing) {
        m_captured = render(record);
        return true;
    }
    return replaceKeepingBackup(
        [&record](const QString& path, QString* error) { return record.writeTo(path, error); });
}

bool ConfigDocument::restore(const QString& backupPath)
{
    FileContent backup;
    if (const int error = readWholeFile(backupPath, &backup)) {
        m_backupError.clear();
        m_writeError = errnoText(error);
        return false;
    }
    return replaceKeepingBackup([&backup](const QString& path, QString* error) {
        QString target;
        int result = resolveSymlinks(path, &target);
        if (result == 0)
            result = replaceFileAtomically(target, backup.bytes);
        *error = result == 0 ? QString() : errnoText(result);
        return result == 0;
    });
}

bool ConfigDocument::replaceKeepingBackup(
    const std::function<bool(const QString& path, QString* error)>& write)
{
    const QString file = path();
    QString backup;
    if (const int error = ConfigBackups::keep(file, &backup)) {
        // Without a copy of the old file nothing is replaced.
        m_backupError = errnoText(error);
        m_writeError = m_backupError;
        return false;
    }
    m_backupError.clear();
    QString error;
    const bool written = write(file, &error);
    m_writeError = written ? QString() : error;
    if (!written) {
        if (!backup.isEmpty())
            QFile::remove(backup); // a copy of the unchanged file
        return false;
    }
    ConfigBackups::prune(file);
    emit saved();
    return true;
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
    QString target;
    if (resolveSymlinks(path(), &target) != 0)
        target = path();
    QVector<ConfigLine> oldLines;
    int readError = 0;
    readConfigFile(target, &oldLines, nullptr, &readError);
    return record.render(oldLines);
}
