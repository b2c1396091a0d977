#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "host/host.h"
#include "host/processrunner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

void put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray got(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void ageFile(const QString& path, int seconds)
{
    const QByteArray name = QFile::encodeName(path);
    struct timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    QCOMPARE(::utimensat(AT_FDCWD, name.constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}
} // namespace

// The local host through the real system calls: what it refuses to open,
// and that a replacement keeps every promise of its contract.
class TestLocalHost : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
    }

    void readingOpensRegularFilesOnly()
    {
        Host& host = localHost();
        const QString file = path("ntp.conf");
        put(file, "server a\n");
        FileContent content;
        QCOMPARE(host.readFile(file, 100, &content), 0);
        QCOMPARE(content.bytes, QByteArray("server a\n"));
        QVERIFY(content.status.isRegular());

        // A FIFO is refused at once instead of hanging the reader.
        const QString fifo = path("fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(host.readFile(fifo, 100, &content), EINVAL);
        QCOMPARE(host.readFile(m_dir->path(), 100, &content), EISDIR);

        // A link as the last component is followed only when asked to.
        const QString link = path("link");
        QVERIFY(QFile::link(file, link));
        QCOMPARE(host.readFile(link, 100, &content), ELOOP);
        QCOMPARE(host.readFile(link, 100, &content, true), 0);
        QCOMPARE(content.bytes, QByteArray("server a\n"));
        QCOMPARE(host.readFile(path("missing"), 100, &content), ENOENT);
    }

    void readingStopsAtTheLimit()
    {
        Host& host = localHost();
        const QString file = path("big");
        put(file, QByteArray(1000, 'x'));
        FileContent content;
        QCOMPARE(host.readFile(file, 999, &content), EFBIG);
        QVERIFY(content.bytes.isEmpty());
        QCOMPARE(host.readFile(file, 1000, &content), 0);
        QCOMPARE(host.readFile(file, 0, &content), EINVAL);

        // A sparse file of a gigabyte is refused without reading it.
        const QString sparse = path("sparse");
        put(sparse, QByteArray());
        QCOMPARE(::truncate(QFile::encodeName(sparse).constData(), off_t(1) << 30), 0);
        QCOMPARE(host.readFile(sparse, 16 << 20, &content), EFBIG);

        QCOMPARE(host.readTail(file, 10, &content), 0);
        QCOMPARE(content.bytes, QByteArray(10, 'x'));
        put(file, "first\nsecond\n");
        QCOMPARE(host.readTail(file, 7, &content), 0);
        QCOMPARE(content.bytes, QByteArray("second\n"));
        QCOMPARE(host.readTail(file, 1000, &content), 0);
        QCOMPARE(content.bytes, QByteArray("first\nsecond\n"));
    }

    void batchAnswersEveryRequestInOrder()
    {
        const QString file = path("a.conf");
        put(file, "abc");
        QVERIFY(QFile::link(file, path("b-link")));
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("c-folder")));
        const QVector<HostReply> replies = localHost().query({
            {HostRequest::Digest, file, 100},
            {HostRequest::Status, path("b-link")},
            {HostRequest::StatusFollowing, path("b-link")},
            {HostRequest::ReadLink, path("b-link")},
            {HostRequest::ListFolder, m_dir->path()},
        });
        QCOMPARE(replies.size(), 5);
        QCOMPARE(replies.at(0).digest, sha256("abc"));
        QVERIFY(replies.at(1).status.isSymlink());
        QVERIFY(replies.at(2).status.isRegular());
        QCOMPARE(replies.at(3).linkTarget, file);
        QStringList names;
        for (const FolderEntry& entry : replies.at(4).entries)
            names << entry.name;
        QCOMPARE(names, (QStringList{"a.conf", "b-link", "c-folder"}));
        QVERIFY(replies.at(4).entries.at(1).status.isSymlink());
        QVERIFY(replies.at(4).entries.at(2).status.isDirectory());
    }

    void replacementKeepsModeAndMakesItsCopy()
    {
        const QString target = path("ntp.conf");
        put(target, "old\n");
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0640), 0);
        FileReplacement replacement;
        replacement.target = target;
        replacement.bytes = "new\n";
        replacement.guarded = true;
        replacement.expectedDigest = sha256("old\n");
        replacement.backupPath = path("copy-1");
        const ReplaceOutcome outcome = localHost().replaceFile(replacement);
        QCOMPARE(outcome.error, 0);
        QVERIFY(outcome.backupMade);
        QCOMPARE(got(target), QByteArray("new\n"));
        QCOMPARE(outcome.written.mode, 0640u);
        QCOMPARE(got(path("copy-1")), QByteArray("old\n"));
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(path("copy-1")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0600));
        // Only the target and the copy are left: no temporary file.
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void replacementRefusesWhatItMustNotTouch()
    {
        const QString target = path("ntp.conf");
        put(target, "changed by someone\n");
        FileReplacement replacement;
        replacement.target = target;
        replacement.bytes = "mine\n";
        replacement.guarded = true;
        replacement.expectedDigest = sha256("as loaded\n");
        replacement.backupPath = path("copy");
        ReplaceOutcome outcome = localHost().replaceFile(replacement);
        QCOMPARE(outcome.failedStep, ReplaceOutcome::Guard);
        QCOMPARE(outcome.error, ESTALE);
        QCOMPARE(got(target), QByteArray("changed by someone\n"));
        QVERIFY(!QFile::exists(path("copy")));

        // A copy never replaces one already there.
        replacement.guarded = false;
        put(path("copy"), "earlier copy\n");
        outcome = localHost().replaceFile(replacement);
        QCOMPARE(outcome.failedStep, ReplaceOutcome::Backup);
        QCOMPARE(outcome.error, EEXIST);
        QCOMPARE(got(path("copy")), QByteArray("earlier copy\n"));
        QCOMPARE(got(target), QByteArray("changed by someone\n"));

        // A link swapped in for the target is neither followed nor replaced.
        const QString victim = path("victim");
        put(victim, "precious\n");
        QVERIFY(QFile::remove(target));
        QVERIFY(QFile::link(victim, target));
        replacement.backupPath.clear();
        outcome = localHost().replaceFile(replacement);
        QCOMPARE(outcome.failedStep, ReplaceOutcome::Target);
        QCOMPARE(outcome.error, ELOOP);
        QCOMPARE(got(victim), QByteArray("precious\n"));
        QVERIFY(QFileInfo(target).isSymLink());
    }

    void replacementCleansUpOnlyWhatIsItsOwn()
    {
        const QString target = path("ntp.conf");
        put(target, "a\n");
        put(path(".ntp.conf.ntpsm-AbC123"), "killed write");
        ageFile(path(".ntp.conf.ntpsm-AbC123"), 600);
        put(path(".ntp.conf.ntpsm-young1"), "write under way");
        put(path(".ntp.conf.backup"), "the administrator's");
        ageFile(path(".ntp.conf.backup"), 600);
        put(path("old-copy"), "x");
        QVERIFY(QFile::link(path("ntp.conf"), path("old-link")));

        FileReplacement replacement;
        replacement.target = target;
        replacement.bytes = "b\n";
        replacement.removeAfterwards = QStringList{path("old-copy"), path("old-link")};
        QCOMPARE(localHost().replaceFile(replacement).error, 0);
        QVERIFY(!QFile::exists(path(".ntp.conf.ntpsm-AbC123")));
        QVERIFY(QFile::exists(path(".ntp.conf.ntpsm-young1")));
        QVERIFY(QFile::exists(path(".ntp.conf.backup")));
        QVERIFY(!QFile::exists(path("old-copy")));
        QVERIFY(QFileInfo(path("old-link")).isSymLink());
    }

    void newFileAndFolders()
    {
        Host& host = localHost();
        const QString folder = path("kept");
        const mode_t old = ::umask(077);
        QCOMPARE(host.makeFolder(folder, 0750), 0);
        ::umask(old);
        QCOMPARE(host.status(folder).mode, 0750u);
        QCOMPARE(host.makeFolder(folder, 0700), EEXIST);

        FileReplacement replacement;
        replacement.target = folder + QStringLiteral("/new.conf");
        replacement.bytes = "fresh\n";
        replacement.guarded = true;
        replacement.expectedExists = false;
        QCOMPARE(host.replaceFile(replacement).error, 0);
        QCOMPARE(host.status(replacement.target).mode, 0644u);

        QVERIFY(QFile::link(replacement.target, path("link")));
        QCOMPARE(host.removeFile(path("link")), 0 + EINVAL);
        QCOMPARE(host.removeFile(folder), 0 + EINVAL);
        QCOMPARE(host.removeFile(replacement.target), 0);
    }

    void processesShowWhoRunsWhat()
    {
        const QVector<HostProcess> processes = localHost().processes(QStringLiteral("/proc"));
        const qint64 self = QCoreApplication::applicationPid();
        auto it = std::find_if(processes.begin(), processes.end(),
                               [self](const HostProcess& p) { return p.pid == self; });
        QVERIFY(it != processes.end());
        QCOMPARE(it->uid, uint(::getuid()));
        QCOMPARE(it->executable, QCoreApplication::applicationFilePath());
        QCOMPARE(it->workingDirectory, QDir::currentPath());
        QVERIFY(it->inOurNetwork);
        QVERIFY(!it->commandLine.isEmpty());
    }

    void commandsGetTheirInput()
    {
        ProcessOptions options;
        options.input = "line one\nline two\n";
        ProcessResult result;
        QEventLoop loop;
        ProcessJob* job = localHost().start(QStringLiteral("wc"), {QStringLiteral("-l")}, options);
        connect(job, &ProcessJob::finished, &loop, [&](const ProcessResult& r) {
            result = r;
            loop.quit();
        });
        loop.exec();
        QVERIFY(result.finished);
        QCOMPARE(result.standardOutput.trimmed(), QByteArray("2"));

        // A program that would wait for input gets none and ends.
        const ProcessResult cat = localHost().run(QStringLiteral("cat"), {}, 5000);
        QVERIFY(cat.finished);
        QCOMPARE(cat.exitCode, 0);
    }

private:
    QString path(const char* name) const { return m_dir->filePath(QLatin1String(name)); }
    QScopedPointer<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestLocalHost)
#include "tst_localhost.moc"
