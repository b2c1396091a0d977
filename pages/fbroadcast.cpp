#include "fbroadcast.h"

FBroadcast::FBroadcast(QWidget* parent) : ModifiableWidget(parent)
{
    setWindowTitle(tr("Broadcast"));
    loadSettings();
}

void FBroadcast::loadSettings() { readNtpSettings(); }

void FBroadcast::saveSettings() { writeNtpSettings(); }
