// Builds the program's main window on the configuration file named on the
// command line, shows it and ends as soon as the event loop has run once:
// the process's run time is the window's start-up time. Tearing the window
// down is not start-up work, so the process ends without it.
// Usage: ntpsm-startup-probe CONFIG-FILE
#include <QApplication>
#include <QTextStream>
#include <QTimer>
#include <cstdlib>

#include "startup_report.h"

#include "fntp.h"
#include "ntpconfpath.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (QApplication::arguments().size() != 2) {
        QTextStream(stderr) << "usage: ntpsm-startup-probe CONFIG-FILE\n";
        return 2;
    }
    // The window restores its stored geometry: run-startup-bench.sh points
    // XDG_CONFIG_HOME at an empty folder, so that none is stored whatever the
    // user running the benchmark has.
    QCoreApplication::setOrganizationName(QStringLiteral("ntpsm-startup-probe"));
    setNtpConfPathForTesting(QApplication::arguments().at(1));

    FNTP window;
    window.show();
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    const int result = app.exec();
    reportShown();
    std::_Exit(result);
}
