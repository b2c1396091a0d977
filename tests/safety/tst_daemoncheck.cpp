// The real NTP daemon judges what the pages write: for realistic files, an
// unchanged apply of every page and typical edits through the page widgets
// must not draw a complaint from the daemon's parser that the original file
// did not draw already.
//
// The daemon is run by two scripts (sandboxed, without network) in the
// directory named by NTPSM_DAEMON_TOOLS; without it the test is skipped.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/fntp.h"
#include "daemon/daemonsetup.h"
#include "pages/foptaccess.h"
#include "pages/foptaccess_addany.h"
#include "pages/fopthwclock.h"
#include "pages/foptmessage.h"
#include "pages/foptmessage_settings.h"
#include "pages/foptother.h"
#include "pages/foptstats.h"
#include "pages/foptsync.h"
#include "pages/foptsync_add.h"
#include "pages/modifiablewidget.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;

namespace
{

const char* const toolsVariable = "NTPSM_DAEMON_TOOLS";

struct ToolResult {
    int exitCode = -1;
    QString output;
};

// Runs one of the daemon check scripts and collects what it printed.
ToolResult runTool(const QString& script, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(script, arguments);
    ToolResult result;
    if (!process.waitForFinished(180000)) {
        process.kill();
        process.waitForFinished();
        result.output = QStringLiteral("%1 did not finish").arg(script);
        return result;
    }
    result.output = QString::fromLocal8Bit(process.readAll());
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

// Rejects any modal widget that shows up while it lives and remembers its
// text: an apply that asks something here is a failure, not a hang.
class UnexpectedModalGuard
{
public:
    UnexpectedModalGuard()
    {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible())
                return;
            // The check's question about lines the installed daemon rejects
            // is answered with Apply: the daemon itself judges the written
            // file afterwards, against what it said of the original.
            if (auto* anyway = modal->findChild<QAbstractButton*>(QStringLiteral("bApplyAnyway"))) {
                m_answered.append(qobject_cast<QMessageBox*>(modal)->text());
                anyway->click();
                return;
            }
            m_seen.append(modal->windowTitle());
            if (auto* box = qobject_cast<QMessageBox*>(modal))
                m_seen.last() += QStringLiteral(": ") + box->text();
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
        });
        m_timer.start();
    }
    QStringList seen() const { return m_seen; }
    QStringList answered() const { return m_answered; }

private:
    QTimer m_timer;
    QStringList m_seen;
    QStringList m_answered;
};

} // namespace

class TestDaemonCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { QCOMPARE(rejectOpenModals(), 0); }

    void toolsTellNewComplaints();
    void unchangedApplyOfEveryPage_data() { addSampleRows(); }
    void unchangedApplyOfEveryPage();
    void typicalEdit_data();
    void typicalEdit();

private:
    void addSampleRows();
    void showTheToolsWork(const QString& original);
    void addTimeServer(FNTP& window, const ConfFile& conf);
    void toggleCalibrate(FNTP& window, const ConfFile& conf);
    void toggleMessageReporting(FNTP& window, const ConfFile& conf);
    void changeLogFile(FNTP& window, const ConfFile& conf);
    void addTimeSource(FNTP& window, const ConfFile& conf, bool pool, bool nts);
    void editOtherAccessRule(FNTP& window, const ConfFile& conf);
    void applyEditedPage(FNTP& window, ModifiableWidget* page, const QString& what);
    static bool isExpectedWarning(const ModifiableWidget* page, const QString& box);
    void checkNoNewComplaints(const QString& original, const QString& written, const QString& what);
    QString snapshot(const QString& path);
    QString script(const char* name) const { return QDir(m_tools).filePath(QLatin1String(name)); }

    QString m_tools;
    QString m_samples;
    QTemporaryDir m_work;
    int m_snapshots = 0;
    // Verdicts by original and written content: unchanged applies of several
    // pages often write the same file, and every daemon run takes seconds.
    QHash<QByteArray, ToolResult> m_verdicts;
};

void TestDaemonCheck::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_tools = qEnvironmentVariable(toolsVariable);
    if (m_tools.isEmpty())
        QSKIP("NTPSM_DAEMON_TOOLS is not set: the check against the real NTP daemon runs only "
              "from scripts/ci-daemon-check.sh");
    QVERIFY2(QFileInfo(script("ntpd-accepts.sh")).isExecutable(), qPrintable(m_tools));
    QVERIFY2(QFileInfo(script("ntpd-new-complaints.sh")).isExecutable(), qPrintable(m_tools));
    // NTPSM_DAEMON_SAMPLES: another folder of *.conf files to judge, e.g. a
    // collection of real files; the project's own samples otherwise.
    m_samples = qEnvironmentVariable("NTPSM_DAEMON_SAMPLES", QFINDTESTDATA("../../fuzz/seeds"));
    QVERIFY2(!m_samples.isEmpty(), "the sample configuration files are missing");
    QVERIFY(m_work.isValid());
}

void TestDaemonCheck::addSampleRows()
{
    QTest::addColumn<QString>("sample");
    const QStringList names = QDir(m_samples).entryList({QStringLiteral("*.conf")}, QDir::Files);
    QVERIFY(!names.isEmpty());
    for (const QString& name : names)
        QTest::newRow(qPrintable(name)) << QDir(m_samples).filePath(name);
}

// A copy of the file as it is now, so that the daemon judges a file that no
// later apply changes under it.
QString TestDaemonCheck::snapshot(const QString& path)
{
    const QString copy = m_work.filePath(QStringLiteral("written-%1.conf").arg(++m_snapshots));
    if (!writeFile(copy, readFile(path)))
        return QString();
    return copy;
}

void TestDaemonCheck::toolsTellNewComplaints()
{
    const QString clean = m_work.filePath(QStringLiteral("clean.conf"));
    const QString broken = m_work.filePath(QStringLiteral("broken.conf"));
    QVERIFY(writeFile(clean, "server 192.0.2.1 iburst\nrestrict default nomodify\n"));
    QVERIFY(writeFile(broken, "server 192.0.2.1 iburst\nrestrict default nomodify\n"
                              "server 192.0.2.2 minpoll\n"));

    const ToolResult same = runTool(script("ntpd-new-complaints.sh"), {clean, clean});
    if (same.exitCode == 2)
        QSKIP(qPrintable(QStringLiteral("the daemon cannot run here: ") + same.output));
    QVERIFY2(same.exitCode == 0, qPrintable(same.output));
    const ToolResult worse = runTool(script("ntpd-new-complaints.sh"), {clean, broken});
    QVERIFY2(worse.exitCode == 1, qPrintable(worse.output));
}

void TestDaemonCheck::showTheToolsWork(const QString& original)
{
    const ToolResult verdict = runTool(script("ntpd-accepts.sh"), {original});
    if (verdict.exitCode == 2)
        QSKIP(qPrintable(QStringLiteral("the daemon cannot run here: ") + verdict.output));
    QVERIFY2(verdict.exitCode == 0 || verdict.exitCode == 1, qPrintable(verdict.output));
    qInfo("daemon on the original (%s):\n%s", verdict.exitCode == 0 ? "accepted" : "complaints",
          qPrintable(verdict.output.trimmed()));
}

void TestDaemonCheck::checkNoNewComplaints(const QString& original, const QString& written,
                                           const QString& what)
{
    QVERIFY2(!written.isEmpty(), "cannot copy the written file");
    const QByteArray key = QCryptographicHash::hash(readFile(original) + '\0' + readFile(written),
                                                    QCryptographicHash::Sha256);
    auto cached = m_verdicts.constFind(key);
    const ToolResult verdict = cached != m_verdicts.constEnd()
                                   ? *cached
                                   : runTool(script("ntpd-new-complaints.sh"), {original, written});
    m_verdicts.insert(key, verdict);
    const QString message = QStringLiteral("%1: the daemon has new complaints (exit %2):\n%3\n"
                                           "--- written file:\n%4")
                                .arg(what)
                                .arg(verdict.exitCode)
                                .arg(verdict.output, QString::fromLocal8Bit(readFile(written)));
    QVERIFY2(verdict.exitCode == 0, qPrintable(message));
}

// The statistics page replaces a statistics directory that does not exist
// on this machine by /var/log/ and says so; that is no failure of the apply.
bool TestDaemonCheck::isExpectedWarning(const ModifiableWidget* page, const QString& box)
{
    return qobject_cast<const FOptStats*>(page) &&
           box.contains(QLatin1String("not exists and will be changed to /var/log/"));
}

// Applies the page the window is editing and checks that it went through
// without a question or an error.
void TestDaemonCheck::applyEditedPage(FNTP& window, ModifiableWidget* page, const QString& what)
{
    QVERIFY2(window.editedPage() == page, qPrintable(what + QStringLiteral(": no edit state")));
    auto* apply = window.findChild<QAction*>(QStringLiteral("applyAction"));
    QVERIFY(apply);
    QVERIFY(apply->isEnabled());
    UnexpectedModalGuard guard;
    apply->trigger();
    for (const QString& question : guard.answered())
        qInfo("%s applied although asked: %s", qPrintable(what), qPrintable(question));
    for (const QString& box : guard.seen()) {
        if (isExpectedWarning(page, box))
            qInfo("%s warned: %s", qPrintable(what), qPrintable(box));
        else
            QFAIL(qPrintable(what + QStringLiteral(" asked: ") + box));
    }
    QVERIFY2(!window.editedPage(), qPrintable(what + QStringLiteral(": still editing")));
    QVERIFY2(ModifiableWidget::lastWriteError().isEmpty(),
             qPrintable(ModifiableWidget::lastWriteError()));
}

void TestDaemonCheck::unchangedApplyOfEveryPage()
{
    QFETCH(QString, sample);
    const QString original = snapshot(sample);
    showTheToolsWork(original);
    if (QTest::currentTestFailed())
        return;

    ConfFile conf(readFile(original));
    FNTP window;
    openEveryPage(&window);
    const QList<ModifiableWidget*> pages = window.findChildren<ModifiableWidget*>();
    QCOMPARE(pages.size(), 7);
    for (ModifiableWidget* page : pages) {
        const QString what = QString::fromLatin1(page->metaObject()->className());
        {
            // As Refresh does: show what the last apply of another page wrote.
            const QSignalBlocker blocker(page);
            page->loadSettings();
        }
        emit page->dataChanged(page);
        applyEditedPage(window, page, what);
        if (QTest::currentTestFailed())
            return;
        checkNoNewComplaints(original, snapshot(conf.path()), what);
        if (QTest::currentTestFailed())
            return;
    }
}

// One typical edit through a page's widgets on a fresh window over the
// original file, so that every edit is judged even when another one fails.
void TestDaemonCheck::typicalEdit_data()
{
    QTest::addColumn<QString>("sample");
    QTest::addColumn<int>("edit");
    const QStringList names = QDir(m_samples).entryList({QStringLiteral("*.conf")}, QDir::Files);
    const char* const edits[] = {"time server added",
                                 "calibrate toggled",
                                 "message reporting changed",
                                 "log file changed",
                                 "pool added",
                                 "NTS server added",
                                 "access rule of another form edited"};
    for (const QString& name : names) {
        for (int edit = 0; edit < int(std::size(edits)); ++edit)
            QTest::addRow("%s: %s", qPrintable(name), edits[edit])
                << QDir(m_samples).filePath(name) << edit;
    }
}

void TestDaemonCheck::typicalEdit()
{
    QFETCH(QString, sample);
    QFETCH(int, edit);
    const QString original = snapshot(sample);
    ConfFile conf(readFile(original));
    FNTP window;
    const QString what = QString::fromLatin1(QTest::currentDataTag());
    switch (edit) {
    case 0:
        addTimeServer(window, conf);
        break;
    case 1:
        toggleCalibrate(window, conf);
        break;
    case 2:
        toggleMessageReporting(window, conf);
        break;
    case 3:
        changeLogFile(window, conf);
        break;
    case 4:
        addTimeSource(window, conf, true, false);
        break;
    case 5:
        addTimeSource(window, conf, false, true);
        break;
    default:
        editOtherAccessRule(window, conf);
        break;
    }
    if (QTest::currentTestFailed())
        return;
    checkNoNewComplaints(original, snapshot(conf.path()), what);
}

void TestDaemonCheck::addTimeServer(FNTP& window, const ConfFile& conf)
{
    auto* sync = openPage<FOptSync>(&window);
    QVERIFY(sync);
    auto* add = sync->findChild<QPushButton*>(QStringLiteral("bAdd"));
    QVERIFY(add);
    onNextDialog<FOptSync_Add>([](FOptSync_Add* dialog) {
        dialog->addressBox->setEditText(QStringLiteral("192.0.2.99"));
        dialog->iburstBox->setChecked(true);
        dialog->buttonBox->button(QDialogButtonBox::Ok)->click();
    });
    add->click();
    applyEditedPage(window, sync, QStringLiteral("time servers"));
    const QRegularExpression serverLine(QStringLiteral("(^|\\n)server 192.0.2.99 "));
    QVERIFY(QString::fromLocal8Bit(conf.read()).contains(serverLine));
}

void TestDaemonCheck::toggleCalibrate(FNTP& window, const ConfFile& conf)
{
    auto* clock = openPage<FOptHWClock>(&window);
    QVERIFY(clock);
    auto* calibrate = clock->findChild<QCheckBox*>(QStringLiteral("chbCalibrate"));
    QVERIFY(calibrate);
    const bool calibrating = !calibrate->isChecked();
    calibrate->click();
    applyEditedPage(window, clock, QStringLiteral("hardware clock"));
    QCOMPARE(conf.read().contains("enable calibrate\n"), calibrating);
}

void TestDaemonCheck::toggleMessageReporting(FNTP& window, const ConfFile& conf)
{
    auto* message = openPage<FOptMessage>(&window);
    QVERIFY(message);
    FOptMessage_Settings* reporting = nullptr;
    for (FOptMessage_Settings* settings : message->findChildren<FOptMessage_Settings*>()) {
        if (settings->chbEvents->isEnabled())
            reporting = settings;
    }
    const QByteArray before = conf.read();
    if (reporting) {
        reporting->chbEvents->click();
    } else { // every class reports "all": take one back
        const auto tabs = message->findChildren<FOptMessage_Settings*>();
        QVERIFY(!tabs.isEmpty());
        tabs.first()->chbAll->click();
    }
    applyEditedPage(window, message, QStringLiteral("message reporting"));
    QVERIFY(conf.read() != before);
}

void TestDaemonCheck::changeLogFile(FNTP& window, const ConfFile& conf)
{
    auto* other = openPage<FOptOther>(&window);
    QVERIFY(other);
    auto* logFile = other->findChild<QLineEdit*>(QStringLiteral("leLogFile"));
    QVERIFY(logFile);
    logFile->clear();
    QTest::keyClicks(logFile, QStringLiteral("/var/log/ntpsec/ntpd-checked"));
    applyEditedPage(window, other, QStringLiteral("additional options"));
    // Words after the value and a trailing comment of the old line stay.
    const QRegularExpression logLine(
        QStringLiteral("(^|\\n)logfile /var/log/ntpsec/ntpd-checked[ \\n]"));
    QVERIFY(QString::fromLocal8Bit(conf.read()).contains(logLine));
}

// A pool, or an NTS server as offered where the daemon is NTPsec.
void TestDaemonCheck::addTimeSource(FNTP& window, const ConfFile& conf, bool pool, bool nts)
{
    const DaemonSetup before = currentDaemon();
    DaemonSetup ntpsec;
    ntpsec.flavour = DaemonFlavour::Ntpsec;
    if (nts)
        setCurrentDaemon(ntpsec);
    // Until the page is applied: it writes "nts" only for NTPsec.
    const auto restore = qScopeGuard([before] { setCurrentDaemon(before); });
    auto* sync = openPage<FOptSync>(&window);
    QVERIFY(sync);
    onNextModal([pool, nts](QWidget* modal) {
        auto* dialog = qobject_cast<FOptSync_Add*>(modal);
        if (!dialog)
            return;
        dialog->addressBox->setEditText(pool ? QStringLiteral("pool.example.org")
                                             : QStringLiteral("nts.example.org"));
        (pool ? dialog->poolButton : dialog->serverButton)->click();
        if (nts && dialog->ntsBox)
            dialog->ntsBox->click();
        dialog->iburstBox->setChecked(true);
        dialog->buttonBox->button(QDialogButtonBox::Ok)->click();
    });
    sync->findChild<QPushButton*>(QStringLiteral("bAdd"))->click();
    applyEditedPage(window, sync, QStringLiteral("time sources"));
    const QString line = pool ? QStringLiteral("(^|\\n)pool pool.example.org .*iburst")
                              : QStringLiteral("(^|\\n)server nts.example.org .*iburst nts\\n");
    QVERIFY(QString::fromLocal8Bit(conf.read()).contains(QRegularExpression(line)));
}

// The first access rule the IPv4 fields cannot hold gets another address
// and the denied mode.
void TestDaemonCheck::editOtherAccessRule(FNTP& window, const ConfFile& conf)
{
    auto* access = openPage<FOptAccess>(&window);
    QVERIFY(access);
    auto* list = access->findChild<QTreeWidget*>(QStringLiteral("twList"));
    QTreeWidgetItem* other = nullptr;
    for (int i = 0; i < list->topLevelItemCount() && !other; ++i) {
        const QString family = list->topLevelItem(i)->text(3);
        if (family != QLatin1String("IPv4") && family != QLatin1String("IPv4 and IPv6"))
            other = list->topLevelItem(i);
    }
    if (!other)
        QSKIP("the sample has no access rule of another form");
    list->setCurrentItem(other);
    onNextModal([](QWidget* modal) {
        auto* dialog = qobject_cast<FOptAccess_AddAny*>(modal);
        if (!dialog)
            return;
        dialog->targetGroup->button(FOptAccess_AddAny::AddressTarget)->click();
        dialog->cbFamily->setCurrentIndex(0);
        dialog->leAddress->setText(QStringLiteral("2001:db8:99::/48"));
        dialog->modeGroup->button(FOptAccess_Add::Denied)->click();
        dialog->chbKod->click();
        dialog->buttonBox->button(QDialogButtonBox::Ok)->click();
    });
    access->Edit_clicked();
    applyEditedPage(window, access, QStringLiteral("access"));
    QVERIFY(conf.read().contains("\nrestrict 2001:db8:99::/48 ignore kod"));
}

QTEST_MAIN(TestDaemonCheck)
#include "tst_daemoncheck.moc"
