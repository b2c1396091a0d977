#pragma once

#include <QString>

#include "daemon/ntpstats.h"

namespace QtCharts
{
class QChart;
} // namespace QtCharts

// The statistics the plot shows, read away from the GUI thread.
struct PlotData {
    StatsRead loop;
    StatsRead peers;
    QString emptyReason; // why there is nothing to plot; empty when there is
};

// Reads loopstats and peerstats of the last `seconds` from `dir` on the
// current host.
PlotData readPlotData(const QString& dir, const QString& loopFile, const QString& peerFile,
                      double seconds);

// The chart of the clock's offset and jitter and of each peer's offset over
// the last `seconds`, or of why there is nothing to show.
QtCharts::QChart* offsetChart(const PlotData& plot, double seconds);
