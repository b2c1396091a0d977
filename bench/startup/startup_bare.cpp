// A second reference for ntpsm-startup-probe, beside the window's form: an
// empty main window, shown and ended the same way.
#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#include <cstdlib>

#include "startup_report.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.show();
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    const int result = app.exec();
    reportShown();
    std::_Exit(result);
}
