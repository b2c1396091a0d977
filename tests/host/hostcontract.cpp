#include "tests/host/hostcontract.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTest>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
void ageFile(const QString& path, int seconds)
{
    const QByteArray name = QFile::encodeName(path);
    struct timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    QCOMPARE(::utimensat(AT_FDCWD, name.constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// A process with this command line (argv[0] with or without its folder).
bool running(Host& host, const QStringList& commandLine)
{
    for (const HostProcess& process : host.processes(QStringLiteral("/proc"))) {
        if (QFileInfo(process.commandLine.value(0)).fileName() == commandLine.first() &&
            process.commandLine.mid(1) == commandLine.mid(1))
            return true;
    }
    return false;
}
} // namespace

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

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QString HostContract::path(const char* name) const
{
    return folder() + QLatin1Char('/') + QLatin1String(name);
}

ProcessResult HostContract::finish(ProcessJob* job)
{
    ProcessResult result;
    QEventLoop loop;
    connect(job, &ProcessJob::finished, &loop, [&](const ProcessResult& outcome) {
        result = outcome;
        loop.quit();
    });
    loop.exec();
    return result;
}

void HostContract::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void HostContract::readingOpensRegularFilesOnly()
{
    const QString file = path("ntp.conf");
    put(file, "server a\n");
    FileContent content;
    QCOMPARE(host().readFile(file, 100, &content), 0);
    QCOMPARE(content.bytes, QByteArray("server a\n"));
    QVERIFY(content.status.isRegular());
    QCOMPARE(content.status.size, qint64(9));

    // A FIFO is refused at once instead of hanging the reader.
    const QString fifo = path("fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QCOMPARE(host().readFile(fifo, 100, &content), EINVAL);
    QCOMPARE(host().readFile(folder(), 100, &content), EISDIR);

    // A link as the last component is followed only when asked to.
    const QString link = path("link");
    QVERIFY(QFile::link(file, link));
    QCOMPARE(host().readFile(link, 100, &content), ELOOP);
    QCOMPARE(host().readFile(link, 100, &content, true), 0);
    QCOMPARE(content.bytes, QByteArray("server a\n"));
    QCOMPARE(host().readFile(path("missing"), 100, &content), ENOENT);
}

void HostContract::readingStopsAtTheLimit()
{
    const QString file = path("big");
    put(file, QByteArray(1000, 'x'));
    FileContent content;
    QCOMPARE(host().readFile(file, 999, &content), EFBIG);
    QVERIFY(content.bytes.isEmpty());
    QCOMPARE(host().readFile(file, 1000, &content), 0);
    QCOMPARE(host().readFile(file, 0, &content), EINVAL);

    // A sparse file of a gigabyte is refused without reading it.
    const QString sparse = path("sparse");
    put(sparse, QByteArray());
    QCOMPARE(::truncate(QFile::encodeName(sparse).constData(), off_t(1) << 30), 0);
    QCOMPARE(host().readFile(sparse, 16 << 20, &content), EFBIG);

    QCOMPARE(host().readTail(file, 10, &content), 0);
    QCOMPARE(content.bytes, QByteArray(10, 'x'));
    put(file, "first\nsecond\n");
    QCOMPARE(host().readTail(file, 7, &content), 0);
    QCOMPARE(content.bytes, QByteArray("second\n"));
    QCOMPARE(host().readTail(file, 1000, &content), 0);
    QCOMPARE(content.bytes, QByteArray("first\nsecond\n"));
}

void HostContract::batchAnswersEveryRequestInOrder()
{
    const QString file = path("a.conf");
    put(file, "abc");
    QVERIFY(QFile::link(file, path("b-link")));
    QVERIFY(QDir(folder()).mkdir(QStringLiteral("c-folder")));
    const QVector<HostReply> replies = host().query({
        {HostRequest::Digest, file, 100},
        {HostRequest::Status, path("b-link")},
        {HostRequest::StatusFollowing, path("b-link")},
        {HostRequest::ReadLink, path("b-link")},
        {HostRequest::ListFolder, folder()},
        {HostRequest::Status, path("missing")},
        {HostRequest::Digest, file, 2},
    });
    QCOMPARE(replies.size(), 7);
    QCOMPARE(replies.at(0).digest, sha256("abc"));
    QVERIFY(replies.at(1).status.isSymlink());
    QVERIFY(replies.at(2).status.isRegular());
    QVERIFY(replies.at(2).status.sameFile(host().status(file)));
    QCOMPARE(replies.at(3).linkTarget, file);
    QStringList names;
    for (const FolderEntry& entry : replies.at(4).entries)
        names << entry.name;
    QCOMPARE(names, (QStringList{"a.conf", "b-link", "c-folder"}));
    QVERIFY(replies.at(4).entries.at(1).status.isSymlink());
    QVERIFY(replies.at(4).entries.at(2).status.isDirectory());
    QCOMPARE(replies.at(5).error, ENOENT);
    QCOMPARE(replies.at(5).status.error, ENOENT);
    QCOMPARE(replies.at(6).error, EFBIG);
}

void HostContract::replacementKeepsModeAndMakesItsCopy()
{
    const QString target = path("ntp.conf");
    put(target, "old\n");
    QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0640), 0);
    QCOMPARE(::chown(QFile::encodeName(target).constData(), 0, 4), 0);
    FileReplacement replacement;
    replacement.target = target;
    replacement.bytes = "new\n";
    replacement.guarded = true;
    replacement.expectedDigest = sha256("old\n");
    replacement.backupPath = path("copy-1");
    const ReplaceOutcome outcome = host().replaceFile(replacement);
    QCOMPARE(outcome.error, 0);
    QVERIFY(outcome.backupMade);
    QCOMPARE(got(target), QByteArray("new\n"));
    QCOMPARE(outcome.written.mode, 0640u);
    QCOMPARE(outcome.written.gid, 4u);
    QVERIFY(outcome.written.sameFile(host().status(target)));
    QCOMPARE(got(path("copy-1")), QByteArray("old\n"));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(path("copy-1")).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0600));
    QCOMPARE(st.st_uid, uid_t(0));
    // Only the target and the copy are left: no temporary file.
    QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void HostContract::replacementRefusesWhatItMustNotTouch()
{
    const QString target = path("ntp.conf");
    put(target, "changed by someone\n");
    FileReplacement replacement;
    replacement.target = target;
    replacement.bytes = "mine\n";
    replacement.guarded = true;
    replacement.expectedDigest = sha256("as loaded\n");
    replacement.backupPath = path("copy");
    ReplaceOutcome outcome = host().replaceFile(replacement);
    QCOMPARE(outcome.failedStep, ReplaceOutcome::Guard);
    QCOMPARE(outcome.error, ESTALE);
    QCOMPARE(got(target), QByteArray("changed by someone\n"));
    QVERIFY(!QFile::exists(path("copy")));

    // The same bytes in a file put in place of the one checked are no
    // longer the file checked.
    const FileStatus checked = host().status(target);
    const QString swapped = path("swapped");
    put(swapped, "changed by someone\n");
    QVERIFY(::rename(QFile::encodeName(swapped).constData(),
                     QFile::encodeName(target).constData()) == 0);
    replacement.expectedDigest = sha256("changed by someone\n");
    replacement.expectedFile = checked;
    outcome = host().replaceFile(replacement);
    QCOMPARE(outcome.failedStep, ReplaceOutcome::Guard);
    QCOMPARE(outcome.error, ESTALE);
    QCOMPARE(got(target), QByteArray("changed by someone\n"));
    replacement.expectedFile = host().status(target);
    outcome = host().replaceFile(replacement);
    QCOMPARE(outcome.failedStep, ReplaceOutcome::Done);
    QCOMPARE(got(target), QByteArray("mine\n"));
    put(target, "changed by someone\n");
    QVERIFY(QFile::remove(path("copy")));
    replacement.expectedFile = FileStatus();

    // A copy never replaces one already there.
    replacement.guarded = false;
    put(path("copy"), "earlier copy\n");
    outcome = host().replaceFile(replacement);
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
    outcome = host().replaceFile(replacement);
    QCOMPARE(outcome.failedStep, ReplaceOutcome::Target);
    QCOMPARE(outcome.error, ELOOP);
    QCOMPARE(got(victim), QByteArray("precious\n"));
    QVERIFY(QFileInfo(target).isSymLink());
    QCOMPARE(QDir(folder()).entryList(QDir::Hidden | QDir::System | QDir::Files).size(), 3);
}

void HostContract::replacementCleansUpOnlyWhatIsItsOwn()
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
    QCOMPARE(host().replaceFile(replacement).error, 0);
    QVERIFY(!QFile::exists(path(".ntp.conf.ntpsm-AbC123")));
    QVERIFY(QFile::exists(path(".ntp.conf.ntpsm-young1")));
    QVERIFY(QFile::exists(path(".ntp.conf.backup")));
    QVERIFY(!QFile::exists(path("old-copy")));
    QVERIFY(QFileInfo(path("old-link")).isSymLink());
}

void HostContract::newFileAndFolders()
{
    const QString folder = path("kept");
    // The mode asked for is the mode made, whatever the umask.
    const mode_t old = ::umask(077);
    QCOMPARE(host().makeFolder(folder, 0770), 0);
    ::umask(old);
    QCOMPARE(host().status(folder).mode, 0770u);
    QCOMPARE(host().makeFolder(folder, 0700), EEXIST);

    FileReplacement replacement;
    replacement.target = folder + QStringLiteral("/new.conf");
    replacement.bytes = "fresh\n";
    replacement.guarded = true;
    replacement.expectedExists = false;
    QCOMPARE(host().replaceFile(replacement).error, 0);
    QCOMPARE(host().status(replacement.target).mode, 0644u);
    // Guarded as missing: a file there now is someone else's.
    QCOMPARE(host().replaceFile(replacement).error, ESTALE);

    QVERIFY(QFile::link(replacement.target, path("link")));
    QCOMPARE(host().removeFile(path("link")), 0 + EINVAL);
    QCOMPARE(host().removeFile(folder), 0 + EINVAL);
    QCOMPARE(host().removeFile(replacement.target), 0);
    QCOMPARE(host().removeFile(replacement.target), ENOENT);
}

void HostContract::namesAreTakenLiterally()
{
    const QStringList names{QStringLiteral("with space"),
                            QStringLiteral("it's \"quoted\""),
                            QStringLiteral("$(id) `id` $HOME"),
                            QStringLiteral("back\\slash\\"),
                            QStringLiteral("new\nline\n"),
                            QStringLiteral("-n"),
                            QStringLiteral("*[?"),
                            QStringLiteral(".ünï cödé")};
    const QString odd = folder() + QStringLiteral("/odd 'folder' $x");
    QCOMPARE(host().makeFolder(odd, 0755), 0);
    for (const QString& name : names) {
        FileReplacement replacement;
        replacement.target = odd + QLatin1Char('/') + name;
        replacement.bytes = name.toUtf8();
        replacement.guarded = true;
        replacement.expectedExists = false;
        QCOMPARE(host().replaceFile(replacement).error, 0);
        FileContent content;
        QCOMPARE(host().readFile(replacement.target, 100, &content), 0);
        QCOMPARE(content.bytes, name.toUtf8());
        QCOMPARE(got(replacement.target), name.toUtf8());
    }
    QVERIFY(QFile::link(odd + QStringLiteral("/new\nline\n"), path("odd link")));
    QString target;
    QCOMPARE(host().readLink(path("odd link"), &target), 0);
    QCOMPARE(target, odd + QStringLiteral("/new\nline\n"));

    QVector<FolderEntry> entries;
    QCOMPARE(host().listFolder(odd, &entries), 0);
    QStringList listed;
    for (const FolderEntry& entry : entries)
        listed << entry.name;
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end());
    QCOMPARE(listed, sorted);

    const ProcessResult echoed =
        finish(host().start(QStringLiteral("printf"), QStringList{"%s|"} + names, {}));
    QCOMPARE(echoed.standardOutput, (names.join(QLatin1Char('|')) + QLatin1Char('|')).toUtf8());
    for (const QString& name : names)
        QCOMPARE(host().removeFile(odd + QLatin1Char('/') + name), 0);
}

void HostContract::processesShowWhoRunsWhat()
{
    const QVector<HostProcess> processes = host().processes(QStringLiteral("/proc"));
    const qint64 self = QCoreApplication::applicationPid();
    auto it = std::find_if(processes.begin(), processes.end(),
                           [self](const HostProcess& p) { return p.pid == self; });
    QVERIFY(it != processes.end());
    QCOMPARE(it->uid, uint(::getuid()));
    QCOMPARE(it->executable, QCoreApplication::applicationFilePath());
    QCOMPARE(it->workingDirectory, QDir::currentPath());
    QVERIFY(it->inOurNetwork);
    QCOMPARE(it->commandLine.value(0), QCoreApplication::arguments().value(0));
    // Kernel threads have no command line and are left out.
    QVERIFY(std::none_of(processes.begin(), processes.end(),
                         [](const HostProcess& p) { return p.commandLine.isEmpty(); }));
}

void HostContract::commandsGetTheirInput()
{
    ProcessOptions options;
    options.input = "line one\nline two\n";
    const ProcessResult result =
        finish(host().start(QStringLiteral("wc"), {QStringLiteral("-l")}, options));
    QVERIFY(result.finished);
    QCOMPARE(result.standardOutput.trimmed(), QByteArray("2"));

    // A program that would wait for input gets none and ends.
    const ProcessResult cat = host().run(QStringLiteral("cat"), {}, 5000);
    QVERIFY(cat.finished);
    QCOMPARE(cat.exitCode, 0);

    const ProcessResult missing = host().run(QStringLiteral("no-such-program-here"), {}, 5000);
    QVERIFY(!missing.finished);
    QCOMPARE(missing.error, QProcess::FailedToStart);
}

void HostContract::commandsKeepTheirLimits()
{
    ProcessOptions options;
    options.outputLimit = 1000;
    ProcessResult result =
        finish(host().start(QStringLiteral("head"),
                            {QStringLiteral("-c100000"), QStringLiteral("/dev/zero")}, options));
    QVERIFY(result.finished);
    QCOMPARE(result.standardOutput, QByteArray(1000, '\0'));

    // An exit code of 255 is the program's own.
    result =
        host().run(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("exit 255")}, 5000);
    QVERIFY(result.finished);
    QCOMPARE(result.exitCode, 255);
    QCOMPARE(result.hostError, 0);

    // Out of time: ended, and its whole group with it.
    options = ProcessOptions();
    options.timeoutMs = 1500;
    options.ownProcessGroup = true;
    const QString seconds = QStringLiteral("30.%1").arg(QCoreApplication::applicationPid());
    QElapsedTimer clock;
    clock.start();
    result = finish(host().start(QStringLiteral("sh"),
                                 {QStringLiteral("-c"), QStringLiteral("sleep %1; :").arg(seconds)},
                                 options));
    QVERIFY(!result.finished);
    QCOMPARE(result.error, QProcess::Timedout);
    QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(!running(host(), {QStringLiteral("sleep"), seconds}), 5000);
}

void HostContract::cancelledCommandsEnd()
{
    const QString seconds = QStringLiteral("31.%1").arg(QCoreApplication::applicationPid());
    ProcessJob* job = host().start(QStringLiteral("sleep"), {seconds}, ProcessOptions());
    bool reported = false;
    connect(job, &ProcessJob::finished, this, [&] { reported = true; });
    QTRY_VERIFY_WITH_TIMEOUT(running(host(), {QStringLiteral("sleep"), seconds}), 5000);
    job->cancel();
    QTRY_VERIFY_WITH_TIMEOUT(!running(host(), {QStringLiteral("sleep"), seconds}), 5000);
    QVERIFY(!reported);
}

void HostContract::sessionsTalkBothWays()
{
    QScopedPointer<ProcessSession> session(host().startSession(QStringLiteral("cat"), {}));
    QByteArray heard;
    connect(session.data(), &ProcessSession::output, this,
            [&](const QByteArray& chunk) { heard += chunk; });
    session->write("ping\n");
    QTRY_COMPARE_WITH_TIMEOUT(heard, QByteArray("ping\n"), 5000);
    session->write("pong\n");
    QTRY_COMPARE_WITH_TIMEOUT(heard, QByteArray("ping\npong\n"), 5000);

    session.reset(host().startSession(QStringLiteral("no-such-program-here"), {}));
    QList<bool> ended;
    connect(session.data(), &ProcessSession::ended, this,
            [&](bool failedToStart) { ended << failedToStart; });
    QTRY_COMPARE_WITH_TIMEOUT(ended, QList<bool>{true}, 5000);
}
