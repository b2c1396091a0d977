#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>

#include "pages/foptother.h"
#include "tests/common/testhelpers.h"

using TestHelpers::ConfFile;
using TestHelpers::linesOf;
using TestHelpers::typeText;

namespace
{
QLineEdit* logFileEdit(FOptOther& page)
{
    return page.findChild<QLineEdit*>(QStringLiteral("leLogFile"));
}

QSpinBox* delayBox(FOptOther& page)
{
    return page.findChild<QSpinBox*>(QStringLiteral("sbBroadcastDelay"));
}
} // namespace

class TestFOptOther : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void broadcastDelay_data();
    void broadcastDelay();
    void storedDelayKeptUntilTouched_data();
    void storedDelayKeptUntilTouched();
    void logFile();
    void browse();
};

void TestFOptOther::cleanup()
{
    FOptOther::setSaveFileChooser({});
    QCOMPARE(TestHelpers::rejectOpenModals(), 0);
}

void TestFOptOther::broadcastDelay_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("set");
    QTest::addColumn<QStringList>("saved");
    QTest::newRow("kept") << QByteArray("broadcastdelay 5\n") << 5 << 5
                          << QStringList({"broadcastdelay 5"});
    QTest::newRow("changed") << QByteArray("broadcastdelay 5\n") << 5 << 42
                             << QStringList({"broadcastdelay 42"});
    QTest::newRow("zero removes") << QByteArray("broadcastdelay 5\n") << 5 << 0 << QStringList();
    QTest::newRow("none given") << QByteArray("logfile /var/log/ntp\n") << 0 << 7
                                << QStringList({"broadcastdelay 7"});
}

void TestFOptOther::broadcastDelay()
{
    QFETCH(QByteArray, file);
    QFETCH(int, shown);
    QFETCH(int, set);
    QFETCH(QStringList, saved);
    ConfFile conf(file);
    FOptOther page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    QSpinBox* delay = delayBox(page);
    QCOMPARE(delay->value(), shown);
    QCOMPARE(delay->minimum(), 0);
    QCOMPARE(delay->maximum(), 99);

    delay->setValue(set);
    QCOMPARE(changed.isEmpty(), set == shown);
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), QStringLiteral("broadcastdelay")), saved);
}

void TestFOptOther::storedDelayKeptUntilTouched_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("shown");
    QTest::newRow("fraction") << QByteArray("0.008") << 0;
    QTest::newRow("above the range") << QByteArray("150") << 99;
}

void TestFOptOther::storedDelayKeptUntilTouched()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, shown);
    ConfFile conf("broadcastdelay " + stored + "\nlogfile /var/log/ntp\n");
    FOptOther page;
    QCOMPARE(delayBox(page)->value(), shown);

    // Only the log file changed: the stored delay is written back as it was.
    logFileEdit(page)->setText(QStringLiteral("/var/log/ntpd"));
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), QStringLiteral("broadcastdelay")),
             QStringList({QString::fromLatin1("broadcastdelay " + stored)}));
    QCOMPARE(linesOf(conf.read(), QStringLiteral("logfile")),
             QStringList({"logfile /var/log/ntpd"}));

    // After a reload, a touched spin box wins.
    page.loadSettings();
    QCOMPARE(delayBox(page)->value(), shown);
    delayBox(page)->setValue(shown == 0 ? 1 : 0);
    delayBox(page)->setValue(shown);
    page.saveSettings();
    const QStringList expected =
        shown == 0 ? QStringList() : QStringList({QStringLiteral("broadcastdelay %1").arg(shown)});
    QCOMPARE(linesOf(conf.read(), QStringLiteral("broadcastdelay")), expected);
}

void TestFOptOther::logFile()
{
    ConfFile conf("logfile /var/log/ntp.log\n");
    FOptOther page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    QLineEdit* edit = logFileEdit(page);
    QCOMPARE(edit->text(), QStringLiteral("/var/log/ntp.log"));

    // Typed: a dot is refused; blanks around the name are trimmed on save.
    edit->clear();
    typeText(edit, QStringLiteral("  /var/log/ntp.d_Лог  "));
    QCOMPARE(edit->text(), QStringLiteral("  /var/log/ntpd_Лог  "));
    QVERIFY(!changed.isEmpty());
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), QStringLiteral("logfile")),
             QStringList({QStringLiteral("logfile /var/log/ntpd_Лог")}));

    edit->clear();
    page.saveSettings();
    QVERIFY(linesOf(conf.read(), QStringLiteral("logfile")).isEmpty());
}

void TestFOptOther::browse()
{
    ConfFile conf;
    FOptOther page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);
    QWidget* parentSeen = nullptr;
    QString captionSeen;
    QString startSeen;
    QString answer = QStringLiteral("/var/log/ntp.log");
    FOptOther::setSaveFileChooser(
        [&](QWidget* parent, const QString& caption, const QString& start) {
            parentSeen = parent;
            captionSeen = caption;
            startSeen = start;
            return answer;
        });
    auto* button = page.findChild<QToolButton*>(QStringLiteral("bBrowse"));

    button->click();
    QCOMPARE(parentSeen, &page);
    QCOMPARE(captionSeen, QStringLiteral("Select log file"));
    QCOMPARE(startSeen, QStringLiteral("/var/log/"));
    QCOMPARE(logFileEdit(page)->text(), answer);
    QVERIFY(!changed.isEmpty());

    // The same name again still marks the page as edited.
    changed.clear();
    button->click();
    QCOMPARE(startSeen, answer);
    QCOMPARE(changed.count(), 1);

    // Cancelled: nothing changes.
    answer.clear();
    changed.clear();
    button->click();
    QCOMPARE(logFileEdit(page)->text(), QStringLiteral("/var/log/ntp.log"));
    QVERIFY(changed.isEmpty());

    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), QStringLiteral("logfile")),
             QStringList({"logfile /var/log/ntp.log"}));
}

QTEST_MAIN(TestFOptOther)
#include "tst_foptother.moc"
