#include "daemon/shellassignments.h"

#include <QRegularExpression>

namespace
{
bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool endsWord(QChar c)
{
    static const QString operators = QStringLiteral(";&|<>()\n");
    return isBlank(c) || operators.contains(c);
}

bool isNameChar(QChar c, bool first)
{
    return c == QLatin1Char('_') || (c.isLetter() && c.unicode() < 128) ||
           (!first && c.isDigit() && c.unicode() < 128);
}

class Reader
{
public:
    explicit Reader(const QString& text) : m_text(text) {}

    ShellVariables read()
    {
        while (!atEnd()) {
            skipBlanks();
            if (atEnd())
                break;
            const QChar c = peek();
            if (c == QLatin1Char('#')) {
                skipLine();
            } else if (c == QLatin1Char('\n') || c == QLatin1Char(';')) {
                ++m_pos;
            } else {
                readCommand();
            }
        }
        return m_result;
    }

private:
    struct Word {
        QString text;
        QString name; // of NAME=... written unquoted; empty otherwise
        bool understood = true;
    };

    bool atEnd() const { return m_pos >= m_text.size(); }
    QChar peek(int ahead = 0) const
    {
        return m_pos + ahead < m_text.size() ? m_text.at(m_pos + ahead) : QChar();
    }
    void skipBlanks()
    {
        while (!atEnd() &&
               (isBlank(peek()) || (peek() == QLatin1Char('\\') && peek(1) == QLatin1Char('\n'))))
            m_pos += isBlank(peek()) ? 1 : 2;
    }
    void skipLine()
    {
        while (!atEnd() && peek() != QLatin1Char('\n'))
            ++m_pos;
    }

    // One simple command: assignments, optionally after "export"; anything
    // else makes every later assignment uncertain (it may be conditional or
    // an argument).
    void readCommand()
    {
        bool first = true;
        bool exporting = false;
        while (!atEnd()) {
            skipBlanks();
            if (atEnd() || peek() == QLatin1Char('\n') || peek() == QLatin1Char(';'))
                return;
            if (peek() == QLatin1Char('#'))
                return skipLine();
            if (endsWord(peek())) {
                m_uncertain = true; // a pipe, a redirection, a subshell
                ++m_pos;
                continue;
            }
            const Word word = readWord();
            if (first && word.name.isEmpty() && word.text == QLatin1String("export")) {
                first = false;
                exporting = true;
                continue;
            }
            first = false;
            // "export NAME" of a variable set before changes no value.
            if (exporting && word.name.isEmpty() && word.understood && isName(word.text))
                continue;
            // A command (or a keyword such as "if"): what follows may
            // depend on it, an assignment after "then" included.
            if (word.name.isEmpty())
                m_uncertain = true;
            else
                assign(word);
        }
    }

    void assign(const Word& word)
    {
        const QString value = word.text.mid(word.name.size() + 1);
        if (!word.understood || m_uncertain) {
            m_result.notUnderstood.insert(word.name);
            m_result.values.remove(word.name);
            return;
        }
        m_result.notUnderstood.remove(word.name);
        m_result.values.insert(word.name, value);
    }

    Word readWord()
    {
        Word word;
        bool quotedYet = false;
        while (!atEnd() && !endsWord(peek())) {
            const QChar c = peek();
            if (c == QLatin1Char('=') && !quotedYet && word.name.isEmpty() && isName(word.text)) {
                word.name = word.text;
                word.text += c;
                ++m_pos;
                if (peek() == QLatin1Char('~'))
                    word.understood = false;
            } else if (c == QLatin1Char('\'')) {
                quotedYet = true;
                const int end = m_text.indexOf(QLatin1Char('\''), m_pos + 1);
                if (end < 0)
                    return notUnderstood(word);
                word.text += m_text.mid(m_pos + 1, end - m_pos - 1);
                m_pos = end + 1;
            } else if (c == QLatin1Char('"')) {
                quotedYet = true;
                ++m_pos;
                if (!readDoubleQuoted(&word))
                    return notUnderstood(word);
            } else if (c == QLatin1Char('\\')) {
                quotedYet = true;
                if (peek(1) != QLatin1Char('\n'))
                    word.text += peek(1);
                m_pos += 2;
            } else if (c == QLatin1Char('$')) {
                expand(&word);
            } else if (c == QLatin1Char('`')) {
                word.understood = false;
                ++m_pos;
            } else {
                word.text += c;
                ++m_pos;
            }
        }
        return word;
    }

    Word notUnderstood(Word word)
    {
        word.understood = false;
        m_pos = m_text.size();
        return word;
    }

    bool readDoubleQuoted(Word* word)
    {
        while (!atEnd()) {
            const QChar c = peek();
            if (c == QLatin1Char('"')) {
                ++m_pos;
                return true;
            }
            if (c == QLatin1Char('\\')) {
                const QChar next = peek(1);
                if (next == QLatin1Char('\n')) {
                    m_pos += 2;
                    continue;
                }
                if (QStringLiteral("$`\"\\").contains(next)) {
                    word->text += next;
                    m_pos += 2;
                    continue;
                }
                word->text += c;
                ++m_pos;
            } else if (c == QLatin1Char('$')) {
                expand(word);
            } else if (c == QLatin1Char('`')) {
                word->understood = false;
                ++m_pos;
            } else {
                word->text += c;
                ++m_pos;
            }
        }
        return false;
    }

    // $NAME and ${NAME}; a lone "$" stands for itself; anything else is
    // beyond what is worked out here.
    void expand(Word* word)
    {
        ++m_pos;
        const bool braced = peek() == QLatin1Char('{');
        const int start = m_pos + (braced ? 1 : 0);
        int end = start;
        while (end < m_text.size() && isNameChar(m_text.at(end), end == start))
            ++end;
        const QString name = m_text.mid(start, end - start);
        if (name.isEmpty()) {
            if (braced || peek() == QLatin1Char('(') ||
                (!atEnd() && !endsWord(peek()) && peek() != QLatin1Char('"')))
                word->understood = false;
            else
                word->text += QLatin1Char('$');
            return;
        }
        if (braced) {
            if (end >= m_text.size() || m_text.at(end) != QLatin1Char('}')) {
                word->understood = false;
                m_pos = end;
                return;
            }
            ++end;
        }
        m_pos = end;
        if (m_result.notUnderstood.contains(name))
            word->understood = false;
        word->text += m_result.values.value(name);
    }

    static bool isName(const QString& text)
    {
        if (text.isEmpty())
            return false;
        for (int i = 0; i < text.size(); ++i) {
            if (!isNameChar(text.at(i), i == 0))
                return false;
        }
        return true;
    }

    const QString m_text;
    int m_pos = 0;
    bool m_uncertain = false;
    ShellVariables m_result;
};
} // namespace

ShellVariables shellAssignments(const QByteArray& text)
{
    return Reader(QString::fromUtf8(text)).read();
}

QStringList shellFields(const QString& value, bool* patterns)
{
    static const QRegularExpression separators(QStringLiteral("[ \\t\\n]+"));
    static const QRegularExpression pattern(QStringLiteral("[*?\\[]"));
    const QStringList fields = value.split(separators, Qt::SkipEmptyParts);
    if (patterns)
        *patterns = value.contains(pattern);
    return fields;
}
