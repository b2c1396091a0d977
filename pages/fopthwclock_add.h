#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

// Add/edit dialog of one reference clock. The page fills the input widgets
// before showing it and reads them after it has been accepted.
class FOptHWClock_Add : public QDialog
{
    Q_OBJECT
public:
    explicit FOptHWClock_Add(QWidget* parent = nullptr);

    static constexpr int FlagCount = 4;

    QComboBox* cbDriver = nullptr; // item data: driver number
    QCheckBox* chbPrefer = nullptr;
    QSpinBox* sbDeviceIndex = nullptr;
    QSpinBox* sbDeviceMode = nullptr;
    QSpinBox* sbMinPoll = nullptr;
    QSpinBox* sbMaxPoll = nullptr;
    QSpinBox* sbStratum = nullptr;
    QLineEdit* leTime1 = nullptr;
    QLineEdit* leTime2 = nullptr;
    QLineEdit* leRefId = nullptr;
    QCheckBox* chbFlags[FlagCount] = {};
    QDialogButtonBox* buttonBox = nullptr;

    QPushButton* okButton() const;
    // Edit starts with OK disabled; any change of an input enables it.
    void setOkEnabled(bool enabled);

public slots:
    void accept() override;
    void slotChanged();

private:
    QGroupBox* buildClockOptions();
    QGroupBox* buildPolls();
    QGroupBox* buildDriverOptions();
    void fillDrivers();
    void connectInputs();
};
