#include "wispintegration/wisphelpmenu.h"

#include <QApplication>
#include <QMessageBox>

#include "wispintegration/wispintegration.h"

WispHelpMenu::WispHelpMenu(QWidget* parent) : QMenu(parent)
{
    QAction* about = addAction(tr("About"), this, &WispHelpMenu::showAbout);
    about->setObjectName(QStringLiteral("aAbout"));
    QAction* aboutQt = addAction(tr("About Qt"), qApp, &QApplication::aboutQt);
    aboutQt->setObjectName(QStringLiteral("aAboutQt"));
}

QString WispHelpMenu::aboutText()
{
    QString text = tr("%1\nVersion %2").arg(wispDescription(), wispVersion());
    if (!wispLicense().isEmpty())
        text +=
            QLatin1String("\n\n") +
            tr("Licence: %1\nThis program comes with ABSOLUTELY NO WARRANTY.").arg(wispLicense());
    return text;
}

void WispHelpMenu::showAbout()
{
    QMessageBox::about(parentWidget(), tr("About"), aboutText());
}
