#pragma once

#include "modifiablewidget.h"

// Placeholder page: replaced by the real page.
class FOptStats : public ModifiableWidget
{
    Q_OBJECT
public:
    explicit FOptStats(QWidget* parent = nullptr);

public slots:
    void loadSettings() override;
    void saveSettings() override;
};
