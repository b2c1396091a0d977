// Renders the main window with every page of the navigation tree selected in
// turn, at the program's first-run size and at a larger one, and saves one
// PNG per page and size: ntpsm-screenshots OUTPUT-DIR
// The pictures show the program as on a GNOME session: the Adwaita icon
// theme, and the program's own fallback theme (Breeze or Oxygen) for the
// names Adwaita lacks. scripts/screenshots.sh runs it under Xvfb with Qt's
// GNOME integration (XDG_CURRENT_DESKTOP=GNOME); it also runs with
// QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <functional>

#include "app/fntp.h"
#include "app/icontheme.h"
#include "app/review/checkpanel.h"
#include "daemon/ntpconfpath.h"

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

// The icons of a GNOME session: Adwaita, which Qt's GNOME integration
// names (set here for platforms that name none), with the program's own
// fallback. Returns the fallback theme; empty when a theme is missing.
QString useGnomeIcons()
{
    const QString gnome = QStringLiteral("Adwaita");
    if (QIcon::themeName() != gnome) {
        QStringList paths = QIcon::themeSearchPaths();
        for (const QString& dataDir :
             QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
            paths << dataDir + QStringLiteral("/icons");
        paths.removeDuplicates();
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName(gnome);
    }
    const QString fallback = useFallbackIconTheme();
    if (QIcon::themeName() != gnome || !QIcon::hasThemeIcon(QStringLiteral("go-up")))
        return QString();
    return fallback;
}

QTreeWidget* pageTree(FNTP& window)
{
    return window.findChild<QTreeWidget*>(QStringLiteral("twList"));
}

// The width a table needs to show every column's title and cells whole.
int contentWidth(QTreeView* tree)
{
    const QHeaderView* header = tree->header();
    const QAbstractItemView* view = tree; // sizeHintForColumn() is public here
    int width = 0;
    for (int column = 0; column < header->count(); ++column) {
        if (!header->isSectionHidden(column))
            width += std::max(header->sectionSizeHint(column), view->sizeHintForColumn(column));
    }
    return width;
}

// How much wider and taller the window must be for the page on show to fit:
// the page inside its scroll area, every column of its tables and lists, and
// all tool bars in one row without an overflow button.
QSize missingSpace(FNTP& window)
{
    int width = 0;
    int height = 0;
    int toolBarsWidth = 0;
    for (QToolBar* bar : window.findChildren<QToolBar*>()) {
        if (bar->isVisible())
            toolBarsWidth += bar->sizeHint().width();
    }
    width = std::max(width, toolBarsWidth - window.width());
    for (QAbstractScrollArea* area : window.findChildren<QAbstractScrollArea*>()) {
        if (!area->isVisible() || area == pageTree(window))
            continue;
        if (auto* scroll = qobject_cast<QScrollArea*>(area); scroll && scroll->widget()) {
            const QSize needed = scroll->widget()->minimumSizeHint();
            width = std::max(width, needed.width() - scroll->viewport()->width());
            height = std::max(height, needed.height() - scroll->viewport()->height());
        } else if (auto* tree = qobject_cast<QTreeView*>(area)) {
            width = std::max(width, contentWidth(tree) - tree->viewport()->width());
        } else if (area->horizontalScrollBar()->isVisible()) {
            width = std::max(width, area->horizontalScrollBar()->maximum());
        }
    }
    return QSize(width, height);
}

// Grows the window from `base` until the page on show fits (a few rounds: a
// wider page can wrap differently and want another height).
void fitPage(FNTP& window, const QSize& base)
{
    const QSize largest(2400, 1600);
    window.resize(base);
    QApplication::processEvents();
    for (int round = 0; round < 4; ++round) {
        const QSize missing = missingSpace(window).expandedTo(QSize(0, 0));
        if (missing.isNull())
            return;
        window.resize((window.size() + missing + QSize(4, 4)).boundedTo(largest));
        QApplication::processEvents();
    }
}

// Waits until the check panel shows its first findings with the daemon's
// judgement, which it asks for a moment after the window is drawn: the
// pictures show the window as the user sees it then. Gives up after a while.
void waitForFirstCheck(FNTP& window)
{
    auto* panel = window.findChild<CheckPanel*>();
    if (!panel)
        return;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&loop, panel] {
        if (panel->isJudged())
            loop.quit();
    });
    poll.start(20);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
}

// Selects every tree item in order and saves the whole window for each as
// NAME`suffix`.png, sized by `size` for the page on show. Returns the number
// of files that could not be written.
int grabEveryPage(FNTP& window, const QDir& output, const QString& suffix,
                  const std::function<void()>& size)
{
    auto* tree = pageTree(window);
    int failures = 0;
    QStringList written;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        tree->setCurrentItem(*it);
        size();
        QString name = fileNameFor((*it)->text(0));
        if (written.contains(name) && (*it)->parent())
            name = fileNameFor((*it)->parent()->text(0)) + QLatin1Char('-') + name;
        const QString path = output.filePath(name + suffix + QStringLiteral(".png"));
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
    const QString fallback = useGnomeIcons();
    if (fallback.isEmpty()) {
        QTextStream(stderr) << "ntpsm-screenshots: GNOME's icon theme or the fallback theme is "
                               "not installed (Debian packages adwaita-icon-theme and "
                               "breeze-icon-theme or oxygen-icon-theme)\n";
        return 1;
    }

    // The first run: no window settings stored.
    FNTP window;
    window.show();
    QApplication::processEvents();
    const QSize firstRun = window.size();
    if (!pageTree(window)) {
        QTextStream(stderr) << "ntpsm-screenshots: the main window has no page tree\n";
        return 1;
    }
    waitForFirstCheck(window);
    int failures = grabEveryPage(window, output, QStringLiteral("-first-run"), [&window, firstRun] {
        window.resize(firstRun);
        QApplication::processEvents();
    });

    // Larger: the navigation tree keeps its width, the page gets all that
    // is added, until it shows whole.
    window.resize(1000, 640);
    QApplication::processEvents();
    if (auto* splitter = window.findChild<QSplitter*>(QStringLiteral("splitter"))) {
        splitter->setStretchFactor(0, 0);
        splitter->setStretchFactor(1, 1);
        splitter->setSizes({230, window.width() - 230});
    }
    const QSize base = window.size();
    failures +=
        grabEveryPage(window, output, QString(), [&window, base] { fitPage(window, base); });
    QTextStream(stdout) << "first-run size " << firstRun.width() << "x" << firstRun.height()
                        << ", icons: " << QIcon::themeName() << " with " << fallback << '\n';
    return failures == 0 ? 0 : 1;
}
