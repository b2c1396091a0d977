// A minimal single-instance program for the tests: the first instance prints
// "ready" and then every message it receives; a later one sends its first
// argument (or "raise") and exits with 1. NTPSM_PROBE_KEY: the instance's
// key (the program's host).
#include <QTextStream>
#include <QTimer>

#include "qtsingleapplication/qtsingleapplication.h"

int main(int argc, char** argv)
{
    QtSingleApplication app(argc, argv, qEnvironmentVariable("NTPSM_PROBE_KEY"));
    const QStringList args = app.arguments();
    if (app.isRunning()) {
        const bool sent = app.sendMessage(args.value(1, QStringLiteral("raise")), 5000);
        return sent ? 1 : 2;
    }
    QTextStream out(stdout);
    QObject::connect(&app, &QtSingleApplication::messageReceived,
                     [&out](const QString& message) { out << "received:" << message << Qt::endl; });
    out << "ready" << Qt::endl;
    QTimer::singleShot(20000, &app, &QCoreApplication::quit); // never outlive a test
    return app.exec();
}
