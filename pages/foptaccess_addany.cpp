#include "pages/foptaccess_addany.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "config/config.h"
#include "config/ntpsettings.h"

namespace
{
const QString defaultWord = QStringLiteral("default");
const QString sourceWord = QStringLiteral("source");

// The prefix length of a contiguous mask ("255.255.0.0" is 16), or -1.
int prefixOfMask(const QString& mask)
{
    const QHostAddress address(mask);
    QByteArray bits;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 value = address.toIPv4Address();
        for (int shift = 24; shift >= 0; shift -= 8)
            bits.append(char((value >> shift) & 0xff));
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        const Q_IPV6ADDR value = address.toIPv6Address();
        bits = QByteArray(reinterpret_cast<const char*>(value.c), 16);
    } else {
        return -1;
    }
    int prefix = 0;
    bool ended = false;
    for (const char byte : bits) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool set = (byte >> bit) & 1;
            if (set && ended)
                return -1;
            ended = ended || !set;
            prefix += set ? 1 : 0;
        }
    }
    return prefix;
}
} // namespace

FOptAccess_AddAny::FOptAccess_AddAny(QWidget* parent) : FOptAccess_Add(parent)
{
    // The IPv4 fields give way to the address tab of this dialog.
    auto* tabs = findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    QWidget* ipv4Tab = tabs->widget(0);
    tabs->removeTab(0);
    ipv4Tab->hide();
    tabs->insertTab(0, targetTab(), tr("Address"));
    tabs->setCurrentIndex(0);

    connect(targetGroup, &QButtonGroup::idClicked, this, &FOptAccess_AddAny::targetClicked);
    connect(targetGroup, &QButtonGroup::idClicked, this, &FOptAccess_Add::slotChanged);
    connect(leAddress, &QLineEdit::textEdited, this, &FOptAccess_Add::slotChanged);
    connect(cbFamily, QOverload<int>::of(&QComboBox::activated), this,
            &FOptAccess_Add::slotChanged);
    targetClicked(targetGroup->checkedId());
}

QWidget* FOptAccess_AddAny::targetTab()
{
    auto* tab = new QWidget(this);
    auto* targetBox = new QGroupBox(tr("Restrict"), tab);
    auto* targetLayout = new QVBoxLayout(targetBox);
    targetGroup = new QButtonGroup(this);
    const QPair<const char*, QString> targets[] = {
        {QT_TR_NOOP("Address or network"), QStringLiteral("rbAddress")},
        {QT_TR_NOOP("Default"), QStringLiteral("rbDefault")},
        {QT_TR_NOOP("Time sources found by the daemon (source)"), QStringLiteral("rbSource")},
    };
    for (int id = AddressTarget; id <= SourceTarget; ++id) {
        auto* radio = new QRadioButton(tr(targets[id].first), targetBox);
        radio->setObjectName(targets[id].second);
        targetGroup->addButton(radio, id);
        targetLayout->addWidget(radio);
    }
    targetGroup->button(AddressTarget)->setChecked(true);

    leAddress = new QLineEdit(tab);
    leAddress->setObjectName(QStringLiteral("leAddress"));
    leAddress->setPlaceholderText(QStringLiteral("2001:db8::/32"));
    leAddress->setToolTip(tr("An IPv4 or IPv6 address, or a network as address and prefix "
                             "length, such as 192.0.2.0/24 or 2001:db8::/32"));
    cbFamily = new QComboBox(tab);
    cbFamily->setObjectName(QStringLiteral("cbFamily"));
    cbFamily->addItem(tr("As the address says"), QString());
    cbFamily->addItem(tr("IPv4 only (-4)"), QStringLiteral("-4"));
    cbFamily->addItem(tr("IPv6 only (-6)"), QStringLiteral("-6"));

    auto* grid = new QGridLayout(tab);
    grid->addWidget(targetBox, 0, 0, 1, 2);
    grid->addWidget(new QLabel(tr("Address"), tab), 1, 0);
    grid->addWidget(leAddress, 1, 1);
    grid->addWidget(new QLabel(tr("Address family"), tab), 2, 0);
    grid->addWidget(cbFamily, 2, 1);
    grid->setRowStretch(3, 1);
    return tab;
}

void FOptAccess_AddAny::targetClicked(int id)
{
    leAddress->setEnabled(id == AddressTarget);
}

void FOptAccess_AddAny::presetTarget(const RestrictEntry& entry)
{
    Target target = AddressTarget;
    if (entry.address == defaultWord)
        target = DefaultTarget;
    else if (entry.address == sourceWord)
        target = SourceTarget;
    targetGroup->button(target)->setChecked(true);
    targetClicked(target);
    cbFamily->setCurrentIndex(qMax(0, cbFamily->findData(entry.family)));
    if (target != AddressTarget)
        return;
    m_presetAddress = entry.address;
    const int prefix = entry.mask.isEmpty() ? -1 : prefixOfMask(entry.mask);
    if (prefix >= 0)
        m_presetAddress += QLatin1Char('/') + QString::number(prefix);
    leAddress->setText(m_presetAddress);
}

QString FOptAccess_AddAny::familyWord() const
{
    return cbFamily->currentData().toString();
}

void FOptAccess_AddAny::applyTarget(RestrictEntry* entry) const
{
    entry->family = familyWord();
    switch (targetGroup->checkedId()) {
    case DefaultTarget:
        entry->address = defaultWord;
        entry->mask.clear();
        break;
    case SourceTarget:
        entry->address = sourceWord;
        entry->mask.clear();
        break;
    default: {
        const QString text = leAddress->text().trimmed();
        if (!m_presetAddress.isEmpty() && text == m_presetAddress)
            return; // as the file said it, mask included
        entry->address = text;
        entry->mask.clear();
        break;
    }
    }
}

// Empty when `text` is acceptable as the address, else the reason.
QString FOptAccess_AddAny::checkAddress(const QString& text) const
{
    if (text.isEmpty())
        return tr("Address field is empty");
    if (!m_presetAddress.isEmpty() && text == m_presetAddress)
        return QString();
    QHostAddress host;
    bool valid = false;
    if (text.contains(QLatin1Char('/'))) {
        const QPair<QHostAddress, int> subnet = QHostAddress::parseSubnet(text);
        host = subnet.first;
        valid = !host.isNull() && subnet.second >= 0;
    } else {
        valid = host.setAddress(text);
    }
    // A blank would split the line into other words when it is read again.
    if (!valid || !isOneWord(text))
        return tr("Enter an IPv4 or IPv6 address, or a network as address and prefix length "
                  "such as 2001:db8::/32");
    const QString family = familyWord();
    const bool ipv4 = host.protocol() == QAbstractSocket::IPv4Protocol;
    if ((family == QLatin1String("-4") && !ipv4) || (family == QLatin1String("-6") && ipv4))
        return tr("The address is not of the chosen address family");
    return QString();
}

void FOptAccess_AddAny::accept()
{
    if (targetGroup->checkedId() == AddressTarget) {
        const QString error = checkAddress(leAddress->text().trimmed());
        if (!error.isEmpty()) {
            QMessageBox::warning(this, tr("Error"), error, QMessageBox::Ok);
            return;
        }
    }
    QDialog::accept();
}
