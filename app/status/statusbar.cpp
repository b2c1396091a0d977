#include "app/status/statusbar.h"

#include <QLabel>
#include <QPainter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>

#include "app/hooks/windowhooks.h"
#include "config/configdocument.h"
#include "daemon/daemonnotices.h"
#include "daemon/daemonsetup.h"

namespace
{
// How often the status bar looks whether the daemon runs.
constexpr int runningCheckIntervalMs = 5000;

QColor colourOf(SyncLight light)
{
    switch (light) {
    case SyncLight::Synchronised:
        return QColor(46, 160, 67);
    case SyncLight::NotYet:
        return QColor(230, 160, 20);
    case SyncLight::NotRunning:
        return QColor(200, 40, 40);
    case SyncLight::Unknown:
        break;
    }
    return QColor(150, 150, 150);
}

QString lightToolTip(SyncLight light)
{
    switch (light) {
    case SyncLight::Synchronised:
        return DaemonStatusBar::tr("Synchronised");
    case SyncLight::NotYet:
        return DaemonStatusBar::tr("Not synchronised");
    case SyncLight::NotRunning:
        return DaemonStatusBar::tr("Daemon not running");
    case SyncLight::Unknown:
        break;
    }
    return DaemonStatusBar::tr("Unknown");
}
} // namespace

QPixmap syncLightPixmap(SyncLight light, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = colourOf(light);
    painter.setPen(QPen(colour.darker(150), 1));
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(1.5, 1.5, size - 3, size - 3));
    return pixmap;
}

bool startedSince(qint64 uptimeSeconds, const QDateTime& writtenAt, const QDateTime& now)
{
    return uptimeSeconds >= 0 && writtenAt.isValid() &&
           now.addSecs(-uptimeSeconds) >= writtenAt.addSecs(-1);
}

DaemonStatusBar::DaemonStatusBar(QStatusBar* statusBar, DaemonStatusPoller* poller,
                                 WindowEvents* events)
    : QObject(statusBar), m_poller(poller), m_light(new QLabel), m_sync(new QLabel),
      m_reminder(new QLabel), m_summary(new QLabel)
{
    m_light->setObjectName(QStringLiteral("syncLight"));
    m_sync->setObjectName(QStringLiteral("syncStatus"));
    statusBar->addWidget(m_light);
    statusBar->addWidget(m_sync);
    showSnapshot(poller->snapshot());
    connect(poller, &DaemonStatusPoller::updated, this, &DaemonStatusBar::showSnapshot);

    m_reminder->setObjectName(QStringLiteral("configReminder"));
    m_reminder->setText(tr("The daemon still runs the previous configuration: Reload config"));
    m_reminder->hide();
    statusBar->addWidget(m_reminder);
    connect(&ConfigDocument::instance(), &ConfigDocument::saved, this,
            &DaemonStatusBar::fileWritten);
    if (events)
        connect(events, &WindowEvents::serviceCommandFinished, this,
                &DaemonStatusBar::serviceCommandFinished);

    m_summary->setObjectName(QStringLiteral("daemonSummary"));
    statusBar->addPermanentWidget(m_summary);
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &DaemonStatusBar::refresh);
    timer->start(runningCheckIntervalMs);
    // Start-up has just looked for a running daemon: the first text says
    // what it found instead of walking every process again.
    showSetup(currentDaemon());
}

void DaemonStatusBar::refresh()
{
    DaemonSetup setup = currentDaemon();
    setup.running = findRunningNtpd(setup.flavour);
    showSetup(setup);
}

void DaemonStatusBar::showSetup(const DaemonSetup& setup)
{
    m_summary->setText(daemonSummary(setup, ConfigDocument::instance().path()));
    if (setup.running != m_daemonRuns) {
        m_daemonRuns = setup.running;
        if (m_lastSnapshot.state == DaemonSnapshot::State::NoAnswer)
            showSnapshot(m_lastSnapshot);
    }
}

void DaemonStatusBar::showSnapshot(const DaemonSnapshot& snapshot)
{
    m_lastSnapshot = snapshot;
    const bool keptOut = snapshot.state == DaemonSnapshot::State::NoAnswer && m_daemonRuns;
    const SyncLight light = keptOut ? SyncLight::Unknown : syncLightOf(snapshot);
    const int size = m_light->style()->pixelMetric(QStyle::PM_SmallIconSize);
    m_light->setPixmap(syncLightPixmap(light, size));
    if (keptOut) {
        m_light->setToolTip(
            tr("The daemon runs but does not answer ntpq on this machine's loopback address: "
               "its restrict lines (noquery) or the addresses it listens on (interface) may "
               "keep ntpq out."));
        m_sync->setText(tr("Daemon does not answer queries"));
        return;
    }
    // A daemon that follows only its local clock, or has selected a source
    // it cannot set the clock from, says why here.
    const QString why =
        snapshot.state == DaemonSnapshot::State::Answered ? snapshot.diagnosis.text : QString();
    m_light->setToolTip(why.isEmpty() ? lightToolTip(light)
                                      : lightToolTip(light) + QLatin1Char('\n') + why);
    m_sync->setText(syncSummary(snapshot));
    if (!m_writtenAt.isValid())
        return;
    // A daemon that is not running reads the new file when it starts; one
    // that started after the write has read it; without its uptime a
    // service command since the write is taken for that.
    const bool started =
        snapshot.uptimeSeconds >= 0
            ? startedSince(snapshot.uptimeSeconds, m_writtenAt,
                           snapshot.taken.isValid() ? snapshot.taken : QDateTime::currentDateTime())
            : m_commandSinceWrite;
    if (snapshot.state == DaemonSnapshot::State::NoAnswer || started) {
        m_writtenAt = QDateTime();
        m_reminder->hide();
    }
}

void DaemonStatusBar::fileWritten()
{
    if (m_poller->snapshot().state == DaemonSnapshot::State::NoAnswer)
        return;
    m_writtenAt = QDateTime::currentDateTime();
    m_commandSinceWrite = false;
    m_reminder->show();
}

void DaemonStatusBar::serviceCommandFinished(const QString& verb)
{
    // Started or stopped: the light must not wait for the next look.
    refresh();
    if (!m_writtenAt.isValid())
        return;
    if (verb != QLatin1String("stop"))
        m_commandSinceWrite = true;
    // The answer says whether the daemon now runs the new file.
    m_poller->pollNow();
}
