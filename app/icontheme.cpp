#include "app/icontheme.h"

#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QStringList>

namespace
{
// The themes whose names the program's icons have, in the order preferred:
// Breeze draws them as SVG only, which Qt shows with its SVG plugins
// (libqt5svg5); Oxygen has PNG files too.
struct FallbackTheme {
    const char* name;
    bool svgOnly;
};
const FallbackTheme fallbackThemes[] = {{"breeze", true}, {"oxygen", false}};

bool canShowSvg()
{
    return QImageReader::supportedImageFormats().contains("svg");
}

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
    for (const FallbackTheme& fallback : fallbackThemes) {
        const QString theme = QLatin1String(fallback.name);
        if (!isInstalled(theme) || (fallback.svgOnly && !canShowSvg()))
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
