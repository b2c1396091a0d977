// The reference for ntpsm-startup-probe: the main window's form alone (menus,
// tool bars with their theme icons, tree, scroll area and stacked widget),
// without the help menu, the navigation items and the settings pages. Shown
// and ended the same way.
#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#include <cstdlib>

#include "startup_report.h"
#include "ui_fmain.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    Ui::FMain form;
    form.setupUi(&window);
    window.show();
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    const int result = app.exec();
    reportShown();
    std::_Exit(result);
}
