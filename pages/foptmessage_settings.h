#pragma once

#include <QString>
#include <QWidget>

class QCheckBox;

// The message types of one message class of the "logconfig" directive: all
// of them, or a choice of single types.
class FOptMessage_Settings : public QWidget
{
    Q_OBJECT
public:
    FOptMessage_Settings(QWidget* parent, const QString& classWord);

    QString messageClass;
    QCheckBox* chbAll = nullptr;
    QCheckBox* chbInfo = nullptr;
    QCheckBox* chbEvents = nullptr;
    QCheckBox* chbStatistics = nullptr;
    QCheckBox* chbStatus = nullptr;

    // Unchecks every box.
    void clear();
    // Checks the box of a type word ("all", "info", ...).
    void checkType(const QString& type);
    // The "logconfig" items for the checked boxes, each with "+".
    QStringList items() const;

public slots:
    virtual void chbAll_stateChanged(int state);
};
