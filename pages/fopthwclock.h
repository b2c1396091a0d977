#pragma once

#include "modifiablewidget.h"

// Placeholder page: replaced by the real page.
class FOptHWClock : public ModifiableWidget
{
    Q_OBJECT
public:
    explicit FOptHWClock(QWidget* parent = nullptr);

public slots:
    void loadSettings() override;
    void saveSettings() override;
};
