#pragma once

#include <QWidget>

#include "ntpsettings.h"

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
    bool wasUsedAtLoad() const { return m_usedAtLoad; }
    // The filegen line the row stands for: the loaded line (so words the
    // row has no control for survive) with the row's values.
    FileGenEntry entry() const;

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

    FileGenEntry m_loaded;
    bool m_usedAtLoad = false;
};
