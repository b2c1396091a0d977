#include "config/configcheck.h"

#include "config/config.h"
#include "config/referenceclocks.h"
#include "host/host.h"
#include "host/hostpath.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <unistd.h>

namespace
{

using Findings = QVector<CheckFinding>;

// The check's texts are shown to the user; findings files of the tests are
// written without a translator.
QString tr(const char* text)
{
    return QCoreApplication::translate("ConfigCheck", text);
}

// With a plural form for `count` ("%n").
QString tr(const char* text, const char* disambiguation, int count)
{
    return QCoreApplication::translate("ConfigCheck", text, disambiguation, count);
}

struct Checker {
    const QVector<ConfigLine>& lines;
    const DaemonSetup& daemon;
    QString root;
    Findings findings;

    QString onMachine(const QString& path) const { return root + path; }

    void add(int index, CheckFinding::Severity severity, const QString& text,
             const QString& topic = QString())
    {
        findings.append({index + 1, severity, text, topic});
    }
    void addToFile(CheckFinding::Severity severity, const QString& text)
    {
        findings.append({0, severity, text, QString()});
    }
};

bool isAssociation(const QString& key)
{
    return key == QLatin1String("server") || key == QLatin1String("pool") ||
           key == QLatin1String("peer");
}

// Index of the address among a line's values: after any -4 or -6.
int addressIndex(const QStringList& values)
{
    int i = 0;
    while (i < values.size() &&
           (values.at(i) == QLatin1String("-4") || values.at(i) == QLatin1String("-6")))
        ++i;
    return i;
}

QString addressOf(const ConfigLine& line)
{
    const int i = addressIndex(line.values);
    return i < line.values.size() ? line.values.at(i) : QString();
}

// ---- What NTPsec rejects or ignores -------------------------------------

struct Dropped {
    const char* word;
    const char* instead; // NTPsec's replacement, or null
};

const Dropped ntpsecDirectives[] = {
    {"broadcast", nullptr},
    {"broadcastclient", nullptr},
    {"broadcastdelay", nullptr},
    {"manycastserver", nullptr},
    {"manycastclient", "pool"},
    {"multicastclient", nullptr},
    {"ttl", nullptr},
    {"crypto", "NTS (the nts directive and the nts option of server)"},
    {"keysdir", "NTS (the nts directive and the nts option of server)"},
    {"revoke", "NTS (the nts directive and the nts option of server)"},
    {"ident", "NTS (the nts directive and the nts option of server)"},
    {"automax", "NTS (the nts directive and the nts option of server)"},
    {"trap", nullptr},
    {"discard", "the limit options average, burst and kod (minimum and monitor have no "
                "counterpart)"},
};

const char* const ntpsecAssociationOptions[] = {"preempt", "xleave", "autokey"};
const char* const ntpsecSystemFlags[] = {"calibrate", "kernel", "monitor", "ntp", "stats"};
const char* const ntpsecRejectedRestrictFlags[] = {"lowpriotrap", "noepeer"};
const char* const ntpsecIgnoredRestrictFlags[] = {"nopeer", "notrap"};
const char* const ntpsecRejectedStatistics[] = {"cryptostats", "timingstats"};

template <size_t N> bool listed(const char* const (&words)[N], const QString& word)
{
    for (const char* w : words) {
        if (word == QLatin1String(w))
            return true;
    }
    return false;
}

QString rejected(const QString& what)
{
    return tr("NTPsec rejects %1; the daemon drops the whole line.").arg(what);
}

void checkNtpsecLine(Checker& c, int index, const ConfigLine& line)
{
    const QString& key = line.key;
    for (const Dropped& dropped : ntpsecDirectives) {
        if (key == QLatin1String(dropped.word)) {
            QString text = rejected(tr("the directive \"%1\"").arg(key));
            if (dropped.instead)
                text += tr(" NTPsec has %1 instead.").arg(QLatin1String(dropped.instead));
            c.add(index, CheckFinding::Error, text);
            return;
        }
    }
    if (isAssociation(key)) {
        for (const QString& value : line.values) {
            if (listed(ntpsecAssociationOptions, value.toLower()))
                c.add(index, CheckFinding::Error,
                      rejected(tr("the %1 option \"%2\"").arg(key, value)));
        }
        if (key == QLatin1String("server") && isClockAddress(addressOf(line)))
            c.add(index, CheckFinding::Hint,
                  tr("NTPsec still accepts the clock address %1 with fudge lines, but "
                     "documents the refclock directive instead.")
                      .arg(addressOf(line)));
    } else if (key == QLatin1String("enable") || key == QLatin1String("disable")) {
        for (const QString& flag : line.values) {
            if (!listed(ntpsecSystemFlags, flag.toLower()))
                c.add(index, CheckFinding::Error,
                      rejected(tr("the %1 flag \"%2\" (it knows calibrate, kernel, "
                                  "monitor, ntp and stats)")
                                   .arg(key, flag)));
        }
    } else if (key == QLatin1String("restrict")) {
        const QStringList& values = line.values;
        for (int i = 0; i < values.size(); ++i) {
            const QString flag = values.at(i).toLower();
            const bool fuzz = flag == QLatin1String("serverresponse") && i + 1 < values.size() &&
                              values.at(i + 1).toLower() == QLatin1String("fuzz");
            if (listed(ntpsecRejectedRestrictFlags, flag) || fuzz)
                c.add(index, CheckFinding::Error,
                      tr("NTPsec rejects the restrict flag \"%1\" and drops the whole "
                         "line: the access it restricts is left open.")
                          .arg(fuzz ? tr("serverresponse fuzz") : values.at(i)));
            else if (listed(ntpsecIgnoredRestrictFlags, flag))
                c.add(index, CheckFinding::Warning,
                      tr("NTPsec accepts but ignores the restrict flag \"%1\".").arg(values.at(i)),
                      QStringLiteral("ignored-flag ") + flag);
        }
    } else if (key == QLatin1String("statistics")) {
        for (const QString& name : line.values) {
            if (listed(ntpsecRejectedStatistics, name.toLower()))
                c.add(index, CheckFinding::Error,
                      rejected(tr("the statistics name \"%1\"").arg(name)));
        }
    } else if (key == QLatin1String("fudge")) {
        for (int i = 1; i < line.values.size(); ++i) {
            if (line.values.at(i).toLower() == QLatin1String("mode"))
                c.add(index, CheckFinding::Error,
                      rejected(tr("\"mode\" on a fudge line")) +
                          tr(" NTPsec sets it with the mode option of refclock."));
        }
    }
}

// ---- Across directives ---------------------------------------------------

void checkPoolAgainstRestrict(Checker& c)
{
    if (c.daemon.isNtpsec())
        return; // NTPsec ignores nopeer
    int firstPool = -1;
    bool defaultNoPeer = false;
    bool restrictSource = false;
    for (int i = 0; i < c.lines.size(); ++i) {
        const ConfigLine& line = c.lines.at(i);
        if (line.key == QLatin1String("pool") && firstPool < 0)
            firstPool = i;
        if (line.key != QLatin1String("restrict"))
            continue;
        const QString address = addressOf(line);
        if (address == QLatin1String("source"))
            restrictSource = true;
        if (address == QLatin1String("default")) {
            for (const QString& flag : line.values)
                defaultNoPeer = defaultNoPeer || flag.toLower() == QLatin1String("nopeer");
        }
    }
    if (firstPool >= 0 && defaultNoPeer && !restrictSource)
        c.add(firstPool, CheckFinding::Warning,
              tr("\"restrict default\" has nopeer and no \"restrict source\" line "
                 "exists: the servers of this pool cannot be mobilised."));
}

void checkFolders(Checker& c)
{
    const char* const fileDirectives[] = {"driftfile", "logfile", "keys", "leapfile"};
    QVector<int> lines;
    QStringList folders;
    for (int i = 0; i < c.lines.size(); ++i) {
        const ConfigLine& line = c.lines.at(i);
        if (line.values.isEmpty() || !line.values.first().startsWith(QLatin1Char('/')))
            continue;
        const QString& path = line.values.first();
        QString folder;
        if (line.key == QLatin1String("statsdir"))
            folder = path;
        else if (listed(fileDirectives, line.key))
            folder = folderOfPath(path);
        if (!folder.isEmpty()) {
            lines.append(i);
            folders.append(folder);
        }
    }
    // The folders are looked at all at once: one round trip on a remote host.
    QVector<HostRequest> requests;
    for (const QString& folder : qAsConst(folders))
        requests.append({HostRequest::StatusFollowing, c.onMachine(folder)});
    const QVector<HostReply> replies = Host::current().query(requests);
    for (int f = 0; f < folders.size() && f < replies.size(); ++f) {
        const HostReply& reply = replies.at(f);
        if (reply.error != 0 || !reply.status.isDirectory())
            c.add(lines.at(f), CheckFinding::Warning,
                  tr("The folder %1 of %2 does not exist.")
                      .arg(folders.at(f), c.lines.at(lines.at(f)).key),
                  QStringLiteral("folder"));
    }
}

// The key ids of a keys file: the first word of each line that is a number.
QSet<QString> keyIdsOf(const QString& path, bool* readable)
{
    QSet<QString> ids;
    FileContent content;
    *readable = Host::current().readFile(path, configFileLimit, &content, true) == 0;
    for (const QByteArray& raw : content.bytes.split('\n')) {
        const ConfigLine line = parseConfigLine(raw);
        bool number = false;
        line.key.toUInt(&number);
        if (number)
            ids.insert(line.key);
    }
    return ids;
}

void checkKeys(Checker& c)
{
    QString keysFile;
    QVector<QPair<int, QString>> used; // line index, key id
    for (int i = 0; i < c.lines.size(); ++i) {
        const ConfigLine& line = c.lines.at(i);
        if (line.key == QLatin1String("keys") && !line.values.isEmpty() && keysFile.isEmpty())
            keysFile = line.values.first();
        if (line.key == QLatin1String("trustedkey")) {
            for (const QString& id : line.values) {
                bool number = false;
                id.toUInt(&number);
                if (number)
                    used.append({i, id});
            }
        } else if (isAssociation(line.key)) {
            for (int v = 0; v + 1 < line.values.size(); ++v) {
                if (line.values.at(v).toLower() == QLatin1String("key"))
                    used.append({i, line.values.at(v + 1)});
            }
        }
    }
    if (used.isEmpty())
        return;
    bool readable = false;
    const QSet<QString> ids =
        keysFile.isEmpty() ? QSet<QString>() : keyIdsOf(c.onMachine(keysFile), &readable);
    for (const auto& use : qAsConst(used)) {
        if (keysFile.isEmpty())
            c.add(
                use.first, CheckFinding::Warning,
                tr("Key %1 is used, but no keys file is given (keys directive).").arg(use.second));
        else if (readable && !ids.contains(use.second))
            c.add(use.first, CheckFinding::Warning,
                  tr("Key %1 is not in the keys file %2.").arg(use.second, keysFile),
                  QStringLiteral("key ") + use.second);
    }
}

void checkAssociations(Checker& c)
{
    QHash<QString, int> firstLineOf; // address (lower case) -> line index
    QSet<QString> clocks;
    int sources = 0;
    bool pool = false;
    bool referenceClock = false;
    for (int i = 0; i < c.lines.size(); ++i) {
        const ConfigLine& line = c.lines.at(i);
        if (line.key == QLatin1String("refclock"))
            referenceClock = true;
        if (!isAssociation(line.key))
            continue;
        const QString address = addressOf(line);
        if (address.isEmpty())
            continue;
        const QString folded = address.toLower();
        if (firstLineOf.contains(folded)) {
            c.add(i, CheckFinding::Warning,
                  tr("%1 is already configured on line %2.")
                      .arg(address)
                      .arg(firstLineOf.value(folded) + 1));
        } else {
            firstLineOf.insert(folded, i);
            if (isClockAddress(address)) {
                referenceClock = true;
                clocks.insert(address);
            } else if (line.key == QLatin1String("pool")) {
                pool = true;
            } else {
                ++sources;
            }
        }
        int minPoll = -1;
        int maxPoll = -1;
        for (int v = 0; v + 1 < line.values.size(); ++v) {
            const QString word = line.values.at(v).toLower();
            if (word == QLatin1String("minpoll"))
                minPoll = line.values.at(v + 1).toInt();
            else if (word == QLatin1String("maxpoll"))
                maxPoll = line.values.at(v + 1).toInt();
        }
        if (minPoll >= 0 && maxPoll >= 0 && minPoll > maxPoll)
            c.add(i, CheckFinding::Warning,
                  tr("minpoll %1 is above maxpoll %2.").arg(minPoll).arg(maxPoll));
    }
    for (int i = 0; i < c.lines.size(); ++i) {
        const ConfigLine& line = c.lines.at(i);
        if (line.key == QLatin1String("fudge") && !line.values.isEmpty() &&
            !clocks.contains(line.values.first()))
            c.add(i, CheckFinding::Warning,
                  tr("No server line configures the clock %1 of this fudge line.")
                      .arg(line.values.first()));
    }
    if (!pool && !referenceClock && sources < 4)
        c.addToFile(CheckFinding::Warning,
                    tr("Only %n time sources: fewer than four cannot outvote one wrong clock.",
                       nullptr, sources));
}

// ---- Lines and settings the daemon reads differently than meant ----------

// The first words of the lines either daemon reads; any other line is
// rejected by both (a line of prose left without its "#", say).
bool isDirective(const QString& word)
{
    static const QSet<QString> directives = [] {
        const QString words = QStringLiteral(
            "automax broadcast broadcastclient broadcastdelay calldelay clock controlkey crypto "
            "discard disable driftfile dscp enable end filegen fudge ident includefile interface "
            "keys keysdir leapfile leapsmearinterval logconfig logfile manycastclient "
            "manycastserver mdnstries mru multicastclient nic nonvolatile nts ntpsigndsocket peer "
            "phone pidfile pollskewlist pool refclock requestkey reset restrict revoke rlimit "
            "saveconfigdir server setvar statistics statsdir tick tinker tos trap trustedkey ttl "
            "unconfig unpeer unrestrict");
        const QStringList list = words.split(QLatin1Char(' '));
        return QSet<QString>(list.begin(), list.end());
    }();
    return directives.contains(word);
}

void checkDirectiveWords(Checker& c)
{
    for (int i = 0; i < c.lines.size(); ++i) {
        const QString& key = c.lines.at(i).key;
        if (!key.isEmpty() && key != QLatin1String("#") && !isDirective(key))
            c.add(i, CheckFinding::Error,
                  tr("\"%1\" is no directive of the daemon, which rejects the line; a comment "
                     "needs a \"#\" in front.")
                      .arg(key.size() > 40 ? key.left(40) + QStringLiteral("...") : key),
                  QStringLiteral("rejected"));
    }
}

QString valueAfter(const ConfigLine& line, const char* word)
{
    const int at = line.values.indexOf(QLatin1String(word));
    return at >= 0 && at + 1 < line.values.size() ? line.values.at(at + 1) : QString();
}

// "1.2.2" -> {1, 2, 2}
QVector<int> versionNumbers(const QString& version)
{
    static const QRegularExpression number(QStringLiteral("\\d+"));
    QVector<int> numbers;
    auto it = number.globalMatch(version);
    while (it.hasNext())
        numbers.append(it.next().captured().toInt());
    return numbers;
}

void checkDefaultRestrict(Checker& c)
{
    bool ipv4 = false;
    bool ipv6 = false;
    for (const ConfigLine& line : c.lines) {
        if (line.key != QLatin1String("restrict"))
            continue;
        const QString address = addressOf(line);
        const QString mask = valueAfter(line, "mask");
        if (address == QLatin1String("default")) {
            ipv4 = ipv4 || !line.values.contains(QStringLiteral("-6"));
            ipv6 = ipv6 || !line.values.contains(QStringLiteral("-4"));
        }
        ipv4 = ipv4 || (address == QLatin1String("0.0.0.0") && mask == QLatin1String("0.0.0.0"));
        ipv6 = ipv6 || (address == QLatin1String("::") && mask == QLatin1String("::"));
    }
    if (ipv4 && ipv6)
        return;
    // NTPsec (from 1.2.0) starts from "restrict default noquery limited".
    const QVector<int> version = versionNumbers(c.daemon.version);
    const bool builtIn =
        c.daemon.isNtpsec() && !(!version.isEmpty() && version < QVector<int>{1, 2});
    const QString family = ipv4 ? QStringLiteral("IPv6") : QStringLiteral("IPv4");
    if (builtIn && !ipv4 && !ipv6)
        c.addToFile(CheckFinding::Hint,
                    tr("There is no \"restrict default\" line: NTPsec then answers no queries "
                       "and limits the rate (its built-in noquery limited), but as nothing sets "
                       "nomodify, a holder of the control key may change its settings."));
    else if (builtIn)
        c.addToFile(CheckFinding::Hint,
                    tr("No \"restrict default\" line covers %1: NTPsec applies its built-in "
                       "noquery limited there, but as nothing sets nomodify, a holder of the "
                       "control key may change its settings over %1.")
                        .arg(family));
    else if (!ipv4 && !ipv6)
        c.addToFile(CheckFinding::Warning,
                    tr("There is no \"restrict default\" line: anyone may query this server and, "
                       "as nothing sets nomodify, change its settings."));
    else
        c.addToFile(CheckFinding::Warning,
                    tr("No \"restrict default\" line covers %1: anyone may query this server "
                       "over %1 and, as nothing sets nomodify there, change its settings.")
                        .arg(family));
}

// A leap second file tells when it expires in its "#@" line, in seconds
// since 1900.
void checkLeapFile(Checker& c)
{
    constexpr qint64 leapFileLimit = 256 * 1024;
    constexpr qint64 ntpEraToUnix = 2208988800LL;
    for (int i = 0; i < c.lines.size(); ++i) {
        const ConfigLine& line = c.lines.at(i);
        if (line.key != QLatin1String("leapfile") || line.values.isEmpty())
            continue;
        const QString& path = line.values.first();
        FileContent content;
        const int error =
            Host::current().readFile(c.onMachine(path), leapFileLimit, &content, true);
        if (error == EFBIG)
            c.add(i, CheckFinding::Warning,
                  tr("The leap second file %1 is larger than %2 KiB; it was not read.")
                      .arg(path)
                      .arg(leapFileLimit / 1024));
        // A file that other users may change decides nothing (the program
        // runs as root).
        const bool trusted = (content.status.uid == 0 || content.status.uid == ::geteuid()) &&
                             (content.status.mode & 022) == 0;
        if (error != 0 || !trusted)
            continue;
        for (const QByteArray& raw : content.bytes.split('\n')) {
            if (!raw.startsWith("#@"))
                continue;
            bool number = false;
            const qint64 expiry = raw.mid(2).trimmed().toLongLong(&number) - ntpEraToUnix;
            if (number && expiry < QDateTime::currentSecsSinceEpoch())
                c.add(i, CheckFinding::Warning,
                      tr("The leap second file %1 expired on %2: the daemon no longer trusts "
                         "it to announce leap seconds. Install a current one (on Debian the "
                         "tzdata package brings it).")
                          .arg(path, QDateTime::fromSecsSinceEpoch(expiry, Qt::UTC)
                                         .toString(QStringLiteral("yyyy-MM-dd"))),
                      QStringLiteral("leapfile expired"));
            break;
        }
    }
}

// The daemon selects a source only once `tos minsane` of them agree.
void checkMinsane(Checker& c)
{
    int tosLine = -1;
    int minsane = 1;
    int maxclock = 10; // the daemons' default, the most a pool line adds
    for (int i = 0; i < c.lines.size(); ++i) {
        const ConfigLine& line = c.lines.at(i);
        if (line.key != QLatin1String("tos"))
            continue;
        bool number = false;
        const int value = valueAfter(line, "minsane").toInt(&number);
        if (number) {
            tosLine = i;
            minsane = value;
        }
        const int clocks = valueAfter(line, "maxclock").toInt(&number);
        if (number)
            maxclock = clocks;
    }
    if (tosLine < 0)
        return; // one source is enough, and too few is told apart
    QSet<QString> sources;
    int pooled = 0;
    for (const ConfigLine& line : c.lines) {
        const bool refclock = line.key == QLatin1String("refclock");
        if ((!isAssociation(line.key) && !refclock) ||
            line.values.contains(QStringLiteral("noselect"), Qt::CaseInsensitive))
            continue;
        if (line.key == QLatin1String("pool"))
            pooled += maxclock;
        else
            sources.insert(refclock ? line.values.join(QLatin1Char(' '))
                                    : addressOf(line).toLower());
    }
    const int usable = sources.size() + pooled;
    if (usable < minsane)
        c.add(tosLine, CheckFinding::Warning,
              tr("tos minsane %1 needs %n usable time sources, but this file has %2: the "
                 "daemon never selects a source and the clock is not synchronised.",
                 nullptr, minsane)
                  .arg(minsane)
                  .arg(usable));
}

void checkPoolNts(Checker& c)
{
    if (!c.daemon.isNtpsec() || authenticatesPoolsWithNts(c.daemon))
        return;
    for (int i = 0; i < c.lines.size(); ++i) {
        const ConfigLine& line = c.lines.at(i);
        if (line.key == QLatin1String("pool") &&
            line.values.contains(QStringLiteral("nts"), Qt::CaseInsensitive))
            c.add(i, CheckFinding::Warning,
                  tr("NTPsec supports nts on pool lines only from version 1.2.5: NTPsec %1 "
                     "accepts the word without a complaint, but the servers of this pool are "
                     "not authenticated.")
                      .arg(c.daemon.version),
                  QStringLiteral("pool nts"));
    }
}

} // namespace

QVector<CheckFinding> checkConfiguration(const QVector<ConfigLine>& lines,
                                         const DaemonSetup& daemon, const QString& root)
{
    Checker c{lines, daemon, root, {}};
    if (daemon.isNtpsec()) {
        for (int i = 0; i < lines.size(); ++i)
            checkNtpsecLine(c, i, lines.at(i));
    }
    checkDirectiveWords(c);
    checkPoolAgainstRestrict(c);
    checkDefaultRestrict(c);
    checkFolders(c);
    checkKeys(c);
    checkLeapFile(c);
    checkAssociations(c);
    checkMinsane(c);
    checkPoolNts(c);
    // Every error is a line the daemon rejects: what its own judgement says
    // of the same line replaces it.
    for (CheckFinding& finding : c.findings) {
        if (finding.severity == CheckFinding::Error && finding.topic.isEmpty())
            finding.topic = QStringLiteral("rejected");
    }
    std::stable_sort(c.findings.begin(), c.findings.end(),
                     [](const CheckFinding& a, const CheckFinding& b) { return a.line < b.line; });
    return c.findings;
}

QVector<CheckFinding> checkConfiguration(const QByteArray& text, const DaemonSetup& daemon,
                                         const QString& root)
{
    FileContent content;
    content.bytes = text;
    QVector<ConfigLine> lines;
    parseConfigContent(content, &lines, nullptr);
    return checkConfiguration(lines, daemon, root);
}

bool hasErrors(const QVector<CheckFinding>& findings)
{
    for (const CheckFinding& finding : findings) {
        if (finding.severity == CheckFinding::Error)
            return true;
    }
    return false;
}

QString severityName(CheckFinding::Severity severity)
{
    switch (severity) {
    case CheckFinding::Error:
        return tr("error");
    case CheckFinding::Warning:
        return tr("warning");
    case CheckFinding::Hint:
        return tr("hint");
    }
    return QString();
}

QString findingsText(const QVector<CheckFinding>& findings)
{
    QString text;
    for (const CheckFinding& finding : findings)
        text += tr("line %1: %2: %3\n")
                    .arg(finding.line)
                    .arg(severityName(finding.severity), finding.text);
    return text;
}

bool authenticatesPoolsWithNts(const DaemonSetup& daemon)
{
    const QVector<int> version = versionNumbers(daemon.version);
    return daemon.isNtpsec() && (version.isEmpty() || !(version < QVector<int>{1, 2, 5}));
}
