#include "app/icontheme.h"

#include <QFileInfo>
#include <QIcon>
#include <QStringList>

namespace
{
// The themes whose names the program's icons have, in the order preferred.
const char* const fallbackThemes[] = {"breeze", "oxygen"};

// Found where the platform looks for icon themes (on a desktop, the XDG
// data folders' icons).
bool isInstalled(const QString& theme)
{
    for (const QString& path : QIcon::themeSearchPaths()) {
        if (QFileInfo(path + QLatin1Char('/') + theme + QStringLiteral("/index.theme")).isFile())
            return true;
    }
    return false;
}
} // namespace

QString useFallbackIconTheme()
{
    for (const char* name : fallbackThemes) {
        const QString theme = QLatin1String(name);
        if (!isInstalled(theme))
            continue;
        QIcon::setFallbackThemeName(theme);
        // A theme read before took its parents without the fallback:
        // setting the search paths again has Qt read every theme and icon
        // anew.
        QIcon::setThemeSearchPaths(QIcon::themeSearchPaths());
        // Without a theme of its own (a platform that names none) nothing
        // is looked up at all, not even the fallback.
        if (QIcon::themeName().isEmpty())
            QIcon::setThemeName(theme);
        return theme;
    }
    return QString();
}
