#include "pages/foptmessage_settings.h"

#include <QCheckBox>
#include <QVBoxLayout>

namespace
{
QCheckBox* addBox(QWidget* parent, const QString& text, const char* name)
{
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QLatin1String(name));
    parent->layout()->addWidget(box);
    return box;
}
} // namespace

FOptMessage_Settings::FOptMessage_Settings(QWidget* parent, const QString& classWord)
    : QWidget(parent), messageClass(classWord)
{
    setObjectName(messageClass);
    new QVBoxLayout(this);
    chbAll = addBox(this, tr("All"), "chbAll");
    chbInfo = addBox(this, tr("Info"), "chbInfo");
    chbEvents = addBox(this, tr("Events"), "chbEvents");
    chbStatistics = addBox(this, tr("Statistics"), "chbStatistics");
    chbStatus = addBox(this, tr("Status"), "chbStatus");
    connect(chbAll, &QCheckBox::stateChanged, this, &FOptMessage_Settings::chbAll_stateChanged);
}

void FOptMessage_Settings::chbAll_stateChanged(int state)
{
    const bool single = state == Qt::Unchecked;
    chbInfo->setEnabled(single);
    chbEvents->setEnabled(single);
    chbStatistics->setEnabled(single);
    chbStatus->setEnabled(single);
}

void FOptMessage_Settings::clear()
{
    for (QCheckBox* box : {chbAll, chbInfo, chbEvents, chbStatistics, chbStatus})
        box->setChecked(false);
}

void FOptMessage_Settings::checkType(const QString& type)
{
    if (type == QLatin1String("all")) {
        chbAll->setChecked(true);
        chbAll_stateChanged(Qt::Checked);
    } else if (type == QLatin1String("info")) {
        chbInfo->setChecked(true);
    } else if (type == QLatin1String("events")) {
        chbEvents->setChecked(true);
    } else if (type == QLatin1String("statistics")) {
        chbStatistics->setChecked(true);
    } else if (type == QLatin1String("status")) {
        chbStatus->setChecked(true);
    }
}

QStringList FOptMessage_Settings::items() const
{
    const QString prefix = QLatin1Char('+') + messageClass;
    if (chbAll->isChecked())
        return {prefix + QLatin1String("all")};
    QStringList result;
    const std::pair<QCheckBox*, const char*> types[] = {{chbInfo, "info"},
                                                        {chbEvents, "events"},
                                                        {chbStatistics, "statistics"},
                                                        {chbStatus, "status"}};
    for (const auto& type : types) {
        if (type.first->isChecked())
            result.append(prefix + QLatin1String(type.second));
    }
    return result;
}
