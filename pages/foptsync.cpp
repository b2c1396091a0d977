#include "pages/foptsync.h"

#include <QBrush>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "config/configcheck.h"
#include "config/ntpsettings.h"
#include "config/ntpsettingswriter.h"
#include "config/referenceclocks.h"
#include "daemon/daemonsetup.h"
#include "daemon/dhcpservers.h"
#include "pages/foptsync_add.h"
#include "pages/listpage.h"
#include "pages/loadedrow.h"
#include "pages/treecolumns.h"

namespace
{
enum Column {
    AddressColumn,
    PrevailColumn,
    VersionColumn,
    MinPollColumn,
    MaxPollColumn,
    BurstColumn,
    KindColumn, // after the specified columns: "Server", "Pool" or "Peer", NTS, family
    LineColumn  // the line as the file writes it
};

// Column 0 keeps the entry a row was loaded from, so that the options
// without a column are written back unchanged.
const int entryRole = Qt::UserRole;
// Column 0 of a row of a server the DHCP copy names: shown, never written.
const int dhcpRole = Qt::UserRole + 1;

bool isDhcpRow(const QTreeWidgetItem* item)
{
    return item && item->data(0, dhcpRole).toBool();
}

const QString burstWord = QStringLiteral("burst");
const QString iburstWord = QStringLiteral("iburst");

QString optionalNumber(int value)
{
    return value == -1 ? QString() : QString::number(value);
}

// An empty column stands for an option that is not given.
int numberOrUnset(const QString& text)
{
    return text.isEmpty() ? -1 : text.toInt();
}

QString burstText(bool burst, bool iburst)
{
    QString text = burst ? burstWord : QString();
    if (iburst) {
        if (!text.isEmpty())
            text += QLatin1Char('/');
        text += iburstWord;
    }
    return text;
}

// NTS is offered and shown only where the daemon has it; elsewhere an "nts"
// word stays one of the options without a column.
bool offersNts()
{
    return currentDaemon().isNtpsec();
}

bool poolNtsWorks()
{
    return authenticatesPoolsWithNts(currentDaemon());
}

// The parts of the type column: what the line is, its NTS and its family.
struct Kind {
    bool pool = false;
    bool peer = false;
    bool nts = false;
    QString family;
};

QString ntsPart()
{
    return FOptSync::tr("NTS");
}

QString kindText(const Kind& kind)
{
    QStringList parts{kind.pool   ? FOptSync::tr("Pool")
                      : kind.peer ? FOptSync::tr("Peer")
                                  : FOptSync::tr("Server")};
    if (kind.nts) {
        parts << (kind.pool && !poolNtsWorks()
                      ? FOptSync::tr("NTS not used: this daemon does not authenticate pools")
                      : ntsPart());
    }
    if (kind.family == QLatin1String("-4"))
        parts << FOptSync::tr("IPv4 only");
    else if (kind.family == QLatin1String("-6"))
        parts << FOptSync::tr("IPv6 only");
    return parts.join(QStringLiteral(", "));
}

bool isPoolText(const QString& text)
{
    return text.startsWith(FOptSync::tr("Pool"));
}

// Any mention of NTS keeps the word on the line, also where this daemon
// cannot use it for the source.
bool isNtsText(const QString& text)
{
    return text.contains(ntsPart());
}

Kind kindOf(const ServerEntry& entry)
{
    return {entry.pool, entry.peer, offersNts() && entry.usesNts(), entry.family};
}

} // namespace

QString FOptSync::pageTitle()
{
    return tr("Sync");
}

FOptSync::FOptSync(QWidget* parent) : ListPage(parent)
{
    setWindowTitle(pageTitle());

    serverList = new QTreeWidget;
    serverList->setObjectName(QStringLiteral("twServers"));
    serverList->setHeaderLabels({tr("Server address"), tr("Prevail"), tr("NTP ver."),
                                 tr("Min poll"), tr("Max poll"), tr("Burst/iburst"), tr("Type"),
                                 tr("Line")});
    serverList->header()->setSortIndicatorShown(true);
    serverList->setSortingEnabled(true);
    // Rows keep the file's order until the user sorts by a column.
    serverList->header()->setSortIndicator(-1, Qt::AscendingOrder);

    const ListButtons buttons = createButtons();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(serverList);
    layout->addLayout(buttonRow(buttons));
    setUpList(serverList, buttons);

    loadSettings();
}

void FOptSync::loadSettings()
{
    readNtpSettings();
    serverList->clear();
    QList<QTreeWidgetItem*> rows;
    for (const ServerEntry& entry : qAsConst(ntpSettings.servers)) {
        if (!isClockAddress(entry.address))
            rows.append(rowFor(entry));
    }
    const QString dhcpCopy = currentDaemon().dhcpConfig;
    if (!dhcpCopy.isEmpty()) {
        markReplacedByDhcp(rows, dhcpCopy);
        rows += dhcpRows(dhcpCopy);
    }
    appendRows(serverList, rows);
    resizeColumnsToContents(serverList);
    currentItemChanged(serverList->currentItem(), nullptr);
}

QTreeWidgetItem* FOptSync::rowFor(const ServerEntry& entry) const
{
    // A maximum below the minimum is raised to it, and saved that way.
    int maxPoll = entry.maxPoll;
    if (entry.minPoll != -1 && maxPoll != -1 && maxPoll < entry.minPoll)
        maxPoll = entry.minPoll;

    auto* item = new LoadedRow(LineColumn + 1);
    item->setText(AddressColumn, entry.address);
    item->setText(PrevailColumn, entry.prefer ? tr("yes") : tr("no"));
    item->setText(VersionColumn, optionalNumber(entry.version));
    item->setText(MinPollColumn, optionalNumber(entry.minPoll));
    item->setText(MaxPollColumn, optionalNumber(maxPoll));
    item->setText(BurstColumn, burstText(entry.burst, entry.iburst));
    item->setText(KindColumn, kindText(kindOf(entry)));
    item->setText(LineColumn, serverLine(entry));
    item->setData(AddressColumn, entryRole, QVariant::fromValue(entry));
    if (entry.peer) {
        item->setToolTip(KindColumn, tr("NTPsec reads a \"peer\" line as a \"server\" line; "
                                        "the classic daemon exchanges time both ways."));
    }
    return item;
}

// While DHCP-supplied servers replace the file's, the daemon does not use
// the file's own sources.
void FOptSync::markReplacedByDhcp(const QList<QTreeWidgetItem*>& rows, const QString& copy)
{
    const QString why = tr("Not used meanwhile: the daemon uses the servers from DHCP (%1) "
                           "instead of the file's.")
                            .arg(copy);
    for (QTreeWidgetItem* item : rows) {
        for (int column = 0; column <= LineColumn; ++column) {
            item->setToolTip(column, why);
            item->setForeground(column, QBrush(Qt::gray));
        }
    }
}

// The servers of the DHCP copy, read-only; a copy that may not be read
// gives one row that says why.
QList<QTreeWidgetItem*> FOptSync::dhcpRows(const QString& copy) const
{
    const DhcpSources read = readDhcpSources(copy);
    QList<QTreeWidgetItem*> rows;
    auto addRow = [&rows](const QString& address, const QString& kind, const QString& line) {
        auto* item = new QTreeWidgetItem;
        item->setText(AddressColumn, address);
        item->setText(KindColumn, kind);
        item->setText(LineColumn, line);
        item->setData(AddressColumn, dhcpRole, true);
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        rows.append(item);
    };
    if (!read.error.isEmpty())
        addRow(QString(), tr("From DHCP: not shown"), read.error);
    for (const DhcpSource& source : read.sources) {
        const QString kind = source.keyword == QLatin1String("pool") ? tr("Pool, from DHCP")
                                                                     : tr("Server, from DHCP");
        addRow(source.address, kind, source.line);
    }
    const QString tip = tr("Supplied by DHCP (%1); change it on the DHCP server.").arg(copy);
    for (QTreeWidgetItem* item : rows) {
        for (int column = 0; column <= LineColumn; ++column)
            item->setToolTip(column, tip);
    }
    return rows;
}

void FOptSync::saveSettings()
{
    QList<ServerEntry>& servers = ntpSettings.servers;
    for (int i = servers.size() - 1; i >= 0; --i) {
        if (!isClockAddress(servers.at(i).address))
            servers.removeAt(i);
    }
    for (int row = 0; row < serverList->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = serverList->topLevelItem(row);
        if (!isDhcpRow(item))
            servers.append(entryFromRow(item));
    }
    writeNtpSettings();
}

ServerEntry FOptSync::entryFromRow(const QTreeWidgetItem* item) const
{
    // Rows added on this page start from the empty entry.
    ServerEntry entry = item->data(AddressColumn, entryRole).value<ServerEntry>();
    entry.address = item->text(AddressColumn);
    entry.prefer = item->text(PrevailColumn) == tr("yes");
    entry.version = numberOrUnset(item->text(VersionColumn));
    entry.minPoll = numberOrUnset(item->text(MinPollColumn));
    entry.maxPoll = numberOrUnset(item->text(MaxPollColumn));
    const QStringList words = item->text(BurstColumn).split(QLatin1Char('/'));
    entry.burst = words.contains(burstWord);
    entry.iburst = words.contains(iburstWord);
    entry.pool = isPoolText(item->text(KindColumn));
    if (entry.pool)
        entry.peer = false;
    if (offersNts())
        entry.setNts(isNtsText(item->text(KindColumn)));
    return entry;
}

void FOptSync::Add_clicked()
{
    FOptSync_Add dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.addressBox->currentText().trimmed().isEmpty())
        return;

    auto* item = new QTreeWidgetItem;
    fillRowFromDialog(item, dialog);
    serverList->addTopLevelItem(item);
    serverList->setCurrentItem(item);
    emit dataChanged(this);
}

void FOptSync::Delete_clicked()
{
    QTreeWidgetItem* item = serverList->currentItem();
    if (!item || refusedAsDhcpRow(item))
        return;
    const auto answer =
        QMessageBox::warning(this, tr("NTP admin"), tr("Delete server from list?"),
                             QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::NoButton);
    if (answer != QMessageBox::Ok)
        return;
    delete item;
    emit dataChanged(this);
}

bool FOptSync::refusedAsDhcpRow(const QTreeWidgetItem* item)
{
    if (!isDhcpRow(item))
        return false;
    QMessageBox::information(this, tr("NTP admin"),
                             tr("This server comes from DHCP; it is changed on the DHCP server, "
                                "not here."));
    return true;
}

void FOptSync::Edit_clicked()
{
    QTreeWidgetItem* item = serverList->currentItem();
    if (!item || refusedAsDhcpRow(item))
        return;
    FOptSync_Add dialog(this);
    presetDialogFromRow(dialog, item);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.addressBox->currentText().trimmed().isEmpty())
        return;
    fillRowFromDialog(item, dialog);
    emit dataChanged(this);
}

void FOptSync::presetDialogFromRow(FOptSync_Add& dialog, const QTreeWidgetItem* item) const
{
    dialog.addressBox->setEditText(item->text(AddressColumn));
    dialog.prevailBox->setChecked(item->text(PrevailColumn) == tr("yes"));
    // An empty column reads as 0, which each spin box raises to its minimum.
    dialog.versionBox->setValue(item->text(VersionColumn).toInt());
    dialog.minPollBox->setValue(item->text(MinPollColumn).toInt());
    dialog.maxPollBox->setValue(item->text(MaxPollColumn).toInt());
    const QStringList words = item->text(BurstColumn).split(QLatin1Char('/'));
    dialog.burstBox->setChecked(words.contains(burstWord));
    dialog.iburstBox->setChecked(words.contains(iburstWord));
    const QString kind = item->text(KindColumn);
    (isPoolText(kind) ? dialog.poolButton : dialog.serverButton)->setChecked(true);
    if (dialog.ntsBox)
        dialog.ntsBox->setChecked(isNtsText(kind) && dialog.ntsBox->isEnabled());
}

void FOptSync::fillRowFromDialog(QTreeWidgetItem* item, const FOptSync_Add& dialog) const
{
    item->setText(AddressColumn, dialog.addressBox->currentText());
    item->setText(PrevailColumn, dialog.prevailBox->isChecked() ? tr("yes") : tr("no"));
    item->setText(VersionColumn, QString::number(dialog.versionBox->value()));
    item->setText(MinPollColumn, QString::number(dialog.minPollBox->value()));
    item->setText(MaxPollColumn, QString::number(dialog.maxPollBox->value()));
    item->setText(BurstColumn,
                  burstText(dialog.burstBox->isChecked(), dialog.iburstBox->isChecked()));
    // The dialog has no field for the family and no "peer": a row keeps
    // those of its line.
    const ServerEntry loaded = item->data(AddressColumn, entryRole).value<ServerEntry>();
    Kind kind;
    kind.pool = dialog.poolButton->isChecked();
    kind.peer = loaded.peer && !kind.pool;
    kind.nts = dialog.ntsBox && dialog.ntsBox->isChecked() && dialog.ntsBox->isEnabled();
    kind.family = loaded.family;
    item->setText(KindColumn, kindText(kind));
    item->setText(LineColumn, serverLine(entryFromRow(item)));
}

void FOptSync::itemDoubleClicked(QTreeWidgetItem* item, int column)
{
    ListPage::itemDoubleClicked(item, column);
}

void FOptSync::currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous)
{
    ListPage::currentItemChanged(current, previous);
}

bool FOptSync::eventFilter(QObject* watched, QEvent* event)
{
    return ListPage::eventFilter(watched, event);
}
