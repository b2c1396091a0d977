#pragma once

#include "modifiablewidget.h"

// Placeholder page: replaced by the real page.
class FOptMessage : public ModifiableWidget
{
    Q_OBJECT
public:
    explicit FOptMessage(QWidget* parent = nullptr);

public slots:
    void loadSettings() override;
    void saveSettings() override;
};
