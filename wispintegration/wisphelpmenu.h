#pragma once

#include <QMenu>

// The desktop's standard help menu: "About" (program description, version
// and licence, as given to wispInit() and wispSetLicense()) and "About Qt".
class WispHelpMenu : public QMenu
{
    Q_OBJECT
public:
    explicit WispHelpMenu(QWidget* parent = nullptr);

    static QString aboutText();

private:
    void showAbout();
};
