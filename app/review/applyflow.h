#pragma once

#include <QByteArray>
#include <QString>

struct ConfigBackup;
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
// changed file instead. The copy of the old file is kept as made "before
// Apply of the <page's window title> page". A file shown read-only
// (ConfigDocument::readOnlyReason()) is not written, with a box saying why.
bool applyPage(QWidget* parent, ModifiableWidget* page);

// Puts the kept copy `backup` in place of the file, after asking whether to
// ("Replace the current file with the version of <date>?"), and says what
// was done. True when written.
bool restoreCopy(QWidget* parent, const ConfigBackup& backup);

// After a write whose answer was lost with the connection, once the host
// answers again: says whether the file there is the old or the new version
// (or another program's). Nothing when no such write is waiting.
void tellLostWrite(QWidget* parent);

// How the program names a kept copy: its date and, when known, what made it.
QString backupDate(const ConfigBackup& backup);
QString backupTitle(const ConfigBackup& backup);

// Exactly the bytes Apply would write for `page`'s unapplied edits. Nothing
// is written, and the shared record is left as it was.
QByteArray bytesApplyWouldWrite(ModifiableWidget* page);
