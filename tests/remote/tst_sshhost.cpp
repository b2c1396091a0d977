#include "remote/askpass.h"
#include "remote/prompter.h"
#include "remote/secret.h"
#include "tests/host/hostcontract.h"
#include "tests/remote/sshtestserver.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <signal.h>

namespace
{
// Answers as the test says, and keeps what was asked.
class TestPrompter : public Prompter
{
public:
    QByteArray secret;
    bool cancel = false;
    bool acceptKey = true;
    QStringList asked;
    int busyWhileAsked = 0; // asked while the window was kept busy

    bool askSecret(const QString&, const QString& prompt, SecretBytes* answer) override
    {
        asked << prompt;
        busyWhileAsked += Host::callsUnderWay();
        answer->assign(secret.constData(), secret.size());
        return !cancel;
    }
    bool askQuestion(const QString&, const QString& question) override
    {
        asked << question;
        busyWhileAsked += Host::callsUnderWay();
        return acceptKey;
    }
    bool askText(const QString&, const QString& prompt, QString*) override
    {
        asked << prompt;
        return false;
    }
};

bool serverUp(QString* whyNot)
{
    return SshTestServer::instance().start(whyNot);
}

std::unique_ptr<SshHost> hostFor(const QString& user, TestPrompter* prompter,
                                 const QStringList& moreOptions = {})
{
    SshHost::Settings settings = SshTestServer::instance().settings(user);
    // ssh takes the first value it is given for an option.
    settings.sshOptions = moreOptions + settings.sshOptions;
    prompter->secret = SshTestServer::passwordOf(user);
    return std::make_unique<SshHost>(settings, prompter);
}
} // namespace

// The host contract over SSH, once for each way of being root there.
class SshContract : public HostContract
{
    Q_OBJECT
public:
    SshContract(const char* user, SshHost::RootAccess access) : m_user(user), m_access(access) {}

protected:
    Host& host() override { return *m_host; }

private slots:
    void initTestCase()
    {
        QString whyNot;
        if (!serverUp(&whyNot))
            QSKIP(qPrintable(whyNot));
        m_host = hostFor(QLatin1String(m_user), &m_prompter);
        QCOMPARE(m_host->connectToHost(), 0);
        QCOMPARE(m_host->rootAccess(), m_access);
        QCOMPARE(m_prompter.asked.size(), m_access == SshHost::RootAccess::SudoWithPassword);
    }
    void cleanupTestCase() { m_host.reset(); }

private:
    const char* m_user;
    SshHost::RootAccess m_access;
    TestPrompter m_prompter;
    std::unique_ptr<SshHost> m_host;
};

class SshAsRoot : public SshContract
{
    Q_OBJECT
public:
    SshAsRoot() : SshContract("root", SshHost::RootAccess::Login) {}
};
class SshAsSudoUser : public SshContract
{
    Q_OBJECT
public:
    SshAsSudoUser() : SshContract("ntpauto", SshHost::RootAccess::Sudo) {}
};
class SshAsSudoUserWithPassword : public SshContract
{
    Q_OBJECT
public:
    SshAsSudoUserWithPassword() : SshContract("ntpsudo", SshHost::RootAccess::SudoWithPassword) {}
};

// What only a remote host has: prompts, refusals, and a connection that
// can fail.
class TestSshHost : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QString whyNot;
        if (!serverUp(&whyNot))
            QSKIP(qPrintable(whyNot));
    }

    void unknownHostKeyIsAskedFor()
    {
        QTemporaryDir dir;
        const QString knownHosts = dir.filePath(QStringLiteral("known_hosts"));
        const QStringList options{
            QStringLiteral("-o"), QStringLiteral("UserKnownHostsFile=") + knownHosts,
            QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=ask")};
        TestPrompter prompter;
        prompter.acceptKey = false;
        auto host = hostFor(QStringLiteral("root"), &prompter, options);
        QCOMPARE(host->connectToHost(), EHOSTDOWN);
        QCOMPARE(host->lastFailure(), SshHost::Failure::HostKey);
        QCOMPARE(prompter.asked.size(), 1);
        QVERIFY(prompter.asked.first().contains(QLatin1String("continue connecting (yes/no")));
        QVERIFY(!QFile::exists(knownHosts));

        prompter.acceptKey = true;
        QCOMPARE(host->connectToHost(), 0);
        QCOMPARE(prompter.asked.size(), 2);
        QCOMPARE(prompter.busyWhileAsked, 0);
        const QByteArray key =
            SshTestServer::instance().hostKeyLine().section(QLatin1Char(' '), 2, 2).toLatin1();
        QVERIFY2(got(knownHosts).contains(key), got(knownHosts).constData());
    }

    void refusalsAreToldApart()
    {
        // ssh's own password prompt: wrong, then cancelled.
        const QStringList passwordOnly{QStringLiteral("-o"),
                                       QStringLiteral("PubkeyAuthentication=no")};
        TestPrompter prompter;
        auto host = hostFor(QStringLiteral("ntpplain"), &prompter, passwordOnly);
        prompter.secret = "wrong";
        QCOMPARE(host->connectToHost(), EHOSTDOWN);
        QCOMPARE(host->lastFailure(), SshHost::Failure::Authentication);
        QVERIFY(prompter.asked.value(0).contains(QLatin1String("password")));
        prompter.cancel = true;
        QCOMPARE(host->connectToHost(), ECANCELED);
        QCOMPARE(host->lastFailure(), SshHost::Failure::Cancelled);

        // Logged in, but no root: no half-working host.
        prompter.cancel = false;
        prompter.secret = SshTestServer::passwordOf(QStringLiteral("ntpplain"));
        QCOMPARE(host->connectToHost(), EACCES);
        QCOMPARE(host->lastFailure(), SshHost::Failure::RootRefused);
        QVERIFY(!host->isConnected());
        FileContent content;
        QCOMPARE(host->readFile(QStringLiteral("/etc/hostname"), 100, &content), EHOSTDOWN);

        TestPrompter sudoPrompter;
        auto sudoHost = hostFor(QStringLiteral("ntpsudo"), &sudoPrompter);
        sudoPrompter.secret = "not the password";
        QCOMPARE(sudoHost->connectToHost(), EACCES);
        QCOMPARE(sudoPrompter.asked,
                 QStringList{QStringLiteral("Password for sudo on ntpsudo@127.0.0.1")});
        QVERIFY2(sudoHost->lastConnectionError().contains(QLatin1String("did not accept")),
                 qPrintable(sudoHost->lastConnectionError()));

        TestPrompter closedPrompter;
        auto closed = hostFor(QStringLiteral("root"), &closedPrompter,
                              {QStringLiteral("-p"), QString::number(SshTestServer::closedPort)});
        QCOMPARE(closed->connectToHost(), EHOSTDOWN);
        QCOMPARE(closed->lastFailure(), SshHost::Failure::Refused);
        QVERIFY(closedPrompter.asked.isEmpty());
    }

    void callsWorkOffTheGuiThread()
    {
        TestPrompter prompter;
        SshHost::Settings settings = SshTestServer::instance().settings(QStringLiteral("ntpsudo"));
        settings.loginUserPrograms << QStringLiteral("whoami");
        prompter.secret = SshTestServer::passwordOf(QStringLiteral("ntpsudo"));
        auto host = std::make_unique<SshHost>(settings, &prompter);
        QCOMPARE(host->connectToHost(), 0);
        // Queries may run as the login; everything else runs as root.
        QCOMPARE(host->run(QStringLiteral("whoami"), {}, 5000).standardOutput, "ntpsudo\n");
        QCOMPARE(host->run(QStringLiteral("id"), {QStringLiteral("-un")}, 5000).standardOutput,
                 "root\n");
        QVector<HostReply> replies;
        QThread* worker = QThread::create([&] {
            replies =
                host->query({{HostRequest::ReadFile, QStringLiteral("/etc/shadow"), 1 << 20}});
        });
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 20000);
        delete worker;
        QCOMPARE(replies.value(0).error, 0);
        // The server's own /etc: the throw-away copy with the test's users.
        QVERIFY(replies.value(0).bytes.contains("ntpsudo:$6$ntpsmtest$"));
    }

    void deadConnectionIsNoticedWithinSeconds()
    {
        TestPrompter prompter;
        auto host = hostFor(QStringLiteral("root"), &prompter);
        QVERIFY2(host->connectToHost() == 0, qPrintable(host->lastConnectionError()));
        bool lost = false;
        host->setConnectionLostHandler([&] { lost = true; });
        QVector<bool> waiting;
        Host::setWaitIndicator([&](bool busy) { waiting << busy; });
        SshTestServer& server = SshTestServer::instance();

        // A server that stalls a moment: the call waits, shown busy.
        server.signalConnections(SIGSTOP);
        QTimer::singleShot(1000, [&] { server.signalConnections(SIGCONT); });
        QCOMPARE(host->status(QStringLiteral("/etc")).error, 0);
        QCOMPARE(waiting, (QVector<bool>{true, false}));

        // One that stops answering: dead within the keep-alive limit.
        server.signalConnections(SIGSTOP);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(host->status(QStringLiteral("/etc")).error, EHOSTDOWN);
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        qInfo("a dead connection was noticed after %lld ms", clock.elapsed());
        QTRY_VERIFY(lost);
        QCOMPARE(host->lastFailure(), SshHost::Failure::Lost);
        const ProcessResult result = host->run(QStringLiteral("true"), {}, 5000);
        QCOMPARE(result.hostError, EHOSTDOWN);
        server.signalConnections(SIGKILL);
        Host::setWaitIndicator(nullptr);
        QCOMPARE(host->connectToHost(), 0);
    }

    void killedReplacementLeavesOldOrNew()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("ntp.conf"));
        TestPrompter prompter;
        auto host = hostFor(QStringLiteral("ntpsudo"), &prompter);
        QByteArray current(2 << 20, 'a');
        put(target, current);
        int replaced = 0, kept = 0;
        for (int round = 0; round < 12; ++round) {
            QVERIFY2(host->connectToHost() == 0, qPrintable(host->lastConnectionError()));
            const QByteArray next(2 << 20, char('b' + round));
            FileReplacement replacement;
            replacement.target = target;
            replacement.bytes = next;
            replacement.guarded = true;
            replacement.expectedDigest = sha256(current);
            // Now the server's side, now the client's master, at some point.
            QTimer kill;
            kill.setSingleShot(true);
            connect(&kill, &QTimer::timeout, [&, round] {
                if (round % 2)
                    SshTestServer::instance().signalConnections(SIGKILL);
                else
                    host->disconnectFromHost();
            });
            kill.start(10 + round * 25);
            const ReplaceOutcome outcome = host->replaceFile(replacement);
            kill.stop();
            // The server finishes what it has whole, or drops it: wait for
            // its temporary file to go, then the file is one or the other.
            QTRY_VERIFY(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).size() == 1);
            const QByteArray now = got(target);
            QVERIFY(now == current || now == next);
            QVERIFY(outcome.error == 0 || outcome.error == EHOSTDOWN);
            // A lost answer is told as one, so the caller looks again.
            QCOMPARE(outcome.outcomeUnknown, outcome.error == EHOSTDOWN);
            if (outcome.error == 0)
                QCOMPARE(now, next);
            (now == next ? replaced : kept)++;
            current = now;
        }
        qInfo("replaced %d times, kept the old bytes %d times", replaced, kept);
    }
};

int main(int argc, char** argv)
{
    if (SshAskpass::requested())
        return SshAskpass::run(argc, argv);
    SshTestServer::enterPrivateNetwork();
    QCoreApplication app(argc, argv);
    int status = 0;
    SshAsRoot asRoot;
    SshAsSudoUser asSudoUser;
    SshAsSudoUserWithPassword asSudoUserWithPassword;
    TestSshHost remote;
    for (QObject* test :
         std::initializer_list<QObject*>{&asRoot, &asSudoUser, &asSudoUserWithPassword, &remote})
        status |= QTest::qExec(test, argc, argv);
    return status;
}

#include "tst_sshhost.moc"
