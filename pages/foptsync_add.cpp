#include "pages/foptsync_add.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "config/config.h"
#include "config/configcheck.h"
#include "config/referenceclocks.h"
#include "daemon/daemonsetup.h"

namespace
{
const char* const defaultServer = "pool.ntp.org";

QSpinBox* spinBox(const QString& name, int minimum, int maximum, int value)
{
    auto* box = new QSpinBox;
    box->setObjectName(name);
    box->setRange(minimum, maximum);
    box->setValue(value);
    return box;
}
} // namespace

FOptSync_Add::FOptSync_Add(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Syncronization settings"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildAddressRow());
    layout->addWidget(buildPollsAndBurstRow());
    prevailBox = new QCheckBox(tr("Prevail"));
    prevailBox->setObjectName(QStringLiteral("chbPrevail"));
    layout->addWidget(prevailBox);
    layout->addWidget(buildVersionRow());
    layout->addWidget(buildKindRow());
    layout->addStretch();

    buttonBox =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    layout->addWidget(buttonBox);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &FOptSync_Add::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connectChangeSignals();
    for (QRadioButton* button : {serverButton, poolButton})
        connect(button, &QRadioButton::clicked, this, [this] { kindChosen = true; });
    connect(addressBox, &QComboBox::editTextChanged, this, &FOptSync_Add::suggestKind);
    suggestKind(addressBox->currentText());
}

void FOptSync_Add::suggestKind(const QString& address)
{
    if (kindChosen)
        return;
    const QString host = address.trimmed().toLower();
    const bool pool =
        host.startsWith(QLatin1String("pool.")) || host.contains(QLatin1String(".pool."));
    (pool ? poolButton : serverButton)->setChecked(true);
}

QWidget* FOptSync_Add::buildAddressRow()
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->addWidget(new QLabel(tr("Server address")));
    addressBox = new QComboBox;
    addressBox->setObjectName(QStringLiteral("cbAddress"));
    addressBox->setEditable(true);
    addressBox->addItem(QString::fromLatin1(defaultServer));
    addressBox->setCurrentIndex(0);
    layout->addWidget(addressBox, 1);
    return row;
}

QWidget* FOptSync_Add::buildPollsAndBurstRow()
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);

    auto* polls = new QGroupBox(tr("Polls"));
    polls->setObjectName(QStringLiteral("gbPolls"));
    auto* pollsGrid = new QGridLayout(polls);
    const QString pollTip =
        tr("These options specify the minimum and maximum polling interval for reference clock "
           "messages in seconds, interpreted as power of two (2 ^ x).");
    minPollBox = spinBox(QStringLiteral("sbMinPoll"), 3, 255, 6);
    maxPollBox = spinBox(QStringLiteral("sbMaxPoll"), 3, 255, 10);
    minPollBox->setToolTip(pollTip);
    maxPollBox->setToolTip(pollTip);
    pollsGrid->addWidget(new QLabel(tr("Min poll")), 0, 0);
    pollsGrid->addWidget(minPollBox, 0, 1);
    pollsGrid->addWidget(new QLabel(tr("Max poll")), 1, 0);
    pollsGrid->addWidget(maxPollBox, 1, 1);
    pollsGrid->setRowStretch(0, 1);
    layout->addWidget(polls);

    auto* bursts = new QGroupBox(tr("Burst/iburst"));
    bursts->setObjectName(QStringLiteral("gbBurst"));
    auto* burstGrid = new QGridLayout(bursts);
    // The captions are the option keywords themselves.
    burstBox = new QCheckBox(QStringLiteral("burst"));
    burstBox->setObjectName(QStringLiteral("chbBurst"));
    burstBox->setToolTip(tr(
        "When the server is reachable, send a burst of eight packets instead of the usual one."));
    iburstBox = new QCheckBox(QStringLiteral("iburst"));
    iburstBox->setObjectName(QStringLiteral("chbIBurst"));
    iburstBox->setToolTip(tr(
        "When the server is unreachable, send a burst of eight packets instead of the usual one"));
    burstGrid->addWidget(burstBox, 0, 0);
    burstGrid->addWidget(iburstBox, 1, 0);
    layout->addWidget(bursts);
    return row;
}

QWidget* FOptSync_Add::buildVersionRow()
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->addWidget(new QLabel(tr("NTP ver.")));
    versionBox = spinBox(QStringLiteral("sbVersion"), 1, 4, 4);
    layout->addWidget(versionBox);
    layout->addStretch();
    return row;
}

QWidget* FOptSync_Add::buildKindRow()
{
    auto* row = new QGroupBox(tr("Time source"));
    row->setObjectName(QStringLiteral("gbKind"));
    auto* layout = new QVBoxLayout(row);
    serverButton = new QRadioButton(tr("Server"));
    serverButton->setObjectName(QStringLiteral("rbServer"));
    serverButton->setToolTip(tr("The address names one server."));
    poolButton = new QRadioButton(tr("Pool"));
    poolButton->setObjectName(QStringLiteral("rbPool"));
    poolButton->setToolTip(tr("The name stands for many servers: the daemon takes several of "
                              "them and replaces those that stop answering. \"iburst\" is the "
                              "usual option."));
    serverButton->setChecked(true);
    layout->addWidget(serverButton);
    layout->addWidget(poolButton);
    if (currentDaemon().isNtpsec()) {
        ntsBox = new QCheckBox(tr("Authenticate with NTS"));
        ntsBox->setObjectName(QStringLiteral("chbNts"));
        ntsBox->setToolTip(tr("Network Time Security: the daemon accepts time only from "
                              "answers it can prove to come from this server or pool."));
        layout->addWidget(ntsBox);
        // Before NTPsec 1.2.5 the daemon accepts "nts" on a pool line
        // without authenticating the pool's servers.
        if (!authenticatesPoolsWithNts(currentDaemon())) {
            ntsBox->setToolTip(tr("Network Time Security: the daemon accepts time only from "
                                  "answers it can prove to come from this server. This NTPsec "
                                  "authenticates servers only, not pools (from 1.2.5 on)."));
            auto followKind = [this] {
                ntsBox->setEnabled(serverButton->isChecked());
                if (!ntsBox->isEnabled())
                    ntsBox->setChecked(false);
            };
            connect(serverButton, &QRadioButton::toggled, this, followKind);
            followKind();
        }
    }
    return row;
}

void FOptSync_Add::connectChangeSignals()
{
    for (QRadioButton* button : {serverButton, poolButton})
        connect(button, &QRadioButton::clicked, this, &FOptSync_Add::slotChanged);
    const auto checkBoxes = findChildren<QCheckBox*>();
    for (QCheckBox* box : checkBoxes)
        connect(box, &QCheckBox::clicked, this, &FOptSync_Add::slotChanged);
    const auto spinBoxes = findChildren<QSpinBox*>();
    for (QSpinBox* box : spinBoxes)
        connect(box, QOverload<int>::of(&QSpinBox::valueChanged), this, &FOptSync_Add::slotChanged);
    const auto comboBoxes = findChildren<QComboBox*>();
    for (QComboBox* box : comboBoxes) {
        connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &FOptSync_Add::slotChanged);
        connect(box, &QComboBox::editTextChanged, this, &FOptSync_Add::slotChanged);
    }
}

bool FOptSync_Add::isWritableAddress(const QString& address)
{
    for (const QChar c : address) {
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\t'))
            return false;
        if (c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return false;
    }
    // The blanks around the address are dropped; what is left is written as
    // one word of the line (an empty address is refused elsewhere).
    const QString host = address.trimmed();
    return host.isEmpty() || isOneWord(host);
}

void FOptSync_Add::accept()
{
    const QString address = addressBox->currentText();
    if (address.isEmpty()) {
        showError(tr("Address field is empty"));
        return;
    }
    // A blank or line break inside the address would split the "server" line
    // into other options or directives when the file is read again.
    if (!isWritableAddress(address)) {
        showError(tr("Address must not contain blanks, \"#\", \"=\" or control characters"));
        return;
    }
    // The reader takes a pool line of that address for no pool.
    if (poolButton->isChecked() && isClockAddress(address.trimmed())) {
        showError(tr("A reference clock address cannot be a pool"));
        return;
    }
    if (minPollBox->value() > maxPollBox->value()) {
        showError(tr("Min poll > max poll"));
        return;
    }
    QDialog::accept();
}

void FOptSync_Add::slotChanged()
{
    if (QPushButton* ok = buttonBox->button(QDialogButtonBox::Ok))
        ok->setEnabled(true);
}

void FOptSync_Add::showError(const QString& text)
{
    QMessageBox::warning(this, tr("Error"), text, QMessageBox::Ok);
}
