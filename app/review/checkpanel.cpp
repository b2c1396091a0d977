#include "app/review/checkpanel.h"

#include "app/review/applyflow.h"
#include "app/review/configreview.h"
#include "config/configdocument.h"
#include "pages/modifiablewidget.h"

#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace
{
QVector<CheckFinding> findingsOfApply(ModifiableWidget* page)
{
    return checkConfiguration(bytesApplyWouldWrite(page));
}

QString rejectedLinesText(const QVector<CheckFinding>& findings)
{
    QVector<CheckFinding> errors;
    for (const CheckFinding& finding : findings) {
        if (finding.severity == CheckFinding::Error)
            errors.append(finding);
    }
    const int shown = 10;
    QString text = findingsText(errors.mid(0, shown));
    if (errors.size() > shown)
        text += CheckPanel::tr("... and %1 more\n").arg(errors.size() - shown);
    return text;
}
} // namespace

CheckPanel::CheckPanel(const WindowHooks& hooks)
    : QDockWidget(tr("Check"), hooks.window), m_hooks(hooks), m_subject(new QLabel),
      m_list(new QTreeWidget)
{
    setObjectName(QStringLiteral("dwCheck"));
    m_list->setObjectName(QStringLiteral("twFindings"));
    m_list->setHeaderLabels({tr("Line"), tr("Severity"), tr("Text")});
    m_list->setRootIsDecorated(false);
    m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_subject->setObjectName(QStringLiteral("lCheckSubject"));
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_subject);
    layout->addWidget(m_list);
    setWidget(body);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &CheckPanel::showLine);
    connect(&ConfigDocument::instance(), &ConfigDocument::saved, this,
            &CheckPanel::scheduleRefresh);
    for (ModifiableWidget* page : hooks.builtPages())
        watchPage(page);
    connect(hooks.events, &WindowEvents::pageBuilt, this, &CheckPanel::watchPage);
    connect(hooks.events, &WindowEvents::editingChanged, this, &CheckPanel::scheduleRefresh);
    // The first check reads the whole file: it waits until the window has
    // been drawn instead of holding it back, and takes in every request
    // made before it (showing the panel, the actions' first updates).
    const int firstCheckDelayMs = 250;
    m_refreshPending = true;
    QTimer::singleShot(firstCheckDelayMs, this, &CheckPanel::refresh);
}

void CheckPanel::watchPage(ModifiableWidget* page)
{
    connect(page, &ModifiableWidget::dataChanged, this, &CheckPanel::scheduleRefresh);
}

void CheckPanel::scheduleRefresh()
{
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QTimer::singleShot(0, this, &CheckPanel::refresh);
}

void CheckPanel::refresh()
{
    m_refreshPending = false;
    // A hidden panel does not check (it would make the edited page collect
    // its record on every change); it checks when it is shown.
    m_stale = !isVisible();
    if (m_stale)
        return;
    ModifiableWidget* page = m_hooks.editedPage();
    m_ofApply = page != nullptr;
    m_findings = page ? findingsOfApply(page)
                      : checkConfiguration(ConfigDocument::instance().currentBytes());
    m_subject->setText(page ? tr("Findings in what Apply would write:")
                            : tr("Findings in %1:").arg(ConfigDocument::instance().path()));
    m_list->clear();
    for (const CheckFinding& finding : qAsConst(m_findings)) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, finding.line > 0 ? QString::number(finding.line) : QString());
        item->setText(1, severityName(finding.severity));
        item->setText(2, finding.text);
        item->setData(0, Qt::UserRole, finding.line);
    }
}

void CheckPanel::showEvent(QShowEvent* event)
{
    QDockWidget::showEvent(event);
    if (m_stale)
        scheduleRefresh();
}

void CheckPanel::showLine(QTreeWidgetItem* item)
{
    const int line = item->data(0, Qt::UserRole).toInt();
    if (line > 0)
        reviewChanges(m_hooks.window, m_ofApply ? m_hooks.editedPage() : nullptr, line, m_ofApply);
}

bool confirmRejectedLines(QWidget* parent, ModifiableWidget* page)
{
    // Only the dialect rules give errors, and the classic daemon has none:
    // Apply stays as it was there.
    if (!currentDaemon().isNtpsec() || !page)
        return true;
    const QVector<CheckFinding> findings = findingsOfApply(page);
    if (!hasErrors(findings))
        return true;
    for (;;) {
        QMessageBox box(QMessageBox::Warning, CheckPanel::tr("Check"),
                        CheckPanel::tr("The installed NTP daemon would reject these lines of %1, "
                                       "which Apply writes:\n\n%2\nWrite the file anyway?")
                            .arg(ConfigDocument::instance().path(), rejectedLinesText(findings)),
                        QMessageBox::NoButton, parent);
        QPushButton* write = box.addButton(CheckPanel::tr("Apply anyway"), QMessageBox::AcceptRole);
        QPushButton* review =
            box.addButton(CheckPanel::tr("Review changes..."), QMessageBox::ActionRole);
        QPushButton* keep =
            box.addButton(CheckPanel::tr("Continue editing"), QMessageBox::RejectRole);
        write->setObjectName(QStringLiteral("bApplyAnyway"));
        review->setObjectName(QStringLiteral("bReview"));
        keep->setObjectName(QStringLiteral("bContinueEditing"));
        box.setDefaultButton(keep);
        box.exec();
        if (box.clickedButton() != review)
            return box.clickedButton() == write;
        reviewChanges(parent, page);
    }
}
