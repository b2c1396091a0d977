// Renders the main window with every page of the navigation tree selected in
// turn and saves one PNG per page: ntpsm-screenshots OUTPUT-DIR
// Run it with QT_QPA_PLATFORM=offscreen to render without a display.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "fntp.h"
#include "ntpconfpath.h"

namespace
{

// A configuration that gives every page something to show. The addresses
// are documentation addresses and reserved names.
const char sampleConfiguration[] = R"(# Sample configuration for the screenshots
driftfile /var/lib/ntp/ntp.drift
logfile /var/log/ntp.log
statsdir /var/log/ntpstats/
statistics loopstats peerstats clockstats
filegen loopstats file loopstats type day enable
filegen peerstats file peerstats type day enable
filegen clockstats file clockstats type week enable
logconfig =syncall +clockall
server ntp1.example.net iburst prefer
server ntp2.example.net iburst
server 192.0.2.10 minpoll 6 maxpoll 10
peer 192.0.2.20
server 127.127.1.0
fudge 127.127.1.0 stratum 10
server 127.127.28.0 minpoll 4
fudge 127.127.28.0 time1 0.420 refid GPS
restrict -4 default kod notrap nomodify nopeer noquery limited
restrict -6 default kod notrap nomodify nopeer noquery limited
restrict 127.0.0.1
restrict ::1
restrict 192.0.2.0 mask 255.255.255.0 nomodify notrap
broadcast 192.0.2.255
broadcastclient
broadcastdelay 0.008
disable auth
enable stats
discard average 3 minimum 1
)";

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

// "Access restrictions" -> "access-restrictions"
QString fileNameFor(const QString& pageTitle)
{
    static const QRegularExpression notWordChars(QStringLiteral("[^a-z0-9]+"));
    QString name = pageTitle.toLower().replace(notWordChars, QStringLiteral("-"));
    while (name.startsWith(QLatin1Char('-')))
        name.remove(0, 1);
    while (name.endsWith(QLatin1Char('-')))
        name.chop(1);
    return name.isEmpty() ? QStringLiteral("page") : name;
}

// Selects every tree item in order and saves the whole window for each.
// Returns the number of files that could not be written.
int grabEveryPage(FNTP& window, const QDir& output)
{
    auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("twList"));
    if (!tree) {
        QTextStream(stderr) << "ntpsm-screenshots: the main window has no page tree\n";
        return 1;
    }
    int failures = 0;
    QStringList written;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        tree->setCurrentItem(*it);
        QApplication::processEvents();
        QString name = fileNameFor((*it)->text(0));
        if (written.contains(name) && (*it)->parent())
            name = fileNameFor((*it)->parent()->text(0)) + QLatin1Char('-') + name;
        const QString path = output.filePath(name + QStringLiteral(".png"));
        if (window.grab().save(path)) {
            written << name;
            QTextStream(stdout) << path << '\n';
        } else {
            QTextStream(stderr) << "ntpsm-screenshots: cannot write " << path << '\n';
            ++failures;
        }
    }
    return written.isEmpty() ? failures + 1 : failures;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 2) {
        QTextStream(stderr) << "usage: ntpsm-screenshots OUTPUT-DIR\n";
        return 2;
    }
    const QDir output(arguments.at(1));
    QTemporaryDir work;
    if (!work.isValid() || !QDir().mkpath(output.absolutePath())) {
        QTextStream(stderr) << "ntpsm-screenshots: cannot create the work or output folder\n";
        return 1;
    }
    // Neither the user's window settings nor the system's configuration are
    // read or written: both live in the temporary folder.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, work.path());
    QCoreApplication::setOrganizationName(QStringLiteral("ntpsm-screenshots"));
    const QString conf = work.filePath(QStringLiteral("ntp.conf"));
    if (!writeFile(conf, sampleConfiguration)) {
        QTextStream(stderr) << "ntpsm-screenshots: cannot write " << conf << '\n';
        return 1;
    }
    setNtpConfPathForTesting(conf);

    FNTP window;
    window.resize(1000, 640);
    // Most of the width goes to the page, as a user would drag it.
    if (auto* splitter = window.findChild<QSplitter*>(QStringLiteral("splitter")))
        splitter->setSizes({230, 770});
    window.show();
    QApplication::processEvents();
    return grabEveryPage(window, output) == 0 ? 0 : 1;
}
