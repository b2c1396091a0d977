#pragma once

#include <QMenu>

// The desktop's standard help menu: "About" (program description and
// version, as given to wispInit()) and "About Qt".
class WispHelpMenu : public QMenu
{
    Q_OBJECT
public:
    explicit WispHelpMenu(QWidget* parent = nullptr);

    static QString aboutText();

private:
    void showAbout();
};
