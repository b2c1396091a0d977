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
