// The SSH host on loopback, against the tests' throw-away sshd, beside the
// local host in the same run: connecting, one query round trip (a batch of
// a status, a read and a digest), one replaceFile of a configuration-sized
// file, and the process list. Needs root (the server runs in namespaces).
#include "remote/askpass.h"
#include "remote/prompter.h"
#include "remote/secret.h"
#include "remote/sshhost.h"
#include "tests/remote/sshtestserver.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

#include <map>
#include <memory>

namespace
{
const char* const logins[] = {"local", "root", "ntpauto", "ntpsudo"};

class PasswordPrompter : public Prompter
{
public:
    QByteArray password;
    bool askSecret(const QString&, const QString&, SecretBytes* answer) override
    {
        answer->assign(password.constData(), password.size());
        return true;
    }
    bool askQuestion(const QString&, const QString&) override { return false; }
    bool askText(const QString&, const QString&, QString*) override { return false; }
};

struct Login {
    PasswordPrompter prompter;
    std::unique_ptr<SshHost> host;
};

std::map<int, Login>& made()
{
    static std::map<int, Login> connected;
    return connected;
}

// A connected host for each login, made once.
Host* hostOf(benchmark::State& state)
{
    const int index = int(state.range(0));
    state.SetLabel(logins[index]);
    if (index == 0)
        return &localHost();
    Login& login = made()[index];
    if (!login.host) {
        const QString user = QLatin1String(logins[index]);
        login.prompter.password = SshTestServer::passwordOf(user);
        login.host.reset(new SshHost(SshTestServer::instance().settings(user), &login.prompter));
        if (login.host->connectToHost() != 0) {
            state.SkipWithError(qPrintable(login.host->lastConnectionError()));
            login.host.reset();
            return nullptr;
        }
    }
    return login.host.get();
}

QTemporaryDir& folder()
{
    static QTemporaryDir dir;
    return dir;
}

QString fileIn(const char* name, const QByteArray& bytes)
{
    const QString path = folder().filePath(QLatin1String(name));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
    return path;
}

void connecting(benchmark::State& state)
{
    const QString user = QLatin1String(logins[state.range(0)]);
    state.SetLabel(logins[state.range(0)]);
    PasswordPrompter prompter;
    prompter.password = SshTestServer::passwordOf(user);
    for (auto _ : state) {
        SshHost host(SshTestServer::instance().settings(user), &prompter);
        if (host.connectToHost() != 0)
            state.SkipWithError(qPrintable(host.lastConnectionError()));
    }
}

void queryRoundTrip(benchmark::State& state)
{
    Host* host = hostOf(state);
    const QString conf = fileIn("ntp.conf", QByteArray(4096, 'x'));
    const QVector<HostRequest> batch{{HostRequest::Status, conf},
                                     {HostRequest::ReadFile, conf, 1 << 20},
                                     {HostRequest::Digest, conf, 1 << 20}};
    for (auto _ : state) {
        if (!host || host->query(batch).value(1).error != 0)
            state.SkipWithError("query failed");
    }
}

void replacement(benchmark::State& state)
{
    Host* host = hostOf(state);
    const QString target = fileIn("replaced.conf", QByteArray(8192, 'a'));
    FileReplacement replace;
    replace.target = target;
    replace.guarded = true;
    QByteArray current(8192, 'a');
    int round = 0;
    for (auto _ : state) {
        replace.expectedDigest = QCryptographicHash::hash(current, QCryptographicHash::Sha256);
        replace.bytes = QByteArray(8192, char('b' + round++ % 20));
        if (!host || host->replaceFile(replace).error != 0)
            state.SkipWithError("replaceFile failed");
        current = replace.bytes;
    }
}

void processList(benchmark::State& state)
{
    Host* host = hostOf(state);
    for (auto _ : state) {
        if (!host || host->processes(QStringLiteral("/proc")).isEmpty())
            state.SkipWithError("no processes");
    }
}
} // namespace

// Wall-clock time: the client waits for the server, it does not compute.
BENCHMARK(connecting)->DenseRange(1, 3)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(queryRoundTrip)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(replacement)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(processList)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    if (SshAskpass::requested())
        return SshAskpass::run(argc, argv);
    SshTestServer::enterPrivateNetwork();
    QCoreApplication app(argc, argv);
    QString whyNot;
    if (!SshTestServer::instance().start(&whyNot)) {
        std::fprintf(stderr, "bench_sshhost: no test server: %s\n", qPrintable(whyNot));
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    made().clear(); // the connections end while the application is still there
    return 0;
}
