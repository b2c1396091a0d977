#pragma once

#include <QByteArray>
#include <QDialog>
#include <QVector>

#include "config/configbackups.h"

class DiffView;
class QListWidget;

// Lists the kept copies of the configuration file with their dates and
// shows, for the chosen one, what restoring it would change. The copy is
// read and compared off the GUI thread; a result that arrives after another
// copy was chosen is dropped.
class RestoreDialog : public QDialog
{
    Q_OBJECT
public:
    RestoreDialog(const QString& fileName, const QByteArray& current,
                  const QVector<ConfigBackup>& backups, QWidget* parent = nullptr);

    // The chosen copy's path; empty when none is chosen.
    QString chosenPath() const;
    // The chosen copy's place in the list given; -1 when none is chosen.
    int chosenRow() const;

private:
    void showDiffOf(int row);

    QString m_fileName;
    QByteArray m_current;
    QVector<ConfigBackup> m_backups;
    QListWidget* m_list;
    DiffView* m_view;
    int m_request = 0; // the comparison whose result is awaited
};
