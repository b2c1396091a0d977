#include "pages/foptaccess.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHeaderView>
#include <QHostAddress>
#include <QMessageBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "config/ntpsettingswriter.h"
#include "pages/foptaccess_add.h"
#include "pages/foptaccess_addany.h"
#include "pages/loadedrow.h"
#include "pages/treecolumns.h"
#include "wispuinet/wisphostaddress.h"

namespace
{
// The address family column follows the specified ones.
// The address family column follows the specified ones, then the line as the
// file writes it (which shows "kod" without "ignore" and other words the
// Flags column leaves out).
enum Column {
    NetworkColumn = 0,
    MaskColumn = 1,
    FlagsColumn = 2,
    FamilyColumn = 3,
    LineColumn = 4
};
// Column 0 keeps the loaded entry while the row is not edited, so that saving
// keeps what the columns cannot show (the comment, "kod" without "ignore").
const int EntryRole = Qt::UserRole + 1;
// Rows of restrictions the IPv4 fields cannot hold (IPv6, prefixes, host
// names, "source", "-4"/"-6") keep their whole entry here, edited or not;
// their columns only show it.
const int OtherEntryRole = Qt::UserRole + 2;

const QString defaultAddress = QStringLiteral("default");

bool isDefault(const RestrictEntry& entry)
{
    return entry.address.toLower() == defaultAddress;
}

QString flagsText(const QMap<QString, bool>& flags)
{
    QStringList words;
    for (auto it = flags.cbegin(); it != flags.cend(); ++it) {
        if (it.key() == QLatin1String("ignore")) {
            return flags.value(QStringLiteral("kod")) ? QStringLiteral("ignore,kod")
                                                      : QStringLiteral("ignore");
        }
        if (it.value() && it.key() != QLatin1String("kod"))
            words << it.key();
    }
    return words.join(QLatin1Char(','));
}

bool isOtherRow(const QTreeWidgetItem* item)
{
    return item->data(NetworkColumn, OtherEntryRole).isValid();
}

QString plainFamilyText(bool isDefaultEntry)
{
    return isDefaultEntry ? FOptAccess::tr("IPv4 and IPv6") : FOptAccess::tr("IPv4");
}

QString familyText(const RestrictEntry& entry)
{
    QString kind;
    if (entry.address == defaultAddress) {
        kind = plainFamilyText(true);
    } else if (entry.address == QLatin1String("source")) {
        kind = FOptAccess::tr("Time sources");
    } else {
        QString host = entry.address.section(QLatin1Char('/'), 0, 0);
        // "[fe80::1]" is an IPv6 address in the brackets of a URL.
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        QHostAddress address;
        if (!address.setAddress(host))
            kind = FOptAccess::tr("Host name");
        else
            kind = address.protocol() == QAbstractSocket::IPv4Protocol ? QStringLiteral("IPv4")
                                                                       : QStringLiteral("IPv6");
    }
    QString family;
    if (entry.family == QLatin1String("-4"))
        family = FOptAccess::tr("IPv4 only (-4)");
    else if (entry.family == QLatin1String("-6"))
        family = FOptAccess::tr("IPv6 only (-6)");
    if (family.isEmpty())
        return kind;
    if (entry.address == defaultAddress || kind.startsWith(QLatin1String("IPv")))
        return family;
    return kind + QStringLiteral(", ") + family;
}

// The columns of a row of another form: a prefix length shows in the Mask
// column as "/24".
void showOtherEntry(QTreeWidgetItem* item, const RestrictEntry& entry)
{
    if (entry.address == defaultAddress) {
        item->setText(NetworkColumn, FOptAccess::tr("Default"));
        item->setText(MaskColumn, QString());
    } else {
        const int slash = entry.address.indexOf(QLatin1Char('/'));
        item->setText(NetworkColumn, entry.address.left(slash));
        item->setText(MaskColumn,
                      entry.mask.isEmpty() && slash >= 0 ? entry.address.mid(slash) : entry.mask);
    }
    item->setText(FlagsColumn, flagsText(entry.flags));
    item->setText(FamilyColumn, familyText(entry));
    item->setData(NetworkColumn, OtherEntryRole, QVariant::fromValue(entry));
}

// The flags chosen in the dialog; in the mode "Other", words the dialog has
// no box for (such as "kod" or "ippeerlimit 2") stay as they were.
QMap<QString, bool> chosenFlags(const FOptAccess_Add& dialog, const QMap<QString, bool>& old)
{
    QMap<QString, bool> flags;
    for (const QString& word : dialog.flagsText().split(QLatin1Char(','), Qt::SkipEmptyParts))
        flags.insert(word, true);
    if (dialog.modeGroup->checkedId() != FOptAccess_Add::Other)
        return flags;
    for (auto it = old.cbegin(); it != old.cend(); ++it) {
        if (!FOptAccess_Add::flagWords().contains(it.key()) && it.key() != QLatin1String("ignore"))
            flags.insert(it.key(), it.value());
    }
    return flags;
}

} // namespace

QString FOptAccess::pageTitle()
{
    return tr("Access");
}

FOptAccess::FOptAccess(QWidget* parent) : ListPage(parent), twList(new QTreeWidget(this))
{
    setWindowTitle(pageTitle());
    twList->setObjectName(QStringLiteral("twList"));
    twList->setHeaderLabels(
        {tr("Network"), tr("Mask"), tr("Flags"), tr("Address family"), tr("Line")});
    twList->header()->setSortIndicatorShown(true);
    twList->setSortingEnabled(true);
    // Rows keep the file's order until the user sorts by a column.
    twList->header()->setSortIndicator(-1, Qt::AscendingOrder);

    const ListButtons buttons = createButtons();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(twList);
    layout->addLayout(buttonRow(buttons));
    setUpList(twList, buttons);
    keepLineColumn(twList, LineColumn,
                   [this](const QTreeWidgetItem* item) { return restrictLine(entryOf(item)); });

    loadSettings();
}

void FOptAccess::loadSettings()
{
    readNtpSettings();
    twList->clear();
    bool defaultShown = false;
    QList<QTreeWidgetItem*> rows;
    for (int i = 0; i < ntpSettings.restricts.size(); ++i) {
        const RestrictEntry& entry = ntpSettings.restricts.at(i);
        if (!entry.isPlainIpv4()) {
            auto* item = new LoadedRow(LineColumn + 1);
            showOtherEntry(item, entry);
            rows.append(item);
            continue;
        }
        if (isDefault(entry) && defaultShown) {
            rows.append(repeatedDefaultRow(entry));
            continue;
        }
        defaultShown = defaultShown || isDefault(entry);
        rows.append(rowFor(entry));
    }
    appendRows(twList, rows);
    fillLineColumn(twList, LineColumn,
                   [this](const QTreeWidgetItem* item) { return restrictLine(entryOf(item)); });
    resizeColumnsToContents(twList);
    currentItemChanged(twList->currentItem(), nullptr);
}

// A further plain "restrict default" line: a row of its own, kept as it is
// unless edited, so the Default row still stands for the first line.
QTreeWidgetItem* FOptAccess::repeatedDefaultRow(const RestrictEntry& entry) const
{
    auto* item = new LoadedRow(LineColumn + 1);
    showOtherEntry(item, entry);
    const QString why =
        tr("Another \"restrict default\" line comes earlier. The daemon keeps one rule per "
           "address and mask and adds the flags of every further line for them to it: the "
           "flags of both lines apply to every address no other line matches (IPv4 and IPv6 "
           "alike unless a line says -4 or -6).");
    for (int column = 0; column <= LineColumn; ++column)
        item->setToolTip(column, why);
    return item;
}

QTreeWidgetItem* FOptAccess::rowFor(const RestrictEntry& entry) const
{
    auto* item = new LoadedRow(LineColumn + 1);
    item->setText(FamilyColumn, plainFamilyText(isDefault(entry)));
    if (isDefault(entry)) {
        item->setText(NetworkColumn, tr("Default"));
    } else {
        item->setText(NetworkColumn, entry.address);
        // A network without a mask is a single host.
        item->setText(MaskColumn,
                      entry.mask.isEmpty() ? QStringLiteral("255.255.255.255") : entry.mask);
    }
    item->setText(FlagsColumn, flagsText(entry.flags));
    item->setData(NetworkColumn, EntryRole, QVariant::fromValue(entry));
    return item;
}

void FOptAccess::saveSettings()
{
    ntpSettings.restricts.clear();
    for (int i = 0; i < twList->topLevelItemCount(); ++i)
        ntpSettings.restricts.append(entryOf(twList->topLevelItem(i)));
    writeNtpSettings();
}

// The row's columns over the loaded entry (if the row is unedited): the
// entry's comment and flags the column does not show stay.
RestrictEntry FOptAccess::entryOf(const QTreeWidgetItem* item) const
{
    if (isOtherRow(item))
        return item->data(NetworkColumn, OtherEntryRole).value<RestrictEntry>();
    RestrictEntry entry = item->data(NetworkColumn, EntryRole).value<RestrictEntry>();
    if (item->text(MaskColumn).isEmpty()) {
        entry.address = defaultAddress;
        entry.mask.clear();
    } else {
        entry.address = item->text(NetworkColumn);
        entry.mask = item->text(MaskColumn);
    }
    const QStringList words = item->text(FlagsColumn).split(QLatin1Char(','), Qt::KeepEmptyParts);
    for (const QString& word : words)
        entry.flags.insert(word, true);
    return entry;
}

QTreeWidgetItem* FOptAccess::findDefaultRow(const QTreeWidgetItem* except) const
{
    for (int i = 0; i < twList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = twList->topLevelItem(i);
        if (item != except && !isOtherRow(item) && item->text(MaskColumn).trimmed().isEmpty())
            return item;
    }
    return nullptr;
}

// Refuses the unspecified address and empty fields with a message.
bool FOptAccess::checkAddress(const QString& address, const QString& mask)
{
    QString error;
    if (address == QLatin1String("0.0.0.0"))
        error = tr("Incorrect address");
    else if (address.isEmpty() || mask.isEmpty())
        error = tr("Please fill address and mask fields");
    if (error.isEmpty())
        return true;
    QMessageBox::warning(this, tr("Error"), error, QMessageBox::Ok);
    return false;
}

void FOptAccess::Add_clicked()
{
    FOptAccess_Add dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString address = dialog.address->address().toString();
    const QString mask = dialog.mask->address().toString();

    QTreeWidgetItem* item = nullptr;
    if (dialog.chbDefault->isChecked()) {
        item = findDefaultRow();
        if (!item) {
            item = new QTreeWidgetItem(twList);
            item->setText(NetworkColumn, tr("Default"));
            item->setText(FamilyColumn, plainFamilyText(true));
        }
    } else {
        if (!checkAddress(address, mask)) {
            // The unspecified address still counts as a change of the page.
            if (address == QLatin1String("0.0.0.0"))
                emit dataChanged(this);
            return;
        }
        item = new QTreeWidgetItem(twList);
        item->setText(NetworkColumn, address);
        item->setText(MaskColumn, mask);
        item->setText(FamilyColumn, plainFamilyText(false));
    }
    item->setData(NetworkColumn, EntryRole, QVariant());
    twList->setCurrentItem(item);
    item->setText(FlagsColumn, dialog.flagsText());
    emit dataChanged(this);
}

void FOptAccess::presetDialog(FOptAccess_Add& dialog, const QTreeWidgetItem* item) const
{
    if (!item->text(MaskColumn).isEmpty()) {
        dialog.address->setAddress(item->text(NetworkColumn));
        dialog.mask->setAddress(item->text(MaskColumn));
    } else {
        dialog.chbDefault->setChecked(true);
        dialog.address->setAddress(QString());
        dialog.mask->setAddress(QString());
    }
    presetMode(dialog, item);
}

void FOptAccess::presetMode(FOptAccess_Add& dialog, const QTreeWidgetItem* item) const
{
    const QStringList words =
        item->text(FlagsColumn).trimmed().split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        dialog.modeGroup->button(FOptAccess_Add::Full)->setChecked(true);
    } else if (words.contains(QLatin1String("ignore"))) {
        dialog.modeGroup->button(FOptAccess_Add::Denied)->setChecked(true);
        dialog.chbKod->setChecked(words.contains(QLatin1String("kod")));
    } else {
        dialog.modeGroup->button(FOptAccess_Add::Other)->setChecked(true);
        for (const QString& word : words) {
            if (QCheckBox* box = dialog.flagBox(word))
                box->setChecked(true);
        }
    }
    dialog.buttonClicked(dialog.modeGroup->checkedId());
}

void FOptAccess::Edit_clicked()
{
    QTreeWidgetItem* item = twList->currentItem();
    if (!item)
        return;
    if (isOtherRow(item)) {
        editOtherRow(item);
        return;
    }
    FOptAccess_Add dialog(this);
    presetDialog(dialog, item);
    dialog.disableOkButton();
    if (dialog.exec() != QDialog::Accepted)
        return;

    QString address = dialog.address->address().toString();
    QString mask = dialog.mask->address().toString();
    if (dialog.chbDefault->isChecked()) {
        address = tr("Default");
        mask.clear();
        delete findDefaultRow(item);
    } else if (!checkAddress(address, mask)) {
        return;
    }
    item->setData(NetworkColumn, EntryRole, QVariant());
    item->setText(NetworkColumn, address);
    item->setText(MaskColumn, mask);
    item->setText(FlagsColumn, dialog.flagsText());
    item->setText(FamilyColumn, plainFamilyText(mask.isEmpty()));
    emit dataChanged(this);
}

void FOptAccess::editOtherRow(QTreeWidgetItem* item)
{
    RestrictEntry entry = item->data(NetworkColumn, OtherEntryRole).value<RestrictEntry>();
    FOptAccess_AddAny dialog(this);
    dialog.presetTarget(entry);
    presetMode(dialog, item);
    dialog.disableOkButton();
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.applyTarget(&entry);
    entry.flags = chosenFlags(dialog, entry.flags);
    showOtherEntry(item, entry);
    emit dataChanged(this);
}

void FOptAccess::Delete_clicked()
{
    QTreeWidgetItem* item = twList->currentItem();
    if (!item)
        return;
    if (QMessageBox::warning(this, tr("NTP admin"), tr("Delete network?"),
                             QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    delete item;
    emit dataChanged(this);
}

void FOptAccess::itemDoubleClicked(QTreeWidgetItem* item, int column)
{
    ListPage::itemDoubleClicked(item, column);
}

void FOptAccess::currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous)
{
    ListPage::currentItemChanged(current, previous);
}

bool FOptAccess::eventFilter(QObject* watched, QEvent* event)
{
    return ListPage::eventFilter(watched, event);
}
