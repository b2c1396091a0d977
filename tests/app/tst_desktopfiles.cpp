// The menu entry and the polkit action that together start the program as
// root: the entry must parse, and pkexec only lets the program open windows
// when the action names exactly the path the entry runs.
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>

#if !defined(NTPSM_PROGRAM_PATH) || !defined(NTPSM_DESKTOP_FILE) || !defined(NTPSM_POLKIT_FILE) || \
    !defined(NTPSM_POLKIT_ACTION)
#error "packaging/CMakeLists.txt passes the generated files' paths to this test"
#endif

namespace
{

// Keys of one desktop entry file by group, with the problems found while
// reading it (lines that are neither comment, group header nor key=value,
// keys given twice, keys before the first group).
struct DesktopFile {
    QHash<QString, QHash<QString, QString>> groups;
    QStringList groupOrder;
    QStringList problems;
};

DesktopFile parseDesktopFile(const QString& path)
{
    DesktopFile parsed;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        parsed.problems << QStringLiteral("cannot open %1").arg(path);
        return parsed;
    }
    static const QRegularExpression groupLine(QStringLiteral("^\\[([^\\[\\]]+)\\]$"));
    static const QRegularExpression keyLine(
        QStringLiteral("^([A-Za-z0-9-]+(\\[[^\\]]+\\])?)=(.*)$"));
    QString group;
    int number = 0;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        ++number;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QRegularExpressionMatch header = groupLine.match(line);
        if (header.hasMatch()) {
            group = header.captured(1);
            if (parsed.groupOrder.contains(group))
                parsed.problems << QStringLiteral("line %1: group given twice").arg(number);
            parsed.groupOrder << group;
            continue;
        }
        const QRegularExpressionMatch entry = keyLine.match(line);
        if (!entry.hasMatch() || group.isEmpty()) {
            parsed.problems << QStringLiteral("line %1: not a key in a group").arg(number);
            continue;
        }
        QHash<QString, QString>& keys = parsed.groups[group];
        if (keys.contains(entry.captured(1)))
            parsed.problems << QStringLiteral("line %1: key given twice").arg(number);
        keys.insert(entry.captured(1), entry.captured(3));
    }
    return parsed;
}

// The parts of a polkit policy file that decide how pkexec runs the program.
struct PolkitAction {
    bool found = false;
    QHash<QString, QString> defaults;
    QHash<QString, QString> annotations;
    QString xmlError;
};

PolkitAction readPolkitAction(const QString& path, const QString& actionId)
{
    PolkitAction action;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        action.xmlError = QStringLiteral("cannot open %1").arg(path);
        return action;
    }
    QXmlStreamReader xml(&file);
    bool inAction = false;
    bool inDefaults = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == QLatin1String("action"))
            inAction = false;
        if (xml.isEndElement() && xml.name() == QLatin1String("defaults"))
            inDefaults = false;
        if (!xml.isStartElement())
            continue;
        const QStringRef name = xml.name();
        if (name == QLatin1String("action")) {
            inAction = xml.attributes().value(QLatin1String("id")) == actionId;
            action.found = action.found || inAction;
        } else if (inAction && name == QLatin1String("defaults")) {
            inDefaults = true;
        } else if (inAction && inDefaults) {
            action.defaults.insert(name.toString(), xml.readElementText());
        } else if (inAction && name == QLatin1String("annotate")) {
            const QString key = xml.attributes().value(QLatin1String("key")).toString();
            action.annotations.insert(key, xml.readElementText());
        }
    }
    if (xml.hasError())
        action.xmlError = xml.errorString();
    return action;
}

} // namespace

class TestDesktopFiles : public QObject
{
    Q_OBJECT
private slots:
    void desktopEntry_data();
    void desktopEntry();
    void desktopEntryRunsProgramThroughPkexec();
    void polkitActionAllowsTheProgramsWindow();
};

void TestDesktopFiles::desktopEntry_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("type") << "Type"
                          << "Application";
    QTest::newRow("name") << "Name"
                          << "NTP service manager";
    QTest::newRow("icon") << "Icon"
                          << "clock";
    QTest::newRow("categories") << "Categories"
                                << "System;Settings;";
    QTest::newRow("no terminal") << "Terminal"
                                 << "false";
}

void TestDesktopFiles::desktopEntry()
{
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const DesktopFile entry = parseDesktopFile(QStringLiteral(NTPSM_DESKTOP_FILE));
    QVERIFY2(entry.problems.isEmpty(), qPrintable(entry.problems.join(QLatin1String("; "))));
    QCOMPARE(entry.groupOrder.value(0), QStringLiteral("Desktop Entry"));
    QCOMPARE(entry.groups.value(QStringLiteral("Desktop Entry")).value(key), expected);
}

void TestDesktopFiles::desktopEntryRunsProgramThroughPkexec()
{
    const DesktopFile entry = parseDesktopFile(QStringLiteral(NTPSM_DESKTOP_FILE));
    const QString exec =
        entry.groups.value(QStringLiteral("Desktop Entry")).value(QStringLiteral("Exec"));
    // pkexec matches the action by the exact path it is given, so the
    // command line is the program's full installed path and nothing else.
    QCOMPARE(exec.split(QLatin1Char(' ')),
             QStringList({QStringLiteral("pkexec"), QStringLiteral(NTPSM_PROGRAM_PATH)}));
    QVERIFY(QStringLiteral(NTPSM_PROGRAM_PATH).startsWith(QLatin1Char('/')));
}

void TestDesktopFiles::polkitActionAllowsTheProgramsWindow()
{
    const PolkitAction action =
        readPolkitAction(QStringLiteral(NTPSM_POLKIT_FILE), QStringLiteral(NTPSM_POLKIT_ACTION));
    QVERIFY2(action.xmlError.isEmpty(), qPrintable(action.xmlError));
    QVERIFY(action.found);
    QCOMPARE(action.annotations.value(QStringLiteral("org.freedesktop.policykit.exec.path")),
             QStringLiteral(NTPSM_PROGRAM_PATH));
    QCOMPARE(action.annotations.value(QStringLiteral("org.freedesktop.policykit.exec.allow_gui")),
             QStringLiteral("true"));
    QCOMPARE(action.defaults.value(QStringLiteral("allow_active")),
             QStringLiteral("auth_admin_keep"));
    QCOMPARE(action.defaults.value(QStringLiteral("allow_any")), QStringLiteral("auth_admin"));
}

QTEST_GUILESS_MAIN(TestDesktopFiles)
#include "tst_desktopfiles.moc"
