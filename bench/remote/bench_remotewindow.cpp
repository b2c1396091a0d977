// The window over SSH against the tests' throw-away sshd on loopback,
// beside the window on this machine, in one run: time from start to the
// window shown, round trips per Apply (counted by a host that forwards to
// the SSH host), the longest stall of the GUI thread while connecting,
// applying and polling the daemon, and the CPU the open window takes while
// it polls. Needs root (the server runs in namespaces). Prints figures.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

#include "app/fntp.h"
#include "app/startup.h"
#include "config/configdocument.h"
#include "config/ntpsettings.h"
#include "daemon/ntpconfpath.h"
#include "host/processrunner.h"
#include "qtsingleapplication/qtsingleapplication.h"
#include "remote/askpass.h"
#include "remote/prompter.h"
#include "remote/secret.h"
#include "remote/sshhost.h"
#include "tests/common/countinghost.h"
#include "tests/remote/sshtestserver.h"

namespace
{
const QString serverFile = QStringLiteral("/etc/ntpsm-bench.conf");
const QByteArray confText = "# bench\nserver 192.0.2.7 iburst\nserver 192.0.2.8 iburst\n"
                            "driftfile /var/lib/ntpsec/ntp.drift\n";
constexpr int pollSeconds = 10;

class NoPrompter : public Prompter
{
public:
    bool askSecret(const QString&, const QString&, SecretBytes*) override { return false; }
    bool askQuestion(const QString&, const QString&) override { return false; }
    bool askText(const QString&, const QString&, QString*) override { return false; }
};

// The longest gap between two turns of the GUI thread's event loop.
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = qMax(m_longest, m_clock.restart()); });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_timer.start();
    }
    qint64 stop()
    {
        m_timer.stop();
        return qMax(m_longest, m_clock.elapsed());
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

double cpuSeconds()
{
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) +
           seconds(children.ru_stime);
}

struct WindowFigures {
    qint64 shownMs = -1;
    qint64 connectStallMs = 0; // until the window is shown
    qint64 pollStallMs = 0;
    double pollCpuSeconds = 0;
};

// Starts the program's window (for `remote` when given), times it until
// shown, then keeps it open while the daemon status polls.
WindowFigures openWindow(QtSingleApplication& app, const QString& file,
                         const SshHost::Settings& remote)
{
    WindowFigures figures;
    QElapsedTimer clock;
    StallMeter stalls;
    double cpuAtShow = 0;
    QTimer watch;
    watch.setInterval(2);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<FNTP*>(widget);
            if (!window || !window->isVisible() || figures.shownMs >= 0)
                continue;
            figures.shownMs = clock.elapsed();
            figures.connectStallMs = stalls.stop();
            watch.stop();
            cpuAtShow = cpuSeconds();
            stalls.start();
            QTimer::singleShot(pollSeconds * 1000, window, [&, window] {
                figures.pollStallMs = stalls.stop();
                figures.pollCpuSeconds = cpuSeconds() - cpuAtShow;
                window->close();
            });
        }
    });
    clock.start();
    stalls.start();
    watch.start();
    runNtpServiceManager(app, 0, file, remote);
    return figures;
}

struct ApplyFigures {
    int roundTrips = -1;
    qint64 stallMs = 0;
    qint64 ms = 0;
    bool saved = false;
};

ApplyFigures applyOnce(Host* host, const QString& file)
{
    CountingHost counting(host);
    Host::setCurrent(&counting);
    ConfigDocument& document = ConfigDocument::instance();
    document.setPath(file);
    NtpSettings record;
    document.load(&record);
    record.logFile = QStringLiteral("/var/log/ntpsm-bench-%1.log")
                         .arg(QRandomGenerator::global()->bounded(100000));
    ApplyFigures figures;
    counting.reset();
    StallMeter stalls;
    QElapsedTimer clock;
    clock.start();
    stalls.start();
    figures.saved = document.save(record);
    figures.stallMs = stalls.stop();
    figures.ms = clock.elapsed();
    figures.roundTrips = counting.calls;
    Host::setCurrent(nullptr);
    return figures;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}
} // namespace

int main(int argc, char** argv)
{
    if (SshAskpass::requested())
        return SshAskpass::run(argc, argv);
    SshTestServer::enterPrivateNetwork();
    QStandardPaths::setTestModeEnabled(true);
    QtSingleApplication app(argc, argv, QStringLiteral("bench-remotewindow"));
    QApplication::setQuitOnLastWindowClosed(true);
    QString whyNot;
    SshTestServer& server = SshTestServer::instance();
    if (!server.start(&whyNot)) {
        std::fprintf(stderr, "no test server: %s\n", qPrintable(whyNot));
        return 1;
    }
    QTemporaryDir local;
    const QString localFile = local.filePath(QStringLiteral("ntp.conf"));
    if (!writeFile(localFile, confText) ||
        !writeFile(server.etcFolder() + serverFile.mid(4), confText))
        return 1;
    setBackupDirPathForTesting(local.filePath(QStringLiteral("backups")));

    const WindowFigures localWindow = openWindow(app, localFile, SshHost::Settings());
    const WindowFigures remoteWindow =
        openWindow(app, serverFile, server.settings(QStringLiteral("root")));

    const ApplyFigures localApply = applyOnce(&localHost(), localFile);
    setBackupDirPathForTesting(QStringLiteral("/etc/ntpsm-bench-backups"));
    NoPrompter prompter;
    SshHost host(server.settings(QStringLiteral("root")), &prompter);
    StallMeter connectStalls;
    connectStalls.start();
    QElapsedTimer connectClock;
    connectClock.start();
    const int connected = host.connectToHost();
    const qint64 connectMs = connectClock.elapsed();
    const qint64 connectStall = connectStalls.stop();
    const ApplyFigures remoteApply = connected == 0 ? applyOnce(&host, serverFile) : ApplyFigures();
    // Once the backup folders are there, as at every Apply but the first.
    setBackupDirPathForTesting(local.filePath(QStringLiteral("backups")));
    const ApplyFigures localAgain = applyOnce(&localHost(), localFile);
    setBackupDirPathForTesting(QStringLiteral("/etc/ntpsm-bench-backups"));
    const ApplyFigures remoteAgain = connected == 0 ? applyOnce(&host, serverFile) : ApplyFigures();

    std::printf("window shown: local %lld ms, remote %lld ms (remote/local %.1f)\n",
                localWindow.shownMs, remoteWindow.shownMs,
                double(remoteWindow.shownMs) / double(qMax<qint64>(1, localWindow.shownMs)));
    std::printf("connect alone: %lld ms, longest GUI stall %lld ms\n", connectMs, connectStall);
    std::printf("GUI stall until shown: local %lld ms, remote %lld ms\n",
                localWindow.connectStallMs, remoteWindow.connectStallMs);
    std::printf("Apply: local %d calls %lld ms (stall %lld ms, saved %d); remote %d round trips "
                "%lld ms (stall %lld ms, saved %d); remote/local time %.1f\n",
                localApply.roundTrips, localApply.ms, localApply.stallMs, localApply.saved,
                remoteApply.roundTrips, remoteApply.ms, remoteApply.stallMs, remoteApply.saved,
                double(remoteApply.ms) / double(qMax<qint64>(1, localApply.ms)));
    std::printf("Apply again: local %d calls %lld ms (saved %d); remote %d round trips %lld ms "
                "(stall %lld ms, saved %d); remote/local time %.1f\n",
                localAgain.roundTrips, localAgain.ms, localAgain.saved, remoteAgain.roundTrips,
                remoteAgain.ms, remoteAgain.stallMs, remoteAgain.saved,
                double(remoteAgain.ms) / double(qMax<qint64>(1, localAgain.ms)));
    std::printf("polling %d s with the window open: CPU local %.3f s, remote %.3f s (remote/local "
                "%.1f); longest GUI stall local %lld ms, remote %lld ms\n",
                pollSeconds, localWindow.pollCpuSeconds, remoteWindow.pollCpuSeconds,
                remoteWindow.pollCpuSeconds / qMax(0.001, localWindow.pollCpuSeconds),
                localWindow.pollStallMs, remoteWindow.pollStallMs);
    return 0;
}
