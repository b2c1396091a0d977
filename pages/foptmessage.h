#pragma once

#include <QStringList>

#include <QMetaType>

#include "pages/foptmessage_settings.h"
#include "pages/modifiablewidget.h"

class QTabWidget;

// Message reporting page: the message classes and types of the "logconfig"
// directive, one tab per class.
class FOptMessage : public ModifiableWidget
{
    Q_OBJECT
public:
    explicit FOptMessage(QWidget* parent = nullptr);
    // The page's name in the navigation tree and its title.
    static QString pageTitle();

public slots:
    void loadSettings() override;
    void saveSettings() override;
    virtual void stateChanged(int state);
    virtual void connectSettings(FOptMessage_Settings* settings);

private:
    FOptMessage_Settings* findSettings(const QString& messageClass) const;
    // The items the tabs stand for, in tab order.
    QStringList tabItems() const;

    QTabWidget* tabWidget = nullptr;
    // The file's items and what the tabs made of them at the last load: while
    // the boxes still say the same, saving keeps the file's items, whose "-"
    // and "=" the tabs cannot show.
    QStringList loadedItems;
    QStringList loadedTabItems;
};

Q_DECLARE_METATYPE(FOptMessage_Settings*)
