#include "wisphelpmenu.h"

#include <QApplication>
#include <QMessageBox>

#include "wispintegration.h"

WispHelpMenu::WispHelpMenu(QWidget* parent) : QMenu(parent)
{
    QAction* about = addAction(tr("About"), this, &WispHelpMenu::showAbout);
    about->setObjectName(QStringLiteral("aAbout"));
    QAction* aboutQt = addAction(tr("About Qt"), qApp, &QApplication::aboutQt);
    aboutQt->setObjectName(QStringLiteral("aAboutQt"));
}

QString WispHelpMenu::aboutText()
{
    return tr("%1\nVersion %2").arg(wispDescription(), wispVersion());
}

void WispHelpMenu::showAbout()
{
    QMessageBox::about(parentWidget(), tr("About"), aboutText());
}
