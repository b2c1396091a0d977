#pragma once

#include <QWidget>

#include "config/ntpsettings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// One statistics file of the statistics page: whether it is generated and the
// options of its filegen line. The object name is the statistics name.
class FOptStats_Stat : public QWidget
{
    Q_OBJECT
public:
    explicit FOptStats_Stat(QWidget* parent = nullptr);

    QCheckBox* usedBox() const { return chbUsed; }
    QCheckBox* linkBox() const { return chbLink; }
    QCheckBox* enableBox() const { return chbEnable; }
    QComboBox* typeBox() const { return cbType; }
    QLineEdit* fileEdit() const { return leFilename; }

    // Back to "not used", with the object name as file name.
    void reset();
    // Shows a filegen line of this file; `used` is the statistics flag.
    void showEntry(const FileGenEntry& entry, bool used);
    bool isUsed() const;
    // Whether the last load showed the row as used.
    bool wasUsedAtLoad() const { return m_shownAtLoad.used; }
    // Whether any control of the row differs from what the last load showed.
    bool isChanged() const;
    // The filegen line the row stands for: the loaded line (so words the
    // row has no control for survive) with the row's values, naming link or
    // nolink and enable or disable.
    FileGenEntry entry() const;
    // The filegen lines to write for a used row: those of its file as they
    // were loaded while the row is unchanged (their words as the file named
    // them), else entry() alone.
    QList<FileGenEntry> entriesToSave() const;

    // How much of a statistics file the viewer shows at most: the end of a
    // larger file, where its newest records are.
    static constexpr qint64 viewLimit = 4 * 1024 * 1024;

public slots:
    virtual void bView_clicked();
    virtual void stateChanged(int state);

private:
    void buildWidgets();
    bool findStatsDir(QString* dir);
    void showFile(const QString& path);

    QCheckBox* chbUsed = nullptr;
    QCheckBox* chbLink = nullptr;
    QCheckBox* chbEnable = nullptr;
    QComboBox* cbType = nullptr;
    QLineEdit* leFilename = nullptr;
    QPushButton* bView = nullptr;

    // What the controls show, to tell whether the user changed the row.
    struct Shown {
        bool used = false;
        int typeIndex = -1;
        QString file;
        bool link = false;
        bool enabled = false;
        bool operator==(const Shown& o) const;
    };
    Shown shownNow() const;

    QList<FileGenEntry> m_loadedEntries; // this file's lines, in file order
    Shown m_shownAtLoad;
};
