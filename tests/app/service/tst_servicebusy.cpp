// Service commands keep the window painted while the script runs, bound the
// output they keep and show, end the script's whole process group on
// time-out, and check the daemon after a start.
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QProgressBar>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <signal.h>

#include "app/fntp.h"
#include "app/service/servicecommand.h"
#include "app/service/servicecontrol.h"
#include "host/processrunner.h"
#include "tests/common/fakesystem.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;

namespace
{
struct BoxContent {
    bool shown = false;
    QString title;
    QString text;
    QString informative;
    QString details;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::TextFormat format = Qt::AutoText;
};

void recordNextBox(BoxContent* seen, int timeoutMs = 20000)
{
    onNextModal(
        [seen](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box);
            seen->shown = true;
            seen->title = box->windowTitle();
            seen->text = box->text();
            seen->informative = box->informativeText();
            seen->details = box->detailedText();
            seen->icon = box->icon();
            seen->format = box->textFormat();
            box->button(QMessageBox::Ok)->click();
        },
        timeoutMs);
}

// Runs the init script for real and answers every other program (the
// daemon check's queries) from a table.
class CheckRunner : public ProcessRunner
{
public:
    QMap<QString, ProcessResult> answers;
    QStringList asked;
    ProcessJob* start(const QString& program, const QStringList& arguments,
                      const ProcessOptions& options) override
    {
        if (!answers.contains(program))
            return ProcessRunner::start(program, arguments, options);
        asked << program;
        return ProcessJob::finishedWith(answers.value(program), 20);
    }
};

ProcessResult exited(int code, const QByteArray& output = QByteArray())
{
    ProcessResult result;
    result.finished = true;
    result.exitCode = code;
    result.standardOutput = output;
    return result;
}
} // namespace

class TestServiceBusy : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        m_conf.reset(new ConfFile("server 192.0.2.1\nbogus line here\nserver 192.0.2.2\n"));
    }
    void cleanup()
    {
        QCOMPARE(rejectOpenModals(), 0);
        setServiceWaitLimitForTesting(0);
        setDaemonCheckDelayForTesting(-1);
        ProcessRunner::setInstanceForTesting(nullptr);
    }
    void cleanupTestCase() { setInitScriptPathForTesting(QString()); }

    // While the script sleeps the event loop runs: the window is disabled,
    // shows a progress bar and a busy cursor, and refuses to close.
    void windowStaysAliveWhileTheScriptRuns()
    {
        writeScript("#!/bin/sh\nsleep 1\nexit 0\n");
        FNTP window;
        window.show();
        int ticks = 0;
        bool busySeen = false;
        bool closeRefused = false;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (QApplication::activeModalWidget())
                return;
            ++ticks;
            auto* bar =
                window.statusBar()->findChild<QProgressBar*>(QStringLiteral("serviceProgress"));
            if (bar && bar->isVisible() && !window.isEnabled() && QApplication::overrideCursor() &&
                QApplication::overrideCursor()->shape() == Qt::BusyCursor) {
                busySeen = true;
                closeRefused = !window.close() && window.isVisible();
            }
        });
        probe.start(50);
        BoxContent seen;
        recordNextBox(&seen);
        window.ntpdStart();
        probe.stop();
        QCOMPARE(seen.text, QStringLiteral("Server started successfully"));
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
        QVERIFY(busySeen);
        QVERIFY(closeRefused);
        QVERIFY(window.isEnabled());
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(!window.statusBar()->findChild<QProgressBar*>(QStringLiteral("serviceProgress")));
    }

    // 10 MB of output: the box shows its last lines and the details the
    // last 16 KiB, whole lines.
    void floodOfOutputIsBounded()
    {
        writeScript("#!/bin/sh\nseq 1 1500000\necho last words >&2\nexit 2\n");
        FNTP window;
        BoxContent seen;
        recordNextBox(&seen);
        window.ntpdReload();
        QCOMPARE(seen.title, QStringLiteral("Server error"));
        QVERIFY(seen.text.endsWith(QStringLiteral("1500000last words\nFailed! Exit code 2\n")));
        QVERIFY(seen.text.count(QLatin1Char('\n')) <= 40);
        QVERIFY(seen.details.size() > 15000);
        QVERIFY(seen.details.size() <= 16 * 1024 + 2);
        QVERIFY(seen.details.startsWith(QStringLiteral("…\n")));
        QVERIFY(seen.details.endsWith(QStringLiteral("Failed! Exit code 2\n")));
    }

    void timeOutEndsTheWholeProcessGroup()
    {
        const QString pidFile = m_dir.filePath(QStringLiteral("child"));
        writeScript("#!/bin/sh\nsleep 60 &\necho $! > '" + pidFile.toUtf8() + "'\nexec sleep 60\n");
        setServiceWaitLimitForTesting(700);
        FNTP window;
        BoxContent seen;
        recordNextBox(&seen);
        window.ntpdRestart();
        QCOMPARE(seen.text, QStringLiteral("Timed out"));
        const QByteArray child = readFile(pidFile).trimmed();
        QVERIFY(!child.isEmpty());
        // Reaped by init or a zombie at most: no longer able to run.
        QTRY_VERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(QString::fromLatin1(child))) ||
                    readFile(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(child)))
                        .contains(") Z "));
    }

    void checkAfterStart_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<QByteArray>("journal");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("informative");
        const QByteArray rejected = "CONFIG: line 2 column 0 syntax error\nCONFIG: syntax error in "
                                    "CONF line 2, column 0\n";
        QTest::newRow("clean start")
            << true << QByteArray("INIT: Starting\n") << int(QMessageBox::Information)
            << "Server started successfully" << QString();
        QTest::newRow("rejected line")
            << true << rejected << int(QMessageBox::Information) << "Server started successfully"
            << "Warning: the daemon rejected these lines of the configuration:\n"
               "line 2: bogus line here";
        QTest::newRow("exited at once")
            << false << QByteArray("ERR: cannot bind\nERR: ntpd exiting\n")
            << int(QMessageBox::Warning)
            << "The command ended with exit code 0, but the daemon is not running."
            << "The daemon is not running a few seconds later. It logged:\n"
               "ERR: cannot bind\nERR: ntpd exiting";
    }
    void checkAfterStart()
    {
        QFETCH(bool, running);
        QFETCH(QByteArray, journal);
        QFETCH(int, icon);
        QFETCH(QString, text);
        QFETCH(QString, informative);
        writeScript("#!/bin/sh\nexit 0\n");
        setDaemonCheckDelayForTesting(100);
        // The daemon runs when the machine's process list shows it.
        FakeSystem machine;
        machine.installNtpd("ntpd ntpsec-1.2.2");
        if (running)
            machine.runProcess(4711, {QStringLiteral("/usr/sbin/ntpd"), QStringLiteral("-g")});
        CheckRunner runner;
        runner.answers.insert(QStringLiteral("journalctl"),
                              exited(0, journal.replace("CONF", m_conf->path().toUtf8())));
        ProcessRunner::setInstanceForTesting(&runner);
        FNTP window;
        BoxContent seen;
        recordNextBox(&seen);
        window.ntpdStart();
        QCOMPARE(seen.text, text);
        QCOMPARE(int(seen.icon), icon);
        QCOMPARE(seen.informative, informative);
        QCOMPARE(runner.asked, QStringList{QStringLiteral("journalctl")});

        // Stopping is not followed by a check.
        runner.asked.clear();
        recordNextBox(&seen);
        window.ntpdStop();
        QCOMPARE(seen.text, QStringLiteral("Server stopped successfully"));
        QVERIFY(runner.asked.isEmpty());
    }

    // Success needs the installed daemon running afterwards: another
    // user's program named ntpd is not it.
    void anotherUsersNtpdIsNoSuccess()
    {
        writeScript("#!/bin/sh\necho Starting NTP server: ntpd.\nexit 0\n");
        setDaemonCheckDelayForTesting(100);
        FakeSystem machine;
        machine.installNtpd("ntpd ntpsec-1.2.2");
        machine.write(QStringLiteral("/home/mallory/ntpd"), "#!/bin/sh\n");
        machine.runProcess(4712, {QStringLiteral("/home/mallory/ntpd"), QStringLiteral("-n")});
        machine.runProcess(4713, {QStringLiteral("/usr/sbin/ntpd"), QStringLiteral("-n")}, 1000);
        CheckRunner runner;
        runner.answers.insert(QStringLiteral("journalctl"), exited(0, "ntpd exiting\n"));
        ProcessRunner::setInstanceForTesting(&runner);
        FNTP window;
        BoxContent seen;
        recordNextBox(&seen);
        window.ntpdStart();
        QCOMPARE(int(seen.icon), int(QMessageBox::Warning));
        QVERIFY(!seen.text.contains(QStringLiteral("successfully")));
        QVERIFY2(seen.informative.startsWith(QStringLiteral("The daemon is not running")),
                 qPrintable(seen.informative));
    }

    // A script that exits with 0 after printing a fatal error has failed:
    // a warning with its message, never the success text.
    void fatalMessageWithExitZero()
    {
        writeScript("#!/bin/sh\necho 'Starting NTP server: ntpd'\n"
                    "echo '<b>ntpd</b>: fatal: cannot open /etc/ntpsec/ntp.conf' >&2\nexit 0\n");
        FNTP window;
        BoxContent seen;
        recordNextBox(&seen);
        window.ntpdStart();
        QCOMPARE(int(seen.icon), int(QMessageBox::Warning));
        QCOMPARE(seen.title, QStringLiteral("Warning"));
        QCOMPARE(seen.text, QStringLiteral("<b>ntpd</b>: fatal: cannot open /etc/ntpsec/ntp.conf"));
        QCOMPARE(seen.format, Qt::PlainText); // the script's words, never markup
        QVERIFY(!seen.text.contains(QStringLiteral("successfully")));
        QVERIFY(seen.informative.contains(QStringLiteral("exit code 0")));
    }

    // A log line naming a file other than the configuration's is shown as
    // text: the file is never opened.
    void loggedFileOutsideTheConfigurationNotOpened()
    {
        QTemporaryDir other;
        const QString secret = other.filePath(QStringLiteral("shadow"));
        QVERIFY(writeFile(secret, "root:top-secret-hash:19000:0:99999:7:::\n"));
        writeScript("#!/bin/sh\nexit 0\n");
        setDaemonCheckDelayForTesting(100);
        FakeSystem machine;
        machine.installNtpd("ntpd ntpsec-1.2.2");
        machine.runProcess(4711, {QStringLiteral("/usr/sbin/ntpd"), QStringLiteral("-g")});
        CheckRunner runner;
        runner.answers.insert(
            QStringLiteral("journalctl"),
            exited(0, "syntax error in " + secret.toUtf8() + " line 1, column 0\n"));
        ProcessRunner::setInstanceForTesting(&runner);
        FNTP window;
        BoxContent seen;
        recordNextBox(&seen);
        window.ntpdStart();
        QCOMPARE(seen.text, QStringLiteral("Server started successfully"));
        QVERIFY2(!seen.informative.contains(QStringLiteral("top-secret")),
                 qPrintable(seen.informative));
        QVERIFY2(seen.informative.contains(
                     QStringLiteral("line 1 of %1 (not a file of this configuration; not opened)")
                         .arg(secret)),
                 qPrintable(seen.informative));
    }

    // 10 MB of long lines: the box stays on the screen with its button,
    // the details scroll, and the box says the output was cut.
    void hugeOutputBoxFitsTheScreen()
    {
        writeScript("#!/bin/sh\nline=$(printf 'x%.0s' $(seq 1 290))\n"
                    "yes \"fatal $line\" | head -c 10000000\nexit 1\n");
        FNTP window;
        QRect box, button, screen;
        QString informative, details;
        onNextModal(
            [&](QWidget* modal) {
                auto* shown = qobject_cast<QMessageBox*>(modal);
                QVERIFY(shown);
                QTest::qWait(50);
                box = shown->frameGeometry();
                QAbstractButton* ok = shown->button(QMessageBox::Ok);
                button = QRect(ok->mapToGlobal(QPoint(0, 0)), ok->size());
                screen = shown->screen()->availableGeometry();
                informative = shown->informativeText();
                details = shown->detailedText();
                ok->click();
            },
            20000);
        window.ntpdReload();
        QVERIFY(!box.isEmpty());
        QVERIFY2(box.height() <= screen.height(), qPrintable(QString::number(box.height())));
        QVERIFY2(screen.contains(button), qPrintable(QString::number(button.bottom())));
        QCOMPARE(informative, QStringLiteral("The command printed more than 1 MiB: only the end of "
                                             "its output is kept and shown."));
        QVERIFY(details.endsWith(QStringLiteral("Failed! Exit code 1\n")));
    }

private:
    void writeScript(const QByteArray& text)
    {
        const QString path = m_dir.filePath(QStringLiteral("ntp"));
        QVERIFY(writeFile(path, text));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        setInitScriptPathForTesting(path);
    }
    QTemporaryDir m_dir;
    std::unique_ptr<ConfFile> m_conf;
};

QTEST_MAIN(TestServiceBusy)
#include "tst_servicebusy.moc"
