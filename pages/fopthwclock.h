#pragma once

#include "pages/listpage.h"

class FOptHWClock_Add;
class QCheckBox;
class QTreeWidget;
class QTreeWidgetItem;

// Reference clocks page: one row per reference clock (a 127.127.t.u server
// line joined with its first fudge line, or an NTPsec refclock line), and the
// "calibrate" flag of the enable directive. The clock rules live in
// referenceclocks.h; the page shows and edits the rows.
class FOptHWClock : public ListPage
{
    Q_OBJECT
public:
    explicit FOptHWClock(QWidget* parent = nullptr);
    // The page's name in the navigation tree and its title.
    static QString pageTitle();

public slots:
    void loadSettings() override;
    void saveSettings() override;
    void Add_clicked() override;
    void Edit_clicked() override;
    void Delete_clicked() override;
    virtual void stateChanged(int state);
    void itemDoubleClicked(QTreeWidgetItem* item, int column) override;
    void currentItemChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    void connectWidgets();
    QList<QTreeWidgetItem*> loadedRows() const;
    // Duplicate check over every row but `edited`, then clears "Prefer" on the
    // others when the clock is preferred; false (and nothing changed) on a
    // duplicate.
    bool admitClock(int driver, int unit, bool prefer, const QTreeWidgetItem* edited);

    QCheckBox* chbCalibrate = nullptr;
    QTreeWidget* twList = nullptr;
    ListButtons buttons;
};
