#include "config/daemonverdict.h"

#include "config/config.h"
#include "host/hostpath.h"

#include <QCoreApplication>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <functional>

namespace
{

QString tr(const char* text)
{
    return QCoreApplication::translate("DaemonVerdict", text);
}

const QLatin1String markerPrefix("ntpsm-judge: ");
// The exit status of `timeout` when it had to stop the daemon: the daemon
// was still running, so it had read its whole configuration.
constexpr int stoppedByTimeLimit = 124;

bool isFamilyFlag(const QString& value)
{
    return value == QLatin1String("-4") || value == QLatin1String("-6");
}

// The address of a server, pool, peer or restrict line: its first value
// after any -4 or -6.
QString addressOf(const ConfigLine& line)
{
    for (const QString& value : line.values) {
        if (!isFamilyFlag(value))
            return value;
    }
    return QString();
}

bool hasWord(const ConfigLine& line, const QString& word)
{
    return line.values.contains(word, Qt::CaseInsensitive);
}

// "ntp.example.net." and "ntp.example.net" name the same host.
QString withoutFinalDot(const QString& name)
{
    return name.endsWith(QLatin1Char('.')) ? name.chopped(1) : name;
}

bool isHostName(const QString& address)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9._-]+$"));
    static const QRegularExpression ipv4(QStringLiteral("^[0-9.]+$"));
    return name.match(address).hasMatch() && !ipv4.match(address).hasMatch() &&
           address != QLatin1String("default") && address != QLatin1String("source");
}

// ---- The judging command's output -------------------------------------

struct Message {
    QString subsystem; // "CONFIG", "ERR", ...; empty when the daemon named none
    QString text;
};

struct Round {
    QVector<Message> messages;
    int exitCode = -1;
    QSet<int> blankedAfter; // 1-based lines the script blanked for the next round
};

struct JudgeOutput {
    QString folder;     // the private folder of the run
    QString judgedPath; // the path the daemon was given
    bool cut = false;
    QVector<Round> rounds;
};

Message messageOf(QString text)
{
    static const QRegularExpression subsystem(QStringLiteral("^([A-Z][A-Za-z]{1,9}): "));
    Message message;
    const QRegularExpressionMatch match = subsystem.match(text);
    if (match.hasMatch()) {
        message.subsystem = match.captured(1);
        text = text.mid(match.capturedEnd());
    }
    message.text = text;
    return message;
}

void readMarker(const QString& what, JudgeOutput* output)
{
    if (what.startsWith(QLatin1String("round "))) {
        output->rounds.append(Round());
    } else if (what.startsWith(QLatin1String("folder "))) {
        output->folder = what.mid(7);
    } else if (what.startsWith(QLatin1String("judging "))) {
        output->judgedPath = what.mid(8);
    } else if (what == QLatin1String("output cut")) {
        output->cut = true;
    } else if (!output->rounds.isEmpty()) {
        Round& round = output->rounds.last();
        if (what.startsWith(QLatin1String("exit ")))
            round.exitCode = what.mid(5).toInt();
        else if (what.startsWith(QLatin1String("blanked ")))
            round.blankedAfter.insert(what.mid(8).toInt());
    }
}

JudgeOutput splitJudgeOutput(const QByteArray& bytes)
{
    // Only lines of the daemon's log count: with -n it also copies some
    // messages to its terminal, without the prefix.
    static const QRegularExpression logPrefix(QStringLiteral("^.*?\\bntpd\\[\\d+\\]: "));
    JudgeOutput output;
    for (const QByteArray& raw : bytes.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(markerPrefix)) {
            readMarker(line.mid(markerPrefix.size()), &output);
            continue;
        }
        const QRegularExpressionMatch prefix = logPrefix.match(line);
        if (prefix.hasMatch() && !output.rounds.isEmpty())
            output.rounds.last().messages.append(messageOf(line.mid(prefix.capturedEnd())));
    }
    return output;
}

// ---- From messages to findings ------------------------------------------

bool isNoise(const Message& message)
{
    static const QStringList quietSubsystems = {
        QStringLiteral("INIT"), QStringLiteral("IO"),   QStringLiteral("PROTO"),
        QStringLiteral("SYNC"), QStringLiteral("DNS"),  QStringLiteral("NTSc"),
        QStringLiteral("NTSs"), QStringLiteral("LOG"),  QStringLiteral("MONITOR"),
        QStringLiteral("NTS"),  QStringLiteral("MODE6")};
    const QString& text = message.text;
    if (quietSubsystems.contains(message.subsystem))
        return true;
    // What the sandbox causes, not the file: a read-only file system, no
    // right to set the clock, no devices of reference clocks.
    if (text.contains(QLatin1String("Read-only file system")) ||
        text.contains(QLatin1String("ntp_adjtime")))
        return true;
    if (message.subsystem == QLatin1String("REFCLOCK"))
        return !text.contains(QLatin1String("clock type"));
    if (message.subsystem == QLatin1String("CLOCK"))
        return !text.startsWith(QLatin1String("leapsecond file")) ||
               text.contains(QLatin1String("good hash signature")) ||
               text.contains(QLatin1String("): loaded, expire"));
    return text.startsWith(QLatin1String("readconfig: parsing")) ||
           text.startsWith(QLatin1String("ntpd exiting on signal"));
}

CheckFinding::Severity severityOfText(const QString& text)
{
    static const QRegularExpression accepted(
        QStringLiteral(" ignored\\.?$|ignored:|deprecated|does nothing|no-op|not supported|"
                       "too (small|large)|disabled|Using maximum|Ignoring|[Cc]ouldn't open|"
                       "failed to open|Cannot open|authreadkeys|not found for server|"
                       "does not exist|stat failed|expire"));
    return accepted.match(text).hasMatch() ? CheckFinding::Warning : CheckFinding::Error;
}

// By line, and errors before warnings before hints on a line.
void sortFindings(QVector<CheckFinding>* findings)
{
    std::stable_sort(findings->begin(), findings->end(),
                     [](const CheckFinding& a, const CheckFinding& b) {
                         if (a.line != b.line)
                             return a.line < b.line;
                         return int(a.severity) < int(b.severity);
                     });
}

class VerdictReader
{
public:
    VerdictReader(const QVector<ConfigLine>& lines, const JudgeOutput& output,
                  const QString& shownPath)
        : m_lines(lines), m_output(output), m_shownPath(shownPath)
    {
    }

    DaemonVerdict read();

private:
    using Predicate = std::function<bool(const ConfigLine&)>;

    void readRound(int index);
    bool readSyntaxError(const Message& message);
    bool readRestrict(const Message& message);
    bool readNamed(const Message& message);
    bool readFiles(const Message& message);
    bool readNumbers(const Message& message);
    void readOther(const Message& message);

    // The first line (0-based) that `matches`, not blanked in this round and
    // not claimed yet by an earlier message of the same `kind`; -1 for none.
    // (A line the daemon rejects may still have been taken in up to the
    // word it stumbled on.)
    int lineWhere(const Predicate& matches, const QString& kind = QString());
    int lineWithKey(const char* key, const QString& word = QString());
    void add(int index, const QString& topic, const QString& text, CheckFinding::Severity severity,
             bool daemonSaid = true);
    void add(int index, const QString& topic, const QString& text)
    {
        add(index, topic, text, severityOfText(text));
    }
    QString daemonText(const QString& text) const;
    QString resolved(const QString& path) const;
    int includeLineOf(const QString& file);

    const QVector<ConfigLine>& m_lines;
    const JudgeOutput& m_output;
    QString m_shownPath;
    bool m_lastRound = false;
    QSet<int> m_blanked;     // 1-based lines blanked in the current round
    QSet<int> m_rejectedNow; // 1-based lines rejected so far in the current round
    QHash<QString, QSet<int>> m_claimed;
    QVector<CheckFinding> m_findings;
    QSet<QString> m_seen; // line + topic (or text) of every finding
};

QString VerdictReader::daemonText(const QString& text) const
{
    QString shown = text;
    const QString file = m_shownPath.isEmpty() ? tr("this file") : m_shownPath;
    if (!m_output.judgedPath.isEmpty())
        shown.replace(m_output.judgedPath, file);
    // Relative names the daemon looked up beside the file.
    if (!m_output.folder.isEmpty())
        shown.replace(m_output.folder + QLatin1Char('/'),
                      m_shownPath.isEmpty() ? QString()
                                            : folderOfPath(m_shownPath) + QLatin1Char('/'));
    return QStringLiteral("ntpd: ") + shown;
}

void VerdictReader::add(int index, const QString& topic, const QString& text,
                        CheckFinding::Severity severity, bool daemonSaid)
{
    const int line = index < 0 ? 0 : index + 1;
    const QString key = QString::number(line) + QLatin1Char(' ') + (topic.isEmpty() ? text : topic);
    if (m_seen.contains(key))
        return;
    m_seen.insert(key);
    m_findings.append({line, severity, daemonSaid ? daemonText(text) : text, topic});
}

int VerdictReader::lineWhere(const Predicate& matches, const QString& kind)
{
    QSet<int>& claimed = m_claimed[kind];
    for (int i = 0; i < m_lines.size(); ++i) {
        if (m_blanked.contains(i + 1) || claimed.contains(i))
            continue;
        if (matches(m_lines.at(i))) {
            if (!kind.isEmpty())
                claimed.insert(i);
            return i;
        }
    }
    return -1;
}

int VerdictReader::lineWithKey(const char* key, const QString& word)
{
    return lineWhere([&](const ConfigLine& line) {
        return line.key == QLatin1String(key) && (word.isEmpty() || hasWord(line, word));
    });
}

QString VerdictReader::resolved(const QString& path) const
{
    if (path.startsWith(QLatin1Char('/')))
        return path;
    return folderOfPath(m_output.judgedPath) + QLatin1Char('/') + path;
}

// The includefile line that makes the daemon read `file` (or a file in it,
// for a folder); -1 for none, as for the drop-in folder beside the file.
int VerdictReader::includeLineOf(const QString& file)
{
    return lineWhere([&](const ConfigLine& line) {
        if (line.key != QLatin1String("includefile") || line.values.isEmpty())
            return false;
        const QString included = resolved(line.values.first());
        return file == included || file.startsWith(included + QLatin1Char('/')) ||
               file == line.values.first();
    });
}

bool VerdictReader::readSyntaxError(const Message& message)
{
    static const QRegularExpression inFile(
        QStringLiteral("^syntax error in (.+) line (\\d+), column (\\d+)$"));
    static const QRegularExpression atLine(QStringLiteral("^line (\\d+) column (\\d+) (.*)$"));
    static const QRegularExpression longItem(
        QStringLiteral("^configuration item on line (\\d+) longer than limit"));
    QRegularExpressionMatch match = inFile.match(message.text);
    if (match.hasMatch()) {
        const int line = match.captured(2).toInt();
        if (match.captured(1) == m_output.judgedPath) {
            m_rejectedNow.insert(line);
            add(line - 1, QStringLiteral("rejected"), message.text, CheckFinding::Error);
        } else {
            // A file the daemon reads besides: not these bytes' fault.
            add(includeLineOf(match.captured(1)), QStringLiteral("included ") + message.text,
                message.text, CheckFinding::Warning);
        }
        return true;
    }
    match = atLine.match(message.text);
    if (match.hasMatch()) {
        // "line N column C syntax error" comes with the message above, which
        // names the file; other texts are the parser's own complaints.
        if (!match.captured(3).startsWith(QLatin1String("syntax error")))
            add(match.captured(1).toInt() - 1, QString(), message.text);
        return true;
    }
    match = longItem.match(message.text);
    if (match.hasMatch()) {
        add(match.captured(1).toInt() - 1, QStringLiteral("rejected"), message.text,
            CheckFinding::Error);
        return true;
    }
    return false;
}

bool VerdictReader::readRestrict(const Message& message)
{
    static const QRegularExpression unusable(
        QStringLiteral("^restrict: ignoring line (\\d+), (mask|address/host) '(.*)' unusable\\.$"));
    static const QRegularExpression ignoredFlag(QStringLiteral("^restrict (\\w+) ignored$"));
    static const QRegularExpression kod(
        QStringLiteral("^restrict (\\S+): KOD does nothing without LIMITED\\.$"));
    QRegularExpressionMatch match = unusable.match(message.text);
    if (match.hasMatch()) {
        // The daemon counts the line after the restrict line (it has read
        // the line end when it takes the line in).
        const int reported = match.captured(1).toInt();
        const QString word = match.captured(3);
        int index = -1;
        for (int i = qMin(reported - 2, m_lines.size() - 1); i >= 0 && index < 0; --i) {
            const ConfigLine& line = m_lines.at(i);
            if (line.key == QLatin1String("restrict") && line.values.contains(word))
                index = i;
        }
        QString text = message.text;
        if (index >= 0)
            text.replace(match.capturedStart(1), match.capturedLength(1),
                         QString::number(index + 1));
        add(index, QStringLiteral("rejected"), text, CheckFinding::Error);
        return true;
    }
    // The next two name no line: each of the matching lines in turn, which
    // only the last round tells right (earlier ones may still hold lines the
    // daemon rejected without saying which).
    match = ignoredFlag.match(message.text);
    if (match.hasMatch()) {
        const QString flag = match.captured(1);
        if (m_lastRound)
            add(lineWhere(
                    [&](const ConfigLine& line) {
                        return line.key == QLatin1String("restrict") && hasWord(line, flag);
                    },
                    message.text),
                QStringLiteral("ignored-flag ") + flag.toLower(), message.text,
                CheckFinding::Warning);
        return true;
    }
    match = kod.match(message.text);
    if (match.hasMatch()) {
        const QString address = match.captured(1);
        const auto covers = [&](const ConfigLine& line) {
            if (line.key != QLatin1String("restrict") || !hasWord(line, QStringLiteral("kod")) ||
                hasWord(line, QStringLiteral("limited")))
                return false;
            // "default" for a plain default line; 0.0.0.0 or :: for one of -4 or -6
            const QString own = addressOf(line);
            if (own != QLatin1String("default") || address == own)
                return own == address;
            const bool v6 = address.contains(QLatin1Char(':'));
            return line.values.contains(v6 ? QStringLiteral("-6") : QStringLiteral("-4"));
        };
        if (m_lastRound)
            add(lineWhere(covers, message.text), QStringLiteral("kod without limited"),
                message.text, CheckFinding::Warning);
        return true;
    }
    return false;
}

// Messages that name the word of the line they are about.
bool VerdictReader::readNamed(const Message& message)
{
    static const QRegularExpression driver(QStringLiteral("^Unknown driver name (\\S+)$"));
    static const QRegularExpression clockType(
        QStringLiteral("^refclock_newpeer: clock type (\\d+) invalid"));
    static const QRegularExpression peer(
        QStringLiteral("^peer deprecated, treated as server: (\\S+)$"));
    static const QRegularExpression logItem(
        QStringLiteral("^logconfig: '(.*)' not recognized - ignored$"));
    static const QRegularExpression statsName(
        QStringLiteral("^(?:stats (\\S+) unrecognized|filegen category '(\\S+)' unrecognized)"));
    static const QRegularExpression fudge(
        QStringLiteral("^(?:unrecognized fudge reference clock address|inappropriate address) "
                       "([^\\s,]+)|^Unexpected fudge flag .* for (\\S+)$"));
    static const QRegularExpression key(QStringLiteral("^key (\\d+) not found for server (\\S+)$"));
    static const QRegularExpression invalidAddress(
        QStringLiteral("^attempt to configure invalid address (\\S+)$"));
    static const QRegularExpression unrepresentable(
        QStringLiteral("^(?:Integer|U_int) cannot be represented: (\\S+)$|"
                       "^Double too large to represent: (\\S+)$"));
    const QString& text = message.text;
    QRegularExpressionMatch m;
    const auto association = [&](const QString& name) {
        return [address = withoutFinalDot(name)](const ConfigLine& line) {
            return (line.key == QLatin1String("server") || line.key == QLatin1String("pool") ||
                    line.key == QLatin1String("peer")) &&
                   withoutFinalDot(addressOf(line)).compare(address, Qt::CaseInsensitive) == 0;
        };
    };
    if ((m = driver.match(text)).hasMatch()) {
        add(lineWithKey("refclock", m.captured(1)), QStringLiteral("rejected"), text,
            CheckFinding::Error);
    } else if ((m = clockType.match(text)).hasMatch()) {
        const QString prefix = QStringLiteral("127.127.%1.").arg(m.captured(1));
        add(lineWhere(
                [&](const ConfigLine& line) {
                    return line.key != QLatin1String("fudge") && addressOf(line).startsWith(prefix);
                },
                text),
            QStringLiteral("rejected"), text, CheckFinding::Error);
    } else if ((m = peer.match(text)).hasMatch()) {
        add(lineWhere(association(m.captured(1))), QStringLiteral("peer"), text);
    } else if ((m = logItem.match(text)).hasMatch()) {
        const QString item = m.captured(1);
        add(lineWhere([&](const ConfigLine& line) {
                if (line.key != QLatin1String("logconfig"))
                    return false;
                for (const QString& value : line.values) {
                    if (value == item || value.mid(1) == item)
                        return true;
                }
                return false;
            }),
            QStringLiteral("rejected"), text, CheckFinding::Error);
    } else if ((m = statsName.match(text)).hasMatch()) {
        const QString name = m.captured(1) + m.captured(2);
        const int statistics = lineWithKey("statistics", name);
        add(statistics >= 0 ? statistics : lineWithKey("filegen", name), QStringLiteral("rejected"),
            text, CheckFinding::Error);
    } else if ((m = fudge.match(text)).hasMatch()) {
        const QString address = m.captured(1) + m.captured(2);
        add(lineWhere([&](const ConfigLine& line) {
                return line.key == QLatin1String("fudge") && addressOf(line) == address;
            }),
            QString(), text);
    } else if ((m = key.match(text)).hasMatch()) {
        add(lineWhere(association(m.captured(2))), QStringLiteral("key ") + m.captured(1), text);
    } else if ((m = invalidAddress.match(text)).hasMatch()) {
        add(lineWhere(association(m.captured(1))), QStringLiteral("rejected"), text,
            CheckFinding::Error);
    } else if ((m = unrepresentable.match(text)).hasMatch()) {
        const QString word = m.captured(1) + m.captured(2);
        add(lineWhere([&](const ConfigLine& line) { return line.values.contains(word); }),
            QStringLiteral("rejected"), text, CheckFinding::Error);
    } else {
        return false;
    }
    return true;
}

// Messages about the files the configuration names.
bool VerdictReader::readFiles(const Message& message)
{
    static const QRegularExpression failedOpen(QStringLiteral("^failed to open '(.*)': "));
    static const QRegularExpression couldNotOpen(QStringLiteral("^Couldn't open <(.*)>$"));
    static const QRegularExpression keysFile(QStringLiteral("^authreadkeys: file (.*): "));
    static const QRegularExpression logFile(QStringLiteral("^Cannot open logfile (\\S+): "));
    static const QRegularExpression statsDir(
        QStringLiteral("^statistics directory (.*) does not exist or is unwriteable"));
    static const QRegularExpression leapFile(QStringLiteral("^leapsecond file \\('(.*)'\\): "));
    const QString& text = message.text;
    QRegularExpressionMatch m;
    if ((m = failedOpen.match(text)).hasMatch() || (m = couldNotOpen.match(text)).hasMatch()) {
        const int include = includeLineOf(m.captured(1));
        add(include, QStringLiteral("unreadable ") + QString::number(include), text);
    } else if ((m = keysFile.match(text)).hasMatch()) {
        add(lineWithKey("keys"), QStringLiteral("unreadable"), text);
    } else if ((m = logFile.match(text)).hasMatch()) {
        add(lineWithKey("logfile"), QStringLiteral("unreadable"), text);
    } else if ((m = statsDir.match(text)).hasMatch()) {
        // Without a statsdir line this is about the daemon's own default.
        const int line = lineWithKey("statsdir");
        if (line >= 0)
            add(line, QStringLiteral("folder"), text);
    } else if ((m = leapFile.match(text)).hasMatch()) {
        const bool expired = text.contains(QLatin1String("expired"));
        add(lineWithKey("leapfile"),
            expired ? QStringLiteral("leapfile expired") : QStringLiteral("leapfile"), text,
            CheckFinding::Warning);
    } else {
        return false;
    }
    return true;
}

// Messages about values the daemon changed or ignored.
bool VerdictReader::readNumbers(const Message& message)
{
    struct Known {
        QRegularExpression text;
        const char* key;  // of the line it is about
        const char* word; // that the line holds; nullptr: the first capture, if any
    };
    static const QVector<Known> known = {
        {QRegularExpression(QStringLiteral("^requestkey is a no-op")), "requestkey", ""},
        {QRegularExpression(QStringLiteral("^memlock ignored$")), "rlimit", "memlock"},
        {QRegularExpression(QStringLiteral("^Using maximum tos ceiling")), "tos", "ceiling"},
        {QRegularExpression(QStringLiteral("^Ignoring invalid trustedkey")), "trustedkey", ""},
        {QRegularExpression(QStringLiteral("^mru (\\S+) -?\\d+ out of range")), "mru", nullptr},
        {QRegularExpression(QStringLiteral("^tinker tick not supported")), "tinker", "tick"},
        {QRegularExpression(QStringLiteral("^negative leap smear interval")), "leapsmearinterval",
         ""},
    };
    static const QRegularExpression poll(
        QStringLiteral("^(minpoll|maxpoll): (?:provided )?value \\((-?\\d+)\\) is too"));
    const QString& text = message.text;
    const QRegularExpressionMatch m = poll.match(text);
    if (m.hasMatch()) {
        const QString option = m.captured(1);
        const QString value = m.captured(2);
        add(lineWhere([&](const ConfigLine& line) {
                const int at = line.values.indexOf(option);
                return at >= 0 && at + 1 < line.values.size() && line.values.at(at + 1) == value;
            }),
            QString(), text, CheckFinding::Warning);
        return true;
    }
    for (const Known& entry : known) {
        const QRegularExpressionMatch match = entry.text.match(text);
        if (!match.hasMatch())
            continue;
        const QString word = entry.word ? QString::fromLatin1(entry.word) : match.captured(1);
        add(lineWithKey(entry.key, word), QString(), text, CheckFinding::Warning);
        return true;
    }
    return false;
}

// A message this reader does not know: on the line it names, if any.
void VerdictReader::readOther(const Message& message)
{
    static const QStringList judged = {QStringLiteral("CONFIG"), QStringLiteral("ERR"),
                                       QStringLiteral("AUTH")};
    static const QRegularExpression line(QStringLiteral("\\bline (\\d+)\\b"));
    if (!judged.contains(message.subsystem))
        return; // the classic daemon's chatter
    const QRegularExpressionMatch m = line.match(message.text);
    add(m.hasMatch() ? m.captured(1).toInt() - 1 : -1, QString(), message.text);
}

void VerdictReader::readRound(int index)
{
    m_lastRound = index == m_output.rounds.size() - 1;
    m_rejectedNow.clear();
    m_claimed.clear();
    for (const Message& message : m_output.rounds.at(index).messages) {
        if (isNoise(message))
            continue;
        if (!readSyntaxError(message) && !readRestrict(message) && !readNamed(message) &&
            !readFiles(message) && !readNumbers(message))
            readOther(message);
    }
    m_blanked.unite(m_output.rounds.at(index).blankedAfter);
}

DaemonVerdict VerdictReader::read()
{
    static const QRegularExpression version(QStringLiteral("^ntpd ([^\\s:]+).*Starting$"));
    DaemonVerdict verdict;
    verdict.outputCut = m_output.cut;
    if (m_output.rounds.isEmpty() || m_output.rounds.last().exitCode < 0) {
        verdict.failure = tr("its output could not be read");
        return verdict;
    }
    verdict.asked = true;
    for (const Message& message : m_output.rounds.constFirst().messages) {
        const QRegularExpressionMatch m = version.match(message.text);
        if (m.hasMatch() && verdict.daemonVersion.isEmpty())
            verdict.daemonVersion = m.captured(1);
    }
    for (int i = 0; i < m_output.rounds.size(); ++i)
        readRound(i);
    const Round& last = m_output.rounds.constLast();
    const bool ranToEnd = last.exitCode == stoppedByTimeLimit;
    // The last round is the one without rejected lines, unless the rounds
    // ran out.
    verdict.complete = ranToEnd && m_rejectedNow.isEmpty() && !m_output.cut;
    if (!ranToEnd)
        add(-1, QStringLiteral("stopped"),
            tr("The daemon stopped at once (exit status %1): the lines after the one it "
               "stopped at were judged by the rules alone.")
                .arg(last.exitCode),
            CheckFinding::Warning, false);
    else if (!verdict.complete)
        add(-1, QStringLiteral("stopped"),
            tr("The daemon rejected lines in every round it was asked: some rejected lines "
               "may be missing here."),
            CheckFinding::Warning, false);
    verdict.findings = m_findings;
    sortFindings(&verdict.findings);
    return verdict;
}

} // namespace

QString judgeHostsEntries(const QVector<ConfigLine>& lines, int limit)
{
    static const QStringList keys = {QStringLiteral("server"),         QStringLiteral("pool"),
                                     QStringLiteral("peer"),           QStringLiteral("restrict"),
                                     QStringLiteral("manycastclient"), QStringLiteral("broadcast"),
                                     QStringLiteral("unpeer")};
    QSet<QString> seen;
    QString entries;
    for (const ConfigLine& line : lines) {
        if (!keys.contains(line.key))
            continue;
        const QString address = addressOf(line);
        if (!isHostName(address) || seen.contains(address) || seen.size() >= limit)
            continue;
        seen.insert(address);
        const int n = seen.size();
        entries += QStringLiteral("192.0.2.%1 %2\n2001:db8::%3 %2\n")
                       .arg(n % 250 + 1)
                       .arg(address)
                       .arg(n, 0, 16);
    }
    return entries;
}

DaemonVerdict verdictOfJudgeOutput(const QByteArray& output, const QVector<ConfigLine>& lines,
                                   const QString& shownPath)
{
    const JudgeOutput split = splitJudgeOutput(output);
    return VerdictReader(lines, split, shownPath).read();
}

QVector<CheckFinding> mergeFindings(const QVector<CheckFinding>& rules,
                                    const DaemonVerdict& verdict)
{
    QVector<CheckFinding> merged;
    QSet<int> daemonErrorLines;
    QSet<QString> ruleTopics;
    for (const CheckFinding& finding : verdict.findings) {
        if (finding.severity == CheckFinding::Error)
            daemonErrorLines.insert(finding.line);
    }
    for (const CheckFinding& rule : rules) {
        if (rule.severity == CheckFinding::Error && verdict.asked &&
            (daemonErrorLines.contains(rule.line) || (verdict.complete && rule.line > 0)))
            continue;
        if (!rule.topic.isEmpty())
            ruleTopics.insert(QString::number(rule.line) + QLatin1Char(' ') + rule.topic);
        merged.append(rule);
    }
    for (const CheckFinding& daemon : verdict.findings) {
        const QString topic = QString::number(daemon.line) + QLatin1Char(' ') + daemon.topic;
        if (daemon.severity == CheckFinding::Error || daemon.topic.isEmpty() ||
            !ruleTopics.contains(topic))
            merged.append(daemon);
    }
    if (!verdict.asked)
        merged.append(
            {0, CheckFinding::Warning,
             QCoreApplication::translate("ConfigCheck", "The daemon could not be asked: %1. The "
                                                        "rules alone judged this file.")
                 .arg(verdict.failure),
             QLatin1String(notAskedTopic)});
    sortFindings(&merged);
    return merged;
}
