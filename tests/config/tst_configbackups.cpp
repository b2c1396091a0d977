// Copies kept before each write, and the diff the review shows.
#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#include "config/configbackups.h"
#include "config/configdocument.h"
#include "config/unifieddiff.h"
#include "daemon/ntpconfpath.h"
#include "tests/common/testfiles.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace TestHelpers;

namespace
{
// Applies a unified diff to `before`, as patch would.
QByteArray patched(const QByteArray& before, const QVector<DiffLine>& diff)
{
    const QList<QByteArray> old = before.split('\n');
    QByteArray out;
    int next = 0; // index into old
    for (const DiffLine& line : diff) {
        if (line.kind == DiffLine::Hunk) {
            const int start = QRegularExpression(QStringLiteral("^@@ -(\\d+)"))
                                  .match(line.text)
                                  .captured(1)
                                  .toInt();
            const int first = line.text.contains(QRegularExpression(QStringLiteral("^@@ -\\d+,0 ")))
                                  ? start
                                  : start - 1;
            while (next < first)
                out += old.at(next++) + '\n';
        } else if (line.kind == DiffLine::Context) {
            out += old.at(next++) + '\n';
        } else if (line.kind == DiffLine::Removed) {
            ++next;
        } else if (line.kind == DiffLine::Added) {
            out += line.text.mid(1).toLocal8Bit() + '\n';
        } else if (line.kind == DiffLine::NoNewline) {
            out.chop(1);
        }
    }
    while (next < old.size())
        out += old.at(next++) + '\n';
    out.chop(1); // split() gave one more piece than there were line ends
    return out;
}
} // namespace

class TestConfigBackups : public QObject
{
    Q_OBJECT

    // Saves the document's file `count` times, each with another log file.
    static void saveTimes(int count)
    {
        ConfigDocument& document = ConfigDocument::instance();
        NtpSettings record;
        for (int i = 1; i <= count; ++i) {
            document.load(&record);
            record.logFile = record.logFile.left(record.logFile.lastIndexOf(QLatin1Char('-')) + 1) +
                             QString::number(i);
            QVERIFY2(document.save(record), qPrintable(document.lastWriteError()));
        }
    }

private slots:
    void rotationKeepsTheNewestTwenty()
    {
        ConfFile conf("logfile /var/log/ntp-0\n");
        ConfigDocument& document = ConfigDocument::instance();
        NtpSettings record;
        for (int i = 1; i <= 25; ++i) {
            document.load(&record);
            record.logFile = QStringLiteral("/var/log/ntp-%1").arg(i);
            QVERIFY(document.save(record));
        }
        const QVector<ConfigBackup> backups = ConfigBackups::list(conf.path());
        QCOMPARE(backups.size(), ConfigBackups::keptCount);
        const QString own = ConfigBackups::folderFor(conf.path());
        QCOMPARE(QDir(own).entryList(QDir::Files | QDir::Hidden).size(), 20);
        // Newest first: the file as it was before the last save, and so on.
        for (int i = 0; i < backups.size(); ++i) {
            QVERIFY(readFile(backups.at(i).path).contains(QByteArray::number(24 - i) + '\n'));
            QCOMPARE(QFileInfo(backups.at(i).path).path(), own);
            QCOMPARE(QFileInfo(backups.at(i).path).ownerId(), 0u);
        }
        QVERIFY(backups.first().taken >= backups.last().taken);

        // Saving unchanged bytes again adds no copy of the same bytes.
        document.load(&record);
        QVERIFY(document.save(record));
        QVERIFY(document.save(record));
        QCOMPARE(readFile(ConfigBackups::list(conf.path()).first().path), conf.read());
    }

    // A backup folder others may write to is not used at all: a link planted
    // there, named like a copy and leading to a secret file, is neither
    // offered nor restored, and no copy is written into the folder.
    void folderOthersMayWriteToIsRefused()
    {
        ConfFile conf("server 192.0.2.1\n");
        QTemporaryDir secretDir;
        const QString secret = secretDir.filePath(QStringLiteral("shadow"));
        QVERIFY(writeFile(secret, "root:secret\n"));
        QVERIFY(QDir().mkpath(ConfigBackups::folderFor(conf.path())));
        QCOMPARE(::chmod(QFile::encodeName(conf.backupDir()).constData(), 0777), 0);
        const QString planted = ConfigBackups::folderFor(conf.path()) +
                                QStringLiteral("/99999999_20991231T000000.000Z_");
        QVERIFY(QFile::link(secret, planted));
        QString refusal;
        QVERIFY(ConfigBackups::list(conf.path(), &refusal).isEmpty());
        QVERIFY2(refusal.contains(QStringLiteral("(mode 0777)")), qPrintable(refusal));

        ConfigDocument& document = ConfigDocument::instance();
        NtpSettings record;
        document.load(&record);
        record.logFile = QStringLiteral("/var/log/ntp.log");
        QVERIFY(!document.save(record));
        QCOMPARE(document.lastBackupError(), refusal);
        QVERIFY(!document.restore(planted));
        QCOMPARE(document.lastWriteError(), refusal);
        QCOMPARE(conf.read(), QByteArray("server 192.0.2.1\n"));
        QCOMPARE(QDir(ConfigBackups::folderFor(conf.path())).count(), 3u); // ".", "..", the link
    }

    // Restore takes only a copy from the backup folders, never another file.
    void restoreTakesOnlyKeptCopies()
    {
        ConfFile conf("server 192.0.2.1\n");
        QTemporaryDir secretDir;
        const QString secret = secretDir.filePath(QStringLiteral("shadow"));
        QVERIFY(writeFile(secret, "root:secret\n"));
        ConfigDocument& document = ConfigDocument::instance();
        NtpSettings record;
        document.load(&record);
        QVERIFY(!document.restore(secret));
        QVERIFY2(document.lastWriteError().contains(QStringLiteral("is not a copy kept in")),
                 qPrintable(document.lastWriteError()));
        QCOMPARE(conf.read(), QByteArray("server 192.0.2.1\n"));
    }

    // Links, FIFOs and folders named like copies are never listed, nor
    // removed with the old copies.
    void onlyRegularFilesAreCopies()
    {
        ConfFile conf("logfile /var/log/ntp-0\n");
        const QString own = ConfigBackups::folderFor(conf.path());
        QVERIFY(QDir().mkpath(own));
        const QStringList odd{own + QStringLiteral("/00000001_20200101T000000.000Z_link"),
                              own + QStringLiteral("/00000002_20200101T000000.000Z_fifo"),
                              own + QStringLiteral("/00000003_20200101T000000.000Z_dir")};
        QVERIFY(QFile::link(conf.path(), odd.at(0)));
        QCOMPARE(::mkfifo(QFile::encodeName(odd.at(1)).constData(), 0600), 0);
        QVERIFY(QDir().mkdir(odd.at(2)));
        saveTimes(25);
        const QVector<ConfigBackup> copies = ConfigBackups::list(conf.path());
        QCOMPARE(copies.size(), ConfigBackups::keptCount);
        for (const ConfigBackup& copy : copies)
            QVERIFY(!odd.contains(copy.path));
        for (const QString& path : odd)
            QVERIFY(QFileInfo(path).exists() || QFileInfo(path).isSymLink());
    }

    // Copies dated in the future (a clock once ahead) do not push out the
    // copies made now: the copy just made is kept, and so is the original.
    void copiesFromTheFutureDoNotPushOutNewOnes()
    {
        ConfFile conf("logfile /var/log/ntp-0\n");
        QVERIFY(QDir().mkpath(conf.backupDir()));
        QVERIFY(QDir().mkpath(ConfigBackups::folderFor(conf.path())));
        for (int i = 0; i < ConfigBackups::keptCount; ++i) {
            const QString stamp =
                QStringLiteral("20990101T0000%1.000Z").arg(i, 2, 10, QLatin1Char('0'));
            QVERIFY(writeFile(conf.backupDir() + QStringLiteral("/ntp.conf.") + stamp, "future\n"));
        }
        saveTimes(2);
        const QVector<ConfigBackup> copies = ConfigBackups::list(conf.path());
        QCOMPARE(copies.size(), ConfigBackups::keptCount);
        QVERIFY(readFile(copies.at(0).path).startsWith("logfile /var/log/ntp-1\n"));
        QCOMPARE(readFile(copies.at(1).path), QByteArray("logfile /var/log/ntp-0\n"));
        QCOMPARE(readFile(copies.at(2).path), QByteArray("future\n"));
    }

    // Copies of the older layout stay listed for the daemon's file, as
    // older than any new copy; a new copy follows them.
    void copiesOfTheOlderLayoutStayListed()
    {
        ConfFile conf("logfile /var/log/ntp-0\n");
        QVERIFY(QDir().mkpath(conf.backupDir()));
        const QString old = conf.backupDir() + QStringLiteral("/ntp.conf.20200101T000000.000Z");
        QVERIFY(writeFile(old, "logfile /var/log/old\n"));
        saveTimes(1);
        const QVector<ConfigBackup> copies = ConfigBackups::list(conf.path());
        QCOMPARE(copies.size(), 2);
        QCOMPARE(copies.last().path, old);
        QCOMPARE(copies.last().taken, QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC));
        // Not for another file of the same name.
        QTemporaryDir scratchDir;
        QVERIFY(ConfigBackups::list(scratchDir.filePath(QStringLiteral("ntp.conf"))).isEmpty());
    }

    // Another file of the same name has copies of its own: writing it
    // prunes none of the daemon's file, nor is it offered for it.
    void copiesAreKeptPerFile()
    {
        ConfFile conf("logfile /var/log/ntp-0\n");
        saveTimes(3);
        const QVector<ConfigBackup> real = ConfigBackups::list(conf.path());
        QCOMPARE(real.size(), 3);
        QTemporaryDir scratchDir;
        const QString scratch = scratchDir.filePath(QStringLiteral("ntp.conf"));
        QVERIFY(writeFile(scratch, "logfile /var/log/scratch-0\n"));
        ConfigDocument::instance().setPath(scratch);
        saveTimes(25);
        ConfigDocument::instance().setPath(QString());
        QCOMPARE(ConfigBackups::list(scratch).size(), ConfigBackups::keptCount);
        QCOMPARE(ConfigBackups::list(conf.path()).size(), 3);
        for (const ConfigBackup& copy : ConfigBackups::list(conf.path()))
            QVERIFY(readFile(copy.path).contains("/var/log/ntp-"));
    }

    // A name with characters of a glob pattern is just a name.
    void globCharactersAreJustCharacters()
    {
        ConfFile conf;
        const QString odd = conf.dir() + QStringLiteral("/ntp[1]*.conf");
        QVERIFY(writeFile(odd, "logfile /var/log/ntp-0\n"));
        ConfigDocument::instance().setPath(odd);
        saveTimes(2);
        ConfigDocument::instance().setPath(QString());
        const QVector<ConfigBackup> copies = ConfigBackups::list(odd);
        QCOMPARE(copies.size(), 2);
        QCOMPARE(readFile(copies.last().path), QByteArray("logfile /var/log/ntp-0\n"));
    }

    // Only the program's own temporary files are cleaned up: an
    // administrator's ".ntp.conf.backup" beside the file stays.
    void othersFilesSurviveTheCleanUp()
    {
        ConfFile conf("logfile /var/log/ntp-0\n");
        const QString mine = conf.dir() + QStringLiteral("/.ntp.conf.backup");
        const QString left = conf.dir() + QStringLiteral("/.ntp.conf.ntpsm-ABCDEF");
        QVERIFY(writeFile(mine, "kept\n"));
        QVERIFY(writeFile(left, "half-written\n"));
        const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
        for (const QString& path : {mine, left}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        saveTimes(1);
        QCOMPARE(readFile(mine), QByteArray("kept\n"));
        QVERIFY(!QFileInfo::exists(left));
    }

    void noFileNoCopy()
    {
        ConfFile conf;
        QVERIFY(QFile::remove(conf.path()));
        NtpSettings record;
        record.driftFile = QStringLiteral("/var/lib/ntp/ntp.drift");
        QVERIFY(ConfigDocument::instance().save(record));
        QVERIFY(ConfigBackups::list(conf.path()).isEmpty());
    }

    void diffOfSmallChange()
    {
        const QByteArray before = "a\nb\nc\nd\ne\nf\ng\nh\ni\n";
        const QByteArray after = "a\nb\nc\nd\nE\nf\ng\nh\ni\nj";
        // Changes at most twice the context apart share a hunk, as with diff -u.
        QCOMPARE(unifiedDiffText(unifiedDiff(before, after, "x", "y", 2)),
                 QStringLiteral("--- x\n+++ y\n@@ -3,7 +3,8 @@\n c\n d\n-e\n+E\n f\n g\n h\n i\n"
                                "+j\n\\ No newline at end of file\n"));
        QCOMPARE(unifiedDiffText(unifiedDiff(before, after, "x", "y", 1)),
                 QStringLiteral("--- x\n+++ y\n@@ -4,3 +4,3 @@\n d\n-e\n+E\n f\n"
                                "@@ -9 +9,2 @@\n i\n+j\n\\ No newline at end of file\n"));
        QVERIFY(unifiedDiff("same\n", "same\n", "x", "y").isEmpty());
    }

    void diffsOfCorpusFilesApplyBack()
    {
        const QDir corpus(qEnvironmentVariable("NTPSM_SOURCE_DIR") +
                          QStringLiteral("/../shared/corpus/ntpconf"));
        const QStringList files = corpus.entryList(QDir::Files, QDir::Name);
        if (files.isEmpty())
            QSKIP("no corpus");
        for (int i = 0; i < files.size(); i += 7) {
            const QByteArray before = readFile(corpus.filePath(files.at(i)));
            QByteArray after = before;
            after.replace("server", "pool").replace("restrict", "#restrict");
            after.insert(after.size() / 2, "\nstatistics loopstats\n");
            after.remove(0, after.size() / 5);
            const QVector<DiffLine> diff = unifiedDiff(before, after, "a", "b");
            QCOMPARE(patched(before, diff), after);
        }
    }
};

QTEST_MAIN(TestConfigBackups)
#include "tst_configbackups.moc"
