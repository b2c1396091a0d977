// The IPv4 entry widget and the help menu.
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "wispintegration/wisphelpmenu.h"
#include "wispintegration/wispintegration.h"
#include "wispuinet/wisphostaddress.h"

class TestWisp : public QObject
{
    Q_OBJECT

private slots:
    void setAddress_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected"); // empty: no address
        QTest::newRow("plain") << "192.168.1.255"
                               << "192.168.1.255";
        QTest::newRow("padded") << "192.168.001.255"
                                << "192.168.1.255";
        QTest::newRow("padded octet is decimal") << "010.000.008.009"
                                                 << "10.0.8.9";
        QTest::newRow("zero") << "000.000.000.000"
                              << "0.0.0.0";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("three parts") << "10.0.0"
                                     << "";
        QTest::newRow("out of range") << "10.0.0.256"
                                      << "";
        QTest::newRow("four digits") << "10.0.0.0001"
                                     << "";
        QTest::newRow("letters") << "a.b.c.d"
                                 << "";
        QTest::newRow("signed") << "+1.0.0.1"
                                << "";
    }
    void setAddress()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        WispHostAddress entry;
        entry.setAddress(QStringLiteral("1.2.3.4"));
        entry.setAddress(input);
        QCOMPARE(entry.address().toString(), expected);
        QCOMPARE(entry.address().isNull(), expected.isEmpty());
    }

    void typing()
    {
        WispHostAddress entry;
        QSignalSpy changed(&entry, &WispHostAddress::addressChanged);
        QSignalSpy returned(&entry, &WispHostAddress::returnPressed);
        QTest::keyClicks(entry.lineEdit(), QStringLiteral("10.1.2"));
        QVERIFY(entry.address().isNull()); // partial input
        QCOMPARE(changed.count(), 6);
        QTest::keyClicks(entry.lineEdit(), QStringLiteral(".3"));
        QCOMPARE(entry.address(), QHostAddress(QStringLiteral("10.1.2.3")));
        QCOMPARE(changed.last().first().value<QHostAddress>(),
                 QHostAddress(QStringLiteral("10.1.2.3")));
        // Letters and a fifth group are refused while typing.
        QTest::keyClicks(entry.lineEdit(), QStringLiteral("x."));
        QCOMPARE(entry.lineEdit()->text(), QStringLiteral("10.1.2.3"));
        // A fourth digit group beyond 255 is typed but is no address.
        QTest::keyClicks(entry.lineEdit(), QStringLiteral("99"));
        QVERIFY(entry.address().isNull());
        QTest::keyClick(entry.lineEdit(), Qt::Key_Backspace);
        QTest::keyClick(entry.lineEdit(), Qt::Key_Backspace);
        QTest::keyClick(entry.lineEdit(), Qt::Key_Return);
        QCOMPARE(returned.count(), 1);
        entry.setAddress(QString());
        QVERIFY(entry.address().isNull());
        QVERIFY(entry.address().toString().isEmpty());
    }

    void helpMenu()
    {
        wispInit("1.2.12", "Network Time Protocol service manager");
        QWidget parent;
        WispHelpMenu menu(&parent);
        const QList<QAction*> entries = menu.actions();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0]->text(), QStringLiteral("About"));
        QCOMPARE(entries[1]->text(), QStringLiteral("About Qt"));
        QVERIFY(WispHelpMenu::aboutText().contains(QStringLiteral("1.2.12")));
        QVERIFY(WispHelpMenu::aboutText().contains(
            QStringLiteral("Network Time Protocol service manager")));
    }
};

QTEST_MAIN(TestWisp)
#include "tst_wisphostaddress.moc"
