#include "pages/fopthwclock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <array>

#include "config/config.h"
#include "config/ntpsettings.h"
#include "config/ntpsettingswriter.h"
#include "config/referenceclocks.h"
#include "daemon/daemonsetup.h"
#include "pages/clockdrivers.h"
#include "pages/fopthwclock_add.h"
#include "pages/loadedrow.h"
#include "pages/treecolumns.h"

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
    LineColumn, // the lines as the file writes them
    ColumnCount
};

// Column 0 keeps, besides the driver number, the clock a row was loaded from
// (so that options without a column survive a save) and whether the user
// changed the row in the dialog.
enum RowRole {
    DriverRole = Qt::UserRole,
    LoadedClockRole = Qt::UserRole + 1,
    EditedRole = Qt::UserRole + 3,
};

constexpr int FlagCount = FOptHWClock_Add::FlagCount;
using Flags = std::array<bool, FlagCount>;

int toInt(const QString& text)
{
    return text.toInt(nullptr, 10);
}

// A driver the catalogue does not know is named by its number, and by its
// well-known name where the classic daemon has one for it.
QString driverName(const ClockDrivers& catalogue, int driver)
{
    const QString name = catalogue.name(driver);
    if (!name.isEmpty())
        return name;
    const QString later = ClockDrivers::laterDriverName(driver);
    return later.isEmpty() ? FOptHWClock::tr("Driver %1").arg(driver)
                           : FOptHWClock::tr("Driver %1 (%2)").arg(driver).arg(later);
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

// A fudge value is one word of the file: each character that cannot stand
// in one (a blank would split it, "#" start a comment) becomes "_".
QString fudgeToken(const QString& text)
{
    QString token = text.trimmed();
    for (QChar& c : token) {
        if (!canBeInWord(c))
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

void writeRow(QTreeWidgetItem* item, const QString& name, const ClockSettings& clock)
{
    item->setText(DriverColumn, name);
    item->setData(DriverColumn, DriverRole, clock.id.driver);
    item->setText(DeviceColumn, QString::number(clock.id.unit));
    item->setText(ModeColumn, QString::number(clock.mode));
    setRowPrefer(item, clock.prefer);
    item->setText(IntervalsColumn, QString::number(clock.minPoll) + QLatin1Char('/') +
                                       QString::number(clock.maxPoll));
    if (!clock.hasDriverOptions)
        return;
    item->setText(StratumColumn, QString::number(clock.stratum));
    item->setText(Time1Column, clock.time1);
    item->setText(Time2Column, clock.time2);
    item->setText(RefIdColumn, clock.refid);
    item->setText(FlagsColumn, flagsText(clock.flags));
}

// The row's values, read back from its texts as the page always has: numbers
// that do not parse count as 0.
ClockSettings rowSettings(const QTreeWidgetItem* item)
{
    ClockSettings clock;
    clock.id = {rowDriver(item), rowUnit(item)};
    clock.mode = toInt(item->text(ModeColumn));
    clock.prefer = rowPrefer(item);
    const QStringList polls = item->text(IntervalsColumn).split(QLatin1Char('/'));
    clock.minPoll = polls.size() > 0 ? toInt(polls.at(0)) : 0;
    clock.maxPoll = polls.size() > 1 ? toInt(polls.at(1)) : 0;
    clock.hasDriverOptions = !item->text(FlagsColumn).isEmpty();
    clock.stratum = toInt(item->text(StratumColumn));
    clock.time1 = fudgeToken(item->text(Time1Column));
    clock.time2 = fudgeToken(item->text(Time2Column));
    clock.refid = fudgeToken(item->text(RefIdColumn));
    clock.flags = parseFlags(item->text(FlagsColumn));
    return clock;
}

ClockSettings settingsFromDialog(const FOptHWClock_Add& dialog)
{
    ClockSettings clock;
    clock.id = {dialog.cbDriver->currentData().toInt(), dialog.sbDeviceIndex->value()};
    clock.mode = dialog.sbDeviceMode->value();
    clock.prefer = dialog.chbPrefer->isChecked();
    clock.minPoll = dialog.sbMinPoll->value();
    clock.maxPoll = dialog.sbMaxPoll->value();
    clock.hasDriverOptions = true;
    clock.stratum = dialog.sbStratum->value();
    clock.time1 = fudgeToken(dialog.leTime1->text());
    clock.time2 = fudgeToken(dialog.leTime2->text());
    clock.refid = fudgeToken(dialog.leRefId->text());
    for (int i = 0; i < FlagCount; ++i)
        clock.flags[i] = dialog.chbFlags[i]->isChecked();
    return clock;
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
    int driverIndex = dialog.cbDriver->findData(rowDriver(item));
    if (driverIndex < 0 && item->data(DriverColumn, LoadedClockRole).isValid()) {
        // A driver the catalogue does not know stays the row's driver.
        dialog.cbDriver->addItem(item->text(DriverColumn), rowDriver(item));
        driverIndex = dialog.cbDriver->count() - 1;
    }
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

ClockToSave clockToSave(const QTreeWidgetItem* item, const ClockDrivers& catalogue)
{
    ClockToSave clock;
    clock.settings = rowSettings(item);
    const QVariant loaded = item->data(DriverColumn, LoadedClockRole);
    clock.loaded = loaded.isValid();
    if (clock.loaded)
        clock.origin = loaded.value<LoadedClock>();
    clock.edited = item->data(DriverColumn, EditedRole).toBool();
    clock.catalogued = !catalogue.name(clock.settings.id.driver).isEmpty();
    return clock;
}

// The lines the row's clock is written as (its server or refclock line and
// its fudge line), joined by "; ".
QString clockLines(const QTreeWidgetItem* item)
{
    const ClockDrivers catalogue;
    NtpSettings alone;
    storeReferenceClocks(alone, {clockToSave(item, catalogue)}, currentDaemon().isNtpsec());
    const SectionLines sections = renderSections(alone);
    const QStringList lines = sections[size_t(Section::Servers)] +
                              sections[size_t(Section::Refclocks)] +
                              sections[size_t(Section::Fudges)];
    return lines.join(QStringLiteral("; "));
}
} // namespace

QString FOptHWClock::pageTitle()
{
    return tr("Hardware clock");
}

FOptHWClock::FOptHWClock(QWidget* parent) : ListPage(parent)
{
    setWindowTitle(pageTitle());
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
                             tr("Reference ID"), tr("Flags"), tr("Line")});
    keepLineColumn(twList, LineColumn, &clockLines);
}

void FOptHWClock::loadSettings()
{
    readNtpSettings();
    twList->clear();
    chbCalibrate->setChecked(calibrateEnabled(ntpSettings.enables));
    appendRows(twList, loadedRows());
    fillLineColumn(twList, LineColumn, &clockLines);
    resizeColumnsToContents(twList);
    currentItemChanged(twList->currentItem(), nullptr);
}

QList<QTreeWidgetItem*> FOptHWClock::loadedRows() const
{
    const ClockDrivers catalogue;
    QList<QTreeWidgetItem*> rows;
    for (const LoadedClock& clock : loadReferenceClocks(ntpSettings)) {
        auto* item = new LoadedRow(LineColumn + 1);
        writeRow(item, driverName(catalogue, clock.settings.id.driver), clock.settings);
        item->setData(DriverColumn, LoadedClockRole, QVariant::fromValue(clock));
        rows.append(item);
    }
    return rows;
}

void FOptHWClock::saveSettings()
{
    setCalibrate(ntpSettings.enables, chbCalibrate->isChecked());
    const ClockDrivers catalogue;
    QVector<ClockToSave> clocks;
    for (int i = 0; i < twList->topLevelItemCount(); ++i)
        clocks << clockToSave(twList->topLevelItem(i), catalogue);
    storeReferenceClocks(ntpSettings, clocks, currentDaemon().isNtpsec());
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
    const ClockSettings clock = settingsFromDialog(dialog);
    if (!admitClock(clock.id.driver, clock.id.unit, clock.prefer, nullptr))
        return;
    auto* item = new QTreeWidgetItem;
    writeRow(item, dialog.cbDriver->currentText(), clock);
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
    const ClockSettings clock = settingsFromDialog(dialog);
    if (!admitClock(clock.id.driver, clock.id.unit, clock.prefer, item))
        return;
    writeRow(item, dialog.cbDriver->currentText(), clock);
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
