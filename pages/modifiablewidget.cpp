#include "modifiablewidget.h"

#include "config.h"
#include "fileio.h"
#include "ntpconfpath.h"
#include "ntpsettings.h"

namespace
{
// The record parsed at the last read, with the bytes it was parsed from.
struct ParsedFile {
    bool valid = false;
    QString path;
    QByteArray bytes;
    NtpSettings record;
};

ParsedFile& lastParsed()
{
    static ParsedFile parsed;
    return parsed;
}

QString& writeError()
{
    static QString error;
    return error;
}
} // namespace

ModifiableWidget::ModifiableWidget(QWidget* parent) : QWidget(parent) {}

QString ModifiableWidget::lastWriteError()
{
    return writeError();
}

void ModifiableWidget::readNtpSettings()
{
    // Every page reads the file when it loads, and the window builds seven
    // pages: while the file holds the bytes of the last read, the record
    // parsed then is taken again instead of parsing the same text anew.
    const QString path = ntpConfPath();
    FileContent content;
    ParsedFile& parsed = lastParsed();
    if (readWholeFile(path, &content) != 0) {
        // The store decides what an unreadable file gives.
        parsed.valid = false;
        ntpSettings.readFrom(Config(path));
        return;
    }
    if (parsed.valid && parsed.path == path && parsed.bytes == content.bytes) {
        ntpSettings = parsed.record;
        return;
    }
    ntpSettings.readFrom(Config(path, content));
    parsed.valid = true;
    parsed.path = path;
    parsed.bytes = content.bytes;
    parsed.record = ntpSettings;
}

bool ModifiableWidget::writeNtpSettings()
{
    QString error;
    const bool written = ntpSettings.writeTo(ntpConfPath(), &error);
    writeError() = written ? QString() : error;
    return written;
}
