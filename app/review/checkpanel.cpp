#include "app/review/checkpanel.h"

#include "app/review/applyflow.h"
#include "app/review/configreview.h"
#include "app/service/busywindow.h"
#include "config/configdocument.h"
#include "config/daemonjudge.h"
#include "pages/modifiablewidget.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>

namespace
{
// How long Apply waits for a judgement still under way; without one in
// time it goes on with the rules' findings.
constexpr int applyWaitMs = 30000;

// The bytes as the file being edited, for the daemon of this machine.
JudgeSubject subjectOf(const QByteArray& bytes)
{
    return JudgeSubject{bytes, ConfigDocument::instance().path(), currentDaemon()};
}

bool isNotAsked(const CheckFinding& finding)
{
    return finding.line == 0 && finding.topic == QLatin1String(notAskedTopic);
}

// The sentence that the daemon could not be asked; empty when it was.
QString notAskedText(const QVector<CheckFinding>& findings)
{
    for (const CheckFinding& finding : findings) {
        if (isNotAsked(finding))
            return finding.text;
    }
    return QString();
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
    const QString notAsked = notAskedText(findings);
    if (!notAsked.isEmpty())
        text += QLatin1Char('\n') + notAsked + QLatin1Char('\n');
    return text;
}

// Waits for the daemon's judgement in a local event loop, the window shown
// busy meanwhile (it keeps repainting and takes no input).
void waitForTheDaemon(QWidget* parent, DaemonCheck* check)
{
    if (check->isJudged())
        return;
    std::unique_ptr<BusyWindow> busy;
    if (auto* window = qobject_cast<QMainWindow*>(parent ? parent->window() : nullptr))
        busy = std::make_unique<BusyWindow>(window);
    check->waitForJudgement(applyWaitMs);
}
} // namespace

CheckPanel::CheckPanel(const WindowHooks& hooks)
    : QDockWidget(tr("Check"), hooks.window), m_hooks(hooks), m_subject(new QLabel),
      m_judgement(new QLabel), m_list(new QTreeWidget),
      m_checkAction(new QAction(QIcon::fromTheme(QStringLiteral("checkmark")), tr("Check"), this))
{
    setObjectName(QStringLiteral("dwCheck"));
    m_checkAction->setObjectName(QStringLiteral("aCheck"));
    m_list->setObjectName(QStringLiteral("twFindings"));
    m_list->setHeaderLabels({tr("Line"), tr("Severity"), tr("Text")});
    m_list->setRootIsDecorated(false);
    m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_subject->setObjectName(QStringLiteral("lCheckSubject"));
    m_judgement->setObjectName(QStringLiteral("lJudgement"));
    m_judgement->setWordWrap(true);
    auto* checkButton = new QToolButton;
    checkButton->setObjectName(QStringLiteral("bCheck"));
    checkButton->setDefaultAction(m_checkAction);
    checkButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* top = new QHBoxLayout;
    top->addWidget(m_subject, 1);
    top->addWidget(checkButton);
    layout->addLayout(top);
    layout->addWidget(m_judgement);
    layout->addWidget(m_list);
    setWidget(body);
    connect(m_checkAction, &QAction::triggered, this, &CheckPanel::checkNow);
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

void CheckPanel::checkNow()
{
    DaemonJudge::instance().clear();
    show();
    raise();
    refresh();
}

bool CheckPanel::isJudged() const
{
    return m_check && m_check->isJudged();
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
    const QByteArray bytes =
        page ? bytesApplyWouldWrite(page) : ConfigDocument::instance().currentBytes();
    delete m_check;
    m_check = new DaemonCheck(subjectOf(bytes), this);
    connect(m_check, &DaemonCheck::judged, this, [this] {
        showFindings();
        emit judged();
    });
    m_subject->setText(page ? tr("Findings in what Apply would write:")
                            : tr("Findings in %1:").arg(ConfigDocument::instance().path()));
    showFindings();
}

void CheckPanel::showFindings()
{
    m_findings.clear();
    for (const CheckFinding& finding : m_check->findings()) {
        if (!isNotAsked(finding))
            m_findings.append(finding);
    }
    m_list->clear();
    for (const CheckFinding& finding : qAsConst(m_findings)) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, finding.line > 0 ? QString::number(finding.line) : QString());
        item->setText(1, severityName(finding.severity));
        item->setText(2, finding.text);
        item->setData(0, Qt::UserRole, finding.line);
    }
    if (m_findings.isEmpty()) {
        auto* none = new QTreeWidgetItem(m_list);
        none->setFirstColumnSpanned(true);
        none->setText(0, tr("No problems found"));
        none->setFlags(Qt::ItemIsEnabled);
    }
    showJudgement();
}

// Says once, above the findings, whether the daemon's word is in them.
void CheckPanel::showJudgement()
{
    if (!m_check->isJudged()) {
        m_judgement->setText(tr("Asking the installed NTP daemon..."));
        return;
    }
    const QString notAsked = notAskedText(m_check->findings());
    m_judgement->setText(notAsked.isEmpty()
                             ? tr("Judged by the installed NTP daemon and the program's rules.")
                             : notAsked);
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
    if (!page)
        return true;
    DaemonCheck check(subjectOf(bytesApplyWouldWrite(page)));
    waitForTheDaemon(parent, &check);
    const QVector<CheckFinding> findings = check.findings();
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
