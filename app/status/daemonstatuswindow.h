#pragma once

#include <QFutureWatcher>
#include <QSize>
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

// The line of the status window about NTS ("\nNTS in use: ..."); empty
// while no server of the file is marked NTS.
QString ntsWords(const DaemonSnapshot& snapshot);

// The daemon's peers, its system variables and a plot of the clock's offset
// over time from the statistics files. Not modal; refreshed with every answer
// of the poller.
class DaemonStatusWindow : public QWidget
{
    Q_OBJECT
public:
    DaemonStatusWindow(DaemonStatusPoller* poller, QWidget* parent);
    ~DaemonStatusWindow() override;

    // Where the statistics are read from: the configured directory or the
    // daemon's own default.
    static QString statisticsDirectory();
    // The size the window opens with; its table's columns fit into it.
    // The size the window opens with: wantedFirstSize(), cut to the screen.
    static QSize firstSize();
    static QSize wantedFirstSize();

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
