#include "config/config.h"

#include "host/host.h"
#include "host/hostpath.h"

#include <QMultiMap>
#include <QTextCodec>
#include <algorithm>

namespace
{

QTextCodec* fileCodec()
{
    return QTextCodec::codecForLocale();
}

// The separators between tokens: blank, tab and "=".
bool isSeparator(QChar c)
{
    // Other white space separates too: a line's ends are trimmed of it, so a
    // token ending in it would change once the writer moves it to a line end.
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('=') || c.isSpace();
}

bool isAsciiSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The same separators in an ASCII line.
bool isSeparator(char c)
{
    return c == '=' || isAsciiSpace(c);
}

QString tokenText(const QChar* begin, int size)
{
    return QString(begin, size);
}

QString tokenText(const char* begin, int size)
{
    return QString::fromLatin1(begin, size);
}

// Splits the characters from `begin` to `end` at every separator, dropping
// empty pieces. ASCII lines are split as bytes, without decoding the whole
// line first: lines are mostly ASCII, and decoding them one by one was the
// dearest part of reading a large file.
template <class Char> QStringList tokensOf(const Char* begin, const Char* end)
{
    QStringList tokens;
    while (begin < end) {
        while (begin < end && isSeparator(*begin))
            ++begin;
        const Char* tokenEnd = begin;
        while (tokenEnd < end && !isSeparator(*tokenEnd))
            ++tokenEnd;
        if (tokenEnd > begin)
            tokens.append(tokenText(begin, int(tokenEnd - begin)));
        begin = tokenEnd;
    }
    return tokens;
}

// Splits `bytes` at LF; a CR right before the LF belongs to the line end.
// A last line without LF still counts; the empty piece after a final LF
// does not.
QVector<QByteArray> splitLines(const QByteArray& bytes)
{
    QVector<QByteArray> lines;
    int start = 0;
    const int size = bytes.size();
    while (start < size) {
        int end = bytes.indexOf('\n', start);
        const bool lastLine = end < 0;
        if (lastLine)
            end = size;
        int contentEnd = end;
        // CRs at the end of a line belong to its line end: written back before
        // an LF, they would otherwise turn into CR LF and vanish one by one.
        while (contentEnd > start && bytes.at(contentEnd - 1) == '\r')
            --contentEnd;
        lines.append(bytes.mid(start, contentEnd - start));
        start = end + 1;
    }
    return lines;
}

// True when the file's encoding decodes every byte from 1 to 127 as the
// ASCII character of that code, as all locale encodings in use do.
bool codecExtendsAscii()
{
    // Asked once per codec: the locale's codec can be replaced at run time.
    static QTextCodec* asked = nullptr;
    static bool extends = false;
    QTextCodec* codec = fileCodec();
    if (codec != asked) {
        QByteArray ascii;
        for (int code = 1; code < 128; ++code)
            ascii.append(char(code));
        extends = codec->toUnicode(ascii) == QString::fromLatin1(ascii);
        asked = codec;
    }
    return extends;
}

bool isAsciiLine(const QByteArray& raw)
{
    return std::all_of(raw.cbegin(), raw.cend(), [](char c) {
        const auto code = static_cast<unsigned char>(c);
        return code >= 1 && code < 128;
    });
}

// The key, values and trailing comment of a directive line from its tokens.
void takeTokens(ConfigLine& line, QStringList tokens)
{
    for (int i = 0; i < tokens.size(); ++i) {
        if (tokens.at(i).startsWith(QLatin1Char('#'))) {
            line.trailingComment = tokens.mid(i).join(QLatin1Char(' '));
            tokens.erase(tokens.begin() + i, tokens.end());
            break;
        }
    }
    if (tokens.isEmpty())
        return;
    line.key = tokens.takeFirst();
    line.values = std::move(tokens);
}

bool parseAsciiLine(ConfigLine& line)
{
    if (!codecExtendsAscii() || !isAsciiLine(line.raw))
        return false;
    const char* begin = line.raw.constData();
    const char* end = begin + line.raw.size();
    while (begin < end && isAsciiSpace(*begin))
        ++begin;
    while (end > begin && isAsciiSpace(end[-1]))
        --end;
    if (begin == end)
        return true;
    if (*begin == '#') {
        line.key = QStringLiteral("#");
        line.values = QStringList{QString::fromLatin1(begin, int(end - begin))};
        return true;
    }
    takeTokens(line, tokensOf(begin, end));
    return true;
}

} // namespace

bool canBeInWord(QChar c)
{
    return !isSeparator(c) && c != QLatin1Char('#');
}

bool isOneWord(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return canBeInWord(c) && c.category() != QChar::Other_Control;
    });
}

ConfigLine parseConfigLine(const QByteArray& raw)
{
    ConfigLine line;
    line.raw = raw;
    if (parseAsciiLine(line))
        return line;
    QTextCodec::ConverterState state;
    const QString text = fileCodec()->toUnicode(raw.constData(), raw.size(), &state).trimmed();
    line.validText = state.invalidChars == 0 && state.remainingChars == 0;
    if (text.isEmpty())
        return line;
    if (text.startsWith(QLatin1Char('#'))) {
        line.key = QStringLiteral("#");
        line.values = QStringList{text};
        return line;
    }
    takeTokens(line, tokensOf(text.constData(), text.constData() + text.size()));
    return line;
}

bool readConfigFile(const QString& path, QVector<ConfigLine>* lines, FileFingerprint* fingerprint,
                    int* error)
{
    lines->clear();
    FileContent content;
    const int result = Host::current().readFile(path, configFileLimit, &content, true);
    if (error)
        *error = result;
    if (result != 0) {
        if (fingerprint)
            *fingerprint = FileFingerprint();
        return false;
    }
    parseConfigContent(content, lines, fingerprint);
    return true;
}

void parseConfigContent(const FileContent& content, QVector<ConfigLine>* lines,
                        FileFingerprint* fingerprint)
{
    if (fingerprint)
        *fingerprint = FileFingerprint::ofContent(content.bytes, content.modified);
    const QVector<QByteArray> rawLines = splitLines(content.bytes);
    lines->clear();
    lines->reserve(rawLines.size());
    for (const QByteArray& raw : rawLines)
        lines->append(parseConfigLine(raw));
}

QVector<ConfigLine> readConfigLines(const QString& path, bool* ok)
{
    QVector<ConfigLine> lines;
    const bool read = readConfigFile(path, &lines, nullptr, nullptr);
    if (ok)
        *ok = read;
    return lines;
}

Config::Config(QObject* parent) : QObject(parent) {}

Config::Config(const QString& path, QObject* parent) : QObject(parent), m_path(path)
{
    if (!m_path.isEmpty())
        readFile();
}

Config::Config(const QString& path, const FileContent& content, QObject* parent)
    : QObject(parent), m_path(path)
{
    QVector<ConfigLine> lines;
    parseConfigContent(content, &lines, &m_fingerprint);
    keepEntries(lines);
}

QMap<QString, QStringList> Config::values(const QString& key) const
{
    // A multimap hands out the entries of one key most recent first, so
    // inserting from the last entry backwards yields them in the order they
    // were added.
    QMultiMap<QString, QStringList> result;
    for (auto it = m_entries.crbegin(); it != m_entries.crend(); ++it) {
        if (key.isEmpty() || it->key == key)
            result.insert(it->key, it->values);
    }
    return std::move(result);
}

void Config::clear(const QString& key)
{
    if (key.isEmpty()) {
        m_entries.clear();
        return;
    }
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [&key](const ConfigLine& line) { return line.key == key; }),
                    m_entries.end());
}

void Config::setValues(const QString& key, const QStringList& values)
{
    ConfigLine line;
    line.key = key;
    line.values = values;
    m_entries.append(line);
}

void Config::save()
{
    if (m_path.isEmpty())
        return;
    // Store order: keys ascending, within one key the most recent entry first.
    QMultiMap<QString, QStringList> store;
    for (const ConfigLine& line : qAsConst(m_entries))
        store.insert(line.key, line.values);
    const QChar tab(QLatin1Char('\t'));
    QString text;
    for (auto it = store.cbegin(); it != store.cend(); ++it) {
        if (it.key() != QLatin1String("#"))
            text += it.key() + tab;
        text += it.value().join(tab) + QLatin1Char('\n');
    }
    // Written like every file the program writes: through a link to its
    // file, in one step. The store has no way to report a failure.
    Host& host = Host::current();
    FileReplacement replacement;
    if (resolveSymlinks(host, m_path, &replacement.target) != 0)
        return;
    replacement.bytes = fileCodec()->fromUnicode(text);
    host.replaceFile(replacement);
}

void Config::load(const QString& path)
{
    m_path = path;
    if (m_path.isEmpty())
        return;
    readFile();
}

void Config::readFile()
{
    m_entries.clear();
    QVector<ConfigLine> lines;
    if (!readConfigFile(m_path, &lines, &m_fingerprint, nullptr)) {
        m_path.clear();
        return;
    }
    keepEntries(lines);
}

void Config::keepEntries(QVector<ConfigLine>& lines)
{
    m_entries.reserve(lines.size());
    for (ConfigLine& line : lines) {
        if (!line.key.isEmpty())
            m_entries.append(std::move(line));
    }
}
