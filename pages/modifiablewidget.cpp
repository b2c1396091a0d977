#include "pages/modifiablewidget.h"

#include "config/configdocument.h"
#include "config/ntpsettings.h"

ModifiableWidget::ModifiableWidget(QWidget* parent) : QWidget(parent) {}

QString ModifiableWidget::lastWriteError()
{
    return ConfigDocument::instance().lastWriteError();
}

bool ModifiableWidget::previewingSave()
{
    return ConfigDocument::instance().capturing();
}

void ModifiableWidget::readNtpSettings()
{
    ConfigDocument::instance().load(&ntpSettings);
}

bool ModifiableWidget::writeNtpSettings()
{
    return ConfigDocument::instance().save(ntpSettings);
}

QString pathWithoutQuotes(const QString& path)
{
    if (path.size() >= 2 && path.startsWith(QLatin1Char('"')) && path.endsWith(QLatin1Char('"')))
        return path.mid(1, path.size() - 2);
    return path;
}
