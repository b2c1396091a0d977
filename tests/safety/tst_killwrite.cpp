// Saving the configuration survives being killed at any moment: a process
// rewriting a large file over and over with NtpSettings::writeTo() is sent
// SIGKILL at random times, and the file must afterwards hold exactly one of
// the two complete contents it alternates between.
//
// The writer is this test binary itself, started with "--writer PATH": it
// builds the two records itself, which is much quicker than parsing them.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "config/config.h"
#include "config/ntpsettings.h"
#include "tests/common/testfiles.h"

using TestHelpers::readFile;
using TestHelpers::writeFile;

namespace
{

const char* const writerArgument = "--writer";
const char* const readyLine = "ready";
const int rounds = 30;
// About 2 MB per file, so that a write takes long enough to be hit; long
// lines keep the work per byte small.
const int serverCount = 20000;
// A writer left behind by a crashed test stops by itself.
const qint64 writerLifetimeMs = 120000;

NtpSettings largeRecord(int variant)
{
    NtpSettings record;
    record.driftFile = QStringLiteral("/var/lib/ntpsec/ntp.drift");
    record.loopStats = true;
    for (int i = 0; i < serverCount; ++i) {
        ServerEntry entry;
        entry.address = QStringLiteral("10.%1.%2.%3").arg(variant).arg(i / 256).arg(i % 256);
        entry.key = QString(QLatin1Char(char('a' + variant))).repeated(64);
        entry.iburst = true;
        entry.minPoll = 4 + variant;
        entry.maxPoll = 10;
        record.servers.append(entry);
    }
    return record;
}

NtpSettings recordOf(const QString& path)
{
    const Config config(path);
    NtpSettings record;
    record.readFrom(config);
    return record;
}

// Writer mode: alternately writes the second and the first large record to
// `target` until killed.
int runWriter(const QString& target)
{
    const NtpSettings records[2] = {largeRecord(0), largeRecord(1)};
    std::puts(readyLine);
    std::fflush(stdout);
    QElapsedTimer lifetime;
    lifetime.start();
    for (int i = 0; lifetime.elapsed() < writerLifetimeMs; ++i) {
        if (!records[(i + 1) % 2].writeTo(target))
            return 1;
    }
    return 0;
}

// Everything in `dir` except the configuration file: what killed writes
// left behind.
QStringList leftovers(const QDir& dir)
{
    QStringList names =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.removeAll(QStringLiteral("ntp.conf"));
    return names;
}

// The name a write gives its new file beside ntp.conf until it is renamed.
bool isTemporaryName(const QString& name)
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral("\\.ntp\\.conf\\.ntpsm-[A-Za-z0-9]{6}")));
    return pattern.match(name).hasMatch();
}

} // namespace

class TestKillWrite : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void writesSwapTheWholeFile();
    void killedWriteLeavesOldOrNewContent();

private:
    QTemporaryDir m_contents; // the two contents, apart from the target
    QTemporaryDir m_target;   // holds only the file written and leftovers
    QString m_fileA;
    QString m_fileB;
    QByteArray m_a;
    QByteArray m_b;
    qint64 m_writeMs = 0;
};

void TestKillWrite::initTestCase()
{
    QVERIFY(m_contents.isValid());
    QVERIFY(m_target.isValid());
    m_a = largeRecord(0).render({});
    m_b = largeRecord(1).render({});
    QVERIFY(m_a.size() > 2000000);
    QVERIFY(m_a != m_b);
    m_fileA = m_contents.filePath(QStringLiteral("a.conf"));
    m_fileB = m_contents.filePath(QStringLiteral("b.conf"));
    QVERIFY(writeFile(m_fileA, m_a));
    QVERIFY(writeFile(m_fileB, m_b));
}

// Without a kill, each record written over the other content gives exactly
// its own content (nothing is carried over), so a file that is neither is a
// damaged one.
void TestKillWrite::writesSwapTheWholeFile()
{
    const QString target = QDir(m_target.path()).filePath(QStringLiteral("ntp.conf"));
    QVERIFY(writeFile(target, m_a));
    const NtpSettings recordB = recordOf(m_fileB);
    QVERIFY(recordB == largeRecord(1)); // the writer's records are these contents
    QElapsedTimer timer;
    timer.start();
    QVERIFY(recordB.writeTo(target));
    m_writeMs = timer.elapsed();
    QVERIFY(readFile(target) == m_b);
    QVERIFY(recordOf(m_fileA).writeTo(target));
    QVERIFY(readFile(target) == m_a);
    QCOMPARE(leftovers(QDir(m_target.path())), QStringList());
    qInfo("one write of %d bytes takes about %lld ms", int(m_b.size()), m_writeMs);
}

void TestKillWrite::killedWriteLeavesOldOrNewContent()
{
    const QDir dir(m_target.path());
    const QString target = dir.filePath(QStringLiteral("ntp.conf"));
    // Kill moments spread over the first two writes, from rendering the text
    // to renaming the new file, whatever this build's speed.
    const int maxDelayMs = int(qBound<qint64>(50, 2 * m_writeMs, 3000));
    int asA = 0;
    int asB = 0;
    for (int round = 1; round <= rounds; ++round) {
        // The writer's first write changes the file from A to B.
        QVERIFY(writeFile(target, m_a));
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(),
                     {QLatin1String(writerArgument), target});
        QVERIFY2(writer.waitForStarted(), qPrintable(writer.errorString()));
        while (!writer.canReadLine() && writer.state() == QProcess::Running)
            writer.waitForReadyRead(10000);
        QCOMPARE(writer.readLine().trimmed(), QByteArray(readyLine));
        // qSleep() refuses 0 ms.
        QTest::qSleep(1 + QRandomGenerator::global()->bounded(maxDelayMs));
        writer.kill();
        QVERIFY(writer.waitForFinished());
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

        const QByteArray content = readFile(target);
        const bool isA = content == m_a;
        const bool isB = content == m_b;
        QVERIFY2(isA || isB, qPrintable(QStringLiteral("round %1: the file is damaged (%2 bytes)")
                                            .arg(round)
                                            .arg(content.size())));
        isA ? ++asA : ++asB;
        // Each killed write may leave its unfinished new file, no more, and
        // only under the program's own temporary name.
        const QStringList left = leftovers(dir);
        QVERIFY2(left.size() <= round, qPrintable(left.join(QLatin1Char(' '))));
        for (const QString& name : left)
            QVERIFY2(isTemporaryName(name), qPrintable(name));
    }
    const QStringList left = leftovers(dir);
    qInfo("%d kills: the file held the first content %d times and the second %d times; "
          "%d unfinished temporary files were left behind: %s",
          rounds, asA, asB, int(left.size()), qPrintable(left.join(QLatin1Char(' '))));
    // A later normal save still works and adds nothing to the leftovers.
    QVERIFY(recordOf(m_fileB).writeTo(target));
    QVERIFY(readFile(target) == m_b);
    QCOMPARE(leftovers(dir).size(), left.size());
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], writerArgument) == 0)
        return runWriter(QString::fromLocal8Bit(argv[2]));
    TestKillWrite test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_killwrite.moc"
