// The configuration document's rules, without a window: what counts as a
// change by another program, what a failed write leaves behind, and that the
// rendered text is exactly what a save writes.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "config/config.h"
#include "config/configbackups.h"
#include "config/configdocument.h"
#include "config/ntpsettings.h"
#include "daemon/daemonnotices.h"
#include "daemon/ntpconfpath.h"
#include "host/host.h"
#include "tests/common/countinghost.h"
#include "tests/common/testfiles.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace TestHelpers;

namespace
{
// The system calls that create, change or remove a file, traced with the
// paths of their descriptors (-y).
const char* changingCalls =
    "trace=open,openat,creat,truncate,ftruncate,rename,renameat,renameat2,unlink,unlinkat,"
    "link,linkat,symlink,symlinkat,mkdir,mkdirat,rmdir,chmod,fchmod,fchmodat,chown,fchown,"
    "lchown,fchownat,mknod,mknodat,utimensat";

// The paths a traced call of strace's output line changes; none for a call
// that only reads.
QStringList changedPaths(const QString& line)
{
    static const QRegularExpression readOnly(QStringLiteral("^\\d*\\s*(open|openat)\\(.*O_RDONLY"));
    static const QRegularExpression writing(QStringLiteral("O_WRONLY|O_RDWR|O_CREAT|O_TRUNC"));
    static const QRegularExpression quoted(QStringLiteral("[\"<](/[^\">]*)[\">]"));
    if (line.contains(QLatin1String(" = -1 ")) || line.contains(QLatin1String("resumed>")) ||
        line.contains(QLatin1String("+++")) || line.contains(QLatin1String("---")))
        return {};
    if (readOnly.match(line).hasMatch() && !writing.match(line).hasMatch())
        return {};
    // Relative paths are taken from the working folder: none are made.
    static const QRegularExpression workingFolder(QStringLiteral("AT_FDCWD<[^>]*>"));
    QString call = line;
    call.remove(workingFolder);
    QStringList paths;
    auto it = quoted.globalMatch(call);
    while (it.hasNext())
        paths << it.next().captured(1);
    return paths;
}
} // namespace

class TestConfigDocument : public QObject
{
    Q_OBJECT

private slots:
    void outsideChanges()
    {
        ConfFile conf("server 192.0.2.1 iburst\n");
        ConfigDocument& document = ConfigDocument::instance();
        NtpSettings record;
        document.load(&record);
        QCOMPARE(document.lastReadError(), 0);
        QVERIFY(!document.changedOutside());

        // Touched but unchanged holds nothing that could be lost.
        QFile file(conf.path());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                 QFileDevice::FileModificationTime));
        file.close();
        QVERIFY(!document.changedOutside());

        conf.write("server 192.0.2.9\n");
        QVERIFY(document.changedOutside());
        // Reading again takes the new text, not the parse kept from before.
        document.load(&record);
        QVERIFY(!document.changedOutside());
        QCOMPARE(record.servers.size(), 1);
        QCOMPARE(record.servers.first().address, QStringLiteral("192.0.2.9"));

        QVERIFY(QFile::remove(conf.path()));
        QVERIFY(document.changedOutside());
    }

    void missingFileReadsEmpty()
    {
        ConfFile conf;
        QVERIFY(QFile::remove(conf.path()));
        NtpSettings record;
        record.logFile = QStringLiteral("stale");
        ConfigDocument::instance().load(&record);
        QCOMPARE(ConfigDocument::instance().lastReadError(), ENOENT);
        QCOMPARE(record, NtpSettings());
        QVERIFY(!ConfigDocument::instance().changedOutside());
    }

    void savedBytesAreTheRenderedOnes()
    {
        ConfFile conf("# header\n\nserver 192.0.2.1 iburst # main\nunknowndirective 1\n");
        ConfigDocument& document = ConfigDocument::instance();
        NtpSettings record;
        document.load(&record);
        record.logFile = QStringLiteral("/var/log/ntp.log");
        record.servers.removeFirst();
        const QByteArray rendered = document.render(record);
        QVERIFY(rendered.contains("unknowndirective 1\n"));
        QVERIFY(!rendered.contains("192.0.2.1"));
        QVERIFY(conf.read() != rendered); // nothing written yet
        QVERIFY(document.save(record));
        QCOMPARE(document.lastWriteError(), QString());
        QCOMPARE(conf.read(), rendered);
    }

    // On a server every call is a round trip: a save asks for everything
    // its checks look at in one batch and replaces the file in one more. The
    // first also makes the backup folders and checks them.
    void saveCrossesToTheHostTwice()
    {
        ConfFile conf("server 192.0.2.1 iburst\n");
        ConfigDocument& document = ConfigDocument::instance();
        NtpSettings record;
        document.load(&record);
        CountingHost counting(&Host::current());
        Host::setCurrent(&counting);
        struct Restore {
            ~Restore() { Host::setCurrent(nullptr); }
        } restore;
        for (int apply = 1; apply <= 3; ++apply) {
            record.logFile = QStringLiteral("/var/log/ntp-%1.log").arg(apply);
            counting.reset();
            const bool saved = document.save(record);
            QVERIFY2(saved, qPrintable(document.lastWriteError()));
            QVERIFY2(counting.calls <= (apply == 1 ? 7 : 2),
                     qPrintable(counting.crossings.join(QLatin1Char('\n'))));
        }
        QCOMPARE(ConfigBackups::list(conf.path()).size(), 3);
    }

    // The connection lost with the answer to a write: which version the
    // file is is told once the host answers again.
    void lostWriteIsToldLater_data()
    {
        QTest::addColumn<bool>("replaces");
        QTest::addColumn<QByteArray>("meanwhile");
        QTest::addColumn<int>("told");
        QTest::newRow("written") << true << QByteArray() << int(ConfigDocument::LostWrite::New);
        QTest::newRow("not written")
            << false << QByteArray() << int(ConfigDocument::LostWrite::Old);
        QTest::newRow("changed by another program") << false << QByteArray("server 198.51.100.7\n")
                                                    << int(ConfigDocument::LostWrite::Other);
    }

    void lostWriteIsToldLater()
    {
        QFETCH(bool, replaces);
        QFETCH(QByteArray, meanwhile);
        QFETCH(int, told);
        ConfFile conf("server 192.0.2.1\n");
        ConfigDocument& document = ConfigDocument::instance();
        NtpSettings record;
        document.load(&record);
        QCOMPARE(document.settleLostWrite(), ConfigDocument::LostWrite::None);
        record.logFile = QStringLiteral("/var/log/ntp.log");
        LostAnswerHost lossy(&Host::current());
        lossy.replaces = replaces;
        Host::setCurrent(&lossy);
        const bool saved = document.save(record);
        Host::setCurrent(nullptr);
        QVERIFY(!saved);
        QVERIFY(document.lastWriteOutcomeUnknown());
        if (!meanwhile.isEmpty())
            conf.write(meanwhile);

        QCOMPARE(int(document.settleLostWrite()), told);
        QVERIFY(!document.lastWriteOutcomeUnknown());
        QCOMPARE(document.settleLostWrite(), ConfigDocument::LostWrite::None);
        // Written, the file is the program's own: no outside change.
        QCOMPARE(document.changedOutside(),
                 told != int(ConfigDocument::LostWrite::New) && !meanwhile.isEmpty());
        QCOMPARE(conf.read().contains("logfile /var/log/ntp.log"),
                 told == int(ConfigDocument::LostWrite::New));
    }

    void failedWriteKeepsTheFile()
    {
        ConfFile conf("server 192.0.2.1\n");
        ConfigDocument& document = ConfigDocument::instance();
        NtpSettings record;
        document.load(&record);
        record.logFile = QStringLiteral("/var/log/ntp.log");
        // A directory where the file's folder was: nothing can be written.
        const QString dir = conf.dir();
        QVERIFY(QDir().rename(dir, dir + QStringLiteral(".away")));
        QVERIFY(writeFile(dir, "blocker"));
        QVERIFY(!document.save(record));
        QVERIFY2(document.lastWriteError().contains(QStringLiteral("Not a directory")),
                 qPrintable(document.lastWriteError()));
        QVERIFY(QFile::remove(dir));
        QVERIFY(QDir().rename(dir + QStringLiteral(".away"), dir));
        QCOMPARE(conf.read(), QByteArray("server 192.0.2.1\n"));
        // The next write that can go through clears the error.
        QVERIFY(document.save(record));
        QVERIFY(document.lastWriteError().isEmpty());
    }

    // A file past the size limit is not read at all: the pages show no
    // settings, and the reason reaches the notice about unreadable files.
    void oversizedFileReadsEmpty()
    {
        ConfFile conf("server 192.0.2.1\n");
        QVERIFY(QFile::resize(conf.path(), configFileLimit + 1));
        NtpSettings record;
        record.logFile = QStringLiteral("stale");
        ConfigDocument& document = ConfigDocument::instance();
        document.load(&record);
        QCOMPARE(document.lastReadError(), EFBIG);
        QCOMPARE(record, NtpSettings());
        QVERIFY(daemonNotices(DaemonSetup(), conf.path(), document.lastReadError())
                    .join(QLatin1Char('\n'))
                    .contains(conf.path() + QStringLiteral(" cannot be read: File too large.")));
        // Nor is it replaced: its content would be lost.
        QVERIFY(!document.save(record));
        QCOMPARE(document.lastWriteError(), QStringLiteral("File too large"));
        QCOMPARE(QFileInfo(conf.path()).size(), configFileLimit + 1);
    }

    // A save writes over the file that was read, nothing else: a change
    // made since stops it until the user takes that version on.
    void saveWritesOnlyOverTheFileRead()
    {
        ConfFile conf("server 192.0.2.1\n");
        ConfigDocument& document = ConfigDocument::instance();
        NtpSettings record;
        document.load(&record);
        conf.write("server 192.0.2.9\n");
        record.logFile = QStringLiteral("/var/log/ntp.log");
        QVERIFY(!document.save(record));
        QVERIFY(document.lastWriteFoundChange());
        QVERIFY(document.lastBackupError().isEmpty());
        QCOMPARE(conf.read(), QByteArray("server 192.0.2.9\n"));

        document.acceptOutsideChange(document.fingerprintOnDisk());
        QVERIFY(document.save(record));
        QVERIFY(!document.lastWriteFoundChange());
        // What the record holds replaces the file; carried lines come from
        // the version taken on.
        QCOMPARE(conf.read(), record.render({}));
        // Its own write is no outside change.
        QVERIFY(!document.changedOutside());
        QVERIFY(document.save(record));
    }

    // Through a symbolic link the file it leads to is replaced, the link
    // stays, and the copy kept is of that file.
    void savesThroughALink()
    {
        ConfFile conf("server 192.0.2.1\n");
        const QString link = conf.dir() + QStringLiteral("/link.conf");
        QVERIFY(QFile::link(conf.path(), link));
        ConfigDocument& document = ConfigDocument::instance();
        document.setPath(link);
        NtpSettings record;
        document.load(&record);
        QCOMPARE(record.servers.size(), 1);
        record.servers.first().address = QStringLiteral("192.0.2.2");
        const bool saved = document.save(record);
        document.setPath(QString());
        QVERIFY2(saved, qPrintable(document.lastWriteError()));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(conf.read(), QByteArray("\nserver 192.0.2.2\n"));
        const QVector<ConfigBackup> copies = ConfigBackups::list(link);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(readFile(copies.first().path), QByteArray("server 192.0.2.1\n"));
    }

    // Only a file that root alone controls is written; any other is shown
    // read-only with the reason, and Apply leaves it as it is.
    void fileOthersControlIsReadOnly_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("folder of another user") << "folder"
                                                << "belongs to the user with id 65534";
        QTest::newRow("file of another user") << "file"
                                              << "belongs to the user with id 65534";
        QTest::newRow("group may write") << "group"
                                         << "(mode 0664)";
        QTest::newRow("folder all may write") << "open folder"
                                              << "(mode 0777)";
        QTest::newRow("link of another user") << "link"
                                              << "belongs to the user with id 65534";
    }
    void fileOthersControlIsReadOnly()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        ConfFile conf("server 192.0.2.1\n");
        const QByteArray dir = QFile::encodeName(conf.dir());
        const QByteArray file = QFile::encodeName(conf.path());
        QString edited = conf.path();
        if (kind == QLatin1String("folder"))
            QCOMPARE(::chown(dir.constData(), 65534, 65534), 0);
        else if (kind == QLatin1String("file"))
            QCOMPARE(::chown(file.constData(), 65534, 65534), 0);
        else if (kind == QLatin1String("group"))
            QCOMPARE(::chmod(file.constData(), 0664), 0);
        else if (kind == QLatin1String("open folder"))
            QCOMPARE(::chmod(dir.constData(), 0777), 0);
        else {
            edited = conf.dir() + QStringLiteral("/link.conf");
            QVERIFY(QFile::link(conf.path(), edited));
            QCOMPARE(::lchown(QFile::encodeName(edited).constData(), 65534, 65534), 0);
        }
        ConfigDocument& document = ConfigDocument::instance();
        document.setPath(edited);
        NtpSettings record;
        document.load(&record);
        const QString readOnly = document.readOnlyReason();
        record.logFile = QStringLiteral("/var/log/ntp.log");
        const bool saved = document.save(record);
        const QString copy = ConfigBackups::folderFor(edited) + QStringLiteral("/00000001_x_");
        const bool restored = document.restore(copy);
        document.setPath(QString());
        QVERIFY2(readOnly.contains(reason), qPrintable(readOnly));
        QCOMPARE(record.servers.size(), 1); // still shown
        QVERIFY(!saved);
        QVERIFY(!restored);
        QCOMPARE(document.lastWriteError(), readOnly);
        QCOMPARE(conf.read(), QByteArray("server 192.0.2.1\n"));
        QVERIFY(ConfigBackups::list(edited).isEmpty());
    }

    // A root-owned file in a sticky folder that all may write to, such as
    // /tmp, is root's alone; so is the administrator's link to it.
    void stickyFolderAndRootsLinkAreTrusted()
    {
        ConfFile conf("server 192.0.2.1\n");
        const QString sticky = conf.dir() + QStringLiteral("/sticky");
        QVERIFY(QDir().mkdir(sticky));
        QCOMPARE(::chmod(QFile::encodeName(sticky).constData(), 01777), 0);
        const QString file = sticky + QStringLiteral("/ntp.conf");
        QVERIFY(writeFile(file, "server 192.0.2.1\n"));
        const QString link = conf.dir() + QStringLiteral("/link.conf");
        QVERIFY(QFile::link(file, link));
        ConfigDocument& document = ConfigDocument::instance();
        document.setPath(link);
        NtpSettings record;
        document.load(&record);
        const QString trusted = document.readOnlyReason();
        QCOMPARE(::chown(QFile::encodeName(file).constData(), 65534, 65534), 0);
        document.load(&record);
        const QString usersFile = document.readOnlyReason();
        document.setPath(QString());
        QVERIFY2(trusted.isEmpty(), qPrintable(trusted));
        QVERIFY2(usersFile.contains(file), qPrintable(usersFile));
    }

    // Files root installed, in folders nobody else may change, are written
    // as before: nothing there is read-only.
    void rootsOwnFilesAreTrusted()
    {
        const QDir corpus(qEnvironmentVariable("NTPSM_SOURCE_DIR") +
                          QStringLiteral("/../shared/corpus/ntpconf"));
        const QStringList files = corpus.entryList(QDir::Files, QDir::Name);
        if (files.isEmpty())
            QSKIP("no corpus");
        ConfigDocument& document = ConfigDocument::instance();
        NtpSettings record;
        for (const QString& name : files) {
            document.setPath(corpus.filePath(name));
            document.load(&record);
            QVERIFY2(document.readOnlyReason().isEmpty(), qPrintable(document.readOnlyReason()));
        }
        document.setPath(QString());
    }

    // A file in a folder another user owns, replaced by a link to another
    // file after it was read: nothing is written through the link.
    void swappedInLinkIsNotWrittenThrough()
    {
        ConfFile conf("server 192.0.2.1\n");
        QTemporaryDir secretDir;
        const QString secret = secretDir.filePath(QStringLiteral("shadow"));
        QVERIFY(writeFile(secret, "root:secret\n"));
        ConfigDocument& document = ConfigDocument::instance();
        document.setPath(conf.path());
        NtpSettings record;
        document.load(&record);
        // The folder's owner swaps the file for a link to the secret.
        QCOMPARE(::chown(QFile::encodeName(conf.dir()).constData(), 65534, 65534), 0);
        QVERIFY(
            runAsNobody(QStringLiteral("rm -f '%1' && ln -s '%2' '%1'").arg(conf.path(), secret)));
        QVERIFY(QFileInfo(conf.path()).isSymLink());
        record.logFile = QStringLiteral("/var/log/ntp.log");
        const bool saved = document.save(record);
        document.setPath(QString());
        QVERIFY(!saved);
        QCOMPARE(readFile(secret), QByteArray("root:secret\n"));
    }

    // The host replaces only the very file that was checked and read: one
    // put in its place with the same bytes is not written over.
    void replacementChecksTheFileItself()
    {
        ConfFile conf("server 192.0.2.1\n");
        FileContent read;
        QCOMPARE(localHost().readFile(conf.path(), configFileLimit, &read), 0);
        const QString other = conf.dir() + QStringLiteral("/other");
        QVERIFY(writeFile(other, "server 192.0.2.1\n"));
        QCOMPARE(::rename(QFile::encodeName(other).constData(),
                          QFile::encodeName(conf.path()).constData()),
                 0);
        FileReplacement replacement;
        replacement.target = conf.path();
        replacement.bytes = "server 192.0.2.2\n";
        replacement.guarded = true;
        replacement.expectedDigest = FileFingerprint::sha256(read.bytes);
        replacement.expectedFile = read.status;
        const ReplaceOutcome outcome = localHost().replaceFile(replacement);
        QCOMPARE(outcome.failedStep, ReplaceOutcome::Guard);
        QCOMPARE(conf.read(), QByteArray("server 192.0.2.1\n"));
        replacement.expectedFile = localHost().status(conf.path());
        QCOMPARE(localHost().replaceFile(replacement).failedStep, ReplaceOutcome::Done);
        QCOMPARE(conf.read(), QByteArray("server 192.0.2.2\n"));
    }

    // A whole session (load, Apply, Restore), traced: it changes nothing
    // but the edited file, its own temporary files and its own copies.
    void sessionWritesOnlyItsOwnFiles()
    {
        if (qEnvironmentVariableIsSet("NTPSM_TRACED_CONF")) {
            runTracedSession();
            return;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
            QFAIL("strace is not installed (scripts/deps.sh test installs it)");
        ConfFile conf("server 192.0.2.1\nlogfile /var/log/ntp-0\n");
        QTemporaryDir traceDir;
        const QString trace = traceDir.filePath(QStringLiteral("trace"));
        QProcess session;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("NTPSM_TRACED_CONF"), conf.path());
        environment.insert(QStringLiteral("NTPSM_TRACED_BACKUPS"), conf.backupDir());
        // The leak checker of a sanitizer build cannot run under ptrace and
        // would fail the traced session at its exit.
        const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           asan.isEmpty() ? QStringLiteral("detect_leaks=0")
                                          : asan + QStringLiteral(":detect_leaks=0"));
        session.setProcessEnvironment(environment);
        session.start(QStringLiteral("strace"),
                      {QStringLiteral("-f"), QStringLiteral("-y"), QStringLiteral("-qq"),
                       QStringLiteral("-e"), QLatin1String(changingCalls), QStringLiteral("-o"),
                       trace, QCoreApplication::applicationFilePath(),
                       QStringLiteral("sessionWritesOnlyItsOwnFiles")});
        QVERIFY(session.waitForFinished(60000));
        QVERIFY2(session.exitCode() == 0, session.readAll().constData());
        QVERIFY(conf.read().contains("/var/log/ntp-0")); // restored
        const QRegularExpression ownTemporary(
            QStringLiteral("^\\.ntp\\.conf\\.ntpsm-[A-Za-z0-9]{6}$"));
        int changes = 0;
        const QStringList lines = QString::fromLocal8Bit(readFile(trace)).split(QLatin1Char('\n'));
        for (const QString& line : lines) {
            for (const QString& path : changedPaths(line)) {
                ++changes;
                const bool own = path == conf.path() ||
                                 (QFileInfo(path).path() == conf.dir() &&
                                  ownTemporary.match(QFileInfo(path).fileName()).hasMatch()) ||
                                 path.startsWith(conf.backupDir());
                QVERIFY2(own, qPrintable(line));
            }
        }
        QVERIFY(changes >= 4); // the file twice, its temporary files, the copies
    }

private:
    // The traced side of sessionWritesOnlyItsOwnFiles().
    static void runTracedSession()
    {
        const QString file = qEnvironmentVariable("NTPSM_TRACED_CONF");
        setNtpConfPathForTesting(file);
        setBackupDirPathForTesting(qEnvironmentVariable("NTPSM_TRACED_BACKUPS"));
        ConfigDocument& document = ConfigDocument::instance();
        NtpSettings record;
        document.load(&record);
        QVERIFY(document.readOnlyReason().isEmpty());
        record.logFile = QStringLiteral("/var/log/ntp-1");
        QVERIFY2(document.save(record), qPrintable(document.lastWriteError()));
        const QVector<ConfigBackup> copies = ConfigBackups::list(file);
        QCOMPARE(copies.size(), 1);
        QVERIFY2(document.restore(copies.first().path), qPrintable(document.lastWriteError()));
    }
};

QTEST_GUILESS_MAIN(TestConfigDocument)
#include "tst_configdocument.moc"
