#include "daemon/ntpqoutput.h"

#include <QRegularExpression>
#include <QStringList>
#include <functional>

namespace
{
const int columnsAfterRemote = 9; // refid st t when poll reach delay offset jitter

double numberOrNan(const QString& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? value : NAN;
}

int intOr(const QString& text, int fallback, int base = 10)
{
    bool ok = false;
    const int value = text.toInt(&ok, base);
    return ok ? value : fallback;
}

bool isHeader(const QString& line)
{
    return line.trimmed().startsWith(QLatin1String("remote")) &&
           line.contains(QLatin1String("refid"));
}

bool isRule(const QString& line)
{
    return line.startsWith(QLatin1String("==="));
}

QStringList wordsOf(const QString& text)
{
    return text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

PeerRow rowOf(QChar tally, const QString& remote, const QStringList& columns)
{
    PeerRow row;
    row.tally = tally;
    row.remote = remote;
    row.refid = columns.at(0);
    row.stratum = intOr(columns.at(1), -1);
    row.type = columns.at(2);
    row.when = columns.at(3);
    row.poll = columns.at(4);
    row.reach = intOr(columns.at(5), 0, 8);
    row.delay = numberOrNan(columns.at(6));
    row.offset = numberOrNan(columns.at(7));
    row.jitter = numberOrNan(columns.at(8));
    return row;
}
} // namespace

PeerSelection peerSelectionOf(QChar tally)
{
    switch (tally.unicode()) {
    case 'x':
        return PeerSelection::FalseTicker;
    case '.':
        return PeerSelection::Excess;
    case '-':
        return PeerSelection::Outlier;
    case '+':
        return PeerSelection::Candidate;
    case '#':
        return PeerSelection::Backup;
    case '*':
        return PeerSelection::SystemPeer;
    case 'o':
        return PeerSelection::PpsPeer;
    default:
        return PeerSelection::Rejected;
    }
}

const PeerRow* PeersTable::systemPeer() const
{
    for (const PeerRow& row : rows) {
        if (row.isSystemPeer())
            return &row;
    }
    return nullptr;
}

// A row is the tally character in the first column, the remote name and nine
// more columns. ntpq puts a name too long for its column on a line of its own
// and the nine columns, indented, on the next line.
PeersTable parsePeers(const QString& text)
{
    PeersTable table;
    QChar pendingTally;
    QString pendingRemote;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        // Classic: "No association ID's returned"; NTPsec drops the apostrophe.
        if (line.contains(QLatin1String("No association ID's returned")) ||
            line.contains(QLatin1String("No association IDs returned"))) {
            table.answered = true;
            table.noAssociations = true;
            continue;
        }
        if (isHeader(line) || isRule(line)) {
            table.answered = table.answered || isHeader(line);
            continue;
        }
        if (line.trimmed().isEmpty())
            continue;
        const QStringList words = wordsOf(line.mid(1));
        if (!pendingRemote.isEmpty() && line.at(0).isSpace() && line.at(1).isSpace() &&
            words.size() == columnsAfterRemote) {
            table.rows.append(rowOf(pendingTally, pendingRemote, words));
            pendingRemote.clear();
            continue;
        }
        pendingRemote.clear();
        if (words.size() == 1) {
            pendingTally = line.at(0);
            pendingRemote = words.at(0);
        } else if (words.size() == columnsAfterRemote + 1) {
            table.rows.append(rowOf(line.at(0), words.at(0), words.mid(1)));
        }
    }
    return table;
}

int ntpqDurationSeconds(const QString& text)
{
    if (text.isEmpty())
        return -1;
    int factor = 1;
    QString digits = text;
    switch (text.back().unicode()) {
    case 'm':
        factor = 60;
        break;
    case 'h':
        factor = 3600;
        break;
    case 'd':
        factor = 86400;
        break;
    default:
        break;
    }
    if (factor != 1)
        digits.chop(1);
    const int value = intOr(digits, -1);
    return value < 0 ? -1 : value * factor;
}

QString reachAsPolls(int reach)
{
    QString polls;
    for (int bit = 7; bit >= 0; --bit)
        polls += (reach & (1 << bit)) ? QLatin1Char('1') : QLatin1Char('0');
    return polls;
}

QMap<QString, QString> parseVariables(const QString& text)
{
    QMap<QString, QString> values;
    QString lastKey;
    QString item;
    bool quoted = false;
    std::function<void(QString)> addItem = [&](QString trimmed) {
        if (trimmed.isEmpty())
            return;
        const int equals = trimmed.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            if (!lastKey.isEmpty())
                values[lastKey] += QLatin1String(", ") + trimmed;
            return;
        }
        lastKey = trimmed.left(equals);
        QString value = trimmed.mid(equals + 1);
        // "associd=0 status=...": two pairs with only a blank between them.
        static const QRegularExpression nextPair(QStringLiteral("^(\\S*)\\s+(\\w+=.*)$"));
        const QRegularExpressionMatch more = nextPair.match(value);
        if (!value.startsWith(QLatin1Char('"')) && more.hasMatch()) {
            values.insert(lastKey, more.captured(1));
            addItem(more.captured(2));
            return;
        }
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
            value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        values.insert(lastKey, value);
    };
    auto finishItem = [&] {
        addItem(item.trimmed());
        item.clear();
    };
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (!quoted && (c == QLatin1Char(',') || c == QLatin1Char('\n'))) {
            finishItem();
            continue;
        }
        if (c != QLatin1Char('\r'))
            item += c;
    }
    finishItem();
    return values;
}

namespace
{
// "00", "11" (the two leap bits) or a plain number.
int leapOf(const QString& text)
{
    if (text.size() == 2 && (text.at(0) == QLatin1Char('0') || text.at(0) == QLatin1Char('1')) &&
        (text.at(1) == QLatin1Char('0') || text.at(1) == QLatin1Char('1')))
        return intOr(text, -1, 2);
    return intOr(text, -1);
}
} // namespace

SystemVariables parseSystemVariables(const QString& text)
{
    const QMap<QString, QString> values = parseVariables(text);
    SystemVariables vars;
    vars.answered = values.contains(QStringLiteral("stratum"));
    if (!vars.answered)
        return vars;
    vars.leap = leapOf(values.value(QStringLiteral("leap")));
    vars.stratum = intOr(values.value(QStringLiteral("stratum")), -1);
    vars.refid = values.value(QStringLiteral("refid"));
    vars.offset = numberOrNan(values.value(QStringLiteral("offset")));
    const QString jitterKey = values.contains(QStringLiteral("sys_jitter"))
                                  ? QStringLiteral("sys_jitter")
                                  : QStringLiteral("jitter");
    vars.sysJitter = numberOrNan(values.value(jitterKey));
    vars.frequency = numberOrNan(values.value(QStringLiteral("frequency")));
    vars.version = values.value(QStringLiteral("version"));
    vars.status = values.value(QStringLiteral("status"));
    return vars;
}

NtpqFailure ntpqFailureOf(const QString& text)
{
    if (text.contains(QLatin1String("timed out"), Qt::CaseInsensitive))
        return NtpqFailure::TimedOut;
    if (text.contains(QLatin1String("refused"), Qt::CaseInsensitive) ||
        text.contains(QLatin1String("***Server"), Qt::CaseInsensitive))
        return NtpqFailure::Refused;
    if (parsePeers(text).answered || parseSystemVariables(text).answered)
        return NtpqFailure::None;
    return NtpqFailure::Unrecognised;
}

QByteArray ntpqSessionQuery()
{
    return QByteArrayLiteral(
        "version\npeers\nversion\nrv\nversion\nsysstats\nversion\nntsinfo\nversion\n");
}

namespace
{
// Where `line` next stands as a whole line of `text`, from `from` on; -1 if not.
int lineAt(const QByteArray& text, const QByteArray& line, int from)
{
    for (int at = text.indexOf(line, from); at >= 0; at = text.indexOf(line, at + 1)) {
        const bool starts = at == 0 || text.at(at - 1) == '\n';
        if (starts && text.mid(at + line.size(), 1) == "\n")
            return at;
    }
    return -1;
}
} // namespace

QList<QByteArray> splitNtpqSections(const QByteArray& output, int count)
{
    // The first line is the version, whatever the program calls itself.
    const int firstEnd = output.indexOf('\n');
    if (firstEnd <= 0)
        return {};
    const QByteArray marker = output.left(firstEnd);
    QList<QByteArray> sections;
    int from = firstEnd + 1;
    while (sections.size() < count) {
        const int end = lineAt(output, marker, from);
        if (end < 0)
            return {};
        sections << output.mid(from, end - from);
        from = end + marker.size() + 1;
    }
    return sections;
}

bool splitNtpqSession(const QByteArray& output, QByteArray* peers, QByteArray* variables)
{
    const QList<QByteArray> sections = splitNtpqSections(output, 2);
    if (sections.isEmpty())
        return false;
    *peers = sections.at(0);
    *variables = sections.at(1);
    return true;
}

QString reachSummary(int reach)
{
    int answered = 0;
    for (int bit = 0; bit < 8; ++bit)
        answered += (reach >> bit) & 1;
    return QStringLiteral("%1/8").arg(answered);
}

NtsCounters parseNtsInfo(const QString& text)
{
    NtsCounters counters;
    static const QRegularExpression line(QStringLiteral("^NTS ([A-Za-z ]+?):\\s+(\\d+)"),
                                         QRegularExpression::MultilineOption);
    auto it = line.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const QString name = match.captured(1);
        const int value = match.captured(2).toInt();
        counters.answered = true;
        if (name == QLatin1String("client recvs good"))
            counters.clientGood = value;
        else if (name == QLatin1String("KE client probes good"))
            counters.keGood = value;
        else if (name == QLatin1String("KE client probes bad"))
            counters.keBad = value;
    }
    return counters;
}
