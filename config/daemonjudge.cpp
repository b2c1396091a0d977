#include "config/daemonjudge.h"

#include "config/config.h"
#include "host/host.h"
#include "host/processrunner.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QTimer>

namespace
{

// The judging command, run by /bin/sh on the host with the bytes on its
// standard input and these arguments: the path the bytes are judged as, the
// private hosts entries, the seconds the daemon runs and the rounds at most.
// Exit status 3 with a reason on standard error: the daemon could not be
// asked. Otherwise standard output holds the daemon's log of each round
// between marker lines "ntpsm-judge: ...".
const char* const judgeScript = R"sh(set -u
PATH=/usr/sbin:/usr/bin:/sbin:/bin
LC_ALL=C
export PATH LC_ALL
target=$1 hosts=$2 seconds=$3 rounds=$4
cd / || exit 3
fail() { printf '%s\n' "$*" >&2; exit 3; }
[ "$(id -u)" = 0 ] || fail "private namespaces need root, and this runs as $(id -un)"
for tool in ntpd unshare setpriv timeout mount awk sed find mktemp; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed"
done
umask 077
# Folders of earlier runs that were killed before they could remove them.
find /tmp -maxdepth 1 -type d -name 'ntpsm-judge.*' -uid 0 -mmin +60 -exec rm -rf {} + 2>/dev/null
d=$(mktemp -d /tmp/ntpsm-judge.XXXXXXXX) || fail "no private folder could be made in /tmp"
trap 'rm -rf "$d"' EXIT
trap 'exit 3' HUP INT TERM
head -c 4194304 > "$d/ntp.conf"
{ cat /etc/hosts 2>/dev/null; printf '%s' "$hosts"; } > "$d/hosts"
mkdir "$d/dev" || fail "no private folder could be made in /tmp"
judged=$d/ntp.conf
[ -n "$target" ] && [ -f "$target" ] && judged=$target
echo "ntpsm-judge: folder $d"
echo "ntpsm-judge: judging $judged"

# In the new namespaces: the bytes where the daemon expects them, every
# file system read-only, private /dev (no devices of reference clocks, no
# /dev/log) and /run (no sockets of the system's services).
inner='d=$1 judged=$2 seconds=$3
mount -n --bind "$d/hosts" /etc/hosts || exit 3
[ "$judged" = "$d/ntp.conf" ] || mount -n --bind "$d/ntp.conf" "$judged" || exit 3
awk "{ print \$5 }" /proc/self/mountinfo | while IFS= read -r m; do
    m=$(printf "%b" "$m")
    mount -n -o remount,bind,ro "$m" 2>/dev/null && continue
    case $m in /proc/*|/sys/*) ;; *) echo "$m cannot be made read-only" >&2; exit 3 ;; esac
done || exit 3
mount -n -t tmpfs -o size=64k,mode=755 ntpsm-dev "$d/dev" || exit 3
for n in null zero full random urandom; do
    : > "$d/dev/$n" && mount -n --bind "/dev/$n" "$d/dev/$n" || exit 3
done
ln -s /proc/self/fd "$d/dev/fd" && ln -s fd/1 "$d/dev/stdout" || exit 3
mount -n --move "$d/dev" /dev && mount -n -o remount,bind,ro /dev || exit 3
mount -n -t tmpfs -o ro,size=4k,mode=755 ntpsm-run /run || exit 3
echo "ntpsm-judge: sandbox ready"
exec setpriv --bounding-set=-sys_time --inh-caps=-sys_time \
    timeout -k 1 "$seconds" ntpd -n -l /dev/stdout -c "$judged" 2>&1'

# The lines to blank for the next round: those the daemon rejected, and the
# line it stopped at. It may report bad lines in a row as the first of them
# only, and a rejected line may still leave messages of its own; the round
# without any rejected line tells the rest.
next_blanks='
NR == FNR {
    if (i = index($0, prefix)) seen[substr($0, i + length(prefix)) + 0] = 1
    if (match($0, /Unknown driver name [^ ]+$/)) driver = substr($0, RSTART + 20)
    if (match($0, /represent(ed)?: [^ ]+$/)) { word = substr($0, RSTART); sub(/^[^ ]+ /, "", word) }
    next
}
rc != 124 && !found && $0 != "" && (($1 == "refclock" && tolower($2) == tolower(driver)) || (word != "" && index(" " $0 " ", " " word " "))) { seen[FNR] = 1; found = 1 }
END { for (n in seen) print n }'

round=1
while :; do
    echo "ntpsm-judge: round $round"
    : > "$d/out"
    timeout -k 2 10 unshare --net --ipc --mount --propagation private \
        sh -c "$inner" sh "$d" "$judged" "$seconds" >> "$d/out" 2> "$d/err" < /dev/null
    rc=$?
    if ! grep -q '^ntpsm-judge: sandbox ready$' "$d/out"; then
        grep -q 'unshare failed' "$d/err" &&
            fail "this system does not allow private namespaces ($(head -n 1 "$d/err"))"
        fail "no sandbox could be made: $(head -c 300 "$d/err")"
    fi
    [ "$(wc -c < "$d/out")" -le 524288 ] || echo "ntpsm-judge: output cut"
    head -c 524288 "$d/out"
    echo
    echo "ntpsm-judge: exit $rc"
    [ "$round" -lt "$rounds" ] || break
    blanks=$(awk -v prefix="syntax error in $judged line " -v rc="$rc" "$next_blanks" "$d/out" "$d/ntp.conf" | sort -n)
    [ -n "$blanks" ] || break
    for n in $blanks; do echo "ntpsm-judge: blanked $n"; done
    awk -v list="$blanks" 'BEGIN { split(list, l, "\n"); for (i in l) b[l[i]] = 1 } { print (FNR in b) ? "" : $0 }' \
        "$d/ntp.conf" > "$d/next"
    cmp -s "$d/next" "$d/ntp.conf" && break
    cat "$d/next" > "$d/ntp.conf"
    round=$((round + 1))
done
exit 0
)sh";

constexpr int exitCannotAsk = 3;
constexpr int cachedJudgements = 32;
constexpr int roundOutputLimit = 512 * 1024;

QString hostAndDaemon(const DaemonSetup& daemon)
{
    return Host::current().name() + QLatin1Char('\n') + QString::number(int(daemon.flavour)) +
           QLatin1Char('\n') + daemon.version;
}

DaemonVerdict unasked(const QString& failure)
{
    DaemonVerdict verdict;
    verdict.failure = failure;
    return verdict;
}

QString firstLine(const QByteArray& text)
{
    const QString line = QString::fromUtf8(text).trimmed().section(QLatin1Char('\n'), 0, 0);
    return line.left(300);
}

QVector<ConfigLine> linesOf(const QByteArray& bytes)
{
    FileContent content;
    content.bytes = bytes;
    QVector<ConfigLine> lines;
    parseConfigContent(content, &lines, nullptr);
    return lines;
}

} // namespace

QByteArray JudgeSubject::key() const
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(bytes);
    return hash.result().toHex() + '\n' + hostAndDaemon(daemon).toUtf8() + '\n' + path.toUtf8();
}

DaemonJudge::DaemonJudge(QObject* parent) : QObject(parent) {}

DaemonJudge::~DaemonJudge()
{
    if (m_job)
        m_job->cancel();
}

DaemonJudge& DaemonJudge::instance()
{
    static DaemonJudge judge;
    return judge;
}

void DaemonJudge::setRunLimits(double seconds, int rounds)
{
    m_seconds = seconds;
    m_rounds = qMax(1, rounds);
}

void DaemonJudge::clear()
{
    m_cache.clear();
    m_cacheOrder.clear();
    m_unableHosts.clear();
}

const DaemonVerdict* DaemonJudge::verdict(const QByteArray& key) const
{
    const auto found = m_cache.constFind(key);
    return found == m_cache.constEnd() ? nullptr : &found.value();
}

bool DaemonJudge::isKnown(const QByteArray& key) const
{
    return m_cache.contains(key) || m_running == key || m_queuedKey == key;
}

QByteArray DaemonJudge::request(const JudgeSubject& subject)
{
    const QByteArray key = subject.key();
    if (isKnown(key))
        return key;
    QString failure;
    if (subject.daemon.flavour == DaemonFlavour::None)
        failure = tr("no NTP daemon is installed");
    else if (subject.bytes.size() > maxBytes)
        failure = tr("the file is larger than %1 MiB").arg(maxBytes / (1024 * 1024));
    else
        failure = m_unableHosts.value(hostAndDaemon(subject.daemon));
    if (!failure.isEmpty()) {
        remember(key, unasked(failure));
        // Told from the event loop, as a judgement that ran would be.
        QTimer::singleShot(0, this, [this, key] { emit judged(key); });
        return key;
    }
    if (m_running.isEmpty()) {
        start(subject);
    } else {
        m_queuedKey = key;
        m_queued = subject;
    }
    return key;
}

void DaemonJudge::start(const JudgeSubject& subject)
{
    const QByteArray key = subject.key();
    m_running = key;
    const QVector<ConfigLine> lines = linesOf(subject.bytes);
    ProcessOptions options;
    options.input = subject.bytes;
    options.ownProcessGroup = true;
    options.outputLimit = (m_rounds + 1) * (roundOutputLimit + 4096);
    // The command limits each round itself; this only catches a host that
    // stops answering.
    options.timeoutMs = m_rounds * 15000 + 10000;
    const QStringList arguments = {QStringLiteral("-c"),          QString::fromUtf8(judgeScript),
                                   QStringLiteral("ntpsm-judge"), subject.path,
                                   judgeHostsEntries(lines),      QString::number(m_seconds),
                                   QString::number(m_rounds)};
    m_job = Host::current().start(QStringLiteral("/bin/sh"), arguments, options);
    connect(m_job, &ProcessJob::finished, this,
            [this, key, subject](const ProcessResult& result) { finish(key, subject, result); });
}

void DaemonJudge::finish(const QByteArray& key, const JudgeSubject& subject,
                         const ProcessResult& result)
{
    DaemonVerdict verdict;
    if (!result.finished && result.error == QProcess::FailedToStart) {
        verdict = unasked(tr("/bin/sh could not be started"));
    } else if (!result.finished) {
        verdict = unasked(tr("it gave no answer within %1 seconds").arg(m_rounds * 15 + 10));
    } else if (result.exitStatus != QProcess::NormalExit) {
        verdict = unasked(tr("the judging command was killed"));
    } else if (result.exitCode == exitCannotAsk) {
        verdict = unasked(firstLine(result.standardError));
        // What the host lacks (a program, root, namespaces) stays lacking.
        m_unableHosts.insert(hostAndDaemon(subject.daemon), verdict.failure);
    } else if (result.exitCode != 0) {
        verdict = unasked(tr("the judging command failed with exit status %1: %2")
                              .arg(result.exitCode)
                              .arg(firstLine(result.standardError)));
    } else {
        verdict = verdictOfJudgeOutput(result.standardOutput, linesOf(subject.bytes), subject.path);
    }
    m_running.clear();
    m_job = nullptr;
    remember(key, verdict);
    emit judged(key);
    startQueued();
}

void DaemonJudge::remember(const QByteArray& key, const DaemonVerdict& verdict)
{
    m_cache.insert(key, verdict);
    m_cacheOrder.removeAll(key);
    m_cacheOrder.append(key);
    while (m_cacheOrder.size() > cachedJudgements)
        m_cache.remove(m_cacheOrder.takeFirst());
}

void DaemonJudge::startQueued()
{
    if (m_queuedKey.isEmpty())
        return;
    const JudgeSubject next = m_queued;
    m_queuedKey.clear();
    m_queued = JudgeSubject();
    if (!m_cache.contains(next.key()))
        start(next);
}

const DaemonVerdict* DaemonJudge::waitFor(const JudgeSubject& subject, int timeoutMs)
{
    const QByteArray key = request(subject);
    if (const DaemonVerdict* known = verdict(key))
        return known;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &DaemonJudge::judged, &loop, [&](const QByteArray& judgedKey) {
        if (judgedKey == key)
            loop.quit();
        else if (!isKnown(key))
            request(subject); // a newer request took its place in the queue
    });
    limit.start(timeoutMs);
    loop.exec();
    return verdict(key);
}

DaemonCheck::DaemonCheck(const JudgeSubject& subject, QObject* parent, DaemonJudge* judge)
    : QObject(parent), m_judge(judge ? judge : &DaemonJudge::instance()), m_subject(subject)
{
    m_rules = checkConfiguration(subject.bytes, subject.daemon);
    m_findings = m_rules;
    connect(m_judge, &DaemonJudge::judged, this, [this](const QByteArray& key) {
        if (key == m_key && take())
            emit judged();
    });
    m_key = m_judge->request(subject);
    // A cached judgement is in findings() at once, and told as any other.
    if (take())
        QTimer::singleShot(0, this, &DaemonCheck::judged);
}

bool DaemonCheck::take()
{
    const DaemonVerdict* verdict = m_judge->verdict(m_key);
    if (!verdict || m_judged)
        return false;
    m_judged = true;
    m_findings = mergeFindings(m_rules, *verdict);
    return true;
}

bool DaemonCheck::waitForJudgement(int timeoutMs)
{
    if (!m_judged && m_judge->waitFor(m_subject, timeoutMs) && take())
        QTimer::singleShot(0, this, &DaemonCheck::judged);
    return m_judged;
}
