#include "app/review/restoredialog.h"

#include "app/review/reviewdialog.h"
#include "config/config.h"
#include "config/unifieddiff.h"
#include "host/host.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

RestoreDialog::RestoreDialog(const QString& fileName, const QByteArray& current,
                             const QVector<ConfigBackup>& backups, QWidget* parent)
    : QDialog(parent), m_fileName(fileName), m_current(current), m_backups(backups),
      m_list(new QListWidget(this)), m_view(new DiffView(this))
{
    setObjectName(QStringLiteral("RestoreDialog"));
    setWindowTitle(tr("Restore a previous version"));
    m_list->setObjectName(QStringLiteral("lwBackups"));
    for (const ConfigBackup& backup : backups)
        m_list->addItem(backup.taken.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton* restore = buttons->addButton(tr("Restore"), QDialogButtonBox::AcceptRole);
    restore->setObjectName(QStringLiteral("bRestore"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::currentRowChanged, this, &RestoreDialog::showDiffOf);
    connect(m_list, &QListWidget::currentRowChanged, restore,
            [restore](int row) { restore->setEnabled(row >= 0); });

    auto* row = new QHBoxLayout;
    row->addWidget(m_list, 1);
    row->addWidget(m_view, 3);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    resize(860, 480);
    restore->setEnabled(false);
    if (!backups.isEmpty())
        m_list->setCurrentRow(0);
}

QString RestoreDialog::chosenPath() const
{
    const int row = m_list->currentRow();
    return row >= 0 && row < m_backups.size() ? m_backups.at(row).path : QString();
}

void RestoreDialog::showDiffOf(int row)
{
    if (row < 0 || row >= m_backups.size())
        return;
    FileContent backup;
    Host::current().readFile(m_backups.at(row).path, configFileLimit, &backup);
    m_view->setLines(unifiedDiff(m_current, backup.bytes, m_fileName, m_list->item(row)->text()));
}
