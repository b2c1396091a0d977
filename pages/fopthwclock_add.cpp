#include "pages/fopthwclock_add.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

#include "pages/clockdrivers.h"

namespace
{
QSpinBox* spinBox(const QString& objectName, int value, QWidget* parent)
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(objectName);
    box->setValue(value);
    return box;
}

QLineEdit* lineEdit(const QString& objectName, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    return edit;
}
} // namespace

FOptHWClock_Add::FOptHWClock_Add(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Hardware clock"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(buildClockOptions(), 0, 0);
    grid->addWidget(buildDriverOptions(), 1, 0);

    buttonBox =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    grid->addWidget(buttonBox, 4, 0, 1, 2);

    fillDrivers();
    connect(buttonBox, &QDialogButtonBox::accepted, this, &FOptHWClock_Add::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &FOptHWClock_Add::reject);
    connectInputs();
}

QGroupBox* FOptHWClock_Add::buildClockOptions()
{
    auto* group = new QGroupBox(tr("Clock options"), this);
    group->setObjectName(QStringLiteral("gbClock"));
    auto* grid = new QGridLayout(group);

    cbDriver = new QComboBox(group);
    cbDriver->setObjectName(QStringLiteral("cbDriver"));
    grid->addWidget(new QLabel(tr("Clock driver"), group), 0, 0);
    grid->addWidget(cbDriver, 0, 1, 1, 4);

    chbPrefer = new QCheckBox(tr("Prefer"), group);
    chbPrefer->setObjectName(QStringLiteral("chbPrefer"));
    grid->addWidget(chbPrefer, 1, 0, 1, 2);
    grid->addWidget(buildPolls(), 1, 2, 3, 3);

    sbDeviceIndex = spinBox(QStringLiteral("sbDeviceIndex"), 0, group);
    sbDeviceIndex->setMaximum(3);
    grid->addWidget(new QLabel(tr("Device index"), group), 2, 0);
    grid->addWidget(sbDeviceIndex, 2, 1);

    sbDeviceMode = spinBox(QStringLiteral("sbDeviceMode"), 0, group);
    grid->addWidget(new QLabel(tr("Device mode"), group), 3, 0);
    grid->addWidget(sbDeviceMode, 3, 1);
    return group;
}

QGroupBox* FOptHWClock_Add::buildPolls()
{
    auto* group = new QGroupBox(tr("Polls"), this);
    group->setObjectName(QStringLiteral("gbPolls"));
    auto* grid = new QGridLayout(group);
    const QString toolTip =
        tr("These options specify the minimum and maximum polling interval for reference clock "
           "messages in seconds, interpreted as power of two (2 ^ x).");

    sbMinPoll = spinBox(QStringLiteral("sbMinPoll"), 4, group);
    sbMinPoll->setToolTip(toolTip);
    grid->addWidget(new QLabel(tr("Min poll"), group), 0, 0);
    grid->addWidget(sbMinPoll, 0, 1);

    sbMaxPoll = spinBox(QStringLiteral("sbMaxPoll"), 10, group);
    sbMaxPoll->setToolTip(toolTip);
    grid->addWidget(new QLabel(tr("Max poll"), group), 1, 0);
    grid->addWidget(sbMaxPoll, 1, 1);
    return group;
}

QGroupBox* FOptHWClock_Add::buildDriverOptions()
{
    auto* group = new QGroupBox(tr("Driver options"), this);
    group->setObjectName(QStringLiteral("gbDriver"));
    auto* grid = new QGridLayout(group);

    sbStratum = spinBox(QStringLiteral("sbStratum"), 0, group);
    grid->addWidget(new QLabel(tr("Stratum"), group), 0, 0);
    grid->addWidget(sbStratum, 0, 1);

    leTime1 = lineEdit(QStringLiteral("leTime1"), group);
    grid->addWidget(new QLabel(tr("Time1"), group), 1, 0);
    grid->addWidget(leTime1, 1, 1);

    leTime2 = lineEdit(QStringLiteral("leTime2"), group);
    grid->addWidget(new QLabel(tr("Time2"), group), 2, 0);
    grid->addWidget(leTime2, 2, 1);

    leRefId = lineEdit(QStringLiteral("leRefId"), group);
    grid->addWidget(new QLabel(tr("Ref ID"), group), 3, 0);
    grid->addWidget(leRefId, 3, 1);

    for (int i = 0; i < FlagCount; ++i) {
        chbFlags[i] = new QCheckBox(tr("Flag") + QStringLiteral(" %1").arg(i + 1), group);
        chbFlags[i]->setObjectName(QStringLiteral("chbFlag%1").arg(i + 1));
        grid->addWidget(chbFlags[i], i, 2);
    }
    return group;
}

void FOptHWClock_Add::fillDrivers()
{
    const ClockDrivers catalogue;
    for (auto it = catalogue.drivers.cbegin(); it != catalogue.drivers.cend(); ++it)
        cbDriver->addItem(it.value(), it.key());
}

void FOptHWClock_Add::connectInputs()
{
    // Listed explicitly: a spin box holds a line edit of its own.
    QList<QCheckBox*> checkBoxes{chbPrefer};
    for (QCheckBox* flag : chbFlags)
        checkBoxes << flag;
    for (QCheckBox* box : checkBoxes)
        connect(box, &QCheckBox::clicked, this, &FOptHWClock_Add::slotChanged);
    for (QSpinBox* box : {sbDeviceIndex, sbDeviceMode, sbMinPoll, sbMaxPoll, sbStratum})
        connect(box, qOverload<int>(&QSpinBox::valueChanged), this, &FOptHWClock_Add::slotChanged);
    connect(cbDriver, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &FOptHWClock_Add::slotChanged);
    for (QLineEdit* edit : {leTime1, leTime2, leRefId})
        connect(edit, &QLineEdit::textChanged, this, &FOptHWClock_Add::slotChanged);
}

QPushButton* FOptHWClock_Add::okButton() const
{
    return buttonBox->button(QDialogButtonBox::Ok);
}

void FOptHWClock_Add::setOkEnabled(bool enabled)
{
    okButton()->setEnabled(enabled);
}

void FOptHWClock_Add::slotChanged()
{
    setOkEnabled(true);
}

void FOptHWClock_Add::accept()
{
    if (sbMinPoll->value() > sbMaxPoll->value()) {
        QMessageBox::warning(this, tr("Error"), tr("Min poll > max poll"), QMessageBox::Ok);
        return;
    }
    QDialog::accept();
}
