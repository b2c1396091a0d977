#include "remote/sshjobs.h"

#include "remote/remotescript.h"
#include "remote/sshchannel.h"

#include <QElapsedTimer>
#include <QTimer>

namespace
{
// The server ends a program that ran out of time (TERM, and KILL two
// seconds later); the job waits that long more before it gives up on the
// connection.
constexpr int remoteEndGraceMs = 3000;
// After the program's exit line, what ssh still has of its standard error
// comes within this time.
constexpr int afterExitMs = 300;
constexpr int startLineLimit = 64 * 1024;

void appendBounded(QByteArray* buffer, const QByteArray& chunk, int limit)
{
    buffer->append(chunk);
    if (buffer->size() > 2 * limit)
        buffer->remove(0, buffer->size() - limit);
}

// PROGRAM ARGUMENT... as sh words.
QByteArray words(const QString& program, const QStringList& arguments)
{
    QByteArray text = RemoteScript::quoted(program);
    for (const QString& argument : arguments)
        text += ' ' + RemoteScript::quoted(argument);
    return text;
}

QByteArray seconds(int milliseconds)
{
    return QByteArray::number(qMax(1, milliseconds) / 1000.0, 'f', 3);
}

// The "NONCE started PID PARENT" or "NONCE missing" line the program's
// shell prints first; whatever the login printed before it is dropped.
struct StartLine {
    bool seen = false;
    bool missing = false;
    QByteArray pids;
};

StartLine takeStartLine(QByteArray* output, const QByteArray& nonce)
{
    StartLine line;
    const QByteArray missing = nonce + " missing";
    const QByteArray started = nonce + " started ";
    if (output->contains(missing)) {
        line.seen = line.missing = true;
        output->clear();
        return line;
    }
    const int at = output->indexOf(started);
    const int end = at < 0 ? -1 : output->indexOf('\n', at);
    if (end < 0) {
        if (output->size() > startLineLimit)
            output->remove(0, output->size() - startLineLimit);
        return line;
    }
    line.seen = true;
    // "CHILD PARENT", two numbers, or nothing to end it by.
    const QByteArray pids = output->mid(at + started.size(), end - at - started.size());
    const QList<QByteArray> numbers = pids.split(' ');
    bool ok[2] = {};
    if (numbers.size() == 2 && numbers.at(0).toULongLong(&ok[0]) > 0 &&
        numbers.at(1).toULongLong(&ok[1]) > 0 && ok[0] && ok[1])
        line.pids = pids;
    output->remove(0, end + 1);
    return line;
}

// Ends a cancelled job's program on the server, without waiting for it.
void endRemotely(const std::shared_ptr<SshChannel>& channel, const QByteArray& pids, bool asRoot)
{
    const QByteArray nonce = SshChannel::newNonce();
    const QByteArray program =
        RemoteScript::program(nonce, RemoteScript::Library::Command, "end_program " + pids + '\n');
    SshChannel::Launch launch;
    if (pids.isEmpty() || !channel->launch(program, asRoot, &launch))
        return;
    auto* process = new SshProcess;
    process->setProcessEnvironment(SshChannel::clientEnvironment());
    QObject::connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                     process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process](QProcess::ProcessError e) {
                         if (e == QProcess::FailedToStart)
                             process->deleteLater();
                     });
    process->start(channel->settings().sshProgram, launch.arguments);
    process->write(launch.input);
    wipe(&launch.input);
    process->closeWriteChannel();
}

class SshJob : public ProcessJob
{
public:
    SshJob(const std::shared_ptr<SshChannel>& channel, const SshChannel::Launch& launch,
           const QByteArray& nonce, const ProcessOptions& options, bool asRoot)
        : m_channel(channel), m_connection(channel->connection()), m_nonce(nonce),
          m_trailer('\n' + nonce + " exit "), m_options(options), m_asRoot(asRoot)
    {
        m_process.setProcessEnvironment(SshChannel::clientEnvironment());
        connect(&m_process, &QProcess::readyReadStandardOutput, this, &SshJob::readOutput);
        connect(&m_process, &QProcess::readyReadStandardError, this, [this] {
            appendBounded(&m_result.standardError, m_process.readAllStandardError(),
                          m_options.outputLimit);
            emit outputArrived();
        });
        connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
                &SshJob::sshEnded);
        connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                QTimer::singleShot(0, this, &SshJob::sshEnded);
        });
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &SshJob::timedOut);
        m_timer.start(options.timeoutMs + remoteEndGraceMs);
        m_clock.start();
        SshChannel::Launch started = launch;
        m_process.start(channel->settings().sshProgram, started.arguments);
        m_process.write(started.input);
        wipe(&started.input);
        m_process.closeWriteChannel();
    }
    ~SshJob() override { endProcess(); }

    void cancel() override
    {
        if (!m_reported && !m_exited)
            endRemotely(m_channel, m_pids, m_asRoot);
        m_reported = true;
        endProcess();
        if (!parent())
            deleteLater();
    }

private:
    void readOutput()
    {
        const QByteArray chunk = m_process.readAllStandardOutput();
        // What the program left behind may write on after its exit line.
        if (m_exited)
            return;
        m_output += chunk;
        if (!m_start.seen) {
            m_start = takeStartLine(&m_output, m_nonce);
            if (!m_start.seen || m_start.missing)
                return;
            m_pids = m_start.pids;
        }
        const int at = m_output.indexOf(m_trailer, qMax(0, m_scanFrom));
        const int end = at < 0 ? -1 : m_output.indexOf('\n', at + m_trailer.size());
        if (end >= 0) {
            m_exited = true;
            m_exitCode = m_output.mid(at + m_trailer.size(), end - at - m_trailer.size()).toInt();
            m_output.truncate(at);
            // Something the program left behind may hold the output open.
            QTimer::singleShot(afterExitMs, this, &SshJob::report);
        } else {
            m_scanFrom = m_output.size() - m_trailer.size() - 16;
            const int keep = m_options.outputLimit + 4096;
            if (m_output.size() > 2 * keep) {
                const int cut = m_output.size() - keep;
                m_output.remove(0, cut);
                m_scanFrom -= cut;
            }
        }
        emit outputArrived();
    }

    void sshEnded()
    {
        if (m_process.state() == QProcess::NotRunning)
            readOutput();
        m_result.standardError += m_process.readAllStandardError();
        report();
    }

    void timedOut()
    {
        endRemotely(m_channel, m_pids, m_asRoot);
        m_exited = false;
        m_result.error = QProcess::Timedout;
        endProcess();
        report();
    }

    void endProcess()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(1000);
    }

    void fillResult()
    {
        if (m_start.missing) {
            m_result.error = QProcess::FailedToStart;
            return;
        }
        if (!m_exited) {
            if (m_result.error == QProcess::Timedout)
                return;
            SshChannel::Result outcome;
            outcome.exitCode = m_process.error() == QProcess::FailedToStart ||
                                       m_process.exitStatus() != QProcess::NormalExit
                                   ? -1
                                   : m_process.exitCode();
            outcome.errors = m_result.standardError;
            outcome.connection = m_connection;
            m_result.hostError = m_channel->failureOf(outcome);
            return;
        }
        m_result.standardOutput = m_output;
        // The server's `timeout` ended it: 124 (TERM) or 137 (KILL).
        const bool endedByServer =
            (m_exitCode == 124 || m_exitCode == 137) && m_clock.elapsed() >= m_options.timeoutMs;
        if (endedByServer) {
            m_result.error = QProcess::Timedout;
            return;
        }
        m_result.finished = true;
        m_result.exitCode = m_exitCode;
        m_result.error = QProcess::UnknownError;
    }

    void report()
    {
        if (m_reported)
            return;
        m_reported = true;
        m_timer.stop();
        fillResult();
        if (m_result.standardOutput.size() > m_options.outputLimit)
            m_result.standardOutput.remove(0,
                                           m_result.standardOutput.size() - m_options.outputLimit);
        if (m_result.standardError.size() > m_options.outputLimit)
            m_result.standardError.remove(0, m_result.standardError.size() - m_options.outputLimit);
        emit finished(m_result);
        endProcess();
        if (!parent())
            deleteLater();
    }

    std::shared_ptr<SshChannel> m_channel;
    const quint64 m_connection; // the connection the job went over
    const QByteArray m_nonce;
    const QByteArray m_trailer;
    const ProcessOptions m_options;
    const bool m_asRoot;
    SshProcess m_process;
    QTimer m_timer;
    QElapsedTimer m_clock;
    ProcessResult m_result;
    QByteArray m_output;
    StartLine m_start;
    QByteArray m_pids;
    int m_scanFrom = 0;
    bool m_exited = false;
    int m_exitCode = -1;
    bool m_reported = false;
};

class SshSession : public ProcessSession
{
public:
    SshSession(const SshChannel::Launch& launch, const QString& sshProgram, const QByteArray& nonce)
        : m_nonce(nonce)
    {
        m_process.setProcessEnvironment(SshChannel::clientEnvironment());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        connect(&m_process, &QProcess::readyReadStandardOutput, this, &SshSession::readOutput);
        connect(&m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
                [this] { emit ended(m_start.missing); });
        connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                QTimer::singleShot(0, this, [this] { emit ended(false); });
        });
        SshChannel::Launch started = launch;
        m_process.start(sshProgram, started.arguments);
        m_process.write(started.input);
        wipe(&started.input);
    }
    ~SshSession() override
    {
        m_process.disconnect(this);
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(1000);
        }
    }

    void write(const QByteArray& input) override
    {
        if (m_process.state() != QProcess::NotRunning)
            m_process.write(input);
    }

private:
    void readOutput()
    {
        QByteArray chunk = m_process.readAllStandardOutput();
        if (!m_start.seen) {
            m_pending += chunk;
            m_start = takeStartLine(&m_pending, m_nonce);
            if (!m_start.seen || m_start.missing)
                return;
            chunk = m_pending;
            m_pending.clear();
        }
        if (!chunk.isEmpty())
            emit output(chunk);
    }

    const QByteArray m_nonce;
    SshProcess m_process;
    StartLine m_start;
    QByteArray m_pending;
};

// A session that could not be started: it ends from the event loop.
class EndedSession : public ProcessSession
{
public:
    EndedSession()
    {
        QTimer::singleShot(0, this, [this] { emit ended(false); });
    }
    void write(const QByteArray&) override {}
};
} // namespace

ProcessJob* startSshJob(const std::shared_ptr<SshChannel>& channel, const QString& program,
                        const QStringList& arguments, const ProcessOptions& options, bool asRoot)
{
    const QByteArray nonce = SshChannel::newNonce();
    const QByteArray call = "run_program " + seconds(options.timeoutMs) + ' ' +
                            (options.ownProcessGroup ? '1' : '0') + ' ' +
                            words(program, arguments) + '\n';
    const QByteArray text = RemoteScript::program(nonce, RemoteScript::Library::Command, call);
    SshChannel::Launch launch;
    if (!channel->launch(text, asRoot, &launch)) {
        ProcessResult result;
        result.hostError = EHOSTDOWN;
        return ProcessJob::finishedWith(result);
    }
    launch.input += options.input;
    ProcessJob* job = new SshJob(channel, launch, nonce, options, asRoot);
    wipe(&launch.input);
    return job;
}

ProcessSession* startSshSession(const std::shared_ptr<SshChannel>& channel, const QString& program,
                                const QStringList& arguments, bool asRoot)
{
    const QByteArray nonce = SshChannel::newNonce();
    const QByteArray text = RemoteScript::program(
        nonce, RemoteScript::Library::Command, "start_session " + words(program, arguments) + '\n');
    SshChannel::Launch launch;
    if (!channel->launch(text, asRoot, &launch))
        return new EndedSession;
    ProcessSession* session = new SshSession(launch, channel->settings().sshProgram, nonce);
    wipe(&launch.input);
    return session;
}
