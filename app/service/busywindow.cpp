#include "app/service/busywindow.h"

#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QProgressBar>
#include <QStatusBar>

BusyWindow::BusyWindow(QMainWindow* window) : m_window(window)
{
    m_wasEnabled = window->isEnabled();
    window->setEnabled(false);
    window->installEventFilter(this);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    m_progress = new QProgressBar;
    m_progress->setObjectName(QStringLiteral("serviceProgress"));
    m_progress->setRange(0, 0);
    m_progress->setMaximumWidth(120);
    m_progress->setMaximumHeight(14);
    window->statusBar()->addWidget(m_progress);
}

BusyWindow::~BusyWindow()
{
    QApplication::restoreOverrideCursor();
    if (m_window) {
        m_window->removeEventFilter(this);
        m_window->setEnabled(m_wasEnabled);
        delete m_progress;
    }
}

bool BusyWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Close) {
        event->ignore();
        return true;
    }
    return false;
}
