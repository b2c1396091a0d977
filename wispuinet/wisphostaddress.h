#pragma once

#include <QHostAddress>
#include <QMetaType>
#include <QWidget>

// Lets the address travel in signal spies and queued connections.
Q_DECLARE_METATYPE(QHostAddress)

class QLineEdit;

// Entry widget for one IPv4 address in dotted-quad form.
class WispHostAddress : public QWidget
{
    Q_OBJECT
public:
    explicit WispHostAddress(QWidget* parent = nullptr);

    // Plain ("10.0.0.1") or zero-padded ("010.000.000.001") dotted quad;
    // every octet is decimal. An empty text clears the entry.
    void setAddress(const QString& address);
    // The entered address; null while no complete, valid address is entered.
    QHostAddress address() const;

    QLineEdit* lineEdit() const { return m_edit; }

    // Parses a dotted quad with decimal octets of up to three digits.
    static QHostAddress parse(const QString& text);

signals:
    void addressChanged(const QHostAddress& address);
    void returnPressed();

private:
    QLineEdit* m_edit;
};
