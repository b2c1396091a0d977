#include "pages/fbroadcast.h"
#include "ui_fbroadcast.h"

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>

#include "config/ntpsettingswriter.h"
#include "config/referenceclocks.h"
#include "daemon/daemonsetup.h"
#include "pages/fbroadcast_add.h"
#include "pages/loadedrow.h"
#include "pages/treecolumns.h"
#include "wispuinet/wisphostaddress.h"

namespace
{
// The line as the file writes it follows the specified columns.
enum Column { NetworkColumn = 0, VersionColumn = 1, PollColumn = 2, TtlColumn = 3, LineColumn = 4 };
// Column 0 keeps the loaded entry, so that saving keeps what has no column.
const int EntryRole = Qt::UserRole + 1;

QString numberText(int value)
{
    return value == -1 ? QString() : QString::number(value);
}

int numberOf(const QString& text)
{
    return text.isEmpty() ? -1 : text.toInt(nullptr, 10);
}

// Dotted text without leading zeros, or empty unless there are four parts.
QString addressText(const WispHostAddress* widget)
{
    const QStringList parts = widget->address().toString().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return QString();
    QStringList numbers;
    for (const QString& part : parts)
        numbers << QString::number(part.toInt(nullptr, 10));
    return numbers.join(QLatin1Char('.'));
}

QString paddedAddress(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return QString();
    QStringList padded;
    for (const QString& part : parts)
        padded << QStringLiteral("%1").arg(part.toInt(nullptr, 10), 3, 10, QLatin1Char('0'));
    return padded.join(QLatin1Char('.'));
}

} // namespace

QString FBroadcast::pageTitle()
{
    return tr("Broadcast");
}

FBroadcast::FBroadcast(QWidget* parent)
    : ListPage(parent), ui(new Ui::FBroadcast), modeGroup(new QButtonGroup(this))
{
    ui->setupUi(this);
    setWindowTitle(pageTitle());
    // Rows keep the file's order until the user sorts by a column.
    ui->twList->header()->setSortIndicator(-1, Qt::AscendingOrder);
    modeGroup->setObjectName(QStringLiteral("modeGroup"));
    modeGroup->addButton(ui->rbClient, ClientOnly);
    modeGroup->addButton(ui->rbDual, ClientAndServer);

    connect(modeGroup, &QButtonGroup::idToggled, this, &FBroadcast::buttonToggled);
    setUpList(ui->twList, {ui->bDelete, ui->bEdit, ui->bAdd});
    ui->twList->setColumnCount(LineColumn + 1);
    ui->twList->headerItem()->setText(LineColumn, tr("Line"));
    keepLineColumn(ui->twList, LineColumn, [this](const QTreeWidgetItem* item) {
        return associationLine("broadcast", entryOf(item));
    });

    notice = new QLabel(this);
    notice->setObjectName(QStringLiteral("lbModeNotice"));
    notice->setWordWrap(true);
    ui->verticalLayout->insertWidget(ui->verticalLayout->indexOf(ui->gbMode), notice);

    loadSettings();
}

FBroadcast::~FBroadcast()
{
    delete ui;
}

int FBroadcast::mode() const
{
    return modeGroup->checkedId();
}

void FBroadcast::loadSettings()
{
    readNtpSettings();
    ui->twList->clear();
    hiddenEntries.clear();
    QList<QTreeWidgetItem*> rows;
    for (int i = 0; i < ntpSettings.broadcasts.size(); ++i) {
        const ServerEntry& entry = ntpSettings.broadcasts.at(i);
        if (isClockAddress(entry.address))
            hiddenEntries.append(qMakePair(i, entry));
        else
            rows.append(rowFor(entry));
    }
    appendRows(ui->twList, rows);
    fillLineColumn(ui->twList, LineColumn, [this](const QTreeWidgetItem* item) {
        return associationLine("broadcast", entryOf(item));
    });
    (ntpSettings.broadcastClient ? ui->rbDual : ui->rbClient)->setChecked(true);
    buttonToggled(mode(), true);
    showModeNotice(rows.size());
    resizeColumnsToContents(ui->twList);
}

// What the file does where the two modes do not describe it, and what the
// daemon makes of it.
void FBroadcast::showModeNotice(int broadcastNetworks)
{
    QStringList texts;
    if (broadcastNetworks > 0 && !ntpSettings.broadcastClient) {
        texts << tr("This server broadcasts on %n networks and does not listen to broadcasts; "
                    "'Client only' stops broadcasting, 'Client and server' also listens",
                    nullptr, broadcastNetworks);
    }
    if (currentDaemon().isNtpsec()) {
        texts << tr("NTPsec has no broadcast mode: the daemon ignores the broadcast and "
                    "broadcastclient lines.");
    }
    notice->setText(texts.join(QLatin1Char('\n')));
    notice->setVisible(!texts.isEmpty());
}

void FBroadcast::saveSettings()
{
    ntpSettings.broadcasts.clear();
    if (mode() == ClientAndServer) {
        for (int i = 0; i < ui->twList->topLevelItemCount(); ++i)
            ntpSettings.broadcasts.append(entryOf(ui->twList->topLevelItem(i)));
        for (const auto& hidden : qAsConst(hiddenEntries))
            ntpSettings.broadcasts.insert(qMin(hidden.first, ntpSettings.broadcasts.size()),
                                          hidden.second);
        ntpSettings.broadcastClient = true;
    } else {
        ntpSettings.broadcastClient = false;
    }
    writeNtpSettings();
}

QTreeWidgetItem* FBroadcast::rowFor(const ServerEntry& entry)
{
    auto* item = new LoadedRow(LineColumn + 1);
    item->setText(NetworkColumn, entry.address);
    item->setText(VersionColumn, numberText(entry.version));
    item->setText(PollColumn, numberText(entry.minPoll));
    item->setText(TtlColumn, numberText(entry.ttl));
    item->setData(NetworkColumn, EntryRole, QVariant::fromValue(entry));
    return item;
}

// Starts from the loaded entry, if any, and takes the four columns over it.
ServerEntry FBroadcast::entryOf(const QTreeWidgetItem* item) const
{
    ServerEntry entry = item->data(NetworkColumn, EntryRole).value<ServerEntry>();
    entry.address = item->text(NetworkColumn);
    entry.version = numberOf(item->text(VersionColumn));
    entry.minPoll = numberOf(item->text(PollColumn));
    entry.ttl = numberOf(item->text(TtlColumn));
    return entry;
}

void FBroadcast::buttonToggled(int, bool)
{
    const bool serving = mode() == ClientAndServer;
    for (QWidget* widget : {static_cast<QWidget*>(ui->twList), static_cast<QWidget*>(ui->bDelete),
                            static_cast<QWidget*>(ui->bEdit), static_cast<QWidget*>(ui->bAdd)})
        widget->setEnabled(serving);
    if (serving)
        currentItemChanged(ui->twList->currentItem(), nullptr);
    emit dataChanged(this);
}

void FBroadcast::setRowFromDialog(QTreeWidgetItem* item, const FBroadcast_Add& dialog)
{
    item->setText(NetworkColumn, addressText(dialog.address));
    item->setText(VersionColumn, QString::number(dialog.version->value()));
    item->setText(PollColumn, QString::number(dialog.minPoll->value()));
    item->setText(TtlColumn, QString::number(dialog.ttl->value()));
}

void FBroadcast::Add_clicked()
{
    FBroadcast_Add dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.address->lineEdit()->text().trimmed().isEmpty())
        return;
    // The unspecified address stands for no network: nothing is added.
    if (addressText(dialog.address) != QLatin1String("0.0.0.0")) {
        auto* item = new QTreeWidgetItem(ui->twList);
        ui->twList->setCurrentItem(item);
        setRowFromDialog(item, dialog);
    }
    emit dataChanged(this);
}

void FBroadcast::presetDialog(FBroadcast_Add& dialog, const QTreeWidgetItem* item) const
{
    dialog.address->setAddress(paddedAddress(item->text(NetworkColumn)));
    dialog.version->setValue(item->text(VersionColumn).toInt(nullptr, 10));
    dialog.minPoll->setValue(item->text(PollColumn).toInt(nullptr, 10));
    dialog.ttl->setValue(item->text(TtlColumn).toInt(nullptr, 10));
}

void FBroadcast::Edit_clicked()
{
    QTreeWidgetItem* item = ui->twList->currentItem();
    if (!item)
        return;
    FBroadcast_Add dialog(this);
    presetDialog(dialog, item);
    dialog.disableOkButton();
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (addressText(dialog.address) != QLatin1String("0.0.0.0"))
        setRowFromDialog(item, dialog);
    emit dataChanged(this);
}

void FBroadcast::Delete_clicked()
{
    QTreeWidgetItem* item = ui->twList->currentItem();
    if (!item)
        return;
    if (QMessageBox::warning(this, tr("NTP admin"), tr("Delete network?"),
                             QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
        return;
    delete item;
    emit dataChanged(this);
}

void FBroadcast::itemDoubleClicked(QTreeWidgetItem* item, int column)
{
    ListPage::itemDoubleClicked(item, column);
}

void FBroadcast::currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous)
{
    ListPage::currentItemChanged(current, previous);
}

bool FBroadcast::eventFilter(QObject* watched, QEvent* event)
{
    return ListPage::eventFilter(watched, event);
}

bool FBroadcast::offersContextMenu() const
{
    return mode() == ClientAndServer;
}
