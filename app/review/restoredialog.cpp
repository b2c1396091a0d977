#include "app/review/restoredialog.h"

#include "app/review/applyflow.h"
#include "app/review/reviewdialog.h"
#include "config/config.h"
#include "config/unifieddiff.h"
#include "host/host.h"

#include <QDialogButtonBox>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace
{

// What comparing a copy with the file gave: its diff, or why there is none.
struct Comparison {
    QVector<DiffLine> lines;
    QString message;
};

Comparison compareWithCopy(const QByteArray& current, const QString& path, const QString& fileName,
                           const QString& copyName)
{
    // The copies are kept on the managed machine. Its host reads only a regular
    // file, not through a symbolic link, without waiting on a FIFO, and
    // refuses one past the limit (EFBIG) unread.
    FileContent copy;
    const int error = Host::current().readFile(path, configFileLimit, &copy);
    if (error == EFBIG)
        return {{},
                RestoreDialog::tr("The copy %1 is larger than %2 MiB, more than a configuration "
                                  "file may hold; its differences are not shown.")
                    .arg(path)
                    .arg(configFileLimit >> 20)};
    if (error != 0)
        return {{},
                RestoreDialog::tr("The copy %1 cannot be read:\n%2").arg(path, errnoText(error))};
    Comparison comparison{unifiedDiff(current, copy.bytes, fileName, copyName), QString()};
    if (comparison.lines.isEmpty())
        comparison.message = RestoreDialog::tr("The copy is the same as %1.").arg(fileName);
    return comparison;
}

} // namespace

RestoreDialog::RestoreDialog(const QString& fileName, const QByteArray& current,
                             const QVector<ConfigBackup>& backups, QWidget* parent)
    : QDialog(parent), m_fileName(fileName), m_current(current), m_backups(backups),
      m_list(new QListWidget(this))
{
    setObjectName(QStringLiteral("RestoreDialog"));
    setWindowTitle(tr("Restore a previous version"));
    m_list->setObjectName(QStringLiteral("lwBackups"));
    for (const ConfigBackup& backup : backups)
        m_list->addItem(backupTitle(backup));
    auto* pane = new DiffPane(this);
    m_view = pane->view();
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
    row->addWidget(pane, 3);
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
    const int row = chosenRow();
    return row >= 0 ? m_backups.at(row).path : QString();
}

int RestoreDialog::chosenRow() const
{
    const int row = m_list->currentRow();
    return row >= 0 && row < m_backups.size() ? row : -1;
}

void RestoreDialog::showDiffOf(int row)
{
    const int request = ++m_request;
    if (row < 0 || row >= m_backups.size()) {
        m_view->setLines({});
        return;
    }
    m_view->showMessage(tr("Computing differences..."));
    auto* watcher = new QFutureWatcher<Comparison>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, request]() {
        watcher->deleteLater();
        if (request != m_request)
            return; // another copy was chosen meanwhile
        const Comparison comparison = watcher->result();
        if (comparison.message.isEmpty())
            m_view->setLines(comparison.lines);
        else
            m_view->showMessage(comparison.message);
    });
    watcher->setFuture(QtConcurrent::run(compareWithCopy, m_current, m_backups.at(row).path,
                                         m_fileName, m_list->item(row)->text()));
}
