#pragma once

class ModifiableWidget;
class QWidget;
struct WindowHooks;

// Seeing a change before it counts: "Review changes..." (Edit menu and the
// Apply tool bar) shows what Apply would write, "Restore a previous
// version..." (File menu) puts a kept copy back, and the check panel shows
// the findings of the configuration check ("Check" in the Edit menu and in
// the panel has the daemon judge anew).
void installConfigReview(const WindowHooks& hooks);

// Shows the diff of the file against what Apply would write for `page`;
// with `line` > 0, the whole file with that line (of the proposed text when
// `proposed`, else of the current one) selected.
void reviewChanges(QWidget* parent, ModifiableWidget* page, int line = 0, bool proposed = true);
