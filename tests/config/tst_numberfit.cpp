// A number the record cannot hold (beyond the range of an int) is never
// written back as another value: its line is carried over as it stands, or,
// for a time source, the number stays with its option among the options
// without a field.
#include <QTemporaryDir>
#include <QtTest>

#include "config/config.h"
#include "config/ntpsettings.h"
#include "tests/common/testfiles.h"

using namespace TestHelpers;

namespace
{
NtpSettings readRecord(const QString& path)
{
    NtpSettings record;
    record.readFrom(Config(path));
    return record;
}
} // namespace

class TestNumberFit : public QObject
{
    Q_OBJECT

private slots:
    void linesWithNumbersTooLargeAreNotTaken_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("signed ttl") << QByteArray("broadcast 192.0.2.255 ttl +99999999999\n");
        QTest::newRow("fudge stratum") << QByteArray("fudge 127.127.1.0 stratum 4294967306\n");
        QTest::newRow("fudge flag") << QByteArray("fudge 127.127.1.0 FLAG1 10000000000\n");
    }
    void linesWithNumbersTooLargeAreNotTaken()
    {
        QFETCH(QByteArray, line);
        ConfFile conf(line);
        QCOMPARE(readRecord(conf.path()), NtpSettings());
    }

    void timeSourcesKeepTheNumberWithItsOption()
    {
        ConfFile conf("server a.example mode 4294967295 iburst\n"
                      "server b.example minpoll -2147483649\n");
        const NtpSettings record = readRecord(conf.path());
        QCOMPARE(record.servers.size(), 2);
        QCOMPARE(record.servers.at(0).mode, -1);
        QVERIFY(record.servers.at(0).iburst);
        QCOMPARE(record.servers.at(0).extraOptions, (QStringList{"mode", "4294967295"}));
        QCOMPARE(record.servers.at(1).minPoll, -1);
        QCOMPARE(record.servers.at(1).extraOptions, (QStringList{"minpoll", "-2147483649"}));
        QVERIFY(record.servers.at(1).holdsOutsizedNumber());
    }

    void limitsOfAnIntAreTaken()
    {
        ConfFile conf("server a.example mode 2147483647 minpoll -2147483648\n");
        const NtpSettings record = readRecord(conf.path());
        QCOMPARE(record.servers.size(), 1);
        QCOMPARE(record.servers.first().mode, 2147483647);
        QCOMPARE(record.servers.first().minPoll, int(-2147483647 - 1));
    }

    void unchangedSaveKeepsTheBytes()
    {
        const QByteArray text = "driftfile /var/lib/ntp/ntp.drift\n"
                                "statistics loopstats\n"
                                "server a.example mode 4294967295 iburst\n"
                                "server b.example iburst\n"
                                "server 127.127.1.0\n"
                                "fudge 127.127.1.0 stratum 99999999999 flag1 1\n";
        ConfFile conf(text);
        QVERIFY(readRecord(conf.path()).writeTo(conf.path()));
        QCOMPARE(conf.read(), text);
    }

    void editingOtherEntriesKeepsTheLine()
    {
        ConfFile conf("server a.example mode 4294967295\nserver b.example\n");
        NtpSettings record = readRecord(conf.path());
        QCOMPARE(record.servers.size(), 2);
        record.servers.last().address = QStringLiteral("c.example");
        QVERIFY(record.writeTo(conf.path()));
        QCOMPARE(linesOf(conf.read(), QStringLiteral("server")),
                 (QStringList{"server a.example mode 4294967295", "server c.example"}));
    }
};

QTEST_MAIN(TestNumberFit)
#include "tst_numberfit.moc"
