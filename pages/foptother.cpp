#include "foptother.h"

FOptOther::FOptOther(QWidget* parent) : ModifiableWidget(parent)
{
    setWindowTitle(tr("Additional options"));
    loadSettings();
}

void FOptOther::loadSettings() { readNtpSettings(); }

void FOptOther::saveSettings() { writeNtpSettings(); }
