// The program's icon names show on desktops whose theme lacks them (GNOME's
// Adwaita, none at all under a plain X server) through the fallback theme,
// Breeze or Oxygen; a name neither has stays empty.
#include <QAction>
#include <QIcon>
#include <QStandardPaths>
#include <QTest>

#include "app/fntp.h"
#include "app/icontheme.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;

namespace
{
bool shows(const QIcon& icon)
{
    return !icon.pixmap(16).isNull();
}

QIcon actionIcon(const FNTP& window, const char* name)
{
    auto* action = window.findChild<QAction*>(QLatin1String(name));
    return action ? action->icon() : QIcon();
}
} // namespace

class TestIconTheme : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void fallbackFillsWhatTheDesktopLacks_data()
    {
        QTest::addColumn<QString>("desktopTheme");
        QTest::newRow("GNOME") << "Adwaita";
        QTest::newRow("plain X server") << "";
    }
    void fallbackFillsWhatTheDesktopLacks()
    {
        QFETCH(QString, desktopTheme);
        // Where a desktop platform looks for themes (the offscreen one looks
        // nowhere).
        QIcon::setThemeSearchPaths({QStringLiteral("/usr/share/icons")});
        QIcon::setFallbackThemeName(QString());
        QIcon::setThemeName(desktopTheme);
        if (!desktopTheme.isEmpty() && QIcon::themeName() != desktopTheme)
            QSKIP("the desktop's theme is not installed");
        // Neither the desktop's theme nor none has the program's KDE names.
        QVERIFY(!QIcon::hasThemeIcon(QStringLiteral("document-edit-sign")));

        const QString fallback = useFallbackIconTheme();
        if (fallback.isEmpty())
            QSKIP("neither breeze-icon-theme nor oxygen-icon-theme is installed");
        QVERIFY(fallback == QLatin1String("breeze") || fallback == QLatin1String("oxygen"));
        QCOMPARE(QIcon::fallbackThemeName(), fallback);
        QVERIFY(QIcon::hasThemeIcon(QStringLiteral("dialog-ok-apply")));
        // The desktop's own theme still comes first where it has one.
        if (!desktopTheme.isEmpty())
            QCOMPARE(QIcon::themeName(), desktopTheme);

        ConfFile conf("server 192.0.2.1\n");
        FNTP window;
        QVERIFY(shows(actionIcon(window, "applyAction")));
        QVERIFY(shows(actionIcon(window, "editConfig")));
        QVERIFY(shows(actionIcon(window, "aCheck")));
        // Names no theme has stay empty.
        QVERIFY(!shows(actionIcon(window, "aReload")));
        QVERIFY(!shows(actionIcon(window, "refleshWidgetAction")));
    }
};

QTEST_MAIN(TestIconTheme)
#include "tst_icontheme.moc"
