// The menu entry and the polkit action that together start the program as
// root: the entry must parse, and pkexec only lets the program open windows
// when the action names exactly the path the launcher runs. The licence is
// named alike in the licence file, the Debian copyright file and the
// AppStream metainfo.
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>

#if !defined(NTPSM_PROGRAM_PATH) || !defined(NTPSM_DESKTOP_FILE) || !defined(NTPSM_POLKIT_FILE) || \
    !defined(NTPSM_POLKIT_ACTION) || !defined(NTPSM_LAUNCHER_PATH) ||                              \
    !defined(NTPSM_LICENSE_FILE) || !defined(NTPSM_COPYRIGHT_FILE) ||                              \
    !defined(NTPSM_METAINFO_FILE)
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

// The paragraphs of a machine-readable Debian copyright file: fields by
// name, continuation lines joined to their field with a newline.
QList<QHash<QString, QString>> readCopyrightParagraphs(const QString& path)
{
    QList<QHash<QString, QString>> paragraphs;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return paragraphs;
    QHash<QString, QString> paragraph;
    QString field;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        if (line.trimmed().isEmpty()) {
            if (!paragraph.isEmpty())
                paragraphs << paragraph;
            paragraph.clear();
        } else if (line.startsWith(QLatin1Char(' ')) && !field.isEmpty()) {
            paragraph[field] += QLatin1Char('\n') + line.mid(1);
        } else {
            field = line.section(QLatin1Char(':'), 0, 0);
            paragraph.insert(field, line.section(QLatin1Char(':'), 1).trimmed());
        }
    }
    if (!paragraph.isEmpty())
        paragraphs << paragraph;
    return paragraphs;
}

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
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
    void licenceIsTheFullGpl2Text();
    void copyrightFileNamesTheLicence();
    void metainfoNamesTheLicence();
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
    // The entry runs the launcher by its full path; the launcher, installed
    // beside the program, hands pkexec the program's path (see tst_launcher).
    QCOMPARE(exec, QStringLiteral(NTPSM_LAUNCHER_PATH));
    QCOMPARE(QFileInfo(QStringLiteral(NTPSM_LAUNCHER_PATH)).path(),
             QFileInfo(QStringLiteral(NTPSM_PROGRAM_PATH)).path());
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

void TestDesktopFiles::licenceIsTheFullGpl2Text()
{
    const QString licence = readAll(QStringLiteral(NTPSM_LICENSE_FILE));
    QVERIFY(licence.contains(QLatin1String("GNU GENERAL PUBLIC LICENSE\n")));
    QVERIFY(licence.contains(QLatin1String("Version 2, June 1991")));
    QVERIFY(licence.contains(QLatin1String("END OF TERMS AND CONDITIONS")));
    // Debian ships the same text with every system.
    const QString debians = readAll(QStringLiteral("/usr/share/common-licenses/GPL-2"));
    if (!debians.isEmpty())
        QCOMPARE(licence, debians);
}

void TestDesktopFiles::copyrightFileNamesTheLicence()
{
    const auto paragraphs = readCopyrightParagraphs(QStringLiteral(NTPSM_COPYRIGHT_FILE));
    QVERIFY(paragraphs.size() >= 3);
    QCOMPARE(paragraphs[0].value(QStringLiteral("Format")),
             QStringLiteral("https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"));
    // Every file is under the licence, and a paragraph of its own gives the
    // licence's grant and where Debian keeps the full text.
    bool allFiles = false;
    bool grant = false;
    for (const auto& paragraph : paragraphs) {
        if (paragraph.value(QStringLiteral("Files")) == QLatin1String("*"))
            allFiles = paragraph.value(QStringLiteral("License")) == QLatin1String("GPL-2+");
        if (!paragraph.contains(QStringLiteral("Files")) &&
            paragraph.value(QStringLiteral("License")).startsWith(QLatin1String("GPL-2+\n"))) {
            const QString text = paragraph.value(QStringLiteral("License"));
            grant = text.contains(QLatin1String("either version 2 of the License, or")) &&
                    text.contains(QLatin1String("/usr/share/common-licenses/GPL-2"));
        }
    }
    QVERIFY(allFiles);
    QVERIFY(grant);
}

void TestDesktopFiles::metainfoNamesTheLicence()
{
    QFile file(QStringLiteral(NTPSM_METAINFO_FILE));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QString projectLicence;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement &&
            xml.name() == QLatin1String("project_license"))
            projectLicence = xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(projectLicence, QStringLiteral("GPL-2.0-or-later"));
}

QTEST_GUILESS_MAIN(TestDesktopFiles)
#include "tst_desktopfiles.moc"
