#include "tests/common/testfiles.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <algorithm>
#include <vector>

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

QByteArray generatedConfig(int lines, int distinct)
{
    QByteArray text;
    for (int i = 0; i < lines; ++i) {
        const int n = distinct > 0 ? i % distinct : i;
        switch (n % 4) {
        case 0:
            text += "# group " + QByteArray::number(n) + '\n';
            break;
        case 1:
            text += "server 10." + QByteArray::number(n / 250 % 250) + '.' +
                    QByteArray::number(n % 250) + ".1 iburst\n";
            break;
        case 2:
            text += "restrict 10.0." + QByteArray::number(n % 250) + ".0 mask 255.255.255.0\n";
            break;
        default:
            text += distinct > 0 ? QByteArray("\n")
                                 : "pool " + QByteArray::number(n) + ".example.org\n";
            break;
        }
    }
    return text;
}

QByteArray withRandomEdits(const QByteArray& text, int count, quint32 seed)
{
    QRandomGenerator random(seed);
    const QList<QByteArray> lines = text.split('\n');
    const int endOfLines = lines.size() - 1; // the last piece is what follows the last line end
    std::vector<int> positions(size_t(qMax(count, 0)));
    for (int& position : positions)
        position = int(random.bounded(quint32(endOfLines + 1)));
    std::sort(positions.begin(), positions.end());

    QByteArrayList edited;
    int next = 0; // the first line not yet copied
    for (int edit = 0; edit < count; ++edit) {
        while (next < positions[size_t(edit)] && next < endOfLines)
            edited.append(lines.at(next++));
        const int run = 1 + int(random.bounded(3u));
        const QByteArray fresh = "edit " + QByteArray::number(edit);
        switch (random.bounded(3u)) {
        case 0:
            next = qMin(next + run, endOfLines);
            break;
        case 1:
            for (int i = 0; i < run; ++i)
                edited.append(fresh + '.' + QByteArray::number(i));
            break;
        default:
            for (int i = 0; i < run && next < endOfLines; ++i)
                edited.append(fresh + " replaces " + lines.at(next++));
            break;
        }
    }
    while (next < lines.size())
        edited.append(lines.at(next++));
    return edited.join('\n');
}

QByteArray patchedByPatch(const QByteArray& before, const QByteArray& diff, QString* error)
{
    QTemporaryDir dir;
    const QString old = dir.filePath(QStringLiteral("old"));
    const QString change = dir.filePath(QStringLiteral("change.diff"));
    const QString result = dir.filePath(QStringLiteral("new"));
    if (!writeFile(old, before) || !writeFile(change, diff)) {
        *error = QStringLiteral("cannot write to %1").arg(dir.path());
        return QByteArray();
    }
    QProcess patch;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    patch.setProcessEnvironment(environment);
    patch.setProcessChannelMode(QProcess::MergedChannels);
    // --binary: CRs are the file's own bytes, not a line end to strip.
    patch.start(QStringLiteral("patch"),
                {QStringLiteral("--batch"), QStringLiteral("--fuzz=0"), QStringLiteral("--binary"),
                 QStringLiteral("--no-backup-if-mismatch"), QStringLiteral("--output=") + result,
                 QStringLiteral("--input=") + change, old});
    if (!patch.waitForFinished(120000)) {
        *error = QStringLiteral("patch did not run: ") + patch.errorString();
        return QByteArray();
    }
    const QString output = QString::fromLocal8Bit(patch.readAll());
    error->clear();
    if (patch.exitStatus() != QProcess::NormalExit || patch.exitCode() != 0 ||
        output.contains(QLatin1String("offset")) || output.contains(QLatin1String("fuzz")))
        *error =
            QStringLiteral("patch exited with %1: %2").arg(patch.exitCode()).arg(output.left(2000));
    return readFile(result);
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

bool runAsNobody(const QString& script)
{
    QProcess shell;
    shell.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                 QStringLiteral("--clear-groups"), QStringLiteral("--inh-caps=-all"),
                 QStringLiteral("--bounding-set=-all"), QStringLiteral("/bin/sh"),
                 QStringLiteral("-c"), script});
    return shell.waitForFinished(10000) && shell.exitStatus() == QProcess::NormalExit &&
           shell.exitCode() == 0;
}

QString ntpqFixturePath(const char* name)
{
    return qEnvironmentVariable("NTPSM_SOURCE_DIR") + QStringLiteral("/tests/daemon/data/ntpq/") +
           QLatin1String(name);
}

} // namespace TestHelpers
