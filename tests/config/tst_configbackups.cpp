// Copies kept before each write, and the diff the review shows.
#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#include "config/configbackups.h"
#include "config/configdocument.h"
#include "config/unifieddiff.h"
#include "daemon/ntpconfpath.h"
#include "tests/common/testfiles.h"

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
