#include "fopthwclock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QSet>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <array>

#include "clockdrivers.h"
#include "fopthwclock_add.h"
#include "loadedrow.h"
#include "ntpsettings.h"
#include "treecolumns.h"

namespace
{
enum Column {
    DriverColumn,
    DeviceColumn,
    ModeColumn,
    PreferColumn,
    IntervalsColumn,
    StratumColumn,
    Time1Column,
    Time2Column,
    RefIdColumn,
    FlagsColumn,
    ColumnCount
};

// Column 0 keeps, besides the driver number, what a row was loaded from, so
// that options without a column survive a save.
enum RowRole {
    DriverRole = Qt::UserRole,
    LoadedServerRole = Qt::UserRole + 1,
    LoadedFudgeRole = Qt::UserRole + 2,
    EditedRole = Qt::UserRole + 3,
};

const QString ClockPrefix = QStringLiteral("127.127.");
const QString CalibrateOption = QStringLiteral("calibrate");
constexpr int FlagCount = FOptHWClock_Add::FlagCount;
using Flags = std::array<bool, FlagCount>;

struct ClockKey {
    int driver = 0;
    int unit = 0;
    bool operator==(const ClockKey& o) const { return driver == o.driver && unit == o.unit; }
};

uint qHash(const ClockKey& key, uint seed = 0)
{
    return ::qHash(qMakePair(key.driver, key.unit), seed);
}

// What one table row shows.
struct ClockRow {
    int driver = 0;
    QString driverName;
    int unit = 0;
    int mode = 0;
    bool prefer = false;
    int minPoll = 0;
    int maxPoll = 0;
    bool hasFudge = false;
    int stratum = 0;
    QString time1;
    QString time2;
    QString refid;
    Flags flags{};
};

int toInt(const QString& text)
{
    return text.toInt(nullptr, 10);
}

bool isClockAddress(const QString& address)
{
    return address.startsWith(ClockPrefix);
}

// 127.127.t.u: false unless the part after the prefix is exactly two fields.
bool parseClockAddress(const QString& address, ClockKey* key)
{
    if (!isClockAddress(address))
        return false;
    const QStringList parts = address.mid(ClockPrefix.size()).split(QLatin1Char('.'));
    if (parts.size() != 2)
        return false;
    key->driver = toInt(parts.at(0));
    key->unit = toInt(parts.at(1));
    return true;
}

QString clockAddress(int driver, int unit)
{
    return QStringLiteral("127.127.%1.%2").arg(driver).arg(unit);
}

QString flagsText(const Flags& flags)
{
    return QStringLiteral("flag1=%1,flag2=%2,flag3=%3,flag4=%4")
        .arg(int(flags[0]))
        .arg(int(flags[1]))
        .arg(int(flags[2]))
        .arg(int(flags[3]));
}

Flags parseFlags(const QString& text)
{
    Flags flags{};
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QStringList pieces = part.split(QLatin1Char('='));
        if (pieces.size() != 2)
            continue;
        for (int i = 0; i < FlagCount; ++i) {
            if (pieces.at(0) == QStringLiteral("flag%1").arg(i + 1))
                flags[i] = toInt(pieces.at(1)) != 0;
        }
    }
    return flags;
}

// A fudge value is one token of the file: blanks inside would split it, "="
// separates tokens and "#" starts a comment there, so each becomes "_".
QString fudgeToken(const QString& text)
{
    QString token = text.trimmed();
    for (QChar& c : token) {
        if (c.isSpace() || c == QLatin1Char('=') || c == QLatin1Char('#'))
            c = QLatin1Char('_');
    }
    return token;
}

bool rowPrefer(const QTreeWidgetItem* item)
{
    return item->data(PreferColumn, Qt::UserRole).toBool();
}

void setRowPrefer(QTreeWidgetItem* item, bool prefer)
{
    item->setText(PreferColumn, prefer ? FOptHWClock::tr("yes") : FOptHWClock::tr("no"));
    item->setData(PreferColumn, Qt::UserRole, prefer);
}

int rowDriver(const QTreeWidgetItem* item)
{
    return item->data(DriverColumn, DriverRole).toInt();
}

int rowUnit(const QTreeWidgetItem* item)
{
    return toInt(item->text(DeviceColumn));
}

void writeRow(QTreeWidgetItem* item, const ClockRow& row)
{
    item->setText(DriverColumn, row.driverName);
    item->setData(DriverColumn, DriverRole, row.driver);
    item->setText(DeviceColumn, QString::number(row.unit));
    item->setText(ModeColumn, QString::number(row.mode));
    setRowPrefer(item, row.prefer);
    item->setText(IntervalsColumn,
                  QString::number(row.minPoll) + QLatin1Char('/') + QString::number(row.maxPoll));
    if (!row.hasFudge)
        return;
    item->setText(StratumColumn, QString::number(row.stratum));
    item->setText(Time1Column, row.time1);
    item->setText(Time2Column, row.time2);
    item->setText(RefIdColumn, row.refid);
    item->setText(FlagsColumn, flagsText(row.flags));
}

ClockRow rowFromEntries(const ClockKey& key, const QString& name, const ServerEntry& server,
                        const FudgeEntry* fudge)
{
    ClockRow row;
    row.driver = key.driver;
    row.driverName = name;
    row.unit = key.unit;
    row.mode = qMax(server.mode, 0);
    row.prefer = server.prefer;
    row.minPoll = server.minPoll < 0 ? 0 : server.minPoll;
    row.maxPoll = qMax(server.maxPoll < 0 ? 10 : server.maxPoll, row.minPoll);
    if (fudge) {
        row.hasFudge = true;
        row.stratum = fudge->stratum;
        row.time1 = fudge->time1;
        row.time2 = fudge->time2;
        row.refid = fudge->refid;
        row.flags = {fudge->flag1, fudge->flag2, fudge->flag3, fudge->flag4};
    }
    return row;
}

ClockRow rowFromDialog(const FOptHWClock_Add& dialog)
{
    ClockRow row;
    row.driver = dialog.cbDriver->currentData().toInt();
    row.driverName = dialog.cbDriver->currentText();
    row.unit = dialog.sbDeviceIndex->value();
    row.mode = dialog.sbDeviceMode->value();
    row.prefer = dialog.chbPrefer->isChecked();
    row.minPoll = dialog.sbMinPoll->value();
    row.maxPoll = dialog.sbMaxPoll->value();
    row.hasFudge = true;
    row.stratum = dialog.sbStratum->value();
    row.time1 = fudgeToken(dialog.leTime1->text());
    row.time2 = fudgeToken(dialog.leTime2->text());
    row.refid = fudgeToken(dialog.leRefId->text());
    for (int i = 0; i < FlagCount; ++i)
        row.flags[i] = dialog.chbFlags[i]->isChecked();
    return row;
}

// A loaded value above the dialog's range widens the range instead of being
// cut down, so editing another field never changes it behind the user's back.
void setSpinValue(QSpinBox* box, int value)
{
    if (value > box->maximum())
        box->setMaximum(value);
    box->setValue(value);
}

void fillDialog(FOptHWClock_Add& dialog, const QTreeWidgetItem* item)
{
    const int driverIndex = dialog.cbDriver->findData(rowDriver(item));
    if (driverIndex >= 0)
        dialog.cbDriver->setCurrentIndex(driverIndex);
    setSpinValue(dialog.sbDeviceIndex, rowUnit(item));
    setSpinValue(dialog.sbDeviceMode, toInt(item->text(ModeColumn)));
    setSpinValue(dialog.sbStratum, toInt(item->text(StratumColumn)));
    dialog.chbPrefer->setChecked(rowPrefer(item));
    const QStringList polls = item->text(IntervalsColumn).split(QLatin1Char('/'));
    if (polls.size() == 2) {
        setSpinValue(dialog.sbMinPoll, toInt(polls.at(0)));
        setSpinValue(dialog.sbMaxPoll, toInt(polls.at(1)));
    }
    dialog.leTime1->setText(item->text(Time1Column));
    dialog.leTime2->setText(item->text(Time2Column));
    dialog.leRefId->setText(item->text(RefIdColumn));
    const Flags flags = parseFlags(item->text(FlagsColumn));
    for (int i = 0; i < FlagCount; ++i)
        dialog.chbFlags[i]->setChecked(flags[i]);
}

// One row as it goes into the file, with the lines that are written right
// after its own: lines tied to the clock it was loaded from, and fudge lines
// for its address that it must not be overridden by.
struct SavedClock {
    ServerEntry server;
    FudgeEntry fudge;
    bool loaded = false;
    ClockKey origin;
    bool keepTied = false;
    QList<ServerEntry> followingServers;
    QList<FudgeEntry> followingFudges;
};

SavedClock savedClock(const QTreeWidgetItem* item)
{
    SavedClock clock;
    const QVariant loadedServer = item->data(DriverColumn, LoadedServerRole);
    clock.loaded = loadedServer.isValid();
    if (clock.loaded) {
        clock.server = loadedServer.value<ServerEntry>();
        parseClockAddress(clock.server.address, &clock.origin);
        clock.keepTied = !item->data(DriverColumn, EditedRole).toBool();
    }
    const QVariant loadedFudge = item->data(DriverColumn, LoadedFudgeRole);
    if (loadedFudge.isValid())
        clock.fudge = loadedFudge.value<FudgeEntry>();

    const QString address = clockAddress(rowDriver(item), rowUnit(item));
    const int mode = toInt(item->text(ModeColumn));
    clock.server.address = address;
    clock.server.mode = mode;
    clock.server.prefer = rowPrefer(item);
    const QStringList polls = item->text(IntervalsColumn).split(QLatin1Char('/'));
    clock.server.minPoll = polls.size() > 0 ? toInt(polls.at(0)) : 0;
    clock.server.maxPoll = polls.size() > 1 ? toInt(polls.at(1)) : 0;

    clock.fudge.address = address;
    // The daemon takes the mode from the server line; a fudge line gets one
    // only where the file gave it one (newer daemons refuse it there).
    clock.fudge.mode = clock.fudge.mode >= 0 ? mode : -1;
    clock.fudge.stratum = toInt(item->text(StratumColumn));
    clock.fudge.time1 = fudgeToken(item->text(Time1Column));
    clock.fudge.time2 = fudgeToken(item->text(Time2Column));
    clock.fudge.refid = fudgeToken(item->text(RefIdColumn));
    const Flags flags = parseFlags(item->text(FlagsColumn));
    clock.fudge.flag1 = flags[0];
    clock.fudge.flag2 = flags[1];
    clock.fudge.flag3 = flags[2];
    clock.fudge.flag4 = flags[3];
    return clock;
}

SavedClock* clockLoadedAs(QVector<SavedClock>& clocks, const ClockKey& key)
{
    for (SavedClock& clock : clocks) {
        if (clock.loaded && clock.origin == key)
            return &clock;
    }
    return nullptr;
}

SavedClock* clockWriting(QVector<SavedClock>& clocks, const QString& address)
{
    for (SavedClock& clock : clocks) {
        if (clock.server.address == address)
            return &clock;
    }
    return nullptr;
}

// Server lines: every line the table shows is replaced by the rows (appended
// in table order); lines it cannot show stay at their place; a repeated line
// for a shown clock follows its row while that row is unedited and goes with
// it otherwise. `shownAddresses` receives the addresses of the replaced lines.
QList<ServerEntry> mergeServers(const QList<ServerEntry>& current, QVector<SavedClock>& clocks,
                                QSet<QString>* shownAddresses)
{
    const ClockDrivers catalogue;
    QList<ServerEntry> merged;
    QSet<ClockKey> seen;
    QSet<ClockKey> shown;
    for (const ServerEntry& entry : current) {
        ClockKey key;
        if (!parseClockAddress(entry.address, &key)) {
            merged << entry;
        } else if (seen.contains(key)) {
            if (!shown.contains(key)) {
                merged << entry;
            } else if (SavedClock* owner = clockLoadedAs(clocks, key)) {
                if (owner->keepTied)
                    owner->followingServers << entry;
            }
        } else {
            seen.insert(key);
            if (catalogue.name(key.driver).isEmpty()) {
                merged << entry;
            } else {
                shown.insert(key);
                shownAddresses->insert(entry.address);
            }
        }
    }
    for (const SavedClock& clock : clocks)
        merged << clock.server << clock.followingServers;
    return merged;
}

// Fudge lines: the first one of each shown clock is replaced by its row;
// later ones are tied to the row like repeated server lines. Other fudge
// lines are kept at their place, unless a row now writes their address: then
// they follow that row's own line so that it stays the one in effect.
QList<FudgeEntry> mergeFudges(const QList<FudgeEntry>& current, QVector<SavedClock>& clocks,
                              const QSet<QString>& shownAddresses)
{
    QList<FudgeEntry> merged;
    QSet<QString> replaced;
    for (const FudgeEntry& entry : current) {
        if (shownAddresses.contains(entry.address)) {
            if (replaced.contains(entry.address)) {
                ClockKey key;
                parseClockAddress(entry.address, &key);
                SavedClock* owner = clockLoadedAs(clocks, key);
                if (owner && owner->keepTied)
                    owner->followingFudges << entry;
            } else {
                replaced.insert(entry.address);
            }
        } else if (SavedClock* clock = clockWriting(clocks, entry.address)) {
            clock->followingFudges << entry;
        } else {
            merged << entry;
        }
    }
    for (const SavedClock& clock : clocks)
        merged << clock.fudge << clock.followingFudges;
    return merged;
}

void setCalibrate(QStringList& enables, bool enabled)
{
    if (!enabled) {
        enables.removeAll(CalibrateOption);
        return;
    }
    const int first = enables.indexOf(CalibrateOption);
    if (first < 0) {
        enables << CalibrateOption;
        return;
    }
    for (int i = enables.size() - 1; i > first; --i) {
        if (enables.at(i) == CalibrateOption)
            enables.removeAt(i);
    }
}
} // namespace

FOptHWClock::FOptHWClock(QWidget* parent) : ListPage(parent)
{
    setWindowTitle(tr("Hardware clock"));
    buildLayout();
    connectWidgets();
    loadSettings();
}

void FOptHWClock::buildLayout()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    chbCalibrate = new QCheckBox(tr("Calibrate"), this);
    chbCalibrate->setObjectName(QStringLiteral("chbCalibrate"));
    layout->addWidget(chbCalibrate);

    twList = new QTreeWidget(this);
    twList->setObjectName(QStringLiteral("twList"));
    twList->setColumnCount(ColumnCount);
    twList->setRootIsDecorated(false);
    twList->header()->setSortIndicator(DriverColumn, Qt::AscendingOrder);
    twList->header()->setSortIndicatorShown(true);
    twList->setSortingEnabled(true);
    layout->addWidget(twList, 1);

    buttons = createButtons();
    auto* row = new QWidget(this);
    row->setLayout(buttonRow(buttons));
    layout->addWidget(row);
}

void FOptHWClock::connectWidgets()
{
    connect(chbCalibrate, &QCheckBox::stateChanged, this, &FOptHWClock::stateChanged);
    setUpList(twList, buttons);
    twList->setHeaderLabels({tr("Driver"), tr("Device"), tr("Mode"), tr("Prefer"), tr("Intervals"),
                             tr("Stratum"), tr("Time constant 1"), tr("Time constant 2"),
                             tr("Reference ID"), tr("Flags")});
}

void FOptHWClock::loadSettings()
{
    readNtpSettings();
    twList->clear();
    chbCalibrate->setChecked(ntpSettings.enables.contains(CalibrateOption));
    appendRows(twList, loadedRows());
    resizeColumnsToContents(twList);
    currentItemChanged(twList->currentItem(), nullptr);
}

QList<QTreeWidgetItem*> FOptHWClock::loadedRows() const
{
    const ClockDrivers catalogue;
    // The first fudge line of an address is the one that counts.
    QHash<QString, const FudgeEntry*> fudgeOf;
    for (const FudgeEntry& fudge : qAsConst(ntpSettings.fudges)) {
        if (!fudgeOf.contains(fudge.address))
            fudgeOf.insert(fudge.address, &fudge);
    }
    QList<QTreeWidgetItem*> rows;
    QSet<ClockKey> seen;
    bool preferShown = false;
    for (const ServerEntry& server : qAsConst(ntpSettings.servers)) {
        ClockKey key;
        if (!parseClockAddress(server.address, &key) || seen.contains(key))
            continue;
        seen.insert(key);
        const QString name = catalogue.name(key.driver);
        if (name.isEmpty())
            continue;

        const FudgeEntry* fudge = fudgeOf.value(server.address);
        ClockRow row = rowFromEntries(key, name, server, fudge);
        row.prefer = row.prefer && !preferShown;
        preferShown = preferShown || row.prefer;

        auto* item = new LoadedRow(FlagsColumn + 1);
        writeRow(item, row);
        item->setData(DriverColumn, LoadedServerRole, QVariant::fromValue(server));
        if (fudge)
            item->setData(DriverColumn, LoadedFudgeRole, QVariant::fromValue(*fudge));
        rows.append(item);
    }
    return rows;
}

void FOptHWClock::saveSettings()
{
    setCalibrate(ntpSettings.enables, chbCalibrate->isChecked());
    QVector<SavedClock> clocks;
    for (int i = 0; i < twList->topLevelItemCount(); ++i)
        clocks << savedClock(twList->topLevelItem(i));
    QSet<QString> shownAddresses;
    ntpSettings.servers = mergeServers(ntpSettings.servers, clocks, &shownAddresses);
    ntpSettings.fudges = mergeFudges(ntpSettings.fudges, clocks, shownAddresses);
    writeNtpSettings();
}

bool FOptHWClock::admitClock(int driver, int unit, bool prefer, const QTreeWidgetItem* edited)
{
    for (int i = 0; i < twList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = twList->topLevelItem(i);
        if (item != edited && rowDriver(item) == driver && rowUnit(item) == unit) {
            QMessageBox::warning(this, tr("Error"),
                                 tr("Driver and device combination already exists"),
                                 QMessageBox::Ok);
            return false;
        }
    }
    if (!prefer)
        return true;
    for (int i = 0; i < twList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = twList->topLevelItem(i);
        if (item != edited)
            setRowPrefer(item, false);
    }
    return true;
}

void FOptHWClock::Add_clicked()
{
    FOptHWClock_Add dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const ClockRow row = rowFromDialog(dialog);
    if (!admitClock(row.driver, row.unit, row.prefer, nullptr))
        return;
    auto* item = new QTreeWidgetItem;
    writeRow(item, row);
    twList->addTopLevelItem(item);
    twList->setCurrentItem(item);
    emit dataChanged(this);
}

void FOptHWClock::Edit_clicked()
{
    QTreeWidgetItem* item = twList->currentItem();
    if (!item)
        return;
    FOptHWClock_Add dialog(this);
    fillDialog(dialog, item);
    dialog.setOkEnabled(false);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const ClockRow row = rowFromDialog(dialog);
    if (!admitClock(row.driver, row.unit, row.prefer, item))
        return;
    writeRow(item, row);
    item->setData(DriverColumn, EditedRole, true);
    emit dataChanged(this);
}

void FOptHWClock::Delete_clicked()
{
    QTreeWidgetItem* item = twList->currentItem();
    if (!item)
        return;
    const auto answer = QMessageBox::warning(this, tr("NTP admin"), tr("Delete device?"),
                                             QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok)
        return;
    delete item;
    emit dataChanged(this);
}

void FOptHWClock::stateChanged(int)
{
    emit dataChanged(this);
}

void FOptHWClock::itemDoubleClicked(QTreeWidgetItem* item, int column)
{
    ListPage::itemDoubleClicked(item, column);
}

void FOptHWClock::currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous)
{
    ListPage::currentItemChanged(current, previous);
}

bool FOptHWClock::eventFilter(QObject* watched, QEvent* event)
{
    return ListPage::eventFilter(watched, event);
}
