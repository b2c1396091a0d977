#include "configdocument.h"

#include "config.h"
#include "fileio.h"
#include "ntpconfpath.h"

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
    QString error;
    const bool written = record.writeTo(path(), &error);
    m_writeError = written ? QString() : error;
    if (written)
        emit saved();
    return written;
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
