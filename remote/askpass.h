#pragma once

#include "remote/secret.h"

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;
class QLocalSocket;

// No prompt of ssh ever goes to a terminal: ssh runs this program itself as
// its SSH_ASKPASS, with the prompt as argv[1]. That process forwards the
// prompt over a local socket in the connection's private folder to the
// program that opened the connection, and prints the answer for ssh.
namespace SshAskpass
{
// Names the socket; set only in the environment of an SshHost's ssh.
extern const char socketVariable[];

// True when this process was started by ssh as askpass: main() returns
// run()'s result at once, before any window is made.
bool requested();
// Asks and prints the answer; 0 when answered, 1 when not.
int run(int argc, char** argv);
} // namespace SshAskpass

// The program's side of the socket: each askpass process's prompt is
// answered through `answerer`, on the thread that made the server.
class AskpassServer : public QObject
{
    Q_OBJECT
public:
    enum class Kind { Secret, Question, Text };
    struct Reply {
        bool given = false; // false: cancelled (or "no")
        SecretBytes text;
    };
    using Answerer = std::function<void(Kind kind, const QString& prompt, Reply* reply)>;

    AskpassServer(const QString& socketPath, Answerer answerer, QObject* parent = nullptr);
    ~AskpassServer() override;
    // 0 or an errno value.
    int listen();

    // What kind of answer a prompt wants; `hint` is ssh's SSH_ASKPASS_PROMPT.
    static Kind kindOf(const QByteArray& hint, const QString& prompt);

private:
    void serve(QLocalSocket* socket);

    QString m_path;
    Answerer m_answerer;
    QLocalServer* m_server = nullptr;
};
