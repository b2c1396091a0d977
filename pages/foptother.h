#pragma once

#include "modifiablewidget.h"

// Placeholder page: replaced by the real page.
class FOptOther : public ModifiableWidget
{
    Q_OBJECT
public:
    explicit FOptOther(QWidget* parent = nullptr);

public slots:
    void loadSettings() override;
    void saveSettings() override;
};
