#pragma once

#include <QFrame>
#include <QString>

class QBoxLayout;
class QLabel;
class QMainWindow;

// Shows what the window manages: a permanent part of the status bar with
// daemon, file and state, and a notice above the pages where something
// about the set-up needs the administrator's attention.
void addDaemonStatus(QMainWindow* window, QBoxLayout* aboveThePages);

// The notice shown above the pages; hidden while there is nothing to say.
class DaemonNotice : public QFrame
{
    Q_OBJECT
public:
    explicit DaemonNotice(QWidget* parent = nullptr);
    QString text() const;

public slots:
    void refresh();

private:
    QLabel* m_icon;
    QLabel* m_text;
};
