#include "app/review/checkpanel.h"

#include "app/fntp.h"
#include "app/review/configreview.h"
#include "config/configdocument.h"
#include "pages/modifiablewidget.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
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
        text += FNTP::tr("... and %1 more\n").arg(errors.size() - shown);
    return text;
}
} // namespace

CheckPanel::CheckPanel(FNTP* window)
    : QDockWidget(FNTP::tr("Check"), window), m_window(window), m_subject(new QLabel),
      m_list(new QTreeWidget)
{
    setObjectName(QStringLiteral("dwCheck"));
    m_list->setObjectName(QStringLiteral("twFindings"));
    m_list->setHeaderLabels({FNTP::tr("Line"), FNTP::tr("Severity"), FNTP::tr("Text")});
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
    for (ModifiableWidget* page : window->findChildren<ModifiableWidget*>())
        watchPage(page);
    connect(window, &FNTP::pageBuilt, this, &CheckPanel::watchPage);
    connect(window->findChild<QAction*>(QStringLiteral("applyAction")), &QAction::changed, this,
            &CheckPanel::scheduleRefresh);
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
    ModifiableWidget* page = m_window->editedPage();
    m_ofApply = page != nullptr;
    m_findings = page ? findingsOfApply(page) : checkConfiguration(currentFileBytes());
    m_subject->setText(page ? FNTP::tr("Findings in what Apply would write:")
                            : FNTP::tr("Findings in %1:").arg(ConfigDocument::instance().path()));
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
        reviewChanges(m_window, m_ofApply ? m_window->editedPage() : nullptr, line, m_ofApply);
}

bool confirmRejectedLines(FNTP* window)
{
    // Only the dialect rules give errors, and the classic daemon has none:
    // Apply stays as it was there.
    if (!currentDaemon().isNtpsec() || !window->editedPage())
        return true;
    const QVector<CheckFinding> findings = findingsOfApply(window->editedPage());
    if (!hasErrors(findings))
        return true;
    for (;;) {
        QMessageBox box(QMessageBox::Warning, FNTP::tr("Check"),
                        FNTP::tr("The installed NTP daemon would reject these lines of %1, which "
                                 "Apply writes:\n\n%2\nWrite the file anyway?")
                            .arg(ConfigDocument::instance().path(), rejectedLinesText(findings)),
                        QMessageBox::NoButton, window);
        QPushButton* write = box.addButton(FNTP::tr("Apply anyway"), QMessageBox::AcceptRole);
        QPushButton* review = box.addButton(FNTP::tr("Review changes..."), QMessageBox::ActionRole);
        QPushButton* keep = box.addButton(FNTP::tr("Continue editing"), QMessageBox::RejectRole);
        write->setObjectName(QStringLiteral("bApplyAnyway"));
        review->setObjectName(QStringLiteral("bReview"));
        keep->setObjectName(QStringLiteral("bContinueEditing"));
        box.setDefaultButton(keep);
        box.exec();
        if (box.clickedButton() != review)
            return box.clickedButton() == write;
        reviewChanges(window, window->editedPage());
    }
}
