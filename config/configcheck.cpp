#include "config/configcheck.h"

#include "config/config.h"
#include "config/referenceclocks.h"
#include "host/host.h"
#include "host/hostpath.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>

namespace
{

using Findings = QVector<CheckFinding>;

// The check's texts are shown to the user; findings files of the tests are
// written without a translator.
QString tr(const char* text)
{
    return QCoreApplication::translate("ConfigCheck", text);
}

struct Checker {
    const QVector<ConfigLine>& lines;
    const DaemonSetup& daemon;
    QString root;
    Findings findings;

    QString onMachine(const QString& path) const { return root + path; }

    void add(int index, CheckFinding::Severity severity, const QString& text)
    {
        findings.append({index + 1, severity, text});
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
                      tr("NTPsec accepts but ignores the restrict flag \"%1\".").arg(values.at(i)));
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
                      .arg(folders.at(f), c.lines.at(lines.at(f)).key));
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
                  tr("Key %1 is not in the keys file %2.").arg(use.second, keysFile));
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
        c.findings.append(
            {0, CheckFinding::Warning,
             tr("Only %1 time sources: fewer than four cannot outvote one wrong clock.")
                 .arg(sources)});
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
    checkPoolAgainstRestrict(c);
    checkFolders(c);
    checkKeys(c);
    checkAssociations(c);
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
