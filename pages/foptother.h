#pragma once

#include <functional>

#include "pages/modifiablewidget.h"

class QLineEdit;
class QSpinBox;
class QToolButton;

// Additional options page: the daemon's log file and the broadcast delay.
class FOptOther : public ModifiableWidget
{
    Q_OBJECT
public:
    explicit FOptOther(QWidget* parent = nullptr);
    // The page's name in the navigation tree and its title.
    static QString pageTitle();

    // Asks for a file name to save to: (parent, caption, start directory) ->
    // the chosen name, empty when cancelled. Unset means QFileDialog; tests
    // install their own and reset it to {} afterwards.
    using SaveFileChooser =
        std::function<QString(QWidget* parent, const QString& caption, const QString& dir)>;
    static void setSaveFileChooser(SaveFileChooser chooser);

public slots:
    void loadSettings() override;
    void saveSettings() override;
    virtual void textChanged(const QString& text);
    virtual void browse();

private slots:
    void delayEdited();

private:
    QString savedBroadcastDelay() const;

    QLineEdit* leLogFile = nullptr;
    QToolButton* bBrowse = nullptr;
    QSpinBox* sbBroadcastDelay = nullptr;

    // The broadcast delay as the file had it, and whether the spin box was
    // changed since: a value the spin box cannot show (a fraction, above 99)
    // is written back unchanged until the user sets another one.
    QString m_loadedDelay;
    // The log file as the file spells it (perhaps in quotes).
    QString m_loadedLogFile;
    bool m_delayEdited = false;
    bool m_loading = false;
};
