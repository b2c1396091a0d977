#pragma once

#include <QDialog>
#include <QStringList>

class QButtonGroup;
class QCheckBox;
class QDialogButtonBox;
class QListWidget;
class WispHostAddress;

// Dialog for one access restriction: a network (address and mask) or the
// default entry, and the access mode with its flags.
class FOptAccess_Add : public QDialog
{
    Q_OBJECT
public:
    explicit FOptAccess_Add(QWidget* parent = nullptr);

    enum Mode { Full = 0, Denied = 1, Other = 2 };

    // The flag words offered as check boxes, in list order.
    static const QStringList& flagWords();

    // Used before an edit, so that OK waits for a change made by the user.
    void disableOkButton();
    // The check box of a flag row, or null for a word without a row.
    QCheckBox* flagBox(const QString& word) const;
    // The Flags column text for the chosen mode.
    QString flagsText() const;

    WispHostAddress* address;
    WispHostAddress* mask;
    QCheckBox* chbDefault;
    QButtonGroup* modeGroup;
    QCheckBox* chbKod;
    QListWidget* lwFlags;
    QDialogButtonBox* buttonBox;

public slots:
    virtual void buttonClicked(int id);
    void accept() override;
    void slotChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* addressTab();
    QWidget* modeTab();
    void addFlagRows();
    void warn(const QString& text);
};
