#include "app/review/configreview.h"

#include <QAction>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QToolBar>

#include "app/hooks/windowhooks.h"
#include "app/review/applyflow.h"
#include "app/review/checkpanel.h"
#include "app/review/restoredialog.h"
#include "app/review/reviewdialog.h"
#include "config/configbackups.h"
#include "config/configdocument.h"
#include "daemon/ntpconfpath.h"
#include "pages/modifiablewidget.h"

namespace
{
QString tr(const char* text)
{
    return QCoreApplication::translate("ConfigReview", text);
}

QAction* newAction(QWidget* window, const char* name, const QString& text, const char* icon)
{
    auto* action = new QAction(QIcon::fromTheme(QLatin1String(icon)), text, window);
    action->setObjectName(QLatin1String(name));
    return action;
}

void restorePreviousVersion(const WindowHooks& hooks)
{
    QWidget* window = hooks.window;
    const ConfigDocument& document = ConfigDocument::instance();
    QString refusal;
    const QVector<ConfigBackup> backups = ConfigBackups::list(document.path(), &refusal);
    if (!refusal.isEmpty()) {
        QMessageBox::critical(
            window, tr("Restore a previous version"),
            tr("The copies in %1 are not used:\n%2").arg(backupDirPath(), refusal));
        return;
    }
    if (backups.isEmpty()) {
        QMessageBox::information(window, tr("Restore a previous version"),
                                 tr("No previous version of %1 has been kept in %2.")
                                     .arg(document.path(), backupDirPath()));
        return;
    }
    RestoreDialog dialog(document.path(), document.currentBytes(), backups, window);
    if (dialog.exec() != QDialog::Accepted || dialog.chosenRow() < 0)
        return;
    if (restoreCopy(window, backups.at(dialog.chosenRow())))
        hooks.reloadEveryPage();
}
} // namespace

void reviewChanges(QWidget* parent, ModifiableWidget* page, int line, bool proposed)
{
    const QByteArray current = ConfigDocument::instance().currentBytes();
    const QByteArray after = page ? bytesApplyWouldWrite(page) : current;
    ReviewDialog dialog(tr("Review changes"), parent);
    dialog.setTexts(ConfigDocument::instance().path(), current, after, line > 0 ? 1 << 30 : 3);
    if (line > 0)
        dialog.showLine(line, proposed);
    dialog.exec();
}

void installConfigReview(const WindowHooks& hooks)
{
    QMainWindow* window = hooks.window;
    QAction* review =
        newAction(window, "aReviewChanges", tr("Review changes..."), "document-preview");
    QAction* restore = newAction(window, "aRestoreVersion", tr("Restore a previous version..."),
                                 "document-revert");
    auto* panel = new CheckPanel(hooks);
    auto* edit = new QMenu(tr("&Edit"), window);
    edit->setObjectName(QStringLiteral("menu_Edit"));
    edit->addAction(review);
    edit->addAction(panel->checkAction());
    hooks.addMenu(edit);
    hooks.dialogToolBar->addAction(review);
    hooks.addToFileMenu(restore);

    // Review while a page is edited, restore while none is.
    auto follow = [review, restore](bool editing) {
        review->setEnabled(editing);
        restore->setEnabled(!editing);
    };
    QObject::connect(hooks.events, &WindowEvents::editingChanged, window, follow);
    follow(hooks.applyAction->isEnabled());
    const auto editedPage = hooks.editedPage;
    QObject::connect(review, &QAction::triggered, window,
                     [window, editedPage]() { reviewChanges(window, editedPage()); });
    QObject::connect(restore, &QAction::triggered, window,
                     [hooks]() { restorePreviousVersion(hooks); });
    window->addDockWidget(Qt::BottomDockWidgetArea, panel);
}
