// How much the daemon status costs the GUI thread.
//
//   bench_status stall SECONDS [CONF] longest event-loop stall while the main
//                                    window and the status window poll the
//                                    daemon, and the CPU the polling costs
//                                    (this process and its ntpq children,
//                                    running or ended)
//   bench_status command SECONDS     longest stall while a service command
//                                    runs that prints 10 MB and sleeps
//   bench_status parse MEGABYTES     reading the last day of a statistics
//                                    file against a plain line read of the
//                                    same bytes
//
// "stall" asks whatever daemon answers ntpq here; run it inside the network
// namespace of a sandboxed daemon (run-status-bench.sh does that).
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

#include "app/fntp.h"
#include "app/service/servicecontrol.h"
#include "app/status/daemonstatuswindow.h"
#include "daemon/ntpconfpath.h"
#include "daemon/ntpstats.h"

namespace
{
// Measures the longest gap between ticks of a 5 ms timer.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last > 0 && now - m_last > m_longest) {
                m_longest = now - m_last;
                m_at = m_last;
            }
            m_last = now;
        });
        m_clock.start();
        m_timer.start(5);
    }
    double longestMs() const { return double(m_longest) / 1e6; }
    // When the longest stall began, in seconds after the meter started.
    double longestAtS() const { return double(m_at) / 1e9; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    qint64 m_at = 0;
};

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU of the children still running (a long-running ntpq is never reaped
// while polling, so RUSAGE_CHILDREN does not see it).
double liveChildrenCpuSeconds()
{
    double total = 0;
    const QString self = QString::number(::getpid());
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = file.readAll();
        // After the name in parentheses: state ppid ... utime stime (fields 3, 4, 14, 15).
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12 && fields.at(1) == self.toLatin1())
            total += double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) /
                     double(::sysconf(_SC_CLK_TCK));
    }
    return total;
}

double polledCpuSeconds()
{
    return cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN) + liveChildrenCpuSeconds();
}

void runFor(int seconds)
{
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
}

int stall(int seconds)
{
    FNTP window;
    window.show();
    window.findChild<QAction*>(QStringLiteral("aDaemonStatus"))->trigger();
    runFor(2); // settle: first answer, first plot
    const double cpuBefore = polledCpuSeconds();
    StallMeter meter;
    // The stall meter's own ticks cost CPU too; they are measured apart below.
    runFor(seconds);
    const double used = polledCpuSeconds() - cpuBefore;
    const double longest = meter.longestMs();
    const double idleBefore = cpuSeconds(RUSAGE_SELF);
    double idleLongest = 0;
    {
        // The machine's own noise: the same meter with polling stopped.
        for (QTimer* timer : window.findChildren<QTimer*>())
            timer->stop();
        StallMeter idle;
        runFor(std::min(seconds, 10));
        idleLongest = idle.longestMs();
    }
    const double meterCost = (cpuSeconds(RUSAGE_SELF) - idleBefore) / std::min(seconds, 10);
    std::printf("polling %d s: longest event-loop stall %.1f ms (%.1f ms with polling stopped); "
                "CPU %.2f %% of one core (%.2f %% without the meter's own ticks)\n",
                seconds, longest, idleLongest, 100.0 * used / seconds,
                100.0 * (used / seconds - meterCost));
    return longest <= 50 ? 0 : 1;
}

int command(int seconds)
{
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("ntp"));
    QFile file(script);
    file.open(QIODevice::WriteOnly);
    file.write("#!/bin/sh\nseq 1 1500000\nsleep " + QByteArray::number(seconds) + "\nexit 1\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setInitScriptPathForTesting(script);
    setServiceWaitLimitForTesting((seconds + 20) * 1000);
    FNTP window;
    window.show();
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto* box = QApplication::activeModalWidget())
            box->close();
    });
    closer.start(100);
    {
        // The first message box of a process loads fonts and icons; that is
        // not the command's cost.
        QMessageBox warmUp(QMessageBox::Critical, QStringLiteral("warm-up"), QStringLiteral("x"),
                           QMessageBox::Ok, &window);
        warmUp.setDetailedText(QStringLiteral("x"));
        warmUp.exec();
    }
    StallMeter meter;
    QElapsedTimer clock;
    clock.start();
    window.ntpdStart();
    std::printf("service command printing 10 MB (%.1f s): longest event-loop stall %.1f ms "
                "(at %.1f s)\n",
                double(clock.elapsed()) / 1000.0, meter.longestMs(), meter.longestAtS());
    return meter.longestMs() <= 50 ? 0 : 1;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

int parse(int megabytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("loopstats"));
    // Ten days of lines, as dense as needed to reach the size.
    const double now = double(QDateTime::currentSecsSinceEpoch());
    const QByteArray sample = "61382 34168.291 0.000421553 -12.345 0.000038147 0.004 6\n";
    const qint64 lines = qint64(megabytes) * 1024 * 1024 / sample.size();
    const double step = 10.0 * 86400 / double(lines);
    {
        QFile out(path);
        out.open(QIODevice::WriteOnly);
        QByteArray chunk;
        for (qint64 i = 0; i < lines; ++i) {
            const double time = now - 10 * 86400 + double(i) * step;
            const qint64 day = qint64(time / 86400);
            chunk += QByteArray::number(day + 40587) + ' ' +
                     QByteArray::number(time - double(day) * 86400, 'f', 3) +
                     " 0.000421553 -12.345 0.000038147 0.004 6\n";
            if (chunk.size() > (1 << 20)) {
                out.write(chunk);
                chunk.clear();
            }
        }
        out.write(chunk);
    }
    const double since = now - 86400;
    const qint64 tailBytes = statsTailSince(path, since).size();
    QVector<double> parsed;
    QVector<double> plain;
    int samples = 0;
    for (int round = 0; round < 15; ++round) {
        QElapsedTimer clock;
        clock.start();
        samples = readLoopStats(dir.path(), QStringLiteral("loopstats"), since).loop.size();
        parsed << double(clock.nsecsElapsed()) / 1e6;

        clock.restart();
        QFile in(path);
        in.open(QIODevice::ReadOnly);
        in.seek(in.size() - tailBytes);
        qint64 count = 0;
        char buffer[256];
        while (in.readLine(buffer, sizeof buffer) > 0)
            ++count;
        plain << double(clock.nsecsElapsed()) / 1e6;
        if (count == 0)
            return 2;
    }
    const double ratio = median(parsed) / median(plain);
    std::printf("%d MB file, last day = %.1f MB, %d samples: parse %.1f ms, plain line read "
                "%.1f ms, ratio %.2f (median of 15)\n",
                megabytes, double(tailBytes) / 1048576.0, samples, median(parsed), median(plain),
                ratio);
    return ratio <= 3 ? 0 : 1;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const int amount = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 0;
    if (argc > 3)
        setNtpConfPathForTesting(QString::fromLocal8Bit(argv[3]));
    if (mode == QLatin1String("stall"))
        return stall(amount > 0 ? amount : 60);
    if (mode == QLatin1String("command"))
        return command(amount > 0 ? amount : 10);
    if (mode == QLatin1String("parse"))
        return parse(amount > 0 ? amount : 50);
    std::fprintf(stderr, "usage: bench_status stall|command|parse [SECONDS|MEGABYTES]\n");
    return 2;
}
