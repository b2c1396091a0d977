#pragma once

#include "modifiablewidget.h"

// Placeholder page: replaced by the real page.
class FBroadcast : public ModifiableWidget
{
    Q_OBJECT
public:
    explicit FBroadcast(QWidget* parent = nullptr);

public slots:
    void loadSettings() override;
    void saveSettings() override;
};
