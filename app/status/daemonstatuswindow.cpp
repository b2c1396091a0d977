#include "app/status/daemonstatuswindow.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtConcurrent/QtConcurrentRun>

#include "config/ntpsettings.h"
#include "daemon/daemonsetup.h"

using namespace QtCharts;

namespace
{
const int plotRefreshMs = 60000;

enum Column {
    State,
    Remote,
    Refid,
    Stratum,
    Type,
    When,
    Poll,
    Reach,
    Delay,
    Offset,
    Jitter,
    ColumnCount
};

QString tr(const char* text)
{
    return QCoreApplication::translate("DaemonStatusWindow", text);
}

QString selectionWords(const PeerRow& row)
{
    switch (row.selection()) {
    case PeerSelection::SystemPeer:
        return tr("system peer");
    case PeerSelection::PpsPeer:
        return tr("PPS peer");
    case PeerSelection::Candidate:
        return tr("candidate");
    case PeerSelection::Backup:
        return tr("backup");
    case PeerSelection::Outlier:
        return tr("outlier");
    case PeerSelection::Excess:
        return tr("excess");
    case PeerSelection::FalseTicker:
        return tr("false ticker");
    case PeerSelection::Rejected:
        break;
    }
    if (row.refid == QLatin1String(".NTS."))
        return tr("NTS key exchange not done");
    return row.reach == 0 ? tr("unreachable") : tr("rejected");
}

// Sorts by the number under Qt::UserRole when it has one, else by text.
class SortItem : public QTableWidgetItem
{
public:
    SortItem(const QString& text, const QVariant& key) : QTableWidgetItem(text)
    {
        setData(Qt::UserRole, key);
    }
    bool operator<(const QTableWidgetItem& other) const override
    {
        const QVariant mine = data(Qt::UserRole);
        const QVariant theirs = other.data(Qt::UserRole);
        if (mine.isValid() && theirs.isValid())
            return mine.toDouble() < theirs.toDouble();
        return QTableWidgetItem::operator<(other);
    }
};

// ntpq's "64", "3m", "21h", "2d" with its unit written out; "-" stays.
QString durationWithUnit(const QString& text)
{
    if (text.isEmpty() || text == QLatin1String("-"))
        return text;
    const QChar last = text.back();
    const QString number = last.isDigit() ? text : text.left(text.size() - 1);
    if (last.isDigit())
        return tr("%1 s").arg(number);
    if (last == QLatin1Char('m'))
        return tr("%1 min").arg(number);
    if (last == QLatin1Char('h'))
        return tr("%1 h").arg(number);
    if (last == QLatin1Char('d'))
        return tr("%1 d").arg(number);
    return text;
}

QTableWidgetItem* remoteItem(const QString& remote)
{
    auto* item = new QTableWidgetItem(remote);
    item->setToolTip(remote);
    return item;
}

QTableWidgetItem* reachItem(int reach)
{
    auto* item = new SortItem(reachSummary(reach), reach);
    item->setToolTip(
        tr("Answers to the last eight polls, oldest first: %1").arg(reachAsPolls(reach)));
    return item;
}

QTableWidgetItem* numberItem(double value, int decimals)
{
    if (std::isnan(value))
        return new SortItem(QStringLiteral("-"), -1e300);
    return new SortItem(QString::number(value, 'f', decimals), value);
}

QString fileOf(const QString& name)
{
    for (const FileGenEntry& entry : ntpSettings.fileGens) {
        if (entry.name == name && !entry.file.isEmpty())
            return entry.file;
    }
    return name;
}

int ntsServerCount()
{
    int count = 0;
    for (const ServerEntry& server : ntpSettings.servers)
        count += server.usesNts() ? 1 : 0;
    return count;
}

} // namespace

QString ntsWords(const DaemonSnapshot& snapshot)
{
    const int servers = ntsServerCount();
    if (servers == 0)
        return QString();
    const NtsCounters& nts = snapshot.nts;
    QString words;
    if (!nts.answered)
        words = tr("NTS: the daemon does not report whether it is in use.");
    else if (nts.clientGood > 0)
        words = tr("NTS in use: %1 authenticated answers.").arg(nts.clientGood);
    else if (nts.keBad > 0)
        words = tr("NTS not in use: %1 key exchanges failed; the servers marked NTS give no "
                   "time.")
                    .arg(nts.keBad);
    else
        words = tr("NTS not in use yet: no key exchange has succeeded.");
    return QLatin1Char('\n') + words;
}

DaemonStatusWindow::DaemonStatusWindow(DaemonStatusPoller* poller, QWidget* parent)
    : QWidget(parent, Qt::Window), m_poller(poller)
{
    setObjectName(QStringLiteral("DaemonStatusWindow"));
    setWindowTitle(tr("Daemon status"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    m_state = new QLabel;
    m_state->setObjectName(QStringLiteral("lState"));
    m_state->setWordWrap(true);
    auto* refreshButton = new QPushButton(tr("Refresh"));
    refreshButton->setObjectName(QStringLiteral("bRefresh"));
    top->addWidget(m_state, 1);
    top->addWidget(refreshButton);
    layout->addLayout(top);

    buildPeersTable();
    layout->addWidget(m_peers, 3);
    auto* lower = new QHBoxLayout;
    auto* system = new QFormLayout;
    const QList<QPair<QString, QString>> variables = {
        {QStringLiteral("leap"), tr("Leap indicator")},
        {QStringLiteral("stratum"), tr("Stratum of this daemon")},
        {QStringLiteral("refid"), tr("Reference")},
        {QStringLiteral("offset"), tr("Offset")},
        {QStringLiteral("sys_jitter"), tr("System jitter")},
        {QStringLiteral("frequency"), tr("Frequency")},
        {QStringLiteral("version"), tr("Version")}};
    for (const auto& variable : variables) {
        auto* value = new QLabel;
        value->setObjectName(QStringLiteral("lVar_") + variable.first);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setWordWrap(true); // the classic daemon's version is a long line
        system->addRow(variable.second, value);
        m_system.insert(variable.first, value);
    }
    lower->addLayout(system);

    auto* plot = new QVBoxLayout;
    auto* plotBar = new QHBoxLayout;
    m_period = new QComboBox;
    m_period->setObjectName(QStringLiteral("cbPeriod"));
    m_period->addItem(tr("Last 10 minutes"), 600);
    m_period->addItem(tr("Last hour"), 3600);
    m_period->addItem(tr("Last day"), 86400);
    m_period->addItem(tr("Last week"), 7 * 86400);
    m_period->setCurrentIndex(1);
    plotBar->addWidget(new QLabel(tr("Offset over time:")));
    plotBar->addWidget(m_period);
    plotBar->addStretch();
    plot->addLayout(plotBar);
    m_chartView = new QChartView(new QChart);
    m_chartView->setObjectName(QStringLiteral("chartView"));
    m_chartView->setRenderHint(QPainter::Antialiasing);
    m_chartView->setMinimumHeight(220);
    plot->addWidget(m_chartView, 1);
    lower->addLayout(plot, 1);
    layout->addLayout(lower, 2);
    resize(firstSize());

    connect(refreshButton, &QPushButton::clicked, this, &DaemonStatusWindow::refresh);
    connect(m_period, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &DaemonStatusWindow::refreshPlot);
    connect(poller, &DaemonStatusPoller::updated, this, &DaemonStatusWindow::showSnapshot);
    connect(&m_plotWatcher, &QFutureWatcher<PlotData>::finished, this,
            &DaemonStatusWindow::plotRead);
    auto* plotTimer = new QTimer(this);
    connect(plotTimer, &QTimer::timeout, this, [this] {
        if (isVisible())
            refreshPlot();
    });
    plotTimer->start(plotRefreshMs);
    showSnapshot(poller->snapshot());
}

void DaemonStatusWindow::buildPeersTable()
{
    m_peers = new QTableWidget(0, ColumnCount);
    m_peers->setObjectName(QStringLiteral("twPeers"));
    m_peers->setHorizontalHeaderLabels({tr("State"), tr("Remote"), tr("Refid"), tr("Stratum"),
                                        tr("Type"), tr("When"), tr("Poll"), tr("Reach"),
                                        tr("Delay (ms)"), tr("Offset (ms)"), tr("Jitter (ms)")});
    m_peers->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_peers->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_peers->verticalHeader()->hide();
    m_peers->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Long host names would push the numbers out of view: the remote's
    // column is only as wide as a typical name, the rest shows on hover.
    m_peers->horizontalHeader()->setSectionResizeMode(Remote, QHeaderView::Interactive);
    m_peers->horizontalHeader()->setStretchLastSection(false);
    m_peers->setWordWrap(false);
    m_peers->setTextElideMode(Qt::ElideMiddle);
    m_peers->setColumnWidth(
        Remote,
        m_peers->fontMetrics().horizontalAdvance(QStringLiteral("2001:db8:ffff::123")) + 12);
    m_peers->setSortingEnabled(true);
    // The arrow's room in every header would push the last columns out.
    m_peers->horizontalHeader()->setSortIndicatorShown(false);
}

DaemonStatusWindow::~DaemonStatusWindow()
{
    // The statistics are read through the host, which may go with the
    // window (a remote one).
    m_plotWatcher.waitForFinished();
}

QSize DaemonStatusWindow::wantedFirstSize()
{
    // Wide enough for every column of the peers table beside a typical
    // host name, in the usual desktop fonts.
    return QSize(1120, 640);
}

QSize DaemonStatusWindow::firstSize()
{
    // Never larger than the screen: a smaller screen scrolls the table.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return wantedFirstSize();
    return wantedFirstSize().boundedTo(screen->availableSize() * 0.95);
}

QString DaemonStatusWindow::statisticsDirectory()
{
    if (!ntpSettings.statsDir.trimmed().isEmpty())
        return ntpSettings.statsDir.trimmed();
    return currentDaemon().isNtpsec() ? QStringLiteral("/var/log/ntpsec/")
                                      : QStringLiteral("/var/log/ntpstats/");
}

void DaemonStatusWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
}

void DaemonStatusWindow::refresh()
{
    m_poller->pollNow();
    refreshPlot();
}

void DaemonStatusWindow::showSnapshot(const DaemonSnapshot& snapshot)
{
    QString state;
    switch (snapshot.state) {
    case DaemonSnapshot::State::Unknown:
        state = tr("Asking the daemon...");
        break;
    case DaemonSnapshot::State::NtpqMissing:
        state = tr("The query tool ntpq is not installed: the daemon's state cannot be shown.");
        break;
    case DaemonSnapshot::State::Flooded:
        state = syncSummary(snapshot);
        break;
    case DaemonSnapshot::State::NoAnswer:
        state = tr("The daemon does not answer: it is not running, or it does not answer "
                   "queries from this machine. Asking again every few seconds.");
        break;
    case DaemonSnapshot::State::Answered:
        state = syncSummary(snapshot);
        if (snapshot.peers.noAssociations)
            state += QLatin1Char('\n') + tr("The daemon has no time sources.");
        else if (!snapshot.diagnosis.synchronised() && !state.contains(snapshot.diagnosis.text))
            state += QLatin1Char('\n') + snapshot.diagnosis.text;
        if (snapshot.uptimeSeconds >= 0)
            state += QLatin1Char('\n') +
                     tr("The daemon has run for %1.").arg(durationWords(snapshot.uptimeSeconds));
        state += ntsWords(snapshot);
        break;
    }
    if (snapshot.taken.isValid())
        state += QLatin1Char(' ') + tr("(as of %1)").arg(snapshot.taken.time().toString());
    m_state->setText(state);
    fillPeers(snapshot.peers);
    fillSystem(snapshot.system);
}

void DaemonStatusWindow::fillPeers(const PeersTable& peers)
{
    m_peers->setSortingEnabled(false);
    m_peers->setRowCount(peers.rows.size());
    for (int row = 0; row < peers.rows.size(); ++row) {
        const PeerRow& peer = peers.rows.at(row);
        QList<QTableWidgetItem*> items;
        items << new SortItem(selectionWords(peer), int(peer.selection()))
              << remoteItem(peer.remote) << new QTableWidgetItem(peer.refid)
              << new SortItem(peer.stratum < 0 ? QStringLiteral("-")
                                               : QString::number(peer.stratum),
                              peer.stratum)
              << new QTableWidgetItem(peer.type)
              << new SortItem(durationWithUnit(peer.when), ntpqDurationSeconds(peer.when))
              << new SortItem(durationWithUnit(peer.poll), ntpqDurationSeconds(peer.poll))
              << reachItem(peer.reach) << numberItem(peer.delay, 3) << numberItem(peer.offset, 3)
              << numberItem(peer.jitter, 3);
        for (int column = 0; column < items.size(); ++column) {
            if (peer.isSystemPeer()) {
                QFont font = items.at(column)->font();
                font.setBold(true);
                items.at(column)->setFont(font);
            }
            m_peers->setItem(row, column, items.at(column));
        }
    }
    m_peers->setSortingEnabled(true);
    m_peers->horizontalHeader()->setSortIndicatorShown(false);
}

void DaemonStatusWindow::fillSystem(const SystemVariables& system)
{
    const auto number = [](double value, const QString& unit) {
        return std::isnan(value) ? QString() : QString::number(value, 'g', 6) + unit;
    };
    const QStringList leapWords = {tr("none"), tr("second to be inserted"),
                                   tr("second to be deleted"), tr("not synchronised")};
    m_system.value(QStringLiteral("leap"))
        ->setText(system.leap >= 0 && system.leap < 4 ? leapWords.at(system.leap) : QString());
    m_system.value(QStringLiteral("stratum"))
        ->setText(system.stratum < 0 ? QString() : QString::number(system.stratum));
    m_system.value(QStringLiteral("refid"))->setText(system.refid);
    m_system.value(QStringLiteral("offset"))->setText(number(system.offset, tr(" ms")));
    m_system.value(QStringLiteral("sys_jitter"))->setText(number(system.sysJitter, tr(" ms")));
    m_system.value(QStringLiteral("frequency"))->setText(number(system.frequency, tr(" ppm")));
    m_system.value(QStringLiteral("version"))->setText(system.version);
}

void DaemonStatusWindow::refreshPlot()
{
    if (m_plotWatcher.isRunning()) {
        m_plotAgain = true;
        return;
    }
    const QString dir = statisticsDirectory();
    const QString loopFile = fileOf(QStringLiteral("loopstats"));
    const QString peerFile = fileOf(QStringLiteral("peerstats"));
    const double seconds = m_period->currentData().toDouble();
    m_plotWatcher.setFuture(QtConcurrent::run(readPlotData, dir, loopFile, peerFile, seconds));
}

void DaemonStatusWindow::plotRead()
{
    if (m_plotAgain) {
        m_plotAgain = false;
        refreshPlot();
        return;
    }
    showChart(offsetChart(m_plotWatcher.result(), m_period->currentData().toDouble()));
}

void DaemonStatusWindow::showChart(QChart* chart)
{
    // The view gives up the chart it showed without deleting it.
    QChart* old = m_chartView->chart();
    m_chartView->setChart(chart);
    delete old;
}
