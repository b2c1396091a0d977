#pragma once

#include <QDialog>

class QDialogButtonBox;
class QSpinBox;
class WispHostAddress;

// Dialog for one broadcast network: address, minimum poll interval, TTL and
// NTP version. The OK button becomes available with the first change.
class FBroadcast_Add : public QDialog
{
    Q_OBJECT
public:
    explicit FBroadcast_Add(QWidget* parent = nullptr);

    // Used before an edit, so that OK waits for a change made by the user.
    void disableOkButton();

    WispHostAddress* address;
    QSpinBox* minPoll;
    QSpinBox* ttl;
    QSpinBox* version;
    QDialogButtonBox* buttonBox;

public slots:
    void accept() override;
    void slotChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* addressRow();
    QWidget* pollRow();
    QWidget* versionRow();
};
