#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// File helpers shared by every test, widget-free so that the configuration
// tests need Qt Core only.
namespace TestHelpers
{

// The bytes of a file; empty when it cannot be read.
QByteArray readFile(const QString& path);
// Replaces a file's content; false unless all of it was written.
bool writeFile(const QString& path, const QByteArray& content);

// The lines of a configuration text whose first word is `key`.
QStringList linesOf(const QByteArray& text, const QString& key);

// A file of the source tree, by its path from the tree's top, found through
// NTPSM_SOURCE_DIR (CTest sets it); empty when it cannot be found.
QString sourceFile(const QString& relativePath);

// `list`, sorted: for comparing rows whose order does not matter.
QStringList sorted(QStringList list);

// A temporary ntp.conf that the program uses instead of /etc/ntp.conf while
// this object lives.
class ConfFile
{
public:
    explicit ConfFile(const QByteArray& content = QByteArray());
    ~ConfFile();
    QString path() const;
    QString dir() const { return m_dir.path(); }
    QByteArray read() const;
    void write(const QByteArray& content) const;

private:
    QTemporaryDir m_dir;
};

} // namespace TestHelpers
