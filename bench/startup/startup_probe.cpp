// Builds the program's main window on the configuration file named on the
// command line, shows it and ends as soon as the event loop has run once:
// the process's run time is the window's start-up time. Tearing the window
// down is not start-up work, so the process ends without it.
// With PAGE, the page of that name is opened as soon as the window shows:
// pages are built when first opened, and this measures the largest of them.
// Usage: ntpsm-startup-probe CONFIG-FILE [PAGE]
#include <QApplication>
#include <QTextStream>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>

#include "startup_report.h"

#include "app/fntp.h"
#include "daemon/ntpconfpath.h"

namespace
{
// Chooses the page named `title` in the navigation tree, as a click does.
bool openPage(FNTP& window, const QString& title)
{
    auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("twList"));
    const QList<QTreeWidgetItem*> found =
        tree ? tree->findItems(title, Qt::MatchExactly | Qt::MatchRecursive)
             : QList<QTreeWidgetItem*>();
    if (found.isEmpty())
        return false;
    tree->setCurrentItem(found.first());
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 2 && arguments.size() != 3) {
        QTextStream(stderr) << "usage: ntpsm-startup-probe CONFIG-FILE [PAGE]\n";
        return 2;
    }
    // The window restores its stored geometry: run-startup-bench.sh points
    // XDG_CONFIG_HOME at an empty folder, so that none is stored whatever the
    // user running the benchmark has.
    QCoreApplication::setOrganizationName(QStringLiteral("ntpsm-startup-probe"));
    setNtpConfPathForTesting(arguments.at(1));

    FNTP window;
    window.show();
    if (arguments.size() == 3 && !openPage(window, arguments.at(2))) {
        QTextStream(stderr) << "ntpsm-startup-probe: no page is named " << arguments.at(2) << '\n';
        return 2;
    }
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    const int result = app.exec();
    reportShown();
    std::_Exit(result);
}
