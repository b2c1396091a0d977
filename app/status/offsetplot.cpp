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
// Colours told apart at a glance, one per series, in a fixed order.
QColor seriesColour(int index)
{
    static const QColor colours[] = {
        QColor(31, 119, 180),  QColor(255, 127, 14), QColor(44, 160, 44),   QColor(214, 39, 40),
        QColor(148, 103, 189), QColor(140, 86, 75),  QColor(227, 119, 194), QColor(127, 127, 127),
        QColor(188, 189, 34),  QColor(23, 190, 207)};
    const int count = int(sizeof(colours) / sizeof(colours[0]));
    return colours[index % count];
}

QValueAxis* valueAxisIn(QChart* chart, const QString& title, Qt::Alignment side)
{
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setLabelFormat(QStringLiteral("%g"));
    chart->addAxis(axis, side);
    return axis;
}

// The range of the series' values with a margin, on round ticks.
void fitAxis(QValueAxis* axis, const QList<QLineSeries*>& series)
{
    double low = 0;
    double high = 0;
    for (QLineSeries* line : series) {
        for (const QPointF& point : line->pointsVector()) {
            low = std::min(low, point.y());
            high = std::max(high, point.y());
        }
    }
    const double margin = std::max(0.001, (high - low) * 0.1);
    axis->setRange(low - margin, high + margin);
    axis->applyNiceNumbers();
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
    timeAxis->setTickCount(seconds > 86400 ? 8 : 7);
    timeAxis->setTitleText(tr("Time"));
    chart->addAxis(timeAxis, Qt::AlignBottom);
    // Offsets (the clock's and each peer's) on the left, the jitter, which
    // is never negative and often far smaller, on an axis of its own.
    auto* offsetAxis = valueAxisIn(chart, tr("Offset (ms)"), Qt::AlignLeft);
    QList<QLineSeries*> offsets;
    QLineSeries* jitter = nullptr;
    if (!plot.loop.loop.isEmpty()) {
        offsets << seriesOf(tr("Offset"), plot.loop.loop,
                            [](const LoopSample& s) { return s.offset * 1000.0; });
        jitter = seriesOf(tr("Jitter"), plot.loop.loop,
                          [](const LoopSample& s) { return s.jitter * 1000.0; });
    }
    QMap<QString, QVector<PeerSample>> byPeer;
    for (const PeerSample& sample : plot.peers.peers)
        byPeer[sample.peer].append(sample);
    for (auto it = byPeer.cbegin(); it != byPeer.cend() && offsets.size() < maxPeerSeries + 1; ++it)
        offsets << seriesOf(tr("Offset of %1").arg(it.key()), it.value(),
                            [](const PeerSample& s) { return s.offset * 1000.0; });
    QList<QLineSeries*> all = offsets;
    if (jitter)
        all.insert(1, jitter);
    for (int i = 0; i < all.size(); ++i) {
        chart->addSeries(all.at(i));
        all.at(i)->setColor(seriesColour(i));
        all.at(i)->attachAxis(timeAxis);
    }
    for (QLineSeries* line : offsets)
        line->attachAxis(offsetAxis);
    fitAxis(offsetAxis, offsets);
    if (jitter) {
        auto* jitterAxis = valueAxisIn(chart, tr("Jitter (ms)"), Qt::AlignRight);
        jitter->attachAxis(jitterAxis);
        fitAxis(jitterAxis, {jitter});
        jitterAxis->setMin(0);
        jitterAxis->applyNiceNumbers();
    }
    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}
