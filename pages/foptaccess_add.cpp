#include "pages/foptaccess_add.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "wispuinet/wisphostaddress.h"

namespace
{
const char* const flagNames[] = {
    QT_TRANSLATE_NOOP("FOptAccess_Add", "noquery"),
    QT_TRANSLATE_NOOP("FOptAccess_Add", "nomodify"),
    QT_TRANSLATE_NOOP("FOptAccess_Add", "notrap"),
    QT_TRANSLATE_NOOP("FOptAccess_Add", "noserve"),
    QT_TRANSLATE_NOOP("FOptAccess_Add", "nopeer"),
    QT_TRANSLATE_NOOP("FOptAccess_Add", "notrust"),
    QT_TRANSLATE_NOOP("FOptAccess_Add", "lowpriotrap"),
    QT_TRANSLATE_NOOP("FOptAccess_Add", "version"),
    QT_TRANSLATE_NOOP("FOptAccess_Add", "ntpport"),
    QT_TRANSLATE_NOOP("FOptAccess_Add", "limited"),
};
} // namespace

const QStringList& FOptAccess_Add::flagWords()
{
    static const QStringList words = [] {
        QStringList list;
        for (const char* name : flagNames)
            list << QString::fromLatin1(name);
        return list;
    }();
    return words;
}

FOptAccess_Add::FOptAccess_Add(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Access settings"));

    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tabWidget"));
    tabs->addTab(addressTab(), tr("Address and mask"));
    tabs->addTab(modeTab(), tr("Access mode and flags"));

    buttonBox =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs, 1);
    layout->addWidget(buttonBox);

    connect(buttonBox, &QDialogButtonBox::accepted, this, &FOptAccess_Add::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (WispHostAddress* widget : {address, mask}) {
        connect(widget, &WispHostAddress::addressChanged, this, &FOptAccess_Add::slotChanged);
        connect(widget, &WispHostAddress::returnPressed, buttonBox->button(QDialogButtonBox::Ok),
                &QPushButton::click);
        // Return has been handled once the entry reported it (see eventFilter).
        widget->installEventFilter(this);
    }
    connect(modeGroup, &QButtonGroup::idClicked, this, &FOptAccess_Add::buttonClicked);
    buttonClicked(modeGroup->checkedId());
    for (QAbstractButton* button : findChildren<QAbstractButton*>()) {
        if (qobject_cast<QRadioButton*>(button) || qobject_cast<QCheckBox*>(button))
            connect(button, &QAbstractButton::clicked, this, &FOptAccess_Add::slotChanged);
    }
    resize(1, 1);
}

QWidget* FOptAccess_Add::addressTab()
{
    auto* tab = new QWidget(this);
    address = new WispHostAddress(tab);
    address->setObjectName(QStringLiteral("address"));
    mask = new WispHostAddress(tab);
    mask->setObjectName(QStringLiteral("mask"));
    mask->setAddress(QStringLiteral("255.255.255.0"));
    chbDefault = new QCheckBox(tr("Default"), tab);
    chbDefault->setObjectName(QStringLiteral("chbDefault"));

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("IP"), tab), 0, 0);
    grid->addWidget(address, 0, 1);
    grid->addWidget(new QLabel(tr("Mask"), tab), 1, 0);
    grid->addWidget(mask, 1, 1);
    grid->addWidget(chbDefault, 2, 0, 1, 2);
    grid->setRowStretch(3, 1);

    auto* layout = new QHBoxLayout(tab);
    layout->addLayout(grid);
    layout->addStretch();
    return tab;
}

QWidget* FOptAccess_Add::modeTab()
{
    auto* tab = new QWidget(this);
    auto* modeBox = new QGroupBox(tr("Access mode"), tab);
    modeBox->setObjectName(QStringLiteral("gbMode"));
    auto* modeLayout = new QVBoxLayout(modeBox);
    modeGroup = new QButtonGroup(this);
    modeGroup->setObjectName(QStringLiteral("modeGroup"));
    const QPair<const char*, QString> modes[] = {
        {QT_TR_NOOP("Full"), QStringLiteral("rbFull")},
        {QT_TR_NOOP("Denied"), QStringLiteral("rbDenied")},
        {QT_TR_NOOP("Other"), QStringLiteral("rbOther")},
    };
    for (int id = Full; id <= Other; ++id) {
        auto* radio = new QRadioButton(tr(modes[id].first), modeBox);
        radio->setObjectName(modes[id].second);
        modeGroup->addButton(radio, id);
        modeLayout->addWidget(radio);
    }
    modeGroup->button(Full)->setChecked(true);

    chbKod = new QCheckBox(tr("send kiss-of-death"), tab);
    chbKod->setObjectName(QStringLiteral("chbKod"));
    chbKod->setToolTip(tr("If this flag is set when an access violation occurs, a kiss-o'-death "
                          "(KoD) packet is sent. KoD packets are rate limited to no more than one "
                          "per second. If another KoD packet occurs within one second after the "
                          "last one, the packet is dropped"));
    lwFlags = new QListWidget(tab);
    lwFlags->setObjectName(QStringLiteral("lwFlags"));
    addFlagRows();

    auto* grid = new QGridLayout(tab);
    grid->addWidget(modeBox, 0, 0);
    grid->addWidget(chbKod, 0, 1);
    grid->addWidget(lwFlags, 1, 0, 1, 2);
    return tab;
}

void FOptAccess_Add::addFlagRows()
{
    for (const char* name : flagNames) {
        const QString word = QString::fromLatin1(name);
        auto* item = new QListWidgetItem(lwFlags);
        item->setData(Qt::UserRole, word);
        auto* box = new QCheckBox(tr(name), lwFlags);
        box->setObjectName(QStringLiteral("chb_") + word);
        lwFlags->setItemWidget(item, box);
    }
}

QCheckBox* FOptAccess_Add::flagBox(const QString& word) const
{
    for (int row = 0; row < lwFlags->count(); ++row) {
        QListWidgetItem* item = lwFlags->item(row);
        if (item->data(Qt::UserRole).toString() == word)
            return qobject_cast<QCheckBox*>(lwFlags->itemWidget(item));
    }
    return nullptr;
}

QString FOptAccess_Add::flagsText() const
{
    switch (modeGroup->checkedId()) {
    case Denied:
        return chbKod->isChecked() ? QStringLiteral("ignore,kod") : QStringLiteral("ignore");
    case Other: {
        QStringList words;
        for (int row = 0; row < lwFlags->count(); ++row) {
            QListWidgetItem* item = lwFlags->item(row);
            auto* box = qobject_cast<QCheckBox*>(lwFlags->itemWidget(item));
            if (box && box->isChecked())
                words << item->data(Qt::UserRole).toString();
        }
        return words.join(QLatin1Char(','));
    }
    default:
        return QString();
    }
}

void FOptAccess_Add::disableOkButton()
{
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(false);
}

void FOptAccess_Add::buttonClicked(int id)
{
    if (id < Full || id > Other)
        return;
    chbKod->setEnabled(id == Denied);
    lwFlags->setEnabled(id == Other);
}

void FOptAccess_Add::warn(const QString& text)
{
    QMessageBox::warning(this, tr("Error"), text, QMessageBox::Ok);
}

void FOptAccess_Add::accept()
{
    if (!chbDefault->isChecked() && address->address().toString().isEmpty()) {
        warn(tr("Address field is empty"));
        return;
    }
    if (!chbDefault->isChecked() && mask->address().toString().isEmpty()) {
        warn(tr("Mask field is empty"));
        return;
    }
    QDialog::accept();
}

void FOptAccess_Add::slotChanged()
{
    buttonBox->button(QDialogButtonBox::Ok)->setEnabled(true);
}

// The entry has already clicked OK for Return; without this the dialog would
// click its default button a second time for the same key.
bool FOptAccess_Add::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == address || watched == mask) && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}
