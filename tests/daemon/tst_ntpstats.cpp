// Reading the daemon's statistics files: lines, generations and the tail
// of a large file from a point in time.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

#include "daemon/ntpstats.h"
#include "tests/common/testfiles.h"

using namespace TestHelpers;

namespace
{
const double mjdOfEpoch = 40587;

// A loopstats line at `time` (seconds since the epoch) with an offset that
// tells the line apart.
QByteArray loopLine(double time, double offset)
{
    const qint64 day = qint64(time / 86400);
    const double seconds = time - double(day) * 86400;
    return QByteArray::number(day + qint64(mjdOfEpoch)) + ' ' +
           QByteArray::number(seconds, 'f', 3) + ' ' + QByteArray::number(offset, 'f', 9) +
           " -12.345 0.000001234 0.001 6\n";
}
} // namespace

class TestNtpStats : public QObject
{
    Q_OBJECT

private slots:
    void lines()
    {
        const QByteArray loop = "61382 34168.291 0.000421553 -12.345 0.000038147 0.004 6\n";
        LoopSample sample;
        QVERIFY(parseLoopLine(loop.constData(), loop.constData() + loop.size() - 1, &sample));
        QCOMPARE(sample.time, (61382 - mjdOfEpoch) * 86400 + 34168.291);
        QCOMPARE(sample.offset, 0.000421553);
        QCOMPARE(sample.jitter, 0.000038147);
        for (const QByteArray& bad :
             {QByteArray("61382 34168.291 abc -12 0.1"), QByteArray("61382 34168.291 0.1"),
              QByteArray(""), QByteArray("x 1 2 3 4 5"), QByteArray("61382 99999 1 2 3")})
            QVERIFY2(!parseLoopLine(bad.constData(), bad.constData() + bad.size(), &sample),
                     bad.constData());

        // Captured from NTPsec with its local clock driver.
        const QByteArray realLoop = readFile(ntpqFixturePath("ntpsec-loopstats"));
        QVERIFY(parseLoopLine(realLoop.constData(), realLoop.constData() + realLoop.indexOf('\n'),
                              &sample));
        QCOMPARE(sample.jitter, 0.000000056);
        const QByteArray peers = readFile(ntpqFixturePath("ntpsec-peerstats"));
        const QList<QByteArray> peerLines = peers.split('\n');
        PeerSample peer;
        QVERIFY(parsePeerLine(peerLines.at(0).constData(),
                              peerLines.at(0).constData() + peerLines.at(0).size(), &peer));
        QCOMPARE(peer.peer, QStringLiteral("LOCAL(0)"));
        QCOMPARE(peer.offset, 0.0);
    }

    void tailOfALargeFileFromAPointInTime()
    {
        QTemporaryDir dir;
        const double start = 1.7e9;
        QByteArray text;
        for (int i = 0; i < 20000; ++i)
            text += loopLine(start + i * 64.0, i);
        const QString path = dir.filePath(QStringLiteral("loopstats"));
        QVERIFY(writeFile(path, text));
        const double since = start + 15000 * 64.0 - 1;
        const QByteArray tail = statsTailSince(path, since);
        QVERIFY(tail.startsWith(loopLine(start + 15000 * 64.0, 15000)));
        QCOMPARE(tail.count('\n'), 5000);
        QCOMPARE(statsTailSince(path, start - 10), text);
        QVERIFY(statsTailSince(path, start + 30000 * 64.0).isEmpty());
        QVERIFY(statsTailSince(dir.filePath(QStringLiteral("missing")), 0).isEmpty());
    }

    // Daily generations, the current one linked under the plain name, a
    // malformed line, an empty file and files of other names.
    void generations()
    {
        QTemporaryDir dir;
        const double now = double(QDateTime::currentSecsSinceEpoch());
        const auto write = [&](const char* name, const QByteArray& text, double age) {
            const QString path = dir.filePath(QLatin1String(name));
            QVERIFY(writeFile(path, text));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::fromSecsSinceEpoch(qint64(now - age)),
                                     QFileDevice::FileModificationTime));
        };
        write("loopstats.20240101", loopLine(now - 9 * 86400, 1), 9 * 86400);
        write("loopstats.20240109", loopLine(now - 2 * 86400, 2) + loopLine(now - 1.5 * 86400, 3),
              1.5 * 86400);
        write("loopstats.20240110",
              loopLine(now - 3600, 4) + "garbage line\n" + loopLine(now - 60, 5), 60);
        write("loopstats.20240111", QByteArray(), 30);
        write("peerstats", loopLine(now - 10, 99), 10);
        write("loopstatsX", loopLine(now - 10, 98), 10);
        QVERIFY(
            ::link(
                QFile::encodeName(dir.filePath(QStringLiteral("loopstats.20240110"))).constData(),
                QFile::encodeName(dir.filePath(QStringLiteral("loopstats"))).constData()) == 0);

        const StatsRead week =
            readLoopStats(dir.path(), QStringLiteral("loopstats"), now - 7 * 86400);
        QCOMPARE(week.loop.size(), 4);
        QCOMPARE(week.loop.first().offset, 2.0);
        QCOMPARE(week.loop.last().offset, 5.0);
        QCOMPARE(week.malformedLines, 1);
        const StatsRead hour = readLoopStats(dir.path(), QStringLiteral("loopstats"), now - 3601);
        QCOMPARE(hour.loop.size(), 2);
        QVERIFY(readLoopStats(dir.filePath(QStringLiteral("none")), QStringLiteral("loopstats"), 0)
                    .loop.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestNtpStats)
#include "tst_ntpstats.moc"
