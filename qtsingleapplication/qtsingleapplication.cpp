#include "qtsingleapplication/qtsingleapplication.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QWidget>

#include <unistd.h>

namespace
{

// A directory only this user can write to, so that nobody else can take the
// instance's socket name first.
QString runtimeDirectory()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    QDir().mkpath(dir);
    return dir;
}

QString instanceId(const QString& program)
{
    const QByteArray hash =
        QCryptographicHash::hash(program.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return QStringLiteral("qtsingleapp-%1-%2-%3")
        .arg(QCoreApplication::applicationName())
        .arg(QString::fromLatin1(hash))
        .arg(getuid());
}

} // namespace

QtSingleApplication::QtSingleApplication(int& argc, char** argv,
                                         bool /*GUIenabled: always a GUI application here*/)
    : QApplication(argc, argv)
{
    start(QString());
}

QtSingleApplication::QtSingleApplication(int& argc, char** argv, const QString& key)
    : QApplication(argc, argv)
{
    start(key);
}

void QtSingleApplication::start(const QString& key)
{
    // The key is hashed with the path, so no name can reach outside the
    // runtime folder.
    m_id = instanceId(key.isEmpty() ? applicationFilePath()
                                    : applicationFilePath() + QLatin1Char('\n') + key);
    const QString base = runtimeDirectory() + QLatin1Char('/') + m_id;
    m_socketPath = base + QStringLiteral(".sock");
    m_lock = new QLockFile(base + QStringLiteral(".lock"));
    // A lock whose owner died (even by SIGKILL) is found stale by its PID
    // and taken over; a live owner keeps it.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(100))
        becomePrimary();
    else
        m_running = true;
}

QtSingleApplication::~QtSingleApplication()
{
    if (m_server)
        m_server->close();
    delete m_lock; // unlocks
}

bool QtSingleApplication::isRunning() const
{
    return m_running;
}

void QtSingleApplication::becomePrimary()
{
    QLocalServer::removeServer(m_socketPath); // left behind by a crashed instance
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath))
        return;
    connect(m_server, &QLocalServer::newConnection, this, &QtSingleApplication::readConnection);
}

void QtSingleApplication::readConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QDataStream in(socket);
            in.startTransaction();
            QString message;
            in >> message;
            if (!in.commitTransaction())
                return;
            socket->write("ack", 3);
            emit messageReceived(message);
            if (m_activateOnMessage)
                activateWindow();
        });
    }
}

bool QtSingleApplication::sendMessage(const QString& message, int timeout)
{
    if (!m_running)
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(timeout))
        return false;
    QByteArray block;
    QDataStream out(&block, QIODevice::WriteOnly);
    out << message;
    socket.write(block);
    if (!socket.waitForBytesWritten(timeout))
        return false;
    const bool acknowledged = socket.waitForReadyRead(timeout) && socket.readAll() == "ack";
    socket.disconnectFromServer();
    return acknowledged;
}

void QtSingleApplication::setActivationWindow(QWidget* window, bool activateOnMessage)
{
    m_activationWindow = window;
    m_activateOnMessage = activateOnMessage;
}

void QtSingleApplication::activateWindow()
{
    if (!m_activationWindow)
        return;
    m_activationWindow->setWindowState(m_activationWindow->windowState() & ~Qt::WindowMinimized);
    m_activationWindow->show();
    m_activationWindow->raise();
    m_activationWindow->activateWindow();
}
