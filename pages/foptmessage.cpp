#include "foptmessage.h"

FOptMessage::FOptMessage(QWidget* parent) : ModifiableWidget(parent)
{
    setWindowTitle(tr("Message reporting"));
    loadSettings();
}

void FOptMessage::loadSettings() { readNtpSettings(); }

void FOptMessage::saveSettings() { writeNtpSettings(); }
