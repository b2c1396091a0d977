#include "pages/fbroadcast_add.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "wispuinet/wisphostaddress.h"

namespace
{
QSpinBox* spinBox(const QString& name, int minimum, int maximum, int value, QWidget* parent)
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(minimum, maximum);
    box->setValue(value);
    return box;
}
} // namespace

FBroadcast_Add::FBroadcast_Add(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Broadcast settings"));
    resize(256, 128);

    buttonBox =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(addressRow());
    layout->addWidget(pollRow());
    layout->addWidget(versionRow());
    layout->addStretch();
    layout->addWidget(buttonBox);

    connect(buttonBox, &QDialogButtonBox::accepted, this, &FBroadcast_Add::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(address, &WispHostAddress::addressChanged, this, &FBroadcast_Add::slotChanged);
    connect(address, &WispHostAddress::returnPressed, buttonBox->button(QDialogButtonBox::Ok),
            &QPushButton::click);
    // Return has been handled once the entry reported it (see eventFilter).
    address->installEventFilter(this);
    for (QSpinBox* box : {minPoll, ttl, version})
        connect(box, QOverload<int>::of(&QSpinBox::valueChanged), this,
                &FBroadcast_Add::slotChanged);
}

QWidget* FBroadcast_Add::addressRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    address = new WispHostAddress(this);
    address->setObjectName(QStringLiteral("address"));
    layout->addWidget(new QLabel(tr("Address"), row));
    layout->addWidget(address);
    layout->addStretch();
    return row;
}

QWidget* FBroadcast_Add::pollRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    minPoll = spinBox(QStringLiteral("minPoll"), 3, 255, 6, row);
    minPoll->setToolTip(tr("Minimum polling interval for reference clock messages in seconds, "
                           "interpreted as power of two (2 ^ x)."));
    ttl = spinBox(QStringLiteral("ttl"), 0, 9999, 127, row);
    layout->addWidget(new QLabel(tr("Min poll"), row));
    layout->addWidget(minPoll);
    layout->addWidget(new QLabel(tr("TTL"), row));
    layout->addWidget(ttl);
    layout->addStretch();
    return row;
}

QWidget* FBroadcast_Add::versionRow()
{
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    version = spinBox(QStringLiteral("version"), 1, 4, 4, row);
    layout->addWidget(new QLabel(tr("NTP ver."), row));
    layout->addWidget(version);
    layout->addStretch();
    return row;
}

void FBroadcast_Add::disableOkButton()
{
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
}

void FBroadcast_Add::accept()
{
    if (address->address().toString().isEmpty()) {
        QMessageBox::warning(this, tr("Error"), tr("Address field is empty"), QMessageBox::Ok);
        return;
    }
    QDialog::accept();
}

void FBroadcast_Add::slotChanged()
{
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(true);
}

// The entry has already clicked OK for Return; without this the dialog would
// click its default button a second time for the same key.
bool FBroadcast_Add::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == address && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}
