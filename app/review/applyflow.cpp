#include "app/review/applyflow.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

#include <functional>

#include "app/review/checkpanel.h"
#include "config/configbackups.h"
#include "config/configdocument.h"
#include "config/ntpsettings.h"
#include "daemon/ntpconfpath.h"
#include "pages/modifiablewidget.h"

namespace
{
QString tr(const char* text)
{
    return QCoreApplication::translate("ApplyFlow", text);
}

enum class Purpose { Apply, Restore };
enum class Answer { Unchanged, Overwrite, Reload, Stop };

Answer askApply(QWidget* parent, const QString& path)
{
    QMessageBox box(QMessageBox::Warning, tr("Configuration changed"),
                    tr("The file %1 was changed by another program after it was loaded.\n"
                       "Overwrite it with your changes, or reload it and lose your changes?")
                        .arg(path),
                    QMessageBox::NoButton, parent);
    QPushButton* overwrite = box.addButton(tr("Overwrite"), QMessageBox::AcceptRole);
    QPushButton* reload = box.addButton(tr("Reload"), QMessageBox::DestructiveRole);
    QPushButton* keepEditing = box.addButton(tr("Continue editing"), QMessageBox::RejectRole);
    overwrite->setObjectName(QStringLiteral("bOverwrite"));
    reload->setObjectName(QStringLiteral("bReload"));
    keepEditing->setObjectName(QStringLiteral("bContinueEditing"));
    box.setDefaultButton(keepEditing);
    box.exec();
    if (box.clickedButton() == overwrite)
        return Answer::Overwrite;
    return box.clickedButton() == reload ? Answer::Reload : Answer::Stop;
}

Answer askRestore(QWidget* parent, const QString& path)
{
    const auto answer =
        QMessageBox::warning(parent, tr("Configuration changed"),
                             tr("The file %1 was changed by another program after it was loaded.\n"
                                "Replace it with the chosen version anyway?")
                                 .arg(path),
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes ? Answer::Overwrite : Answer::Stop;
}

// The question about a file another program changed since it was read;
// nothing is asked while it is the file read. Overwriting takes on the file
// as it was when asked: a change after that is found at the write.
Answer askAboutOutsideChange(QWidget* parent, Purpose purpose)
{
    ConfigDocument& document = ConfigDocument::instance();
    const FileFingerprint seen = document.fingerprintOnDisk();
    if (seen == document.loadedFingerprint())
        return Answer::Unchanged;
    const Answer answer = purpose == Purpose::Apply ? askApply(parent, document.path())
                                                    : askRestore(parent, document.path());
    if (answer == Answer::Overwrite)
        document.acceptOutsideChange(seen);
    return answer;
}

// Why the last write failed: no copy of the old file could be kept (the file
// is then untouched), or the write itself.
void reportSaveFailure(QWidget* parent, Purpose purpose)
{
    const ConfigDocument& document = ConfigDocument::instance();
    if (!document.lastBackupError().isEmpty()) {
        QMessageBox::critical(
            parent, tr("Error"),
            tr("No copy of %1 could be kept in %2:\n%3\n"
               "The file was not changed; your changes are still here.")
                .arg(document.path(), backupDirPath(), document.lastBackupError()));
        return;
    }
    QString text = purpose == Purpose::Apply
                       ? tr("The changes could not be written to %1:\n%2")
                       : tr("The chosen version could not be written to %1:\n%2");
    text = text.arg(document.path(), document.lastWriteError());
    if (document.lastWriteOutcomeUnknown())
        text += QLatin1Char('\n') +
                tr("The connection was lost before the server answered. The file there is "
                   "either the old or the new version, never a part of each; which one is "
                   "said once the connection is back. Unapplied edits stay in the window.");
    QMessageBox::critical(parent, tr("Error"), text);
}

enum class Outcome { Written, Reload, NotWritten };

// A file that users other than root control is shown, never written.
bool refuseReadOnly(QWidget* parent)
{
    ConfigDocument& document = ConfigDocument::instance();
    if (document.checkTrust().isEmpty())
        return false;
    QMessageBox::critical(parent, tr("Error"),
                          tr("%1 is shown read-only and is not written:\n%2")
                              .arg(document.path(), document.readOnlyReason()));
    return true;
}

// Asks about an outside change, then writes with `write`; `mayWrite` is asked
// before the first write only.
Outcome writeOnTheUsersWord(QWidget* parent, Purpose purpose, const std::function<bool()>& mayWrite,
                            const std::function<void()>& write)
{
    ConfigDocument& document = ConfigDocument::instance();
    if (refuseReadOnly(parent))
        return Outcome::NotWritten;
    bool asked = false;
    for (;;) {
        const Answer answer = askAboutOutsideChange(parent, purpose);
        if (answer == Answer::Reload)
            return Outcome::Reload;
        if (answer == Answer::Stop || (!asked && !mayWrite()))
            return Outcome::NotWritten;
        asked = true;
        write();
        // Changed once more since the question: it is asked again.
        if (document.lastWriteFoundChange() && document.changedOutside())
            continue;
        if (!document.lastWriteError().isEmpty()) {
            reportSaveFailure(parent, purpose);
            return Outcome::NotWritten;
        }
        return Outcome::Written;
    }
}
} // namespace

bool applyPage(QWidget* parent, ModifiableWidget* page)
{
    const QString title = page->windowTitle();
    ConfigDocument::instance().setCopyReason(
        title.isEmpty() ? tr("before Apply") : tr("before Apply of the %1 page").arg(title));
    const Outcome outcome = writeOnTheUsersWord(
        parent, Purpose::Apply, [parent, page] { return confirmRejectedLines(parent, page); },
        [page] { page->saveSettings(); });
    return outcome != Outcome::NotWritten;
}

void tellLostWrite(QWidget* parent)
{
    ConfigDocument& document = ConfigDocument::instance();
    const QString path = document.path();
    QMessageBox::Icon icon = QMessageBox::Warning;
    QString title, text;
    switch (document.settleLostWrite()) {
    case ConfigDocument::LostWrite::None:
        return;
    case ConfigDocument::LostWrite::New:
        icon = QMessageBox::Information;
        title = tr("Written");
        text = tr("%1 is the new version: it was written before the connection was lost.");
        break;
    case ConfigDocument::LostWrite::Old:
        title = tr("Not written");
        text = tr("%1 is still the old version: nothing was written. Unapplied edits are still "
                  "here.");
        break;
    case ConfigDocument::LostWrite::Other:
        title = tr("Changed by another program");
        text = tr("%1 is neither the old nor the new version: another program changed it "
                  "meanwhile. Unapplied edits are still here.");
        break;
    }
    QMessageBox(icon, title, text.arg(path), QMessageBox::Ok, parent).exec();
}

QString backupDate(const ConfigBackup& backup)
{
    return backup.taken.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
}

QString backupTitle(const ConfigBackup& backup)
{
    if (backup.reason.isEmpty())
        return backupDate(backup);
    return backupDate(backup) + QStringLiteral(", ") + backup.reason;
}

bool restoreCopy(QWidget* parent, const ConfigBackup& backup)
{
    ConfigDocument& document = ConfigDocument::instance();
    auto mayWrite = [parent, &backup]() {
        return QMessageBox::question(
                   parent, tr("Restore a previous version"),
                   tr("Replace the current file with the version of %1?").arg(backupTitle(backup)),
                   QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    };
    const Outcome outcome =
        writeOnTheUsersWord(parent, Purpose::Restore, mayWrite,
                            [&document, &backup] { document.restore(backup.path); });
    if (outcome != Outcome::Written)
        return false;
    QMessageBox::information(parent, tr("Restore a previous version"),
                             tr("%1 now holds the version of %2. The file it replaced was kept "
                                "as a copy made before Restore.")
                                 .arg(document.path(), backupDate(backup)));
    return true;
}

QByteArray bytesApplyWouldWrite(ModifiableWidget* page)
{
    const NtpSettings loaded = ntpSettings;
    const QByteArray bytes =
        ConfigDocument::instance().captureSave([page]() { page->saveSettings(); });
    ntpSettings = loaded;
    return bytes;
}
