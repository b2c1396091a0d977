#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include "config/filefingerprint.h"

struct FileContent;

// The largest configuration file the program reads (16 MiB): a larger one
// reads as unreadable (EFBIG), as the store reads any file it cannot read.
constexpr qint64 configFileLimit = 16 * 1024 * 1024;

// One line of a configuration file as read: its raw bytes (without the line
// ending) and, for a line that holds a directive, the tokens and any trailing
// comment. Blank lines and comment lines have an empty key ("#" for comments).
struct ConfigLine {
    QByteArray raw;
    QString key;
    QStringList values;
    QString trailingComment; // "# ..." after the directive's tokens, trimmed
    // False when the bytes are not valid text in the file's encoding: the
    // decoded tokens then differ from the bytes, so the line is never
    // regenerated from them, only copied.
    bool validText = true;
};

// Whether `c` can stand inside one word of a line: it separates no words
// (blank, tab, "=", other white space) and starts no comment ("#", which the
// daemon reads as one wherever it stands).
bool canBeInWord(QChar c);
// Whether `text`, written into a line, is read back as exactly this one
// word: not empty, every character canBeInWord(), and no control character.
bool isOneWord(const QString& text);

// Splits one decoded line the way the reader does: trimmed, "#" lines are
// comments, tokens split at blanks, tabs and "=", a token starting with "#"
// ends the line.
ConfigLine parseConfigLine(const QByteArray& raw);
// Every line of a configuration file on the current host (following
// symbolic links); empty when it cannot be read.
QVector<ConfigLine> readConfigLines(const QString& path, bool* ok = nullptr);
// As readConfigLines(), also giving the fingerprint of the bytes read and, on
// failure, the errno value of the failed step.
bool readConfigFile(const QString& path, QVector<ConfigLine>* lines, FileFingerprint* fingerprint,
                    int* error);
// The lines and fingerprint of content already read.
void parseConfigContent(const FileContent& content, QVector<ConfigLine>* lines,
                        FileFingerprint* fingerprint);

// Keyword store: a multimap from a line's first word to its remaining words.
class Config : public QObject
{
    Q_OBJECT
public:
    explicit Config(QObject* parent = nullptr);
    Config(const QString& path, QObject* parent = nullptr);
    // The store of `content`, which the caller has just read from `path`:
    // saves reading and hashing a large file twice.
    Config(const QString& path, const FileContent& content, QObject* parent = nullptr);

    virtual QMap<QString, QStringList> values(const QString& key) const;

    // Every entry in the order it was added, with its trailing comment.
    const QVector<ConfigLine>& entries() const { return m_entries; }
    QString path() const { return m_path; }
    // What the file looked like when it was read (null when it was not).
    const FileFingerprint& fingerprint() const { return m_fingerprint; }

public slots:
    virtual void clear(const QString& key = QString());
    virtual void setValues(const QString& key, const QStringList& values);
    virtual void save();
    virtual void load(const QString& path);

private:
    void readFile();
    void keepEntries(QVector<ConfigLine>& lines);

    QVector<ConfigLine> m_entries; // insertion order; one per stored entry
    QString m_path;
    FileFingerprint m_fingerprint;
};
