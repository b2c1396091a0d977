#include "app/status/offsetplot.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QtCharts/QChart>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include "host/host.h"

using namespace QtCharts;

namespace
{
const int maxPointsPerSeries = 2000;
const int maxPeerSeries = 8;

QString tr(const char* text)
{
    return QCoreApplication::translate("DaemonStatusWindow", text);
}

template <class Sample, class Value>
QLineSeries* seriesOf(const QString& name, const QVector<Sample>& samples, Value value)
{
    auto* series = new QLineSeries;
    series->setName(name);
    const int stride = std::max(1, int(samples.size() / maxPointsPerSeries));
    QVector<QPointF> points;
    points.reserve(samples.size() / stride + 1);
    for (int i = 0; i < samples.size(); i += stride)
        points.append(QPointF(samples.at(i).time * 1000.0, value(samples.at(i))));
    series->replace(points);
    return series;
}
} // namespace

PlotData readPlotData(const QString& dir, const QString& loopFile, const QString& peerFile,
                      double seconds)
{
    PlotData data;
    const double since = double(QDateTime::currentSecsSinceEpoch()) - seconds;
    if (!Host::current().status(dir, true).isDirectory()) {
        data.emptyReason = tr("The statistics directory %1 does not exist.").arg(dir);
        return data;
    }
    data.loop = readLoopStats(dir, loopFile, since);
    data.peers = readPeerStats(dir, peerFile, since);
    if (!data.loop.loop.isEmpty() || !data.peers.peers.isEmpty())
        return data;
    if (data.loop.filesRead == 0 && data.peers.filesRead == 0)
        data.emptyReason = tr("No readable %1 or %2 file in %3 for this period. Enable them on "
                              "the Statistics page.")
                               .arg(loopFile, peerFile, dir);
    else if (data.loop.malformedLines + data.peers.malformedLines > 0)
        data.emptyReason = tr("The statistics files in %1 hold no line that could be read for "
                              "this period.")
                               .arg(dir);
    else
        data.emptyReason =
            tr("The statistics files in %1 have no entries for this period yet.").arg(dir);
    return data;
}

QChart* offsetChart(const PlotData& plot, double seconds)
{
    auto* chart = new QChart;
    if (!plot.emptyReason.isEmpty()) {
        chart->setTitle(plot.emptyReason);
        return chart;
    }
    auto* timeAxis = new QDateTimeAxis;
    timeAxis->setFormat(seconds > 86400 ? QStringLiteral("dd.MM HH:mm") : QStringLiteral("HH:mm"));
    const QDateTime now = QDateTime::currentDateTime();
    timeAxis->setRange(now.addSecs(-qint64(seconds)), now);
    auto* valueAxis = new QValueAxis;
    valueAxis->setTitleText(tr("ms"));
    chart->addAxis(timeAxis, Qt::AlignBottom);
    chart->addAxis(valueAxis, Qt::AlignLeft);
    QList<QLineSeries*> series;
    if (!plot.loop.loop.isEmpty()) {
        series << seriesOf(tr("Offset"), plot.loop.loop,
                           [](const LoopSample& s) { return s.offset * 1000.0; });
        series << seriesOf(tr("Jitter"), plot.loop.loop,
                           [](const LoopSample& s) { return s.jitter * 1000.0; });
    }
    QMap<QString, QVector<PeerSample>> byPeer;
    for (const PeerSample& sample : plot.peers.peers)
        byPeer[sample.peer].append(sample);
    for (auto it = byPeer.cbegin(); it != byPeer.cend() && series.size() < maxPeerSeries + 2; ++it)
        series << seriesOf(tr("Offset of %1").arg(it.key()), it.value(),
                           [](const PeerSample& s) { return s.offset * 1000.0; });
    double low = 0;
    double high = 0;
    for (QLineSeries* line : series) {
        chart->addSeries(line);
        line->attachAxis(timeAxis);
        line->attachAxis(valueAxis);
        for (const QPointF& point : line->pointsVector()) {
            low = std::min(low, point.y());
            high = std::max(high, point.y());
        }
    }
    const double margin = std::max(0.001, (high - low) * 0.1);
    valueAxis->setRange(low - margin, high + margin);
    return chart;
}
