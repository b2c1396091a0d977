#pragma once

#include <QString>

// Makes the program's theme icon names (KDE's) show on every desktop: when
// the desktop's icon theme (GNOME's Adwaita, Xfce's, none under a plain X
// server) lacks a name, it is looked up in Breeze, or Oxygen where Breeze is
// not installed or Qt cannot draw SVG icons. An icon neither has stays
// empty. Returns the fallback
// theme taken; empty when neither is installed.
QString useFallbackIconTheme();
