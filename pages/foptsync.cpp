#include "foptsync.h"

FOptSync::FOptSync(QWidget* parent) : ModifiableWidget(parent)
{
    setWindowTitle(tr("Sync"));
    loadSettings();
}

void FOptSync::loadSettings() { readNtpSettings(); }

void FOptSync::saveSettings() { writeNtpSettings(); }
