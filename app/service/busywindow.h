#pragma once

#include <QObject>
#include <QPointer>

class QMainWindow;
class QProgressBar;

// While it lives, `window` takes no input, cannot be closed and shows that it
// is busy (a busy cursor, a progress bar in its status bar); it keeps
// repainting. For the service commands, which wait in a nested event loop.
class BusyWindow : public QObject
{
public:
    explicit BusyWindow(QMainWindow* window);
    ~BusyWindow() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QMainWindow> m_window;
    QPointer<QProgressBar> m_progress;
    bool m_wasEnabled = true;
};
