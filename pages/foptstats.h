#pragma once

#include <QList>
#include <QMetaType>
#include <functional>

#include "config/ntpsettings.h"
#include "pages/foptstats_stat.h"
#include "pages/modifiablewidget.h"

class QLineEdit;
class QTabWidget;
class QToolButton;

// Statistics page: the statistics directory and, per statistics file, whether
// it is generated and the options of its filegen line.
class FOptStats : public ModifiableWidget
{
    Q_OBJECT
public:
    explicit FOptStats(QWidget* parent = nullptr);
    // The page's name in the navigation tree and its title.
    static QString pageTitle();

    // The directory typed in "Stats dir", as it stands (not yet saved).
    QString statsDirText() const;

    // Asks for a directory: (parent, caption, start directory) -> the chosen
    // directory, empty when cancelled. Unset means QFileDialog; tests install
    // their own and reset it to {} afterwards.
    using DirectoryChooser =
        std::function<QString(QWidget* parent, const QString& caption, const QString& dir)>;
    static void setDirectoryChooser(DirectoryChooser chooser);

    // Start of the chooser for an empty field, and what replaces a directory
    // that does not exist when saving.
    static const QString defaultStatsDir;

public slots:
    void loadSettings() override;
    void saveSettings() override;
    virtual void connectStat(FOptStats_Stat* stat);
    virtual void stateChanged(int state);
    virtual void textChanged(const QString& text);
    virtual void currentIndexChanged(int index);
    virtual void bBrowse_clicked();

private:
    QString m_loadedStatsDir; // as the file spells it
    void buildWidgets();
    FOptStats_Stat* findStat(const QString& name) const;
    QList<FileGenEntry> savedFileGens() const;
    void saveStatsDir();

    QLineEdit* leStatsDir = nullptr;
    QToolButton* bBrowse = nullptr;
    QTabWidget* tabWidget = nullptr;
    QList<FOptStats_Stat*> m_stats;
};

Q_DECLARE_METATYPE(FOptStats_Stat*)
