#include "app/review/configreview.h"

#include "app/fntp.h"
#include "app/review/checkpanel.h"
#include "app/review/restoredialog.h"
#include "app/review/reviewdialog.h"
#include "config/configbackups.h"
#include "config/configdocument.h"
#include "config/ntpsettings.h"
#include "daemon/ntpconfpath.h"
#include "pages/modifiablewidget.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QToolBar>

namespace
{

QAction* newAction(FNTP* window, const char* name, const QString& text, const char* icon)
{
    auto* action = new QAction(QIcon::fromTheme(QLatin1String(icon)), text, window);
    action->setObjectName(QLatin1String(name));
    return action;
}

// The guard Apply has too: a file changed since it was loaded is replaced
// only when the user says so.
bool mayReplaceChangedFile(FNTP* window)
{
    ConfigDocument& document = ConfigDocument::instance();
    const FileFingerprint seen = document.fingerprintOnDisk();
    if (seen == document.loadedFingerprint())
        return true;
    const bool replace =
        QMessageBox::warning(
            window, FNTP::tr("Configuration changed"),
            FNTP::tr("The file %1 was changed by another program after it was loaded.\n"
                     "Replace it with the chosen version anyway?")
                .arg(document.path()),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    if (replace)
        document.acceptOutsideChange(seen);
    return replace;
}

void restorePreviousVersion(FNTP* window)
{
    ConfigDocument& document = ConfigDocument::instance();
    const QVector<ConfigBackup> backups = ConfigBackups::list(document.path());
    if (backups.isEmpty()) {
        QMessageBox::information(window, FNTP::tr("Restore a previous version"),
                                 FNTP::tr("No previous version of %1 has been kept in %2.")
                                     .arg(document.path(), backupDirPath()));
        return;
    }
    RestoreDialog dialog(document.path(), currentFileBytes(), backups, window);
    if (dialog.exec() != QDialog::Accepted || dialog.chosenPath().isEmpty())
        return;
    // The question comes again when the file changes once more meanwhile.
    bool restored = false;
    do {
        if (!mayReplaceChangedFile(window))
            return;
        restored = document.restore(dialog.chosenPath());
    } while (!restored && document.lastWriteFoundChange() && document.changedOutside());
    if (!restored) {
        if (!document.lastBackupError().isEmpty())
            reportBackupFailure(window, document.lastBackupError());
        else
            QMessageBox::critical(window, FNTP::tr("Error"),
                                  FNTP::tr("The chosen version could not be written to %1:\n%2")
                                      .arg(document.path(), document.lastWriteError()));
        return;
    }
    reloadEveryPage(window);
}

} // namespace

void reloadEveryPage(FNTP* window)
{
    ConfigDocument::instance().load(&ntpSettings);
    for (ModifiableWidget* page : window->findChildren<ModifiableWidget*>()) {
        const bool wasBlocked = page->blockSignals(true);
        page->loadSettings();
        page->blockSignals(wasBlocked);
    }
}

QByteArray bytesApplyWouldWrite(ModifiableWidget* page)
{
    const NtpSettings loaded = ntpSettings;
    const QByteArray bytes =
        ConfigDocument::instance().captureSave([page]() { page->saveSettings(); });
    ntpSettings = loaded;
    return bytes;
}

QByteArray currentFileBytes()
{
    return ConfigDocument::instance().currentBytes();
}

void reviewChanges(QWidget* parent, ModifiableWidget* page, int line, bool proposed)
{
    const QByteArray current = currentFileBytes();
    const QByteArray after = page ? bytesApplyWouldWrite(page) : current;
    ReviewDialog dialog(FNTP::tr("Review changes"), parent);
    dialog.setTexts(ConfigDocument::instance().path(), current, after, line > 0 ? 1 << 30 : 3);
    if (line > 0)
        dialog.showLine(line, proposed);
    dialog.exec();
}

void reportBackupFailure(QWidget* parent, const QString& reason)
{
    QMessageBox::critical(parent, FNTP::tr("Error"),
                          FNTP::tr("No copy of %1 could be kept in %2:\n%3\n"
                                   "The file was not changed; your changes are still here.")
                              .arg(ConfigDocument::instance().path(), backupDirPath(), reason));
}

void addReviewActions(FNTP* window)
{
    QAction* apply = window->findChild<QAction*>(QStringLiteral("applyAction"));
    QAction* review =
        newAction(window, "aReviewChanges", FNTP::tr("Review changes..."), "document-preview");
    QAction* restore = newAction(window, "aRestoreVersion",
                                 FNTP::tr("Restore a previous version..."), "document-revert");
    auto* edit = new QMenu(FNTP::tr("&Edit"), window);
    edit->setObjectName(QStringLiteral("menu_Edit"));
    edit->addAction(review);
    window->menuBar()->addMenu(edit);
    window->findChild<QToolBar*>(QStringLiteral("dialogToolBar"))->addAction(review);
    window->findChild<QMenu*>(QStringLiteral("menu_File"))->addAction(restore);

    // Review while a page is edited, restore while none is.
    auto follow = [apply, review, restore]() {
        review->setEnabled(apply->isEnabled());
        restore->setEnabled(!apply->isEnabled());
    };
    QObject::connect(apply, &QAction::changed, window, follow);
    follow();
    QObject::connect(review, &QAction::triggered, window,
                     [window]() { reviewChanges(window, window->editedPage()); });
    QObject::connect(restore, &QAction::triggered, window,
                     [window]() { restorePreviousVersion(window); });
    window->addDockWidget(Qt::BottomDockWidgetArea, new CheckPanel(window));
}
