#pragma once

#include "pages/foptaccess_add.h"

#include <QString>

class QComboBox;
class QLineEdit;
struct RestrictEntry;

// The access dialog for the restrictions the IPv4 fields cannot hold: any
// IPv4 or IPv6 address, a network as address and prefix length
// (2001:db8::/32), the default entry of one address family, or "source" (the
// addresses of the time sources the daemon finds itself, such as pool
// servers). The access mode tab is the one of FOptAccess_Add.
class FOptAccess_AddAny : public FOptAccess_Add
{
    Q_OBJECT
public:
    explicit FOptAccess_AddAny(QWidget* parent = nullptr);

    enum Target { AddressTarget = 0, DefaultTarget = 1, SourceTarget = 2 };

    // Fills the address tab from `entry`. Its address is accepted unchanged
    // even where it is no address (a host name).
    void presetTarget(const RestrictEntry& entry);
    // Sets family, address and mask of `entry` from the address tab; an
    // unchanged address keeps the entry's own form (and mask).
    void applyTarget(RestrictEntry* entry) const;

    QButtonGroup* targetGroup;
    QLineEdit* leAddress;
    QComboBox* cbFamily;

public slots:
    void accept() override;
    virtual void targetClicked(int id);

private:
    QWidget* targetTab();
    QString familyWord() const;
    QString checkAddress(const QString& text) const;

    QString m_presetAddress;
};
