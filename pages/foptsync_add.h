#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QRadioButton;
class QSpinBox;

// Dialog for adding or editing one time server. The page that runs it presets
// and reads the widgets directly.
class FOptSync_Add : public QDialog
{
    Q_OBJECT
public:
    explicit FOptSync_Add(QWidget* parent = nullptr);

    // True when `address` can be written as the host of a "server" line and
    // read back as the same host: no blanks, "#" or "=" inside it and no line
    // breaks or other control characters anywhere.
    static bool isWritableAddress(const QString& address);

    QComboBox* addressBox = nullptr;
    QSpinBox* minPollBox = nullptr;
    QSpinBox* maxPollBox = nullptr;
    QCheckBox* prevailBox = nullptr;
    QSpinBox* versionBox = nullptr;
    QCheckBox* burstBox = nullptr;
    QCheckBox* iburstBox = nullptr;
    QDialogButtonBox* buttonBox = nullptr;
    // Whether the address names one server or a pool of them.
    QRadioButton* serverButton = nullptr;
    QRadioButton* poolButton = nullptr;
    // "Authenticate with NTS"; only where the daemon is NTPsec, else null.
    QCheckBox* ntsBox = nullptr;

public slots:
    void accept() override;
    void slotChanged();

private:
    QWidget* buildAddressRow();
    QWidget* buildPollsAndBurstRow();
    QWidget* buildVersionRow();
    QWidget* buildKindRow();
    void connectChangeSignals();
    // Sets the kind the address suggests ("pool." names a pool) until the
    // user picks one.
    void suggestKind(const QString& address);
    void showError(const QString& text);

    bool kindChosen = false;
};
