#include "remote/askpass.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QtEndian>

#include <cerrno>
#include <cstdio>
#include <memory>

// The socket carries one exchange per askpass process:
//   askpass -> program: length (4 bytes, big-endian), then hint "\n" prompt
//   program -> askpass: '1' (answered) or '0', length, the answer
const char SshAskpass::socketVariable[] = "NTPSM_SSH_ASKPASS";

namespace
{
constexpr quint32 maxMessage = 64 * 1024;
// The user may take this long over a prompt; ssh waits as long.
constexpr int answerWaitMs = 30 * 60 * 1000;

QByteArray framed(const QByteArray& payload)
{
    QByteArray length(4, '\0');
    qToBigEndian(quint32(payload.size()), length.data());
    return length + payload;
}

// A whole frame from the front of `buffer` (removed from it), or false
// while it is incomplete; `invalid` when it can never be one.
bool takeFrame(QByteArray* buffer, int headerSize, QByteArray* payload, bool* invalid)
{
    if (buffer->size() < headerSize)
        return false;
    const quint32 length = qFromBigEndian<quint32>(buffer->constData() + headerSize - 4);
    if (length > maxMessage) {
        *invalid = true;
        return false;
    }
    if (quint32(buffer->size()) < quint32(headerSize) + length)
        return false;
    *payload = buffer->mid(headerSize, int(length));
    return true;
}

int ask(const QByteArray& socketPath, const QByteArray& hint, const QByteArray& prompt)
{
    QLocalSocket socket;
    socket.connectToServer(QString::fromLocal8Bit(socketPath));
    if (!socket.waitForConnected(5000))
        return 1;
    socket.write(framed(hint + '\n' + prompt));
    if (!socket.waitForBytesWritten(5000))
        return 1;
    QByteArray buffer;
    QByteArray answer;
    bool invalid = false;
    while (!takeFrame(&buffer, 5, &answer, &invalid) && !invalid) {
        if (!socket.waitForReadyRead(answerWaitMs))
            return 1;
        buffer += socket.readAll();
    }
    const bool given = !invalid && buffer.startsWith('1');
    if (given) {
        std::fwrite(answer.constData(), 1, size_t(answer.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    wipe(&answer);
    wipe(&buffer);
    return given ? 0 : 1;
}
} // namespace

bool SshAskpass::requested()
{
    return !qEnvironmentVariableIsEmpty(socketVariable);
}

int SshAskpass::run(int argc, char** argv)
{
    const QByteArray socketPath = qgetenv(socketVariable);
    const QByteArray hint = qgetenv("SSH_ASKPASS_PROMPT");
    // A notice ("Confirm user presence for key ...") wants no answer.
    if (hint == "none")
        return 0;
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app.reset(new QCoreApplication(argc, argv));
    return ask(socketPath, hint, argc > 1 ? QByteArray(argv[1]) : QByteArray());
}

AskpassServer::AskpassServer(const QString& socketPath, Answerer answerer, QObject* parent)
    : QObject(parent), m_path(socketPath), m_answerer(std::move(answerer))
{
}

AskpassServer::~AskpassServer()
{
    if (m_server)
        m_server->close();
}

int AskpassServer::listen()
{
    m_server = new QLocalServer(this);
    // The folder is the program's own (0700); the socket needs no more.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_path))
        return EADDRINUSE;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection())
            serve(socket);
    });
    return 0;
}

AskpassServer::Kind AskpassServer::kindOf(const QByteArray& hint, const QString& prompt)
{
    if (hint == "confirm" || prompt.contains(QLatin1String("(yes/no"), Qt::CaseInsensitive))
        return Kind::Question;
    for (const char* word : {"password", "passphrase", "PIN", "passcode"}) {
        if (prompt.contains(QLatin1String(word), Qt::CaseInsensitive))
            return Kind::Secret;
    }
    return Kind::Text;
}

void AskpassServer::serve(QLocalSocket* socket)
{
    auto buffer = std::make_shared<QByteArray>();
    QPointer<QLocalSocket> guarded(socket);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, guarded, buffer] {
        *buffer += socket->readAll();
        QByteArray payload;
        bool invalid = false;
        if (!takeFrame(buffer.get(), 4, &payload, &invalid)) {
            if (invalid)
                socket->abort();
            return;
        }
        socket->disconnect(this);
        const int newline = payload.indexOf('\n');
        const QByteArray hint = payload.left(newline);
        const QString prompt = QString::fromUtf8(payload.mid(newline + 1));
        Reply reply;
        m_answerer(kindOf(hint, prompt), prompt, &reply);
        if (!guarded) // ssh gave up (or ended) meanwhile
            return;
        if (!reply.given)
            reply.text.clear();
        const QByteArray& answer = reply.text.bytes();
        QByteArray message;
        message.reserve(5 + answer.size());
        message.append(reply.given ? '1' : '0');
        char length[4];
        qToBigEndian(quint32(answer.size()), length);
        message.append(length, 4);
        message.append(answer);
        reply.text.clear();
        socket->write(message);
        wipe(&message);
        socket->flush();
        socket->disconnectFromServer();
    });
}
