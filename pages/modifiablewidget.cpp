#include "modifiablewidget.h"

#include "config.h"
#include "ntpconfpath.h"
#include "ntpsettings.h"

namespace {
QString& writeError()
{
    static QString error;
    return error;
}
} // namespace

ModifiableWidget::ModifiableWidget(QWidget* parent) : QWidget(parent) {}

QString ModifiableWidget::lastWriteError() { return writeError(); }

void ModifiableWidget::readNtpSettings()
{
    const Config config(ntpConfPath());
    ntpSettings.readFrom(config);
}

bool ModifiableWidget::writeNtpSettings()
{
    QString error;
    const bool written = ntpSettings.writeTo(ntpConfPath(), &error);
    writeError() = written ? QString() : error;
    return written;
}
