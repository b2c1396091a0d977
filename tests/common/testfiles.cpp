#include "tests/common/testfiles.h"

#include <QFile>

#include "daemon/ntpconfpath.h"

namespace TestHelpers
{

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

QStringList linesOf(const QByteArray& text, const QString& key)
{
    QStringList result;
    for (const QString& line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        if (line.section(QLatin1Char(' '), 0, 0) == key)
            result.append(line);
    }
    return result;
}

QString sourceFile(const QString& relativePath)
{
    const QString top = qEnvironmentVariable("NTPSM_SOURCE_DIR");
    const QString path = top + QLatin1Char('/') + relativePath;
    return !top.isEmpty() && QFile::exists(path) ? path : QString();
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

ConfFile::ConfFile(const QByteArray& content)
{
    write(content);
    setNtpConfPathForTesting(path());
    setBackupDirPathForTesting(backupDir());
}

QString ConfFile::backupDir() const
{
    return m_backupRoot.filePath(QStringLiteral("ntp-service-manager"));
}

// Never fall back to the real file: later page loads find nothing at all.
ConfFile::~ConfFile()
{
    setNtpConfPathForTesting(QStringLiteral("/nonexistent/ntp-service-manager-test/ntp.conf"));
    setBackupDirPathForTesting(QStringLiteral("/nonexistent/ntp-service-manager-test/backups"));
}

QString ConfFile::path() const
{
    return m_dir.filePath(QStringLiteral("ntp.conf"));
}

QByteArray ConfFile::read() const
{
    return readFile(path());
}

void ConfFile::write(const QByteArray& content) const
{
    writeFile(path(), content);
}

QString ntpqFixturePath(const char* name)
{
    return qEnvironmentVariable("NTPSM_SOURCE_DIR") + QStringLiteral("/tests/daemon/data/ntpq/") +
           QLatin1String(name);
}

} // namespace TestHelpers
