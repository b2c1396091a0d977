// Every time source, access rule, broadcast network and clock line of a file
// is a row of its page, with the line as the file writes it beside the
// specified columns: the real files of the corpus and the forms that used to
// hide.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <unistd.h>

#include "daemon/daemonsetup.h"
#include "daemon/ntpconfpath.h"
#include "pages/fbroadcast.h"
#include "pages/foptaccess.h"
#include "pages/fopthwclock.h"
#include "pages/fopthwclock_add.h"
#include "pages/foptmessage.h"
#include "pages/foptother.h"
#include "pages/foptsync.h"
#include "pages/foptsync_add.h"
#include "tests/common/testhelpers.h"

using TestHelpers::ConfFile;
using TestHelpers::linesOf;

namespace
{
const int syncKindColumn = 6;
const int syncLineColumn = 7;
const int accessLineColumn = 4;

QDir corpusDir()
{
    return QDir(qEnvironmentVariable("NTPSM_SOURCE_DIR") +
                QStringLiteral("/../shared/corpus/ntpconf"));
}

QStringList corpusFiles()
{
    return corpusDir().entryList({QStringLiteral("*.conf")}, QDir::Files, QDir::Name);
}

// The words of each directive line of `text` (comments and blank lines left
// out), as the daemon splits them.
QList<QStringList> directiveLines(const QByteArray& text)
{
    QList<QStringList> lines;
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).section(QLatin1Char('#'), 0, 0).trimmed();
        const QStringList words =
            line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (!words.isEmpty())
            lines << words;
    }
    return lines;
}

// The address of an association line: after "-4" or "-6" if there is one.
QString associationAddress(const QStringList& words)
{
    const int at = words.value(1) == QLatin1String("-4") || words.value(1) == QLatin1String("-6");
    return words.value(1 + at);
}

bool isClock(const QString& address)
{
    return address.startsWith(QLatin1String("127.127."));
}

int timeSourceLines(const QList<QStringList>& lines)
{
    int count = 0;
    for (const QStringList& words : lines) {
        const QString& key = words.first();
        const QString address = associationAddress(words);
        if ((key == QLatin1String("server") || key == QLatin1String("pool") ||
             key == QLatin1String("peer")) &&
            !address.isEmpty() && !isClock(address))
            ++count;
    }
    return count;
}

int restrictLines(const QList<QStringList>& lines)
{
    int count = 0;
    for (const QStringList& words : lines)
        count += words.first() == QLatin1String("restrict") && !associationAddress(words).isEmpty();
    return count;
}

// One row per clock: each 127.127.t.u address and each refclock driver and
// unit counts once.
int clockLines(const QList<QStringList>& lines)
{
    QSet<QString> clocks;
    for (const QStringList& words : lines) {
        if (words.first() == QLatin1String("server") && isClock(words.value(1)))
            clocks.insert(words.value(1));
        if (words.first() == QLatin1String("refclock")) {
            const int unit = words.indexOf(QStringLiteral("unit"));
            clocks.insert(words.value(1) + QLatin1Char(' ') +
                          (unit > 0 ? words.value(unit + 1) : QStringLiteral("0")));
        }
    }
    return clocks.size();
}

int broadcastLines(const QList<QStringList>& lines)
{
    int count = 0;
    for (const QStringList& words : lines)
        count += words.first() == QLatin1String("broadcast") && words.size() > 1 &&
                 !isClock(words.value(1));
    return count;
}

template <class Page> QTreeWidget* listOf(Page& page, const char* name)
{
    return page.template findChild<QTreeWidget*>(QLatin1String(name));
}

QStringList column(QTreeWidget* list, int index)
{
    QStringList texts;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        texts << list->topLevelItem(row)->text(index);
    return texts;
}

// Takes the installed daemon for `setup` while it lives.
class DaemonAs
{
public:
    explicit DaemonAs(const DaemonSetup& setup) : m_old(currentDaemon())
    {
        setCurrentDaemon(setup);
    }
    ~DaemonAs() { setCurrentDaemon(m_old); }

private:
    DaemonSetup m_old;
};

DaemonSetup ntpsec(const char* version)
{
    DaemonSetup setup;
    setup.flavour = DaemonFlavour::Ntpsec;
    setup.version = QString::fromLatin1(version);
    return setup;
}

// The six-line file of the report, with a pool and a number too large for
// the record beside them.
const QByteArray fourSources = "server -4 a.example iburst\n"
                               "server -6 b.example\n"
                               "peer 192.168.1.2\n"
                               "pool p.example iburst\n"
                               "server  o.example   maxpoll 99999999999 # kept\n"
                               "restrict default kod nomodify\n";

} // namespace

class TestPageRows : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { QCOMPARE(TestHelpers::rejectOpenModals(), 0); }

    void everySourceIsARow();
    void untouchedSourcesKeepTheirBytes();
    void editKeepsWhatTheRecordCannotHold();
    void accessLineShowsKod();
    void hardwareClockOfTooLargeMode();
    void bracketedIpv6IsIpv6();
    void broadcastDelayHasUnit();
    void quotedLogFileShowsWithoutQuotes();
    void poolNtsBeforeNtpsec125();
    void broadcastNotice();
    void dhcpServersReplaceTheFiles();
    void corpusLogConfigOfAllItems();
    void corpusLogConfigKeptByUnchangedSave();
    void corpusLinesAreRows_data();
    void corpusLinesAreRows();
};

void TestPageRows::everySourceIsARow()
{
    ConfFile conf(fourSources);
    FOptSync page;
    QTreeWidget* list = listOf(page, "twServers");
    QCOMPARE(list->headerItem()->text(syncLineColumn), QStringLiteral("Line"));
    QCOMPARE(column(list, 0),
             (QStringList{"a.example", "b.example", "192.168.1.2", "p.example", "o.example"}));
    QCOMPARE(column(list, syncKindColumn),
             (QStringList{"Server, IPv4 only", "Server, IPv6 only", "Peer", "Pool", "Server"}));
    QCOMPARE(column(list, syncLineColumn),
             (QStringList{"server -4 a.example iburst", "server -6 b.example", "peer 192.168.1.2",
                          "pool p.example iburst", "server o.example maxpoll 99999999999 # kept"}));
    // What can be shown is: the maximum that does not fit is no column.
    QCOMPARE(list->topLevelItem(4)->text(4), QString());
    QVERIFY(!list->topLevelItem(2)->toolTip(syncKindColumn).isEmpty());
}

void TestPageRows::untouchedSourcesKeepTheirBytes()
{
    ConfFile conf(fourSources);
    FOptSync page;
    page.saveSettings();
    // The empty statistics line the writer always has goes first.
    QCOMPARE(conf.read(), "\n" + fourSources);
}

void TestPageRows::editKeepsWhatTheRecordCannotHold()
{
    ConfFile conf(fourSources);
    FOptSync page;
    QTreeWidget* list = listOf(page, "twServers");
    for (int row : {2, 4}) {
        list->setCurrentItem(list->topLevelItem(row));
        TestHelpers::onNextDialog<FOptSync_Add>([](FOptSync_Add* dialog) {
            dialog->prevailBox->setChecked(true);
            dialog->buttonBox->button(QDialogButtonBox::Ok)->click();
        });
        page.Edit_clicked();
    }
    QCOMPARE(list->topLevelItem(2)->text(syncKindColumn), QStringLiteral("Peer"));
    QVERIFY(list->topLevelItem(4)->text(syncLineColumn).contains("maxpoll 99999999999"));
    page.saveSettings();
    const QStringList peers = linesOf(conf.read(), "peer");
    QCOMPARE(peers.size(), 1);
    QVERIFY(peers.first().startsWith("peer 192.168.1.2 "));
    QVERIFY(peers.first().contains(" prefer"));
    const QStringList servers = linesOf(conf.read(), "server");
    QCOMPARE(servers.size(), 3);
    QVERIFY(servers.at(2).contains("prefer"));
    QVERIFY(servers.at(2).contains("maxpoll 99999999999"));
    QVERIFY(servers.at(2).endsWith("# kept"));
    QCOMPARE(servers.at(0), QStringLiteral("server -4 a.example iburst"));
}

void TestPageRows::accessLineShowsKod()
{
    ConfFile conf(fourSources + "restrict default noquery\n");
    FOptAccess page;
    QTreeWidget* list = listOf(page, "twList");
    QCOMPARE(list->headerItem()->text(accessLineColumn), QStringLiteral("Line"));
    QCOMPARE(column(list, accessLineColumn),
             (QStringList{"restrict default kod nomodify", "restrict default noquery"}));
    // The further default line says how the daemon combines the two.
    QVERIFY(list->topLevelItem(1)->toolTip(0).contains("flags of both lines apply"));
    QVERIFY(list->topLevelItem(0)->toolTip(0).isEmpty());
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), "restrict"),
             (QStringList{"restrict default kod nomodify", "restrict default noquery"}));
}

void TestPageRows::bracketedIpv6IsIpv6()
{
    ConfFile conf("restrict [fe80::1] nomodify\nrestrict ntp.example nomodify\n");
    FOptAccess page;
    QCOMPARE(column(listOf(page, "twList"), 3), (QStringList{"IPv6", "Host name"}));
}

void TestPageRows::broadcastDelayHasUnit()
{
    ConfFile conf("broadcastdelay 5\n");
    FOptOther page;
    auto* unit = page.findChild<QLabel*>(QStringLiteral("lbBroadcastDelayUnit"));
    QVERIFY(unit);
    QCOMPARE(unit->text(), QStringLiteral("seconds"));
}

void TestPageRows::quotedLogFileShowsWithoutQuotes()
{
    ConfFile conf("logfile \"/var/log/ntp.log\"\n");
    FOptOther page;
    auto* edit = page.findChild<QLineEdit*>(QStringLiteral("leLogFile"));
    QCOMPARE(edit->text(), QStringLiteral("/var/log/ntp.log"));
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), "logfile"), QStringList{"logfile \"/var/log/ntp.log\""});
    edit->setText(QStringLiteral("/var/log/ntp2.log"));
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), "logfile"), QStringList{"logfile /var/log/ntp2.log"});
}

void TestPageRows::hardwareClockOfTooLargeMode()
{
    const QByteArray text = "server 127.127.1.0 mode 4294967295 prefer true\n"
                            "fudge 127.127.1.0 stratum 10\n";
    ConfFile conf(text);
    FOptHWClock page;
    QTreeWidget* list = listOf(page, "twList");
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("yes"));
    QVERIFY(list->topLevelItem(0)->text(10).contains("mode 4294967295"));
    page.saveSettings();
    QCOMPARE(conf.read(), "\n" + text);

    // Edited, the page's mode takes the place of the one it could not hold.
    list->setCurrentItem(list->topLevelItem(0));
    TestHelpers::onNextDialog<FOptHWClock_Add>([](FOptHWClock_Add* dialog) {
        dialog->leRefId->setText(QStringLiteral("LOCL"));
        dialog->okButton()->click();
    });
    page.Edit_clicked();
    page.saveSettings();
    const QStringList servers = linesOf(conf.read(), "server");
    QCOMPARE(servers.size(), 1);
    QCOMPARE(servers.first().count(QStringLiteral(" mode ")), 1);
    QVERIFY(!servers.first().contains("4294967295"));
    QVERIFY(servers.first().contains(" true"));
}

void TestPageRows::poolNtsBeforeNtpsec125()
{
    const QByteArray text = "pool p.example iburst nts\nserver s.example nts\n";
    {
        DaemonAs old(ntpsec("1.2.2"));
        ConfFile conf(text);
        FOptSync page;
        QTreeWidget* list = listOf(page, "twServers");
        QVERIFY(list->topLevelItem(0)->text(syncKindColumn).contains("not authenticate"));
        QCOMPARE(list->topLevelItem(1)->text(syncKindColumn), QStringLiteral("Server, NTS"));
        bool offeredForPool = true;
        bool offeredForServer = false;
        TestHelpers::onNextDialog<FOptSync_Add>([&](FOptSync_Add* dialog) {
            dialog->poolButton->click();
            offeredForPool = dialog->ntsBox->isEnabled();
            dialog->serverButton->click();
            offeredForServer = dialog->ntsBox->isEnabled();
            dialog->buttonBox->button(QDialogButtonBox::Cancel)->click();
        });
        page.Add_clicked();
        QVERIFY(!offeredForPool);
        QVERIFY(offeredForServer);
        // Unchanged, the word stays.
        page.saveSettings();
        QCOMPARE(conf.read(), "\n" + text);
    }
    DaemonAs current(ntpsec("1.2.5"));
    ConfFile conf(text);
    FOptSync page;
    QCOMPARE(listOf(page, "twServers")->topLevelItem(0)->text(syncKindColumn),
             QStringLiteral("Pool, NTS"));
}

void TestPageRows::broadcastNotice()
{
    DaemonSetup classic;
    classic.flavour = DaemonFlavour::Classic;
    DaemonAs daemon(classic);
    ConfFile conf("broadcast 192.168.1.255\nbroadcast 10.255.255.255\n");
    {
        FBroadcast page;
        auto* notice = page.findChild<QLabel*>(QStringLiteral("lbModeNotice"));
        QVERIFY(notice);
        QCOMPARE(notice->text(), QStringLiteral("This server broadcasts on 2 networks and does not "
                                                "listen to broadcasts; 'Client only' stops "
                                                "broadcasting, 'Client and server' also listens"));
        QVERIFY(!notice->isHidden());
        QCOMPARE(listOf(page, "twList")->topLevelItemCount(), 2);
    }
    conf.write("broadcastclient\nbroadcast 192.168.1.255\n");
    {
        FBroadcast page;
        QVERIFY(page.findChild<QLabel*>(QStringLiteral("lbModeNotice"))->isHidden());
    }
    DaemonAs sec(ntpsec("1.2.2"));
    FBroadcast page;
    QVERIFY(page.findChild<QLabel*>(QStringLiteral("lbModeNotice"))
                ->text()
                .contains("NTPsec has no broadcast mode"));
}

void TestPageRows::dhcpServersReplaceTheFiles()
{
    if (geteuid() != 0)
        QSKIP("the DHCP copy must be root's");
    QTemporaryDir dir;
    const QString copy = dir.filePath("ntp.conf.dhcp");
    {
        QFile file(copy);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("server 192.0.2.10 iburst\npool dhcp.example\n");
    }
    DaemonSetup setup;
    setup.dhcpConfig = copy;
    DaemonAs daemon(setup);
    const QByteArray text = "pool 0.debian.pool.ntp.org iburst\n";
    ConfFile conf(text);
    FOptSync page;
    QTreeWidget* list = listOf(page, "twServers");
    QCOMPARE(column(list, 0), (QStringList{"0.debian.pool.ntp.org", "192.0.2.10", "dhcp.example"}));
    QCOMPARE(column(list, syncKindColumn),
             (QStringList{"Pool", "Server, from DHCP", "Pool, from DHCP"}));
    QVERIFY(list->topLevelItem(0)->toolTip(0).contains("Not used meanwhile"));
    QVERIFY(list->topLevelItem(1)->toolTip(0).contains(copy));
    QVERIFY(!(list->topLevelItem(1)->flags() & Qt::ItemIsEditable));

    // Read-only: editing says so and changes nothing, saving leaves them out.
    list->setCurrentItem(list->topLevelItem(1));
    TestHelpers::BoxSeen box;
    TestHelpers::answerNextBox(QMessageBox::Ok, &box);
    page.Edit_clicked();
    QVERIFY(box.text.contains("DHCP"));
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), "server"), QStringList());
    QCOMPARE(linesOf(conf.read(), "pool"), QStringList{"pool 0.debian.pool.ntp.org iburst"});

    // A copy others could have written decides nothing.
    QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther |
                                            QFile::WriteOther));
    page.loadSettings();
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(1)->text(syncKindColumn), QStringLiteral("From DHCP: not shown"));
}

void TestPageRows::corpusLogConfigOfAllItems()
{
    // "=allall -allinfo ... +allall ...": every class reports everything.
    const QString path = corpusDir().filePath(QStringLiteral("ntp-4.2.8p15-ntpd-complete.conf"));
    if (!QFile::exists(path))
        QSKIP("no corpus");
    setNtpConfPathForTesting(path);
    FOptMessage page;
    setNtpConfPathForTesting(QStringLiteral("/nonexistent/ntp-service-manager-test/ntp.conf"));
    const QList<QCheckBox*> allBoxes = page.findChildren<QCheckBox*>(QStringLiteral("chbAll"));
    QCOMPARE(allBoxes.size(), 4);
    for (QCheckBox* box : allBoxes)
        QVERIFY(box->isChecked());
}

void TestPageRows::corpusLogConfigKeptByUnchangedSave()
{
    int filesWithLogConfig = 0;
    for (const QString& name : corpusFiles()) {
        const QByteArray bytes = TestHelpers::readFile(corpusDir().filePath(name));
        const QStringList before = linesOf(bytes, QStringLiteral("logconfig"));
        if (before.isEmpty())
            continue;
        ++filesWithLogConfig;
        ConfFile conf(bytes); // a scratch copy: the page writes
        FOptMessage page;
        page.saveSettings();
        // "=" separates words for the reader; a bare item sets, as "=" does.
        QCOMPARE(linesOf(conf.read(), QStringLiteral("logconfig")),
                 QStringList(QString(before.first()).remove(QLatin1Char('='))));
    }
    if (filesWithLogConfig == 0)
        QSKIP("no corpus file with a logconfig line");
}

void TestPageRows::corpusLinesAreRows_data()
{
    QTest::addColumn<QString>("name");
    const QStringList files = corpusFiles();
    for (const QString& name : files)
        QTest::newRow(qPrintable(name)) << name;
}

void TestPageRows::corpusLinesAreRows()
{
    QFETCH(QString, name);
    const QString path = corpusDir().filePath(name);
    const QList<QStringList> lines = directiveLines(TestHelpers::readFile(path));
    // Read in place; nothing here writes.
    struct InPlace {
        explicit InPlace(const QString& file) { setNtpConfPathForTesting(file); }
        ~InPlace()
        {
            setNtpConfPathForTesting(
                QStringLiteral("/nonexistent/ntp-service-manager-test/ntp.conf"));
        }
    } inPlace(path);
    {
        FOptSync sync;
        QCOMPARE(listOf(sync, "twServers")->topLevelItemCount(), timeSourceLines(lines));
        FOptAccess access;
        QCOMPARE(listOf(access, "twList")->topLevelItemCount(), restrictLines(lines));
        FOptHWClock clocks;
        QCOMPARE(listOf(clocks, "twList")->topLevelItemCount(), clockLines(lines));
        FBroadcast broadcast;
        QCOMPARE(listOf(broadcast, "twList")->topLevelItemCount(), broadcastLines(lines));
    }
}

QTEST_MAIN(TestPageRows)
#include "tst_pagerows.moc"
