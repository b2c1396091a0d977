#pragma once

#include <QString>

// Desktop integration start-up: remembers the program's version and
// description for the help menu's "About" box.
void wispInit(const char* version, const char* description);
// The licence the "About" box names; none until it is set.
void wispSetLicense(const char* license);

QString wispVersion();
QString wispDescription();
QString wispLicense();
