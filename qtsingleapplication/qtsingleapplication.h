#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>
#include <QWidget>

class QLocalServer;
class QLockFile;

// An application of which only one instance runs per user and program. The
// first instance holds a lock file and listens on a local socket beside it;
// a later one finds the lock held and can send the first a message.
class QtSingleApplication : public QApplication
{
    Q_OBJECT
public:
    QtSingleApplication(int& argc, char** argv, bool GUIenabled = true);
    // One instance per `key` as well: the program on another machine (its
    // host name as the key) runs beside the one for this machine.
    QtSingleApplication(int& argc, char** argv, const QString& key);
    ~QtSingleApplication() override;

    bool isRunning() const;
    QString id() const { return m_id; }
    bool sendMessage(const QString& message, int timeout = 5000);

    void setActivationWindow(QWidget* window, bool activateOnMessage = true);
    QWidget* activationWindow() const { return m_activationWindow; }

public slots:
    void activateWindow();

signals:
    void messageReceived(const QString& message);

private:
    void start(const QString& key);
    void becomePrimary();
    void readConnection();

    QString m_id;
    QString m_socketPath;
    QLockFile* m_lock = nullptr;
    QLocalServer* m_server = nullptr;
    bool m_running = false;
    QPointer<QWidget> m_activationWindow;
    bool m_activateOnMessage = false;
};
