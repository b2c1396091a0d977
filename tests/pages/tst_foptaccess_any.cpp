// The access page with restrict lines of every form: IPv6 addresses,
// prefixes, host names, "source" and "-4"/"-6" rules are rows, edited in the
// dialog for any address, and kept as written while untouched.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>
#include <functional>

#include "pages/foptaccess.h"
#include "pages/foptaccess_addany.h"
#include "tests/common/testhelpers.h"

using TestHelpers::ConfFile;
using TestHelpers::linesOf;

namespace
{

QTreeWidget* list(FOptAccess& page)
{
    return page.findChild<QTreeWidget*>(QStringLiteral("twList"));
}

// Every row as "network|mask|flags|family", in the order the list shows.
QStringList rows(FOptAccess& page)
{
    QStringList result;
    QTreeWidget* tree = list(page);
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = tree->topLevelItem(i);
        result << QStringList{item->text(0), item->text(1), item->text(2), item->text(3)}.join('|');
    }
    return result;
}

QByteArray sourceFile(const QString& relative)
{
    return TestHelpers::readFile(qEnvironmentVariable("NTPSM_SOURCE_DIR") + QLatin1Char('/') +
                                 relative);
}

// Edits row `row` in the dialog for any address: `fill` works on it, then OK
// is pressed unless the dialog was closed already. Returns the dialog's
// class name ("" when none showed).
QString editRow(FOptAccess& page, int row, const std::function<void(FOptAccess_AddAny*)>& fill)
{
    list(page)->setCurrentItem(list(page)->topLevelItem(row));
    QString shown;
    TestHelpers::onNextModal([&](QWidget* modal) {
        shown = QString::fromLatin1(modal->metaObject()->className());
        auto* dialog = qobject_cast<FOptAccess_AddAny*>(modal);
        if (dialog) {
            fill(dialog);
            if (dialog->isVisible())
                dialog->buttonBox->button(QDialogButtonBox::Ok)->click();
        }
        if (auto* open = qobject_cast<QDialog*>(modal); open && open->isVisible())
            open->reject();
    });
    page.Edit_clicked();
    return shown;
}

void typeAddress(FOptAccess_AddAny* dialog, const QString& text)
{
    dialog->leAddress->clear();
    QTest::keyClicks(dialog->leAddress, text);
}

} // namespace

class TestFOptAccessAny : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QCOMPARE(TestHelpers::rejectOpenModals(), 0); }

    void everyRuleIsARow();
    void familyRulesAreNoDefaultRow();
    void editsAnyAddress();
    void dialogRefusesWhatIsNoAddress_data();
    void dialogRefusesWhatIsNoAddress();
    void otherModeKeepsWordsWithoutABox();
    void rulesOfOtherFormsCanBeDeleted();
};

void TestFOptAccessAny::everyRuleIsARow()
{
    const QByteArray original = sourceFile("tests/config/data/ntpsec.conf");
    QVERIFY(!original.isEmpty());
    ConfFile conf(original);
    FOptAccess page;
    QCOMPARE(list(page)->headerItem()->text(3), QStringLiteral("Address family"));
    QCOMPARE(
        rows(page),
        (QStringList{
            "Default||limited,nomodify,nopeer,noquery,notrap|IPv4 only (-4)",
            "Default||limited,nomodify,nopeer,noquery,notrap|IPv6 only (-6)",
            "Default||limited,nomodify,nopeer,noquery|IPv4 and IPv6",
            "127.0.0.1|255.255.255.255||IPv4", "::1|||IPv6", "192.0.2.0|/24|nomodify,notrap|IPv4",
            "2001:db8::|/32|nomodify,noquery|IPv6", "2001:db8:1::|ffff:ffff:ffff::|nopeer|IPv6",
            "fe80::|/10|nomodify|IPv6 only (-6)", "time.example.org||nomodify,noquery|Host name",
            "source||nomodify,noquery,notrap|Time sources", "10.1.0.0|255.255.0.0|nomodify|IPv4"}));

    // An unchanged apply keeps every rule of another form as written, in place.
    page.saveSettings();
    const QStringList before = linesOf(original, "restrict");
    const QStringList after = linesOf(conf.read(), "restrict");
    QCOMPARE(after.size(), before.size());
    for (int i : {0, 1, 4, 5, 6, 7, 8, 9, 10})
        QCOMPARE(after.at(i), before.at(i));
    // The IPv4 rows are written as specified: the host's mask written out.
    QCOMPARE(after.at(3), QStringLiteral("restrict 127.0.0.1 mask 255.255.255.255 "));
}

void TestFOptAccessAny::familyRulesAreNoDefaultRow()
{
    ConfFile conf("restrict -4 default ignore\nrestrict -6 default ignore\n"
                  "restrict 10.0.0.0 mask 255.0.0.0 nomodify\n");
    FOptAccess page;
    // Add "Default" in the IPv4 dialog adds the default row beside the
    // family rules instead of taking one of them.
    TestHelpers::onNextModal([](QWidget* modal) {
        auto* dialog = qobject_cast<FOptAccess_Add*>(modal);
        QVERIFY(dialog && !qobject_cast<FOptAccess_AddAny*>(modal));
        dialog->chbDefault->click();
        dialog->buttonBox->button(QDialogButtonBox::Ok)->click();
    });
    page.Add_clicked();
    QCOMPARE(rows(page).size(), 4);
    QCOMPARE(rows(page).last(), QStringLiteral("Default|||IPv4 and IPv6"));
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), "restrict"),
             (QStringList{"restrict -4 default ignore", "restrict -6 default ignore",
                          "restrict 10.0.0.0 mask 255.0.0.0 nomodify", "restrict default "}));
}

void TestFOptAccessAny::editsAnyAddress()
{
    ConfFile conf("restrict 2001:db8::/32 noquery # lab\n"
                  "restrict -6 2001:db8:1:: mask ffff:ffff:ffff:: nopeer\n"
                  "restrict time.example.org nomodify\n"
                  "restrict source notrap\n");
    FOptAccess page;
    QSignalSpy changed(&page, &ModifiableWidget::dataChanged);

    QString preset;
    bool okAtStart = true;
    QCOMPARE(editRow(page, 0,
                     [&](FOptAccess_AddAny* dialog) {
                         preset = dialog->leAddress->text();
                         okAtStart = dialog->buttonBox->button(QDialogButtonBox::Ok)->isEnabled();
                         typeAddress(dialog, QStringLiteral("2001:db8:2::/48"));
                         dialog->modeGroup->button(FOptAccess_Add::Denied)->click();
                         dialog->chbKod->click();
                     }),
             QStringLiteral("FOptAccess_AddAny"));
    QCOMPARE(preset, QStringLiteral("2001:db8::/32"));
    QVERIFY(!okAtStart);
    QCOMPARE(rows(page).at(0), QStringLiteral("2001:db8:2::|/48|ignore,kod|IPv6"));

    // A mask shows as its prefix; unchanged it stays a mask, and the family
    // can be given up.
    editRow(page, 1, [&](FOptAccess_AddAny* dialog) {
        preset = dialog->leAddress->text();
        dialog->cbFamily->setCurrentIndex(0);
        dialog->slotChanged();
    });
    QCOMPARE(preset, QStringLiteral("2001:db8:1::/48"));
    // A host name is kept while only the mode changes.
    editRow(page, 2, [](FOptAccess_AddAny* dialog) {
        dialog->modeGroup->button(FOptAccess_Add::Full)->click();
    });
    editRow(page, 3, [](FOptAccess_AddAny* dialog) {
        QVERIFY(dialog->targetGroup->button(FOptAccess_AddAny::SourceTarget)->isChecked());
        QVERIFY(!dialog->leAddress->isEnabled());
        dialog->cbFamily->setCurrentIndex(1);
        dialog->targetGroup->button(FOptAccess_AddAny::DefaultTarget)->click();
    });
    QCOMPARE(rows(page).at(3), QStringLiteral("Default||notrap|IPv4 only (-4)"));
    QCOMPARE(changed.count(), 4);

    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), "restrict"),
             (QStringList{"restrict 2001:db8:2::/48 ignore kod # lab",
                          "restrict 2001:db8:1:: mask ffff:ffff:ffff:: nopeer",
                          "restrict time.example.org", "restrict -4 default notrap"}));
}

void TestFOptAccessAny::dialogRefusesWhatIsNoAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("family");
    QTest::addColumn<QString>("error");
    const QString noAddress = "Enter an IPv4 or IPv6 address, or a network as address and "
                              "prefix length such as 2001:db8::/32";
    QTest::newRow("host name") << "ntp.example.org" << 0 << noAddress;
    QTest::newRow("prefix too long") << "2001:db8::/129" << 0 << noAddress;
    QTest::newRow("empty") << "" << 0 << "Address field is empty";
    QTest::newRow("IPv4 for -6") << "192.0.2.0/24" << 2
                                 << "The address is not of the chosen address family";
    QTest::newRow("accepted") << "192.0.2.0/24" << 1 << "";
}

void TestFOptAccessAny::dialogRefusesWhatIsNoAddress()
{
    QFETCH(QString, address);
    QFETCH(int, family);
    QFETCH(QString, error);
    ConfFile conf("restrict ::1\n");
    FOptAccess page;
    TestHelpers::BoxSeen seen;
    bool stayedOpen = false;
    editRow(page, 0, [&](FOptAccess_AddAny* dialog) {
        typeAddress(dialog, address);
        dialog->cbFamily->setCurrentIndex(family);
        dialog->slotChanged();
        if (!error.isEmpty())
            TestHelpers::answerNextBox(QMessageBox::Ok, &seen);
        dialog->buttonBox->button(QDialogButtonBox::Ok)->click();
        stayedOpen = dialog->isVisible();
        if (stayedOpen)
            dialog->reject();
    });
    QCOMPARE(seen.text, error);
    QCOMPARE(stayedOpen, !error.isEmpty());
    QCOMPARE(rows(page).at(0).section('|', 0, 1), error.isEmpty() ? "192.0.2.0|/24" : "::1|");
}

void TestFOptAccessAny::otherModeKeepsWordsWithoutABox()
{
    ConfFile conf("restrict -4 default kod nomodify ippeerlimit 2\n");
    FOptAccess page;
    editRow(page, 0, [&](FOptAccess_AddAny* dialog) {
        QVERIFY(dialog->modeGroup->button(FOptAccess_Add::Other)->isChecked());
        QVERIFY(dialog->targetGroup->button(FOptAccess_AddAny::DefaultTarget)->isChecked());
        QCheckBox* noquery = dialog->flagBox(QStringLiteral("noquery"));
        QVERIFY(noquery && !noquery->isChecked());
        noquery->click();
    });
    page.saveSettings();
    QCOMPARE(linesOf(conf.read(), "restrict"),
             QStringList{"restrict -4 default ippeerlimit 2 kod nomodify noquery"});
}

void TestFOptAccessAny::rulesOfOtherFormsCanBeDeleted()
{
    ConfFile conf("restrict -6 default ignore\nrestrict ::1\nrestrict source nomodify\n");
    FOptAccess page;
    list(page)->setCurrentItem(list(page)->topLevelItem(1));
    TestHelpers::BoxSeen seen;
    TestHelpers::answerNextBox(QMessageBox::Ok, &seen);
    page.Delete_clicked();
    QCOMPARE(seen.text, QStringLiteral("Delete network?"));
    page.saveSettings();
    QCOMPARE(conf.read(), QByteArray("\nrestrict -6 default ignore\nrestrict source nomodify\n"));
}

QTEST_MAIN(TestFOptAccessAny)
#include "tst_foptaccess_any.moc"
