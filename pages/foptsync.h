#pragma once

#include "modifiablewidget.h"

// Placeholder page: replaced by the real page.
class FOptSync : public ModifiableWidget
{
    Q_OBJECT
public:
    explicit FOptSync(QWidget* parent = nullptr);

public slots:
    void loadSettings() override;
    void saveSettings() override;
};
