#pragma once

#include "modifiablewidget.h"

// Placeholder page: replaced by the real page.
class FOptAccess : public ModifiableWidget
{
    Q_OBJECT
public:
    explicit FOptAccess(QWidget* parent = nullptr);

public slots:
    void loadSettings() override;
    void saveSettings() override;
};
