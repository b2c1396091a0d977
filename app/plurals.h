#pragma once

class QCoreApplication;

// The program's texts are English already; this installs the English plural
// forms of the texts that count something ("1 line removed", "2 lines
// removed"), which Qt only picks through a translation.
void installPluralForms(QCoreApplication& app);
