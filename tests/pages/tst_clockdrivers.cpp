#include <QtTest>

#include "pages/clockdrivers.h"

class TestClockDrivers : public QObject
{
    Q_OBJECT
private slots:
    void absentNumbersHaveNoName_data();
    void absentNumbersHaveNoName();
    void iteratesFortyDriversAscending();
    void namesAreKeptAsWritten_data();
    void namesAreKeptAsWritten();
};

void TestClockDrivers::absentNumbersHaveNoName_data()
{
    QTest::addColumn<int>("number");
    for (int number : {15, 23, 24, 25, 45, 0, -1, 100})
        QTest::addRow("%d", number) << number;
}

void TestClockDrivers::absentNumbersHaveNoName()
{
    QFETCH(int, number);
    const ClockDrivers catalogue;
    QVERIFY(catalogue.name(number).isEmpty());
    QVERIFY(!catalogue.drivers.contains(number));
}

void TestClockDrivers::iteratesFortyDriversAscending()
{
    const ClockDrivers catalogue;
    QCOMPARE(catalogue.drivers.size(), 40);
    QCOMPARE(catalogue.drivers.firstKey(), 1);
    QCOMPARE(catalogue.drivers.lastKey(), 44);
    int previous = 0;
    int count = 0;
    for (auto it = catalogue.drivers.cbegin(); it != catalogue.drivers.cend(); ++it) {
        QVERIFY2(it.key() > previous, qPrintable(QString::number(it.key())));
        QVERIFY(!it.value().isEmpty());
        previous = it.key();
        ++count;
    }
    QCOMPARE(count, 40);
}

void TestClockDrivers::namesAreKeptAsWritten_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::newRow("first") << 1 << "Undisciplined Local Clock (LOCAL)";
    QTest::newRow("nmea") << 20 << "Generic NMEA GPS Receiver (NMEA)";
    QTest::newRow("shm") << 28 << "Shared Memory Driver (SHM)";
    QTest::newRow("missing parenthesis") << 30 << "Motorola UT Oncore GPS GPS_ONCORE)";
    QTest::newRow("no tag") << 41 << "TrueTime 560 IRIG-B Decoder";
    QTest::newRow("last") << 44 << "NeoClock4X - DCF77 / TDF serial line";
}

void TestClockDrivers::namesAreKeptAsWritten()
{
    QFETCH(int, number);
    QFETCH(QString, name);
    const ClockDrivers catalogue;
    QCOMPARE(catalogue.name(number), name);
    QCOMPARE(catalogue.drivers.value(number), name);
}

QTEST_GUILESS_MAIN(TestClockDrivers)
#include "tst_clockdrivers.moc"
