#include "foptaccess.h"

FOptAccess::FOptAccess(QWidget* parent) : ModifiableWidget(parent)
{
    setWindowTitle(tr("Access"));
    loadSettings();
}

void FOptAccess::loadSettings() { readNtpSettings(); }

void FOptAccess::saveSettings() { writeNtpSettings(); }
