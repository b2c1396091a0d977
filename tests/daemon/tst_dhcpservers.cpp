// The servers of the DHCP copy: read only from a file no one but root can
// have written, within the size limit, and only the time source lines.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "daemon/dhcpservers.h"

namespace
{
const uid_t nobody = 65534;

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const QByteArray copy = "# written by the DHCP client\n"
                        "driftfile /var/lib/ntp/ntp.drift\n"
                        "server 192.0.2.10 iburst # first\n"
                        "pool -6 pool.example\n"
                        "server 127.127.1.0\n"
                        "peer 192.0.2.11\n"
                        "server -4\n";
} // namespace

class TestDhcpServers : public QObject
{
    Q_OBJECT
private slots:
    void readsSourceLines();
    void refusesWhatOthersCanWrite_data();
    void refusesWhatOthersCanWrite();
    void refusesLargeCopyAndSymlink();
};

void TestDhcpServers::readsSourceLines()
{
    if (geteuid() != 0)
        QSKIP("the copy must be root's");
    QTemporaryDir dir;
    const QString path = dir.filePath("ntp.conf.dhcp");
    QVERIFY(writeFile(path, copy));
    QVERIFY(chmod(qPrintable(path), 0644) == 0);
    const DhcpSources read = readDhcpSources(path);
    QCOMPARE(read.error, QString());
    QCOMPARE(read.sources.size(), 3);
    QCOMPARE(read.sources.at(0).address, QStringLiteral("192.0.2.10"));
    QCOMPARE(read.sources.at(0).line, QStringLiteral("server 192.0.2.10 iburst"));
    QCOMPARE(read.sources.at(1).keyword, QStringLiteral("pool"));
    QCOMPARE(read.sources.at(1).address, QStringLiteral("pool.example"));
    QCOMPARE(read.sources.at(2).keyword, QStringLiteral("peer"));
}

void TestDhcpServers::refusesWhatOthersCanWrite_data()
{
    QTest::addColumn<int>("fileMode");
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<bool>("fileOfNobody");
    QTest::newRow("file others can write") << 0646 << 0755 << false;
    QTest::newRow("file the group can write") << 0664 << 0755 << false;
    QTest::newRow("folder others can write") << 0644 << 0777 << false;
    QTest::newRow("file of another user") << 0644 << 0755 << true;
}

void TestDhcpServers::refusesWhatOthersCanWrite()
{
    if (geteuid() != 0)
        QSKIP("needs root to give files away");
    QFETCH(int, fileMode);
    QFETCH(int, folderMode);
    QFETCH(bool, fileOfNobody);
    QTemporaryDir dir;
    const QString path = dir.filePath("ntp.conf.dhcp");
    QVERIFY(writeFile(path, copy));
    QVERIFY(chmod(qPrintable(path), mode_t(fileMode)) == 0);
    QVERIFY(chmod(qPrintable(dir.path()), mode_t(folderMode)) == 0);
    if (fileOfNobody)
        QVERIFY(chown(qPrintable(path), nobody, nobody) == 0);
    const DhcpSources read = readDhcpSources(path);
    QVERIFY(!read.error.isEmpty());
    QVERIFY(read.sources.isEmpty());
}

void TestDhcpServers::refusesLargeCopyAndSymlink()
{
    if (geteuid() != 0)
        QSKIP("the copy must be root's");
    QTemporaryDir dir;
    const QString path = dir.filePath("ntp.conf.dhcp");
    QByteArray large = copy;
    large += QByteArray(int(dhcpConfigLimit), '#');
    QVERIFY(writeFile(path, large));
    DhcpSources read = readDhcpSources(path);
    QVERIFY(read.error.contains("larger than"));
    QVERIFY(read.sources.isEmpty());

    QVERIFY(writeFile(path, copy));
    const QString link = dir.filePath("link.dhcp");
    QVERIFY(QFile::link(path, link));
    read = readDhcpSources(link);
    QVERIFY(!read.error.isEmpty());
    QVERIFY(read.sources.isEmpty());
    QVERIFY(!readDhcpSources(dir.filePath("missing")).error.isEmpty());
}

QTEST_MAIN(TestDhcpServers)
#include "tst_dhcpservers.moc"
