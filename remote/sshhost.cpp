#include "remote/sshhost.h"

#include "host/processrunner.h"
#include "remote/askpass.h"
#include "remote/prompter.h"
#include "remote/remotescript.h"
#include "remote/sshchannel.h"
#include "remote/sshjobs.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>

namespace
{
// No single call takes longer on a connection that still answers (a dead
// one is noticed through the keep-alives far sooner).
constexpr int callTimeoutMs = 120 * 1000;
// The file replaceFile() replaces is read whole up to this size, as on the
// local host.
constexpr qint64 replacedFileLimit = 256 * 1024 * 1024;
constexpr qint64 smallOutput = 1024 * 1024;
// A listing's records, at most (the entry limit keeps it far below).
constexpr qint64 listingOutput = 64 * 1024 * 1024;
// The process list, at most: every command line may take 64 KiB.
constexpr qint64 processesOutput = 256 * 1024 * 1024;
constexpr int masterErrorLimit = 64 * 1024;
constexpr int socketPollMs = 20;

QString tr(const char* text)
{
    return QCoreApplication::translate("SshHost", text);
}

bool onGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// The last line of ssh's standard error that says something.
QString reasonIn(const QByteArray& errors)
{
    const QList<QByteArray> lines = errors.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QByteArray line = it->trimmed();
        if (!line.isEmpty() && !line.startsWith("Warning: Permanently added"))
            return QString::fromLocal8Bit(line);
    }
    return QString();
}

SshHost::Failure failureIn(const QByteArray& errors, bool wasConnected)
{
    using Failure = SshHost::Failure;
    struct Sign {
        const char* text;
        Failure failure;
    };
    static const Sign signs[] = {
        {"Connection refused", Failure::Refused},
        {"Host key verification failed", Failure::HostKey},
        {"REMOTE HOST IDENTIFICATION HAS CHANGED", Failure::HostKey},
        {"Permission denied", Failure::Authentication},
        {"Too many authentication failures", Failure::Authentication},
        {"Could not resolve hostname", Failure::Unreachable},
        {"No route to host", Failure::Unreachable},
        {"Network is unreachable", Failure::Unreachable},
        {"Connection timed out", Failure::Unreachable},
        {"Operation timed out", Failure::Unreachable},
    };
    if (wasConnected)
        return Failure::Lost;
    for (const Sign& sign : signs) {
        if (errors.contains(sign.text))
            return sign.failure;
    }
    return Failure::Other;
}

QString describe(SshHost::Failure failure, const QString& host, const QString& reason)
{
    using Failure = SshHost::Failure;
    switch (failure) {
    case Failure::None:
        return QString();
    case Failure::NotConnected:
        return tr("Not connected to %1.").arg(host);
    case Failure::Unreachable:
        return tr("%1 cannot be reached: %2").arg(host, reason);
    case Failure::Refused:
        return tr("%1 refused the connection: no SSH server answers there.").arg(host);
    case Failure::Authentication:
        return tr("%1 did not accept the login: %2").arg(host, reason);
    case Failure::HostKey:
        return tr("The host key of %1 was not accepted: %2").arg(host, reason);
    case Failure::Lost:
        return reason.isEmpty() ? tr("The connection to %1 was lost.").arg(host)
                                : tr("The connection to %1 was lost: %2").arg(host, reason);
    case Failure::RootRefused:
    case Failure::Other:
        return reason;
    case Failure::Cancelled:
        return tr("Connecting to %1 was cancelled.").arg(host);
    }
    return reason;
}

// A private folder for the control and askpass sockets (mode 0700), under
// $XDG_RUNTIME_DIR, or /tmp when there is none (or its path is too long
// for a socket).
QString makePrivateFolder(int* error)
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QFileInfo(base).isDir() || base.size() > 60 ||
        base.contains(QLatin1Char('%')))
        base = QStringLiteral("/tmp");
    QByteArray name = QFile::encodeName(base + QStringLiteral("/ntpsm-ssh-XXXXXX"));
    if (!::mkdtemp(name.data())) {
        *error = errno;
        return QString();
    }
    return QFile::decodeName(name);
}

QByteArray hex(const QByteArray& bytes)
{
    return bytes.toHex();
}

ReplaceOutcome::Step stepNamed(const QByteArray& name)
{
    if (name == "target")
        return ReplaceOutcome::Target;
    if (name == "guard")
        return ReplaceOutcome::Guard;
    if (name == "backup")
        return ReplaceOutcome::Backup;
    return ReplaceOutcome::Write;
}

qint64 outputLimitFor(const QVector<HostRequest>& requests)
{
    qint64 limit = smallOutput;
    for (const HostRequest& request : requests) {
        if (request.kind == HostRequest::ReadFile || request.kind == HostRequest::ReadTail)
            limit += request.limit / 3 * 4 + 4096;
        else if (request.kind == HostRequest::ListFolder)
            limit += listingOutput;
        else
            limit += 64 * 1024;
    }
    return limit;
}

// "DEVICE INODE" of the file the guard checked, quoted; '' when none was.
QByteArray expectedIdentity(const FileStatus& file)
{
    if (!file.exists())
        return "''";
    return '\'' + QByteArray::number(file.device) + ' ' + QByteArray::number(file.inode) + '\'';
}
} // namespace

class SshHost::Private
{
public:
    Private(const Settings& given, Prompter* asker) : settings(given), prompter(asker)
    {
        folder = makePrivateFolder(&folderError);
        controlPath = folder + QStringLiteral("/master");
        channel = std::make_shared<SshChannel>(settings, controlPath);
    }
    ~Private()
    {
        stopMaster(false);
        askpass.reset();
        if (!folder.isEmpty())
            QDir(folder).removeRecursively();
    }

    int prepare();
    int startMaster();
    int becomeRoot();
    int askSudoPassword();
    // With `loop`, the event loop runs while ssh ends (not from a destructor).
    void stopMaster(bool loop = true);
    void masterEnded();
    int fail(Failure why, const QString& reason, int error);
    void answerPrompt(AskpassServer::Kind kind, const QString& prompt, AskpassServer::Reply* reply);
    // The connection's failure of a call that did not finish.
    int callFailed(const SshChannel::Result& result);
    SshChannel::Result run(const QByteArray& program, const QByteArray& input, bool asRoot,
                           qint64 outputLimit)
    {
        return channel->run(program, input, asRoot, callTimeoutMs, outputLimit);
    }

    const Settings settings;
    Prompter* const prompter;
    QString folder;
    int folderError = 0;
    QString controlPath;
    std::shared_ptr<SshChannel> channel;
    std::unique_ptr<AskpassServer> askpass;
    std::unique_ptr<SshProcess> master;
    QByteArray masterErrors;
    bool cancelled = false;
    bool prompting = false;
    bool connecting = false;
    // The window is shown busy while connecting, but not while it asks.
    std::unique_ptr<Waiting> connectingMark;
    void setPrompting(bool asking)
    {
        prompting = asking;
        connectingMark.reset();
        if (!asking && connecting && onGuiThread())
            connectingMark.reset(new Waiting);
    }
    std::function<void()> lostHandler;

    mutable QMutex stateMutex;
    Failure failure = Failure::NotConnected;
    QString errorText;
};

int SshHost::Private::fail(Failure why, const QString& reason, int error)
{
    QMutexLocker lock(&stateMutex);
    failure = why;
    errorText = describe(why, settings.destination, reason);
    return error;
}

int SshHost::Private::prepare()
{
    if (folder.isEmpty())
        return fail(Failure::Other,
                    tr("No private folder for the connection: %1").arg(errnoText(folderError)),
                    EHOSTDOWN);
    if (askpass)
        return 0;
    askpass.reset(new AskpassServer(
        folder + QStringLiteral("/askpass"),
        [this](AskpassServer::Kind kind, const QString& prompt, AskpassServer::Reply* reply) {
            answerPrompt(kind, prompt, reply);
        }));
    if (const int listenError = askpass->listen()) {
        askpass.reset();
        return fail(Failure::Other, tr("No askpass socket: %1").arg(errnoText(listenError)),
                    EHOSTDOWN);
    }
    return 0;
}

void SshHost::Private::answerPrompt(AskpassServer::Kind kind, const QString& prompt,
                                    AskpassServer::Reply* reply)
{
    const QString& host = settings.destination;
    setPrompting(true);
    if (!prompter) {
        reply->given = false;
    } else if (kind == AskpassServer::Kind::Question) {
        // "no" is an answer too: ssh then refuses the host key itself.
        const bool yes = prompter->askQuestion(host, prompt);
        reply->given = true;
        reply->text.assign(yes ? "yes" : "no", yes ? 3 : 2);
    } else if (kind == AskpassServer::Kind::Secret) {
        reply->given = prompter->askSecret(host, prompt, &reply->text);
    } else {
        QString text;
        reply->given = prompter->askText(host, prompt, &text);
        reply->text.takeText(&text);
    }
    setPrompting(false);
    if (kind != AskpassServer::Kind::Question && !reply->given)
        cancelled = true;
}

int SshHost::Private::startMaster()
{
    QFile::remove(controlPath);
    masterErrors.clear();
    cancelled = false;
    master.reset(new SshProcess);
    master->endWithParent = true;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString askpassProgram = settings.askpassProgram.isEmpty()
                                       ? QCoreApplication::applicationFilePath()
                                       : settings.askpassProgram;
    environment.insert(QStringLiteral("SSH_ASKPASS"), askpassProgram);
    environment.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("force"));
    environment.insert(QLatin1String(SshAskpass::socketVariable),
                       folder + QStringLiteral("/askpass"));
    master->setProcessEnvironment(environment);
    master->setStandardInputFile(QProcess::nullDevice());
    QStringList arguments = settings.sshOptions + SshChannel::neutralOptions();
    arguments << QStringLiteral("-M") << QStringLiteral("-S") << controlPath << QStringLiteral("-N")
              << QStringLiteral("-o") << QStringLiteral("ControlPersist=no") << QStringLiteral("-o")
              << QStringLiteral("ServerAliveInterval=%1").arg(settings.aliveIntervalSeconds)
              << QStringLiteral("-o")
              << QStringLiteral("ServerAliveCountMax=%1").arg(settings.aliveCountMax)
              << QStringLiteral("-o")
              << QStringLiteral("ConnectTimeout=%1").arg(settings.connectTimeoutSeconds)
              << QStringLiteral("--") << settings.destination;
    SshProcess* process = master.get();
    QObject::connect(process, &QProcess::readyReadStandardError, process, [this, process] {
        masterErrors += process->readAllStandardError();
        if (masterErrors.size() > 2 * masterErrorLimit)
            masterErrors.remove(0, masterErrors.size() - masterErrorLimit);
    });

    QEventLoop loop;
    QObject::connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                     &QEventLoop::quit);
    QObject::connect(process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            loop.quit();
    });
    // Ready once the control socket is there: ssh makes it after the login.
    QElapsedTimer clock;
    clock.start();
    qint64 waitedWithoutPrompt = 0;
    qint64 last = 0;
    bool ready = false;
    const qint64 limitMs = (2 * qint64(settings.connectTimeoutSeconds) + 5) * 1000;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.elapsed();
        if (!prompting)
            waitedWithoutPrompt += now - last;
        last = now;
        ready = QFileInfo(controlPath).exists();
        if (ready || cancelled || waitedWithoutPrompt > limitMs)
            loop.quit();
    });
    poll.start(socketPollMs);
    process->start(settings.sshProgram, arguments);
    if (process->state() != QProcess::NotRunning)
        loop.exec();
    poll.stop();
    if (ready && process->state() == QProcess::Running) {
        QObject::connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                         process, [this] { masterEnded(); });
        return 0;
    }
    const bool failedToStart = process->error() == QProcess::FailedToStart;
    stopMaster();
    if (failedToStart)
        return fail(Failure::Other, tr("The ssh client cannot be run: %1").arg(settings.sshProgram),
                    EHOSTDOWN);
    if (cancelled)
        return fail(Failure::Cancelled, QString(), ECANCELED);
    if (waitedWithoutPrompt > limitMs)
        return fail(Failure::Unreachable, tr("no answer"), EHOSTDOWN);
    return fail(failureIn(masterErrors, false), reasonIn(masterErrors), EHOSTDOWN);
}

void SshHost::Private::stopMaster(bool loop)
{
    if (!master)
        return;
    // Calls made meanwhile (from timers, other threads) fail at once.
    channel->setDisconnected();
    master->disconnect();
    if (master->state() != QProcess::NotRunning) {
        // ssh ends at once on TERM (and removes its socket).
        master->terminate();
        if (loop) {
            QEventLoop ending;
            QObject::connect(master.get(),
                             QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &ending,
                             &QEventLoop::quit);
            QTimer::singleShot(2000, &ending, &QEventLoop::quit);
            ending.exec();
        } else {
            master->waitForFinished(2000);
        }
        if (master->state() != QProcess::NotRunning) {
            master->kill();
            master->waitForFinished(1000);
        }
    }
    master.reset();
}

void SshHost::Private::masterEnded()
{
    if (master)
        masterErrors += master->readAllStandardError();
    const bool wasConnected = channel->isConnected() || channel->takeLostNotice();
    channel->setDisconnected();
    fail(Failure::Lost, reasonIn(masterErrors), EHOSTDOWN);
    // While connecting, connectToHost() itself tells.
    if (wasConnected && !connecting && lostHandler)
        lostHandler();
}

int SshHost::Private::becomeRoot()
{
    const QString& host = settings.destination;
    channel->setConnected(RootAccess::None, SecretBytes());
    const QByteArray nonce = SshChannel::newNonce();
    const SshChannel::Result result =
        run(RemoteScript::program(nonce, RemoteScript::Library::Command, "probe\n"), {}, false,
            smallOutput);
    const RemoteScript::Records records = RemoteScript::parse(result.output, nonce, 1);
    const QVector<RemoteScript::Record>& answer = records.answers.constFirst();
    const RemoteScript::Record* uid = RemoteScript::find(answer, 'u');
    if ((!records.complete || !uid) && (!master || master->state() != QProcess::Running))
        return fail(Failure::Lost, reasonIn(masterErrors), EHOSTDOWN);
    if (!records.complete || !uid)
        return fail(
            Failure::Other,
            tr("%1 does not run commands for this login: %2").arg(host, reasonIn(result.errors)),
            EHOSTDOWN);
    if (uid->value == "0") {
        channel->setConnected(RootAccess::Login, SecretBytes());
        return 0;
    }
    const RemoteScript::Record* sudo = RemoteScript::find(answer, 'S');
    if (sudo && sudo->value == "0") {
        channel->setConnected(RootAccess::Sudo, SecretBytes());
        return 0;
    }
    if (sudo)
        return fail(Failure::RootRefused,
                    tr("The login on %1 is not root, and sudo is not there.").arg(host), EACCES);
    const RemoteScript::Record* refusal = RemoteScript::find(answer, 'R');
    const QByteArray message = refusal ? QByteArray::fromBase64(refusal->value) : QByteArray();
    if (message.contains("password is required"))
        return askSudoPassword();
    return fail(Failure::RootRefused, tr("sudo on %1 refused: %2").arg(host, reasonIn(message)),
                EACCES);
}

int SshHost::Private::askSudoPassword()
{
    const QString& host = settings.destination;
    SecretBytes password;
    setPrompting(true);
    const bool given =
        prompter && prompter->askSecret(host, tr("Password for sudo on %1").arg(host), &password);
    setPrompting(false);
    if (!given)
        return fail(Failure::Cancelled, QString(), ECANCELED);
    if (password.bytes().contains('\n') || password.bytes().contains('\r'))
        return fail(Failure::RootRefused,
                    tr("A password with a line break cannot be given to sudo on %1.").arg(host),
                    EACCES);
    QByteArray input = password.bytes() + '\n';
    const SshChannel::Result result = channel->runCommand(
        "exec env LC_ALL=C sudo -k -S -p '' -- id -u", input, callTimeoutMs, smallOutput);
    wipe(&input);
    if (result.error == 0 && result.output.trimmed() == "0") {
        channel->setConnected(RootAccess::SudoWithPassword, std::move(password));
        return 0;
    }
    if (result.exitCode == 255 || result.error != 0)
        return fail(Failure::Lost, reasonIn(result.errors), EHOSTDOWN);
    if (result.errors.contains("incorrect password") || result.errors.contains("try again"))
        return fail(Failure::RootRefused, tr("sudo on %1 did not accept the password.").arg(host),
                    EACCES);
    return fail(Failure::RootRefused,
                tr("sudo on %1 refused: %2").arg(host, reasonIn(result.errors)), EACCES);
}

int SshHost::Private::callFailed(const SshChannel::Result& result)
{
    const int error = channel->failureOf(result);
    if (error == EHOSTDOWN && result.connection == channel->connection()) {
        QMutexLocker lock(&stateMutex);
        if (failure == Failure::None) {
            failure = Failure::Lost;
            errorText = describe(Failure::Lost, settings.destination, reasonIn(result.errors));
        }
    }
    return error;
}

SshHost::SshHost(const Settings& settings, Prompter* prompter) : d(new Private(settings, prompter))
{
}

SshHost::~SshHost() = default;

std::unique_ptr<Host::Waiting> SshHost::busy() const
{
    return onGuiThread() ? std::make_unique<Waiting>() : nullptr;
}

QString SshHost::destinationProblem(const QString& destination)
{
    if (destination.trimmed().isEmpty())
        return tr("No host is given.");
    if (destination.startsWith(QLatin1Char('-')))
        return tr("A host cannot begin with \"-\".");
    for (const QChar c : destination) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return tr("A host cannot contain spaces or control characters.");
    }
    return QString();
}

int SshHost::connectToHost()
{
    if (isConnected() && d->master && d->master->state() == QProcess::Running)
        return 0;
    const QString problem = destinationProblem(d->settings.destination);
    if (!problem.isEmpty())
        return d->fail(Failure::Other, problem, EHOSTDOWN);
    if (const int error = d->prepare())
        return error;
    d->connectingMark = busy();
    d->stopMaster();
    d->connecting = true;
    int error = d->startMaster();
    if (!error)
        error = d->becomeRoot();
    if (!error && d->cancelled)
        error = d->fail(Failure::Cancelled, QString(), ECANCELED);
    d->connecting = false;
    d->connectingMark.reset();
    if (error) {
        // Never a half-working host: the connection goes with the refusal.
        d->stopMaster();
        return error;
    }
    d->fail(Failure::None, QString(), 0);
    return 0;
}

void SshHost::disconnectFromHost()
{
    if (d->connecting) {
        // From the event loop of connectToHost(): that one ends it.
        d->cancelled = true;
        d->channel->setDisconnected();
        return;
    }
    d->stopMaster();
    d->fail(Failure::NotConnected, QString(), 0);
}

bool SshHost::isConnected() const
{
    return d->channel->isConnected();
}

SshHost::Failure SshHost::lastFailure() const
{
    QMutexLocker lock(&d->stateMutex);
    return d->failure;
}

QString SshHost::lastConnectionError() const
{
    QMutexLocker lock(&d->stateMutex);
    return d->errorText;
}

SshHost::RootAccess SshHost::rootAccess() const
{
    return d->channel->rootAccess();
}

void SshHost::setConnectionLostHandler(const std::function<void()>& handler)
{
    d->lostHandler = handler;
}

QString SshHost::name() const
{
    return d->settings.destination;
}

QVector<HostReply> SshHost::query(const QVector<HostRequest>& requests)
{
    QVector<HostReply> replies(requests.size());
    if (requests.isEmpty())
        return replies;
    const auto mark = busy();
    const QByteArray nonce = SshChannel::newNonce();
    const SshChannel::Result result =
        d->run(RemoteScript::program(nonce, RemoteScript::Library::Query,
                                     RemoteScript::queryCalls(requests)),
               {}, true, outputLimitFor(requests));
    const RemoteScript::Records records =
        RemoteScript::parse(result.output, nonce, requests.size());
    const int failed = records.complete ? 0 : d->callFailed(result);
    for (int i = 0; i < requests.size(); ++i) {
        if (failed) {
            replies[i].error = failed;
            replies[i].status.error = failed;
        } else {
            replies[i] = RemoteScript::replyFrom(requests.at(i), records.answers.at(i));
        }
    }
    return replies;
}

QVector<HostProcess> SshHost::processes(const QString& proc)
{
    const auto mark = busy();
    QByteArray nonce = SshChannel::newNonce();
    SshChannel::Result result =
        d->run(RemoteScript::program(nonce, RemoteScript::Library::Processes,
                                     "list_processes " + RemoteScript::quoted(proc) + '\n'),
               {}, true, processesOutput);
    RemoteScript::Records records = RemoteScript::parse(result.output, nonce, 1);
    if (!records.complete) {
        d->callFailed(result);
        return {};
    }
    const QVector<RemoteScript::Record> answer = records.answers.constFirst();
    const RemoteScript::Record* heads = RemoteScript::find(answer, 'h');
    QVector<RemoteScript::CommandLine> commandLines;
    if (heads && RemoteScript::cutCommandLines(QByteArray::fromBase64(heads->value), &commandLines))
        return RemoteScript::processesFrom(answer, commandLines);
    // A command line holds what looks like another's header: each one on
    // its own then.
    nonce = SshChannel::newNonce();
    result =
        d->run(RemoteScript::program(nonce, RemoteScript::Library::Processes,
                                     "list_command_lines " + RemoteScript::quoted(proc) + '\n'),
               {}, true, processesOutput);
    records = RemoteScript::parse(result.output, nonce, 1);
    if (!records.complete) {
        d->callFailed(result);
        return {};
    }
    commandLines.clear();
    for (const RemoteScript::Record& record : records.answers.constFirst()) {
        const int space = record.value.indexOf(' ');
        if (record.tag == 'C' && space > 0)
            commandLines.append(
                {record.value.left(space), QByteArray::fromBase64(record.value.mid(space + 1))});
    }
    return RemoteScript::processesFrom(answer, commandLines);
}

int SshHost::makeFolder(const QString& path, uint mode)
{
    const auto mark = busy();
    const QByteArray nonce = SshChannel::newNonce();
    const QByteArray call = "make_folder " + RemoteScript::quoted(path) + ' ' +
                            QByteArray::number(mode & 07777, 8) + '\n';
    const SshChannel::Result result = d->run(
        RemoteScript::program(nonce, RemoteScript::Library::Files, call), {}, true, smallOutput);
    const RemoteScript::Records records = RemoteScript::parse(result.output, nonce, 1);
    if (!records.complete)
        return d->callFailed(result);
    const RemoteScript::Record* error = RemoteScript::find(records.answers.constFirst(), 'e');
    return error ? RemoteScript::errorFrom(error->value) : 0;
}

int SshHost::removeFile(const QString& path)
{
    const auto mark = busy();
    const QByteArray nonce = SshChannel::newNonce();
    const SshChannel::Result result =
        d->run(RemoteScript::program(nonce, RemoteScript::Library::Files,
                                     "remove_file " + RemoteScript::quoted(path) + '\n'),
               {}, true, smallOutput);
    const RemoteScript::Records records = RemoteScript::parse(result.output, nonce, 1);
    if (!records.complete)
        return d->callFailed(result);
    const RemoteScript::Record* error = RemoteScript::find(records.answers.constFirst(), 'e');
    return error ? RemoteScript::errorFrom(error->value) : 0;
}

ReplaceOutcome SshHost::replaceFile(const FileReplacement& replacement)
{
    const auto mark = busy();
    const QByteArray nonce = SshChannel::newNonce();
    QByteArray call = "target=" + RemoteScript::quoted(replacement.target) +
                      "\nnew_size=" + QByteArray::number(replacement.bytes.size()) +
                      "\nnew_digest=" +
                      hex(QCryptographicHash::hash(replacement.bytes, QCryptographicHash::Sha256)) +
                      "\nguarded=" + (replacement.guarded ? "1" : "0") +
                      "\nexpect_exists=" + (replacement.expectedExists ? "1" : "0") +
                      "\nexpect_digest=" + hex(replacement.expectedDigest) +
                      "\nexpect_identity=" + expectedIdentity(replacement.expectedFile) +
                      "\nbackup=" + RemoteScript::quoted(replacement.backupPath) +
                      "\nmax_size=" + QByteArray::number(replacedFileLimit) + "\nreplace_file";
    for (const QString& old : replacement.removeAfterwards)
        call += ' ' + RemoteScript::quoted(old);
    call += "\nreport_replacement\n";
    const SshChannel::Result result =
        d->run(RemoteScript::program(nonce, RemoteScript::Library::Replace, call),
               replacement.bytes, true, smallOutput);
    const RemoteScript::Records records = RemoteScript::parse(result.output, nonce, 1);
    ReplaceOutcome outcome;
    if (!records.complete) {
        // Old or new, never half: the caller can tell by the file's digest.
        outcome.failedStep = ReplaceOutcome::Write;
        outcome.error = d->callFailed(result);
        outcome.outcomeUnknown = true;
        return outcome;
    }
    const QVector<RemoteScript::Record>& answer = records.answers.constFirst();
    if (const RemoteScript::Record* failed = RemoteScript::find(answer, 'f')) {
        const int space = failed->value.indexOf(' ');
        outcome.failedStep = stepNamed(failed->value.left(space));
        outcome.error = RemoteScript::errorFrom(failed->value.mid(space + 1));
        return outcome;
    }
    const RemoteScript::Record* kept = RemoteScript::find(answer, 'k');
    outcome.backupMade = kept && kept->value == "1";
    if (const RemoteScript::Record* status = RemoteScript::find(answer, 's'))
        RemoteScript::statusFrom(status->value, &outcome.written);
    return outcome;
}

ProcessJob* SshHost::start(const QString& program, const QStringList& arguments,
                           const ProcessOptions& options)
{
    const bool asRoot = !d->settings.loginUserPrograms.contains(QFileInfo(program).fileName());
    return startSshJob(d->channel, program, arguments, options, asRoot);
}

ProcessSession* SshHost::startSession(const QString& program, const QStringList& arguments)
{
    const bool asRoot = !d->settings.loginUserPrograms.contains(QFileInfo(program).fileName());
    return startSshSession(d->channel, program, arguments, asRoot);
}
