#pragma once

#include <QByteArray>
#include <QString>

class ModifiableWidget;
class QWidget;

// Writing the file on the user's word, one way for Apply of the edited page
// and for Restore of a kept copy: when another program changed the file since
// it was read the user is asked first (again should it change once more
// before the write), and a failed write is reported as the copy of the old
// file that could not be kept, or as the write itself.

// Apply of `page`'s edits (its saveSettings()), also asking once when the
// installed daemon would reject lines Apply writes. True when the edit state
// may end with the page read again: written, or the user chose to reload the
// changed file instead.
bool applyPage(QWidget* parent, ModifiableWidget* page);

// Puts the kept copy at `backupPath` in place of the file. True when written.
bool restoreCopy(QWidget* parent, const QString& backupPath);

// Exactly the bytes Apply would write for `page`'s unapplied edits. Nothing
// is written, and the shared record is left as it was.
QByteArray bytesApplyWouldWrite(ModifiableWidget* page);
