#include "foptstats.h"

FOptStats::FOptStats(QWidget* parent) : ModifiableWidget(parent)
{
    setWindowTitle(tr("Statistics"));
    loadSettings();
}

void FOptStats::loadSettings() { readNtpSettings(); }

void FOptStats::saveSettings() { writeNtpSettings(); }
