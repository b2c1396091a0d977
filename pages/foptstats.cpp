#include "pages/foptstats.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QToolButton>

#include "host/host.h"
#include "pages/foptstats_stat.h"

namespace
{
// Statistics files with a tab of their own, in tab order.
const char* const statNames[] = {QT_TR_NOOP("loopstats"), QT_TR_NOOP("peerstats"),
                                 QT_TR_NOOP("clockstats"), QT_TR_NOOP("rawstats")};

FOptStats::DirectoryChooser& directoryChooser()
{
    static FOptStats::DirectoryChooser chooser;
    return chooser;
}

QString chooseDirectory(QWidget* parent, const QString& caption, const QString& dir)
{
    if (directoryChooser())
        return directoryChooser()(parent, caption, dir);
    return QFileDialog::getExistingDirectory(parent, caption, dir, QFileDialog::ShowDirsOnly);
}

// The record's "statistics" flag of a statistics file that has a tab.
bool& statsFlag(NtpSettings& settings, const QString& name)
{
    if (name == QLatin1String("loopstats"))
        return settings.loopStats;
    if (name == QLatin1String("peerstats"))
        return settings.peerStats;
    if (name == QLatin1String("clockstats"))
        return settings.clockStats;
    return settings.rawStats;
}
} // namespace

const QString FOptStats::defaultStatsDir = QStringLiteral("/var/log/");

QString FOptStats::pageTitle()
{
    return tr("Statistics");
}

FOptStats::FOptStats(QWidget* parent) : ModifiableWidget(parent)
{
    qRegisterMetaType<FOptStats_Stat*>("FOptStats_Stat*");
    setWindowTitle(pageTitle());
    buildWidgets();
    for (const char* name : statNames) {
        auto* stat = new FOptStats_Stat(tabWidget);
        stat->setObjectName(QString::fromLatin1(name));
        tabWidget->addTab(stat, tr(name));
        stat->fileEdit()->setText(stat->objectName());
        m_stats.append(stat);
        connectStat(stat);
    }
    connect(leStatsDir, &QLineEdit::textChanged, this, &FOptStats::textChanged);
    connect(bBrowse, &QToolButton::clicked, this, &FOptStats::bBrowse_clicked);
    loadSettings();
}

void FOptStats::buildWidgets()
{
    leStatsDir = new QLineEdit(this);
    leStatsDir->setObjectName(QStringLiteral("leStatsDir"));
    leStatsDir->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[-_/ 0-9А-Яа-яA-Za-z]{1,200}")), leStatsDir));
    bBrowse = new QToolButton(this);
    bBrowse->setObjectName(QStringLiteral("bBrowse"));
    bBrowse->setText(tr("..."));
    tabWidget = new QTabWidget(this);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(tr("Stats dir"), this), 0, 0, 1, 2);
    layout->addWidget(leStatsDir, 1, 0);
    layout->addWidget(bBrowse, 1, 1);
    layout->addWidget(tabWidget, 2, 0, 2, 2);
    layout->setRowStretch(2, 1);
}

QString FOptStats::statsDirText() const
{
    return leStatsDir->text();
}

void FOptStats::setDirectoryChooser(DirectoryChooser chooser)
{
    directoryChooser() = std::move(chooser);
}

void FOptStats::connectStat(FOptStats_Stat* stat)
{
    connect(stat->usedBox(), &QCheckBox::stateChanged, this, &FOptStats::stateChanged);
    connect(stat->linkBox(), &QCheckBox::stateChanged, this, &FOptStats::stateChanged);
    connect(stat->enableBox(), &QCheckBox::stateChanged, this, &FOptStats::stateChanged);
    connect(stat->fileEdit(), &QLineEdit::textChanged, this, &FOptStats::textChanged);
    connect(stat->typeBox(), QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &FOptStats::currentIndexChanged);
}

void FOptStats::stateChanged(int)
{
    emit dataChanged(this);
}

void FOptStats::textChanged(const QString&)
{
    emit dataChanged(this);
}

void FOptStats::currentIndexChanged(int)
{
    emit dataChanged(this);
}

FOptStats_Stat* FOptStats::findStat(const QString& name) const
{
    for (FOptStats_Stat* stat : m_stats) {
        if (stat->objectName() == name)
            return stat;
    }
    return nullptr;
}

void FOptStats::loadSettings()
{
    readNtpSettings();
    // A path the file quotes shows without its quotes.
    m_loadedStatsDir = ntpSettings.statsDir;
    leStatsDir->setText(pathWithoutQuotes(ntpSettings.statsDir));
    for (FOptStats_Stat* stat : m_stats)
        stat->reset();
    for (const FileGenEntry& entry : qAsConst(ntpSettings.fileGens)) {
        if (FOptStats_Stat* stat = findStat(entry.name))
            stat->showEntry(entry, statsFlag(ntpSettings, entry.name));
    }
}

void FOptStats::saveSettings()
{
    ntpSettings.fileGens = savedFileGens();
    for (FOptStats_Stat* stat : qAsConst(m_stats)) {
        // A row shown unused since the load keeps the flag the file had
        // (a name listed without a filegen line is shown unused).
        if (stat->isUsed() || stat->wasUsedAtLoad())
            statsFlag(ntpSettings, stat->objectName()) = stat->isUsed();
    }
    saveStatsDir();
    writeNtpSettings();
}

// The filegen lines to write: those of the used rows, in tab order, where the
// first of their lines stood (a row the user left unchanged keeps its lines
// as loaded, an edited row is one line); lines of other statistics files and
// of rows left unused stay as they are; lines of rows switched off by the
// user go.
QList<FileGenEntry> FOptStats::savedFileGens() const
{
    QList<FileGenEntry> usedEntries;
    for (FOptStats_Stat* stat : m_stats) {
        if (stat->isUsed())
            usedEntries.append(stat->entriesToSave());
    }

    QList<FileGenEntry> result;
    bool usedPlaced = false;
    for (const FileGenEntry& entry : qAsConst(ntpSettings.fileGens)) {
        const FOptStats_Stat* stat = findStat(entry.name);
        if (!stat) {
            result.append(entry);
        } else if (stat->isUsed()) {
            if (!usedPlaced)
                result.append(usedEntries);
            usedPlaced = true;
        } else if (!stat->wasUsedAtLoad()) {
            result.append(entry);
        }
    }
    if (!usedPlaced)
        result.append(usedEntries);
    return result;
}

void FOptStats::saveStatsDir()
{
    const QString dir = leStatsDir->text();
    // An empty field names no folder and is kept as it is; unchanged, the
    // file's own spelling (quotes included) stays.
    if (dir.isEmpty() || Host::current().status(dir, true).isDirectory()) {
        ntpSettings.statsDir = dir == pathWithoutQuotes(m_loadedStatsDir) ? m_loadedStatsDir : dir;
        return;
    }
    ntpSettings.statsDir = defaultStatsDir;
    if (previewingSave())
        return;
    QMessageBox::warning(
        this, tr("Error"),
        tr("Directory \"%1\" not exists and will be changed to %2").arg(dir, defaultStatsDir));
}

void FOptStats::bBrowse_clicked()
{
    const QString start = leStatsDir->text().isEmpty() ? defaultStatsDir : leStatsDir->text();
    const QString dir = chooseDirectory(this, tr("Select directory"), start);
    if (dir.isEmpty())
        return;
    leStatsDir->setText(dir);
    emit dataChanged(this);
}
