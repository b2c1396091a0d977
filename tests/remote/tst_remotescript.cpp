#include "remote/remotescript.h"

#include <QProcess>
#include <QTest>

// The client's half of the remote programs, without a server: quoting as
// sh reads it, and the reading of what the programs answer.
class TestRemoteScript : public QObject
{
    Q_OBJECT
private slots:
    void shReadsEveryQuotedWordBack()
    {
        const QStringList words{QString(),
                                QStringLiteral("it's"),
                                QStringLiteral("'"),
                                QStringLiteral("$(id) `id` $HOME \\ \""),
                                QStringLiteral("new\nline"),
                                QStringLiteral("-n *")};
        for (const QString& word : words) {
            QProcess sh;
            sh.start(QStringLiteral("/bin/sh"),
                     {QStringLiteral("-c"),
                      QString::fromLocal8Bit("printf %s " + RemoteScript::quoted(word))});
            QVERIFY(sh.waitForFinished(5000));
            QCOMPARE(QString::fromUtf8(sh.readAllStandardOutput()), word);
        }
    }

    void recordsCountOnlyBetweenTheMarks()
    {
        const QByteArray output = "Welcome banner from a .profile\n@ 0\ns nonsense\n@@ N1\n"
                                  "@ 1\ne EISDIR\n@ 0\nb YWJj\n@ 0\nn 3\nb YWJj\n.. N1\n@ 1\n";
        const RemoteScript::Records records = RemoteScript::parse(output, "N1", 2);
        QVERIFY(records.complete);
        // A repeated "@ 0" starts its answer over; after the end nothing counts.
        QCOMPARE(records.answers.at(0).size(), 2);
        QCOMPARE(records.answers.at(1).size(), 1);
        const HostReply read =
            RemoteScript::replyFrom({HostRequest::ReadFile, {}, 2}, records.answers.at(0));
        QCOMPARE(read.error, EFBIG); // three bytes past a limit of two
        QCOMPARE(RemoteScript::errorFrom(records.answers.at(1).first().value), EISDIR);
        QCOMPARE(RemoteScript::errorFrom("No such file or directory"), ENOENT);
        QCOMPARE(RemoteScript::errorFrom("Argument list too long"), E2BIG);
        QCOMPARE(RemoteScript::errorFrom("can't cd to /x"), EIO);
        QVERIFY(!RemoteScript::parse(output.left(output.indexOf("..")), "N1", 2).complete);
    }

    void statusFieldsAreRead()
    {
        FileStatus status;
        QVERIFY(RemoteScript::statusFrom(
            "81a0 0 4 65024 1095329 6 1700000000 2023-11-14 22:13:20.123456789 +0000", &status));
        QCOMPARE(status.type, FileStatus::Regular);
        QCOMPARE(status.mode, 0640u);
        QCOMPARE(status.gid, 4u);
        QCOMPARE(status.inode, quint64(1095329));
        QCOMPARE(status.modified.toMSecsSinceEpoch(), qint64(1700000000123));
        QVERIFY(!RemoteScript::statusFrom("81a0 0 4", &status));
    }

    void commandLinesAreNeverPassedOff()
    {
        const QByteArray heads = QByteArray("==> 10/cmdline <==\nsshd\0-D\0", 27) +
                                 QByteArray("\n==> 20/cmdline <==\n") +
                                 QByteArray("echo\0\n==> x\n\0", 13) +
                                 QByteArray("\n==> 30/cmdline <==\n");
        QVector<RemoteScript::CommandLine> lines;
        QVERIFY(RemoteScript::cutCommandLines(heads, &lines));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(0).bytes, QByteArray("sshd\0-D\0", 8));
        QCOMPARE(lines.at(1).bytes, QByteArray("echo\0\n==> x\n\0", 13));
        QVERIFY(lines.at(2).bytes.isEmpty());

        // Process 20 writes a header for 30 into its own command line.
        const QByteArray spoofed = QByteArray("==> 20/cmdline <==\nx\0") +
                                   "\n==> 30/cmdline <==\nntpd\0-c\0/tmp/evil.conf\0" +
                                   "\n==> 30/cmdline <==\nntpd\0";
        lines.clear();
        QVERIFY(!RemoteScript::cutCommandLines(spoofed, &lines));
    }
};

QTEST_GUILESS_MAIN(TestRemoteScript)
#include "tst_remotescript.moc"
