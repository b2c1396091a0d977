// The service commands and opening the file in the desktop's editor, with
// stand-in programs made by the test.
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

#include "app/fntp.h"
#include "app/service/desktopopener.h"
#include "app/service/servicecontrol.h"
#include "daemon/ntpconfpath.h"
#include "host/processrunner.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;

namespace
{

// Records what the window asks to open, starting nothing.
class RecordingOpener : public DesktopOpener
{
public:
    QStringList detached;
    QList<QUrl> opened;
    bool startDetached(const QString& program, const QStringList& arguments) override
    {
        detached << (QStringList{program} + arguments).join(QLatin1Char(' '));
        return true;
    }
    bool openUrl(const QUrl& url) override
    {
        opened << url;
        return true;
    }
};

class EnvGuard
{
public:
    explicit EnvGuard(const char* name)
        : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
    {
    }
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

} // namespace

class TestServiceControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        m_conf.reset(new ConfFile("server 192.0.2.1\n"));
    }
    void cleanup()
    {
        QCOMPARE(rejectOpenModals(), 0);
        setServiceWaitLimitForTesting(0);
        ProcessRunner::setInstanceForTesting(nullptr);
    }
    void cleanupTestCase() { setInitScriptPathForTesting(QString()); }

    void commands_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        const QByteArray ok = "echo all is well; exit 0\n";
        QTest::newRow("start ok") << "ntpdStart"
                                  << "start" << ok << "Information"
                                  << "Server started successfully";
        QTest::newRow("stop ok") << "ntpdStop"
                                 << "stop" << ok << "Information"
                                 << "Server stopped successfully";
        QTest::newRow("restart ok") << "ntpdRestart"
                                    << "restart" << ok << "Information"
                                    << "Server restarted successfully";
        QTest::newRow("reload ok") << "ntpdReload"
                                   << "force-reload" << ok << "Information"
                                   << "Server configuration reload successfully";
        QTest::newRow("stderr only")
            << "ntpdStart"
            << "start" << QByteArray("echo '  no daemon  ' >&2; exit 1\n") << "Server error"
            << "no daemon\nFailed! Exit code 1\n";
        QTest::newRow("both streams")
            << "ntpdReload"
            << "force-reload" << QByteArray("echo out; echo err >&2; exit 3\n") << "Server error"
            << "outerr\nFailed! Exit code 3\n";
        QTest::newRow("crashed") << "ntpdRestart"
                                 << "restart" << QByteArray("kill -SEGV $$\n") << "Server error"
                                 << "Crashed";
    }
    void commands()
    {
        QFETCH(QString, slot);
        QFETCH(QString, argument);
        QFETCH(QByteArray, script);
        QFETCH(QString, title);
        QFETCH(QString, text);
        const QString record = m_dir.filePath(QStringLiteral("args"));
        QFile::remove(record);
        writeScript("#!/bin/sh\necho \"$@\" > '" + record.toUtf8() + "'\n" + script);
        FNTP window;
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        QVERIFY(QMetaObject::invokeMethod(&window, slot.toLatin1().constData()));
        QVERIFY(seen.shown);
        QCOMPARE(seen.title, title);
        QCOMPARE(seen.text, text);
        QCOMPARE(seen.parent, &window);
        QCOMPARE(seen.icon, title == QLatin1String("Information") ? QMessageBox::Information
                                                                  : QMessageBox::Critical);
        QCOMPARE(readFile(record).trimmed(), argument.toUtf8());
    }

    void missingScript_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QString>("text");
        QTest::newRow("stop") << "ntpdStop"
                              << "Failed to stop";
        QTest::newRow("start") << "ntpdStart"
                               << "Failed to start";
        QTest::newRow("restart") << "ntpdRestart"
                                 << "Failed to start";
        QTest::newRow("reload") << "ntpdReload"
                                << "Failed to start";
    }
    void missingScript()
    {
        QFETCH(QString, slot);
        QFETCH(QString, text);
        setInitScriptPathForTesting(m_dir.filePath(QStringLiteral("no-such-script")));
        FNTP window;
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        QVERIFY(QMetaObject::invokeMethod(&window, slot.toLatin1().constData()));
        QCOMPARE(seen.title, QStringLiteral("Server error"));
        QCOMPARE(seen.text, text);
    }

    void scriptThatHangsIsKilled()
    {
        const QString pidFile = m_dir.filePath(QStringLiteral("pid"));
        writeScript("#!/bin/sh\necho $$ > '" + pidFile.toUtf8() + "'\nexec sleep 30\n");
        setServiceWaitLimitForTesting(500);
        FNTP window;
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        QElapsedTimer clock;
        clock.start();
        window.ntpdStop();
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(seen.title, QStringLiteral("Server error"));
        QCOMPARE(seen.text, QStringLiteral("Timed out"));
        const QByteArray pid = readFile(pidFile).trimmed();
        QVERIFY(!pid.isEmpty());
        QVERIFY2(!QFile::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid)),
                 "the script outlived the time-out");
    }

    // An init script another user owns or may write is never run as root.
    void scriptOfAnotherUserNotRun_data()
    {
        QTest::addColumn<bool>("givenAway");
        QTest::newRow("owned by nobody") << true;
        QTest::newRow("writable by others") << false;
    }
    void scriptOfAnotherUserNotRun()
    {
        QFETCH(bool, givenAway);
        const QString record = m_dir.filePath(QStringLiteral("ran"));
        QFile::remove(record);
        writeScript("#!/bin/sh\ntouch '" + record.toUtf8() + "'\nexit 0\n");
        const QByteArray script = QFile::encodeName(m_dir.filePath(QStringLiteral("ntp")));
        if (givenAway)
            QCOMPARE(::chown(script.constData(), 65534, 65534), 0);
        else
            QCOMPARE(::chmod(script.constData(), 0777), 0);
        FNTP window;
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        window.ntpdStart();
        QCOMPARE(seen.title, QStringLiteral("Server error"));
        QCOMPARE(seen.text,
                 QStringLiteral("%1 is not owned by root or can be changed by other users: it is "
                                "not run.")
                     .arg(QString::fromLocal8Bit(script)));
        QVERIFY(!QFile::exists(record));
    }

    void openWithSudoUser()
    {
        EnvGuard path("PATH"), sudo("SUDO_USER"), pkexec("PKEXEC_UID");
        const QString record = m_dir.filePath(QStringLiteral("su-args"));
        QFile::remove(record);
        const QString binDir = m_dir.filePath(QStringLiteral("bin"));
        QDir().mkpath(binDir);
        writeExecutable(binDir + QStringLiteral("/su"),
                        "#!/bin/sh\nprintf '%s|' \"$@\" > '" + record.toUtf8() + "'\n");
        qputenv("PATH", binDir.toUtf8() + ':' + qgetenv("PATH"));
        qputenv("SUDO_USER", "nobody");
        FNTP window;
        window.openNtpConfig();
        QTRY_VERIFY(QFile::exists(record) && !readFile(record).isEmpty());
        QCOMPARE(QString::fromUtf8(readFile(record)),
                 QStringLiteral("-|nobody|-w|DISPLAY|xdg-open|%1|").arg(ntpConfPath()));
    }

    void openChoosesTheUser_data()
    {
        QTest::addColumn<QByteArray>("sudoUser");
        QTest::addColumn<QByteArray>("pkexecUid");
        QTest::addColumn<QString>("expectedSu"); // empty: desktop services
        QTest::newRow("no caller") << QByteArray() << QByteArray() << QString();
        QTest::newRow("sudo user") << QByteArray("nobody") << QByteArray() << "su - nobody";
        QTest::newRow("option-like") << QByteArray("-c") << QByteArray() << QString();
        QTest::newRow("unknown account")
            << QByteArray("no-such-user-xyz") << QByteArray() << QString();
        QTest::newRow("pkexec") << QByteArray() << QByteArray("65534") << "su - nobody";
        QTest::newRow("sudo first") << QByteArray("root") << QByteArray("65534") << "su - root";
        QTest::newRow("bogus pkexec") << QByteArray() << QByteArray("12x") << QString();
    }
    void openChoosesTheUser()
    {
        QFETCH(QByteArray, sudoUser);
        QFETCH(QByteArray, pkexecUid);
        QFETCH(QString, expectedSu);
        EnvGuard sudo("SUDO_USER"), pkexec("PKEXEC_UID");
        sudoUser.isNull() ? qunsetenv("SUDO_USER") : qputenv("SUDO_USER", sudoUser);
        pkexecUid.isNull() ? qunsetenv("PKEXEC_UID") : qputenv("PKEXEC_UID", pkexecUid);
        RecordingOpener runner;
        DesktopOpener::setInstanceForTesting(&runner);
        FNTP window;
        window.openNtpConfig();
        DesktopOpener::setInstanceForTesting(nullptr);
        if (expectedSu.isEmpty()) {
            QVERIFY(runner.detached.isEmpty());
            QCOMPARE(runner.opened, QList<QUrl>{QUrl::fromLocalFile(ntpConfPath())});
        } else {
            QVERIFY(runner.opened.isEmpty());
            QCOMPARE(runner.detached,
                     QStringList{expectedSu + " -w DISPLAY xdg-open " + ntpConfPath()});
        }
    }

private:
    void writeScript(const QByteArray& text)
    {
        const QString path = m_dir.filePath(QStringLiteral("ntp"));
        writeExecutable(path, text);
        setInitScriptPathForTesting(path);
    }
    static void writeExecutable(const QString& path, const QByteArray& text)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QTemporaryDir m_dir;
    std::unique_ptr<ConfFile> m_conf;
};

QTEST_MAIN(TestServiceControl)
#include "tst_servicecontrol.moc"
