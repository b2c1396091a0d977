#include "pages/foptother.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include "config/ntpsettings.h"

namespace
{
const QString defaultLogDir = QStringLiteral("/var/log/");

FOptOther::SaveFileChooser& saveFileChooser()
{
    static FOptOther::SaveFileChooser chooser;
    return chooser;
}

QString chooseSaveFile(QWidget* parent, const QString& caption, const QString& dir)
{
    if (saveFileChooser())
        return saveFileChooser()(parent, caption, dir);
    return QFileDialog::getSaveFileName(parent, caption, dir);
}
} // namespace

QString FOptOther::pageTitle()
{
    return tr("Additional options");
}

FOptOther::FOptOther(QWidget* parent) : ModifiableWidget(parent)
{
    setWindowTitle(pageTitle());

    leLogFile = new QLineEdit(this);
    leLogFile->setObjectName(QStringLiteral("leLogFile"));
    leLogFile->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[-_/ 0-9А-Яа-яA-Za-z]{1,200}")), leLogFile));
    bBrowse = new QToolButton(this);
    bBrowse->setObjectName(QStringLiteral("bBrowse"));
    bBrowse->setText(tr("..."));
    sbBroadcastDelay = new QSpinBox(this);
    sbBroadcastDelay->setObjectName(QStringLiteral("sbBroadcastDelay"));

    auto* logLine = new QHBoxLayout;
    logLine->addWidget(new QLabel(tr("Logfile"), this));
    logLine->addWidget(leLogFile, 1);
    logLine->addWidget(bBrowse);

    auto* delayLine = new QHBoxLayout;
    delayLine->addWidget(new QLabel(tr("Broadcast delay"), this));
    delayLine->addWidget(sbBroadcastDelay);
    // The daemon reads the delay in seconds.
    auto* unit = new QLabel(tr("seconds"), this);
    unit->setObjectName(QStringLiteral("lbBroadcastDelayUnit"));
    delayLine->addWidget(unit);
    delayLine->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(logLine);
    layout->addLayout(delayLine);
    layout->addStretch();

    connect(leLogFile, &QLineEdit::textChanged, this, &FOptOther::textChanged);
    connect(sbBroadcastDelay, &QSpinBox::textChanged, this, &FOptOther::textChanged);
    connect(sbBroadcastDelay, &QSpinBox::textChanged, this, &FOptOther::delayEdited);
    connect(bBrowse, &QToolButton::clicked, this, &FOptOther::browse);
    loadSettings();
}

void FOptOther::setSaveFileChooser(SaveFileChooser chooser)
{
    saveFileChooser() = std::move(chooser);
}

void FOptOther::loadSettings()
{
    readNtpSettings();
    m_loading = true;
    // A path the file quotes shows without its quotes.
    leLogFile->setText(pathWithoutQuotes(ntpSettings.logFile));
    // Not a whole number reads as 0; the spin box clamps to its range.
    sbBroadcastDelay->setValue(ntpSettings.broadcastDelay.toInt(nullptr, 10));
    m_loading = false;
    m_loadedDelay = ntpSettings.broadcastDelay;
    m_loadedLogFile = ntpSettings.logFile;
    m_delayEdited = false;
}

void FOptOther::saveSettings()
{
    ntpSettings.broadcastDelay = savedBroadcastDelay();
    const QString logFile = leLogFile->text().trimmed();
    // Unchanged, the file's own spelling (quotes included) stays.
    if (logFile != pathWithoutQuotes(m_loadedLogFile))
        ntpSettings.logFile = logFile;
    else
        ntpSettings.logFile = m_loadedLogFile;
    writeNtpSettings();
}

QString FOptOther::savedBroadcastDelay() const
{
    if (!m_delayEdited)
        return m_loadedDelay;
    const int delay = sbBroadcastDelay->value();
    return delay == 0 ? QString() : QStringLiteral("%1").arg(delay);
}

void FOptOther::delayEdited()
{
    if (!m_loading)
        m_delayEdited = true;
}

void FOptOther::textChanged(const QString&)
{
    emit dataChanged(this);
}

void FOptOther::browse()
{
    const QString start = leLogFile->text().isEmpty() ? defaultLogDir : leLogFile->text();
    const QString file = chooseSaveFile(this, tr("Select log file"), start);
    if (file.isEmpty())
        return;
    leLogFile->setText(file);
    emit dataChanged(this);
}
