#include "wispuinet/wisphostaddress.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QRegularExpressionValidator>

WispHostAddress::WispHostAddress(QWidget* parent) : QWidget(parent), m_edit(new QLineEdit(this))
{
    qRegisterMetaType<QHostAddress>();
    m_edit->setObjectName(QStringLiteral("addressEdit"));
    // Up to four groups of up to three digits; the value check is parse()'s.
    m_edit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("(\\d{1,3}(\\.\\d{0,3}){0,3})?")), m_edit));
    m_edit->setPlaceholderText(QStringLiteral("0.0.0.0"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_edit);
    setFocusProxy(m_edit);
    connect(m_edit, &QLineEdit::textChanged, this, [this] { emit addressChanged(address()); });
    connect(m_edit, &QLineEdit::returnPressed, this, &WispHostAddress::returnPressed);
}

QHostAddress WispHostAddress::parse(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return QHostAddress();
    quint32 value = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const int octet = part.toInt(&ok, 10); // "010" is ten
        if (!ok || part.size() > 3 || octet < 0 || octet > 255 || part.startsWith(QLatin1Char('+')))
            return QHostAddress();
        value = (value << 8) | quint32(octet);
    }
    return QHostAddress(value);
}

void WispHostAddress::setAddress(const QString& address)
{
    const QHostAddress parsed = parse(address);
    m_edit->setText(parsed.isNull() ? QString() : parsed.toString());
}

QHostAddress WispHostAddress::address() const
{
    return parse(m_edit->text());
}
