#include "app/plurals.h"

#include <QCoreApplication>
#include <QTranslator>

void installPluralForms(QCoreApplication& app)
{
    // One translator for the program's lifetime.
    static QTranslator* plurals = nullptr;
    if (plurals)
        return;
    // The compiled forms live in this static library's resources.
    Q_INIT_RESOURCE(plurals);
    plurals = new QTranslator(&app);
    if (plurals->load(QStringLiteral(":/translations/plurals_en.qm")))
        QCoreApplication::installTranslator(plurals);
}
