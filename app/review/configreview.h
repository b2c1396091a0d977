#pragma once

#include <QByteArray>
#include <QString>

class FNTP;
class ModifiableWidget;
class QWidget;

// Seeing a change before it counts: "Review changes..." shows what Apply
// would write, "Restore a previous version..." puts a kept copy back.

// Adds the review and restore actions to the window's menus and tool bar.
void addReviewActions(FNTP* window);

// Reads the shared record and every page built so far anew, without any of
// them entering the edit state.
void reloadEveryPage(FNTP* window);

// Exactly the bytes Apply would write for `page`'s unapplied edits. Nothing
// is written, and the shared record is left as it was.
QByteArray bytesApplyWouldWrite(ModifiableWidget* page);

// The file's bytes as they are on disk (empty when it cannot be read).
QByteArray currentFileBytes();

// Shows the diff of the file against what Apply would write for `page`;
// with `line` > 0, the whole file with that line (of the proposed text when
// `proposed`, else of the current one) selected.
void reviewChanges(QWidget* parent, ModifiableWidget* page, int line = 0, bool proposed = true);

// The box that stops Apply when no copy of the old file could be kept.
void reportBackupFailure(QWidget* parent, const QString& reason);
