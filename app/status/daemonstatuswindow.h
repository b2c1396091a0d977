#pragma once

#include <QFutureWatcher>
#include <QWidget>

#include "app/status/offsetplot.h"
#include "app/status/syncstatus.h"

class QComboBox;
class QLabel;
class QTableWidget;

namespace QtCharts
{
class QChart;
class QChartView;
} // namespace QtCharts

// The daemon's peers, its system variables and a plot of the clock's offset
// over time from the statistics files. Not modal; refreshed with every answer
// of the poller.
class DaemonStatusWindow : public QWidget
{
    Q_OBJECT
public:
    DaemonStatusWindow(DaemonStatusPoller* poller, QWidget* parent);

    // Where the statistics are read from: the configured directory or the
    // daemon's own default.
    static QString statisticsDirectory();

public slots:
    void showSnapshot(const DaemonSnapshot& snapshot);
    void refresh();
    void refreshPlot();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildPeersTable();
    void fillPeers(const PeersTable& peers);
    void fillSystem(const SystemVariables& system);
    void plotRead();
    void showChart(QtCharts::QChart* chart);

    DaemonStatusPoller* m_poller;
    QLabel* m_state;
    QTableWidget* m_peers;
    QMap<QString, QLabel*> m_system;
    QComboBox* m_period;
    QtCharts::QChartView* m_chartView;
    QFutureWatcher<PlotData> m_plotWatcher;
    bool m_plotAgain = false;
};
