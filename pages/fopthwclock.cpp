#include "fopthwclock.h"

FOptHWClock::FOptHWClock(QWidget* parent) : ModifiableWidget(parent)
{
    setWindowTitle(tr("Hardware clock"));
    loadSettings();
}

void FOptHWClock::loadSettings() { readNtpSettings(); }

void FOptHWClock::saveSettings() { writeNtpSettings(); }
