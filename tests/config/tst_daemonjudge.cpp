// The daemon as the judge of the check: its real output (NTPsec 1.2.2,
// captured with the judging command) read into findings, merged with the
// rules, cached and queued; and, as root with the daemon installed, the judge
// against the real NTPsec on the public corpus, and under strace.
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "config/config.h"
#include "config/daemonjudge.h"
#include "host/host.h"
#include "host/processrunner.h"
#include "tests/common/testfiles.h"

#include <unistd.h>

using namespace TestHelpers;

namespace
{
DaemonSetup ntpsec(const char* version = "1.2.2")
{
    DaemonSetup setup;
    setup.flavour = DaemonFlavour::Ntpsec;
    setup.version = QLatin1String(version);
    return setup;
}

QString judgeData(const QString& name)
{
    return sourceFile(QStringLiteral("tests/config/data/judge/") + name);
}

QVector<ConfigLine> linesOf(const QByteArray& bytes)
{
    FileContent content;
    content.bytes = bytes;
    QVector<ConfigLine> lines;
    parseConfigContent(content, &lines, nullptr);
    return lines;
}

DaemonVerdict fixtureVerdict(const char* name)
{
    const QByteArray conf = readFile(judgeData(QLatin1String(name) + QStringLiteral(".conf")));
    const QByteArray out = readFile(judgeData(QLatin1String(name) + QStringLiteral(".out")));
    return verdictOfJudgeOutput(out, linesOf(conf), QStringLiteral("/etc/ntpsec/ntp.conf"));
}

// Compares with tests/config/data/judge/NAME.findings; NTPSM_UPDATE_GOLDEN=1
// writes it anew.
void compareWithGolden(const QVector<CheckFinding>& findings, const char* name)
{
    const QString golden = sourceFile(QStringLiteral("tests/config/data/judge")) +
                           QStringLiteral("/%1.findings").arg(QLatin1String(name));
    if (qEnvironmentVariableIsSet("NTPSM_UPDATE_GOLDEN"))
        QVERIFY(writeFile(golden, findingsText(findings).toUtf8()));
    QCOMPARE(findingsText(findings), QString::fromUtf8(readFile(golden)));
}

bool canAskTheDaemon()
{
    return ::geteuid() == 0 &&
           !QStandardPaths::findExecutable(QStringLiteral("ntpd"), {QStringLiteral("/usr/sbin")})
                .isEmpty();
}

QSet<int> errorLines(const QVector<CheckFinding>& findings)
{
    QSet<int> lines;
    for (const CheckFinding& finding : findings) {
        if (finding.severity == CheckFinding::Error)
            lines.insert(finding.line);
    }
    return lines;
}

QByteArray blanked(const QByteArray& bytes, const QSet<int>& lines)
{
    QList<QByteArray> rows = bytes.split('\n');
    for (int line : lines) {
        if (line > 0 && line <= rows.size())
            rows[line - 1].clear();
    }
    return rows.join('\n');
}

// Stands in for the host's commands: every judgement "runs" and gives
// `result`, so that the judge's cache and queue can be watched.
class CannedRunner : public ProcessRunner
{
public:
    QList<QByteArray> inputs;
    ProcessResult result;

    ProcessJob* start(const QString&, const QStringList&, const ProcessOptions& options) override
    {
        inputs << options.input;
        return ProcessJob::finishedWith(result, 20);
    }
};

// One system call of an strace -f log, split calls joined.
struct TracedCall {
    QString pid, name, args, line;
    long long result = -1;
};

QVector<TracedCall> tracedCalls(const QString& path)
{
    static const QRegularExpression head(QStringLiteral("^(\\d+) +(.*)$"));
    static const QRegularExpression call(QStringLiteral("^(\\w+)\\((.*)\\) += (-?\\d+)"));
    QVector<TracedCall> calls;
    QHash<QString, QString> unfinished;
    for (const QString& line : QString::fromUtf8(readFile(path)).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = head.match(line);
        if (!m.hasMatch())
            continue;
        QString rest = m.captured(2);
        if (rest.endsWith(QLatin1String(" <unfinished ...>"))) {
            unfinished[m.captured(1)] = rest.chopped(17);
            continue;
        }
        if (rest.startsWith(QLatin1String("<... ")))
            rest = unfinished.take(m.captured(1)) + rest.section(QLatin1String("resumed>"), 1);
        const QRegularExpressionMatch c = call.match(rest);
        if (c.hasMatch())
            calls.append(
                {m.captured(1), c.captured(1), c.captured(2), rest, c.captured(3).toLongLong()});
    }
    return calls;
}
} // namespace

class TestDaemonJudge : public QObject
{
    Q_OBJECT

private slots:
    void realOutputBecomesFindings();
    void daemonThatStops();
    void classicDaemonFormat();
    void mergeKeepsOneFindingPerLineAndTopic();
    void judgeCachesAndQueues();
    void liveJudgeAgreesWithFixture();
    void corpusAgainstTheDaemon();
    void judgementLeavesNoTrace();
};

void TestDaemonJudge::realOutputBecomesFindings()
{
    const DaemonVerdict verdict = fixtureVerdict("daemon-complaints");
    QVERIFY(verdict.asked);
    QVERIFY(verdict.complete);
    QCOMPARE(verdict.daemonVersion, QStringLiteral("ntpsec-1.2.2"));
    compareWithGolden(verdict.findings, "daemon-complaints");
    // The two prose lines in a row, which the daemon names in two rounds;
    // the unusable mask on the line the daemon counts one too far.
    const QSet<int> errors = errorLines(verdict.findings);
    QCOMPARE(errors, (QSet<int>{4, 5, 10, 12, 15}));
    const QString text = findingsText(verdict.findings);
    QVERIFY(!text.contains(QLatin1String("/tmp/ntpsm-judge")));
    QVERIFY(text.contains(QLatin1String("line 10: error: ntpd: restrict: ignoring line 10, mask")));
    // What the sandbox causes is no finding: no devices, no right to set
    // the clock, the daemon's default statistics folder.
    QVERIFY(!text.contains(QLatin1String("ntp_adjtime")));
    QVERIFY(!text.contains(QLatin1String("/var/log/ntpsec/")));
    QVERIFY(judgeHostsEntries(linesOf("pool a.example\nrestrict -6 b.example\nserver 192.0.2.7\n"))
                .contains(QLatin1String("2001:db8::2 b.example\n")));
}

void TestDaemonJudge::daemonThatStops()
{
    // "refclock gpsd" stops Debian's daemon at once; the next round has that
    // line blanked and finds the rest.
    const DaemonVerdict verdict = fixtureVerdict("daemon-stops");
    QVERIFY(verdict.complete);
    QCOMPARE(errorLines(verdict.findings), (QSet<int>{2, 3}));
    const QByteArray conf = readFile(judgeData(QStringLiteral("daemon-stops.conf")));
    QByteArray firstRound = readFile(judgeData(QStringLiteral("daemon-stops.out")));
    firstRound.truncate(firstRound.indexOf("ntpsm-judge: exit 1") + 20);
    const DaemonVerdict cut = verdictOfJudgeOutput(firstRound, linesOf(conf), QString());
    QVERIFY(cut.asked);
    QVERIFY(!cut.complete);
    QCOMPARE(errorLines(cut.findings), QSet<int>{2});
    QVERIFY(
        findingsText(cut.findings).contains(QLatin1String("line 0: warning: The daemon stopped")));
    // Rules stay for what a daemon that stopped did not read.
    QVector<CheckFinding> rules = {{3, CheckFinding::Error, QStringLiteral("rule"), QString()}};
    QCOMPARE(mergeFindings(rules, cut).size(), cut.findings.size() + 1);
    QCOMPARE(mergeFindings(rules, verdict).size(), verdict.findings.size());
}

void TestDaemonJudge::classicDaemonFormat()
{
    const QByteArray out = "ntpsm-judge: judging /etc/ntp.conf\nntpsm-judge: round 1\n"
                           " 9 Dec 18:11:12 ntpd[41]: ntpd 4.2.8p15@1.3728-o (1): Starting\n"
                           " 9 Dec 18:11:12 ntpd[41]: line 2 column 1 syntax error, unexpected "
                           "T_String, expecting $end\n"
                           " 9 Dec 18:11:12 ntpd[41]: syntax error in /etc/ntp.conf line 2, "
                           "column 1\n"
                           " 9 Dec 18:11:12 ntpd[41]: Listen normally on 2 lo 127.0.0.1:123\n"
                           "ntpsm-judge: exit 124\nntpsm-judge: blanked 2\nntpsm-judge: round 2\n"
                           " 9 Dec 18:11:13 ntpd[42]: Listen normally on 2 lo 127.0.0.1:123\n"
                           "ntpsm-judge: exit 124\n";
    const DaemonVerdict verdict = verdictOfJudgeOutput(out, linesOf("server 192.0.2.1\nbogus\n"),
                                                       QStringLiteral("/etc/ntp.conf"));
    QCOMPARE(verdict.daemonVersion, QStringLiteral("4.2.8p15@1.3728-o"));
    QCOMPARE(
        findingsText(verdict.findings),
        QStringLiteral("line 2: error: ntpd: syntax error in /etc/ntp.conf line 2, column 1\n"));
}

void TestDaemonJudge::mergeKeepsOneFindingPerLineAndTopic()
{
    const QByteArray conf = readFile(judgeData(QStringLiteral("daemon-complaints.conf")));
    const DaemonVerdict verdict = fixtureVerdict("daemon-complaints");
    const QVector<CheckFinding> rules = checkConfiguration(conf, ntpsec());
    const QVector<CheckFinding> merged = mergeFindings(rules, verdict);
    QSet<QString> seen;
    for (const CheckFinding& finding : merged) {
        const QString key = QStringLiteral("%1 %2").arg(finding.line).arg(finding.topic);
        QVERIFY2(finding.topic.isEmpty() || !seen.contains(key), qPrintable(key));
        seen.insert(key);
        // Errors are the daemon's own words wherever it judged a line.
        if (finding.severity == CheckFinding::Error)
            QVERIFY2(finding.text.startsWith(QLatin1String("ntpd: ")), qPrintable(finding.text));
    }
    const QString text = findingsText(merged);
    // The rules explain the ignored flag better; the daemon says nothing of
    // nts on a pool line, nor of the missing "#" on its own.
    QVERIFY(text.contains(QLatin1String("line 9: warning: NTPsec accepts but ignores the restrict "
                                        "flag \"notrap\"")));
    QVERIFY(!text.contains(QLatin1String("ntpd: restrict notrap ignored")));
    QVERIFY(
        text.contains(QLatin1String("line 6: warning: NTPsec supports nts on pool lines only")));
    QVERIFY(!text.contains(QLatin1String("is no directive")));
    // A daemon that could not be asked leaves the rules to decide, and says so once.
    DaemonVerdict unasked;
    unasked.failure = QStringLiteral("unshare is not installed");
    const QVector<CheckFinding> alone = mergeFindings(rules, unasked);
    QCOMPARE(alone.size(), rules.size() + 1);
    QCOMPARE(alone.first().text, QStringLiteral("The daemon could not be asked: unshare is not "
                                                "installed. The rules alone judged this file."));
}

void TestDaemonJudge::judgeCachesAndQueues()
{
    CannedRunner runner;
    ProcessRunner::setInstanceForTesting(&runner);
    auto restore = qScopeGuard([] { ProcessRunner::setInstanceForTesting(nullptr); });
    runner.result.finished = true;
    runner.result.standardOutput = readFile(judgeData(QStringLiteral("daemon-stops.out")));
    DaemonJudge judge;
    QSignalSpy judged(&judge, &DaemonJudge::judged);
    const QByteArray a = judge.request({"a\n", QString(), ntpsec()});
    QCOMPARE(judge.request({"a\n", QString(), ntpsec()}), a);
    judge.request({"b\n", QString(), ntpsec()});
    const QByteArray c = judge.request({"c\n", QString(), ntpsec()}); // b waits no more
    QVERIFY(judge.waitFor({"c\n", QString(), ntpsec()}, 5000));
    QCOMPARE(runner.inputs, (QList<QByteArray>{"a\n", "c\n"}));
    QCOMPARE(judged.size(), 2);
    QVERIFY(judge.verdict(a)->asked);
    // Apply reuses the judgement made while editing, without a new run.
    DaemonCheck apply({"c\n", QString(), ntpsec()}, nullptr, &judge);
    QVERIFY(apply.isJudged());
    QCOMPARE(runner.inputs.size(), 2);
    QSignalSpy told(&apply, &DaemonCheck::judged);
    QVERIFY(told.wait(1000));

    // A host that cannot judge is not asked again.
    runner.result.exitCode = 3;
    runner.result.standardError = "unshare is not installed\n";
    const DaemonVerdict* first = judge.waitFor({"d\n", QString(), ntpsec()}, 5000);
    QVERIFY(first && !first->asked);
    QCOMPARE(first->failure, QStringLiteral("unshare is not installed"));
    DaemonCheck next({"e\n", QString(), ntpsec()}, nullptr, &judge);
    QVERIFY(next.isJudged());
    QCOMPARE(runner.inputs.size(), 3);
    QVERIFY(findingsText(next.findings()).contains(QLatin1String("could not be asked")));
}

void TestDaemonJudge::liveJudgeAgreesWithFixture()
{
    if (!canAskTheDaemon())
        QSKIP("needs root and NTPsec's ntpd");
    DaemonJudge judge;
    const JudgeSubject subject{readFile(judgeData(QStringLiteral("daemon-complaints.conf"))),
                               QString(), ntpsec()};
    const DaemonVerdict* verdict = judge.waitFor(subject, 60000);
    QVERIFY(verdict);
    QVERIFY2(verdict->asked, qPrintable(verdict->failure));
    // Told as the file it is meant for, the path the golden file names.
    DaemonVerdict shown = *verdict;
    for (CheckFinding& finding : shown.findings)
        finding.text.replace(QLatin1String("this file"), QLatin1String("/etc/ntpsec/ntp.conf"));
    compareWithGolden(shown.findings, "daemon-complaints");
}

// Every line the real daemon rejects in a corpus file is an error of the
// check, and every error of the check is a line it rejects: with the error
// lines blanked the daemon accepts the file, and each of them put back alone
// draws a complaint again. The daemon's answers come from ntpd-accepts.sh
// (../shared/tools), which asks it independently of the program.
void TestDaemonJudge::corpusAgainstTheDaemon()
{
    const QString tools =
        qEnvironmentVariable("NTPSM_DAEMON_TOOLS", qEnvironmentVariable("NTPSM_SOURCE_DIR") +
                                                       QStringLiteral("/../shared/tools"));
    const QDir corpus(qEnvironmentVariable("NTPSM_SOURCE_DIR") +
                      QStringLiteral("/../shared/corpus/ntpconf"));
    const QStringList names = corpus.entryList({QStringLiteral("*.conf*")}, QDir::Files);
    if (!canAskTheDaemon() ||
        !QFileInfo(tools + QStringLiteral("/ntpd-accepts.sh")).isExecutable() || names.isEmpty())
        QSKIP("needs root, NTPsec's ntpd, the corpus and ntpd-accepts.sh");
    // One judge per file, so that they run side by side.
    QVector<DaemonCheck*> checks;
    QObject owner;
    for (const QString& name : names)
        checks << new DaemonCheck({readFile(corpus.filePath(name)), QString(), ntpsec()}, &owner,
                                  new DaemonJudge(&owner));
    QTemporaryDir work;
    struct Question {
        QString file;
        bool rejected; // what the check says the daemon does with it
        QString what;
    };
    QVector<Question> questions;
    for (int i = 0; i < names.size(); ++i) {
        QVERIFY2(checks.at(i)->waitForJudgement(120000), qPrintable(names.at(i)));
        const QSet<int> errors = errorLines(checks.at(i)->findings());
        QVERIFY2(!errors.contains(0), qPrintable(names.at(i) + QLatin1Char('\n') +
                                                 findingsText(checks.at(i)->findings())));
        const QByteArray bytes = readFile(corpus.filePath(names.at(i)));
        const QString base = work.filePath(names.at(i));
        QVERIFY(writeFile(base, blanked(bytes, errors)));
        questions.append({base, false, names.at(i) + QStringLiteral(" without its error lines")});
        for (int line : errors) {
            const QString one = base + QStringLiteral(".%1").arg(line);
            QVERIFY(writeFile(one, blanked(bytes, errors - QSet<int>{line})));
            questions.append({one, true, names.at(i) + QStringLiteral(" line %1").arg(line)});
        }
    }
    // The daemon's answers, a few at a time: each takes a second of waiting.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NTPD_ACCEPTS_WAIT"), QStringLiteral("1"));
    for (int first = 0; first < questions.size(); first += 8) {
        std::vector<std::unique_ptr<QProcess>> asked;
        for (int i = first; i < qMin(first + 8, questions.size()); ++i) {
            asked.emplace_back(new QProcess);
            asked.back()->setProcessEnvironment(environment);
            asked.back()->setProcessChannelMode(QProcess::MergedChannels);
            asked.back()->start(tools + QStringLiteral("/ntpd-accepts.sh"), {questions.at(i).file});
        }
        for (size_t k = 0; k < asked.size(); ++k) {
            const Question& question = questions.at(first + int(k));
            QVERIFY(asked[k]->waitForFinished(60000));
            const QString answer = QString::fromUtf8(asked[k]->readAll());
            QVERIFY2(asked[k]->exitCode() <= 1, qPrintable(answer));
            QVERIFY2((asked[k]->exitCode() == 1) == question.rejected,
                     qPrintable(question.what + QLatin1Char('\n') + answer));
        }
    }
}

// The judgement under strace: it writes nothing outside its private folder,
// sends nothing from outside its own network namespace, mounts only inside
// its mount namespace, and never sets the clock.
void TestDaemonJudge::judgementLeavesNoTrace()
{
    const QString traced = qEnvironmentVariable("NTPSM_JUDGE_TRACED");
    const QByteArray conf =
        "server 192.0.2.1 iburst\npool pool.example iburst\n"
        "driftfile /var/lib/ntpsec/ntp.drift\nlogfile /var/log/judge.log\n"
        "statsdir /var/log/\nstatistics loopstats\n"
        "filegen loopstats file loopstats type day enable\nrefclock shm unit 0\n"
        "restrict default nomodify noquery\n";
    if (!traced.isEmpty()) { // the traced child: one judgement as the file `traced`
        DaemonJudge judge;
        const DaemonVerdict* verdict = judge.waitFor({conf, traced, ntpsec()}, 60000);
        QVERIFY(verdict && verdict->asked);
        QVERIFY(findingsText(verdict->findings).isEmpty());
        return;
    }
    if (!canAskTheDaemon() || QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
        QSKIP("needs root, NTPsec's ntpd and strace");
    QTemporaryDir work;
    const QString target = work.filePath(QStringLiteral("ntp.conf"));
    QVERIFY(writeFile(target, "server 192.0.2.3\n"));
    const QString trace = work.filePath(QStringLiteral("trace"));
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NTPSM_JUDGE_TRACED"), target);
    // LeakSanitizer cannot work under a tracer.
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(
        QStringLiteral("strace"),
        {QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-y"), QStringLiteral("-s"),
         QStringLiteral("400"), QStringLiteral("-o"), trace, QStringLiteral("-e"),
         QStringLiteral("trace=%file,%network,%process,%clock,mount,unshare"),
         QCoreApplication::applicationFilePath(), QStringLiteral("judgementLeavesNoTrace")});
    QVERIFY(child.waitForFinished(90000));
    QVERIFY2(child.exitCode() == 0, child.readAll().constData());
    QCOMPARE(readFile(target), QByteArray("server 192.0.2.3\n"));

    QHash<QString, QStringList> children;
    QSet<QString> inNamespace;
    QString folder;
    const QVector<TracedCall> calls = tracedCalls(trace);
    for (const TracedCall& c : calls) {
        if ((c.name.startsWith(QLatin1String("clone")) || c.name.endsWith(QLatin1String("fork"))) &&
            c.result > 0)
            children[c.pid] << QString::number(c.result);
        if (c.name == QLatin1String("unshare") && c.args.contains(QLatin1String("CLONE_NEWNET")) &&
            c.result == 0)
            inNamespace.insert(c.pid);
        if (c.name == QLatin1String("mkdir") && folder.isEmpty() &&
            c.args.startsWith(QLatin1String("\"/tmp/ntpsm-judge."))) {
            folder = c.args.section(QLatin1Char('"'), 1, 1);
            QVERIFY2(c.args.endsWith(QLatin1String(", 0700")), qPrintable(c.line));
        }
    }
    QVERIFY(!inNamespace.isEmpty());
    QVERIFY(!folder.isEmpty());
    QVERIFY(!QFileInfo::exists(folder));
    for (QStringList todo = inNamespace.values(); !todo.isEmpty();) {
        for (const QString& pid : children.value(todo.takeFirst())) {
            inNamespace.insert(pid);
            todo << pid;
        }
    }
    static const QRegularExpression writing(QStringLiteral("O_WRONLY|O_RDWR|O_CREAT|O_TRUNC"));
    static const QRegularExpression changing(QStringLiteral(
        "^(mkdir|mkdirat|rename|renameat2?|unlink|unlinkat|rmdir|symlink|symlinkat|link|linkat|"
        "chmod|fchmodat|chown|fchownat|lchown|truncate|mknod|mknodat|utimensat)$"));
    // strace -y shows the folder of a descriptor a path is relative to.
    static const QRegularExpression folderOf(QStringLiteral("^\\d+<(/[^>]*)>, \""));
    bool sandboxBites = false;
    bool clockRefused = false;
    for (const TracedCall& c : calls) {
        // A link's target may be anywhere; where it is made may not.
        const int at = c.name.startsWith(QLatin1String("symlink")) ? 3 : 1;
        QString path = c.args.section(QLatin1Char('"'), at, at);
        const QRegularExpressionMatch relative = folderOf.match(c.args);
        if (!path.startsWith(QLatin1Char('/')) && relative.hasMatch())
            path = relative.captured(1) + QLatin1Char('/') + path;
        const bool privatePath = path.startsWith(QLatin1String("/tmp/ntpsm-judge.")) ||
                                 path == QLatin1String("/dev/null") ||
                                 path == QLatin1String("/dev/stdout");
        const bool opensToWrite =
            c.name.startsWith(QLatin1String("open")) && writing.match(c.args).hasMatch();
        const bool adjusts = c.name.contains(QLatin1String("adjtime"));
        sandboxBites = sandboxBites || (opensToWrite && c.line.contains(QLatin1String("EROFS")));
        clockRefused = clockRefused || (adjusts && c.line.contains(QLatin1String("EPERM")));
        if (c.result < 0)
            continue;
        if (opensToWrite || changing.match(c.name).hasMatch())
            QVERIFY2(privatePath, qPrintable(c.line));
        if (c.name == QLatin1String("connect") || c.name.startsWith(QLatin1String("send")))
            QVERIFY2(inNamespace.contains(c.pid) && !c.args.contains(QLatin1String("sun_path=\"")),
                     qPrintable(c.line));
        if (c.name == QLatin1String("mount"))
            QVERIFY2(inNamespace.contains(c.pid), qPrintable(c.line));
        const bool setsClock = c.name == QLatin1String("settimeofday") ||
                               c.name == QLatin1String("clock_settime") ||
                               (adjusts && !c.args.contains(QLatin1String("modes=0,")));
        QVERIFY2(!setsClock, qPrintable(c.line));
    }
    QVERIFY(sandboxBites); // the daemon tried to write its log and found the file system read-only
    QVERIFY(clockRefused); // and to steer the clock without the right to
}

QTEST_MAIN(TestDaemonJudge)
#include "tst_daemonjudge.moc"
