#pragma once

#include <QString>

// Desktop integration start-up: remembers the program's version and
// description for the help menu's "About" box.
void wispInit(const char* version, const char* description);

QString wispVersion();
QString wispDescription();
