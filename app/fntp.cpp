#include "app/fntp.h"
#include "ui_fmain.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QTreeWidget>

#include "app/hooks/windowhooks.h"
#include "app/remotewindow.h"
#include "app/review/applyflow.h"
#include "app/review/configreview.h"
#include "app/service/desktopopener.h"
#include "app/service/servicecommand.h"
#include "app/status/statusfeature.h"
#include "config/configdocument.h"
#include "config/ntpsettings.h"
#include "pages/fbroadcast.h"
#include "pages/foptaccess.h"
#include "pages/fopthwclock.h"
#include "pages/foptmessage.h"
#include "pages/foptother.h"
#include "pages/foptstats.h"
#include "pages/foptsync.h"
#include "pages/listitemwidget.h"
#include "wispintegration/wisphelpmenu.h"

struct FNTP::PageFactory {
    std::function<ModifiableWidget*(QWidget*)> create;
    QString title;
    QString icon;
};

namespace
{
template <class Page> std::function<ModifiableWidget*(QWidget*)> factory()
{
    return [](QWidget* parent) {
        return new Page(parent);
    };
}

bool isValid(const QModelIndex& index)
{
    return index.model() && index.row() >= 0 && index.column() >= 0;
}

// As narrow as the tree's texts allow.
int treeWidthOf(QTreeWidget* tree)
{
    tree->resizeColumnToContents(0);
    return tree->columnWidth(0) + 2 * tree->frameWidth() +
           tree->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8;
}

// The size of a first start: room for every page's columns where the screen
// allows it, never below the form's own size. Counted in characters of the
// window's font, as the columns are.
QSize firstRunSizeOf(const QWidget* window)
{
    const QFontMetrics metrics = window->fontMetrics();
    const QSize wanted(224 * metrics.averageCharWidth(), 40 * metrics.lineSpacing());
    const QScreen* shown = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QSize available = shown ? shown->availableGeometry().size() * 0.92 : wanted;
    return wanted.boundedTo(available).expandedTo(QSize(436, 270));
}
} // namespace

FNTP::FNTP(QWidget* parent)
    : QMainWindow(parent), ui(new Ui::FMain), m_events(new WindowEvents(this))
{
    ui->setupUi(this);
    ui->applyAction->setEnabled(false);
    ui->cancelAction->setEnabled(false);
    connect(ui->applyAction, &QAction::triggered, this, &FNTP::applyActionClicked);
    connect(ui->cancelAction, &QAction::triggered, this, &FNTP::cancelActionClicked);
    ui->swList->addWidget(new QWidget);
    buildTree();
    connectActions();
    installDaemonStatus(hooks());

    auto* help = new WispHelpMenu(this);
    help->setTitle(tr("Help"));
    menuBar()->addMenu(help);
    installConfigReview(hooks());
    installRemoteHost(hooks());
    restoreWindowSettings();
}

// A feature's menu goes before Server, after File and the menus added
// before it: File, Edit, Server, Help.
void FNTP::addMenu(QMenu* menu)
{
    menuBar()->insertMenu(ui->menu_Server->menuAction(), menu);
}

// An entry added to the File menu goes above "Exit", which stays last.
void FNTP::addToFileMenu(QAction* action)
{
    ui->menu_File->insertAction(ui->aExit, action);
}

// The window's parts its features may use, and nothing else of it.
WindowHooks FNTP::hooks()
{
    WindowHooks hooks;
    hooks.window = this;
    hooks.addMenu = [this](QMenu* menu) {
        addMenu(menu);
    };
    hooks.addToFileMenu = [this](QAction* action) {
        addToFileMenu(action);
    };
    hooks.serverMenu = ui->menu_Server;
    hooks.serviceToolBar = ui->tbServer;
    hooks.dialogToolBar = ui->dialogToolBar;
    hooks.applyAction = ui->applyAction;
    hooks.statusBar = statusBar();
    hooks.aboveThePages = ui->verticalLayout;
    hooks.events = m_events;
    hooks.editedPage = [this] {
        return m_editedPage;
    };
    hooks.builtPages = [this] {
        return builtPages();
    };
    hooks.reloadEveryPage = [this] {
        reloadEveryPage();
    };
    return hooks;
}

QList<ModifiableWidget*> FNTP::builtPages() const
{
    return findChildren<ModifiableWidget*>();
}

void FNTP::reloadEveryPage()
{
    ConfigDocument::instance().load(&ntpSettings);
    for (ModifiableWidget* page : builtPages()) {
        const bool wasBlocked = page->blockSignals(true);
        page->loadSettings();
        page->blockSignals(wasBlocked);
    }
}

FNTP::~FNTP()
{
    QSettings settings;
    settings.setValue(QStringLiteral("MainWindow/State"), saveState(0));
    settings.setValue(QStringLiteral("MainWindow/Size"), size());
    settings.setValue(QStringLiteral("MainWindow/Splitter"), ui->splitter->saveState());
    delete ui;
}

void FNTP::buildTree()
{
    // The record the pages and the daemon status share, read now although
    // each page is built only when first opened.
    ConfigDocument::instance().load(&ntpSettings);
    addCategory(tr("Server"), QStringLiteral("network-server"),
                {{factory<FBroadcast>(), FBroadcast::pageTitle(), QStringLiteral("network")},
                 {factory<FOptHWClock>(), FOptHWClock::pageTitle(), QStringLiteral("clock")},
                 {factory<FOptAccess>(), FOptAccess::pageTitle(),
                  QStringLiteral("preferences-system-network")}});
    addCategory(
        tr("Client"), QStringLiteral("computer"),
        {{factory<FOptSync>(), FOptSync::pageTitle(), QStringLiteral("system-software-update")}});
    addCategory(
        tr("Common"), QStringLiteral("configure"),
        {{factory<FOptMessage>(), FOptMessage::pageTitle(), QStringLiteral("view-history")},
         {factory<FOptStats>(), FOptStats::pageTitle(), QStringLiteral("view-statistics")},
         {factory<FOptOther>(), FOptOther::pageTitle(), QStringLiteral("run-build-configure")}});
}

void FNTP::addCategory(const QString& text, const QString& icon, const QList<PageFactory>& pages)
{
    auto* list = new ListItemWidget;
    auto* category = new QTreeWidgetItem(ui->twList);
    category->setText(0, text);
    category->setExpanded(true);
    category->setIcon(0, QIcon::fromTheme(icon));
    category->setData(0, Qt::UserRole, ui->swList->addWidget(list));
    for (const PageFactory& entry : pages) {
        auto* item = new QTreeWidgetItem(category);
        item->setText(0, entry.title);
        item->setIcon(0, QIcon::fromTheme(entry.icon));
        // An empty stand-in holds the page's place until it is opened.
        const int index = ui->swList->addWidget(new QWidget);
        m_unbuiltPages.insert(index, entry.create);
        item->setData(0, Qt::UserRole, index);
        list->addPageItem(item, ui->swList, ui->twList);
    }
}

// Builds the page of stack place `index` the first time it is opened: the
// window appears without first filling, from a possibly large file, pages
// nobody has looked at yet.
void FNTP::buildPage(int index)
{
    const std::function<ModifiableWidget*(QWidget*)> create = m_unbuiltPages.take(index);
    if (!create)
        return;
    // The new page reads the file. Should it read another version than the
    // other pages did (another program changed the file meanwhile), they
    // are read again too: all pages then show the file the outside-change
    // guard compares with. None has unapplied edits now, as the tree is
    // locked while one has.
    const FileFingerprint readBefore = ConfigDocument::instance().loadedFingerprint();
    QWidget* standIn = ui->swList->widget(index);
    ModifiableWidget* page = create(this);
    ui->swList->insertWidget(index, page);
    ui->swList->removeWidget(standIn);
    delete standIn;
    connect(page, &ModifiableWidget::dataChanged, this, &FNTP::needApplyCancelDialog);
    if (ConfigDocument::instance().loadedFingerprint() != readBefore)
        reloadEveryPage();
    emit m_events->pageBuilt(page);
}

void FNTP::connectActions()
{
    connect(ui->aExit, &QAction::triggered, this, &QWidget::close);
    connect(ui->twList, &QTreeWidget::currentItemChanged, this, &FNTP::currentItemChanged);
    connect(ui->aStart, &QAction::triggered, this, &FNTP::ntpdStart);
    connect(ui->aStop, &QAction::triggered, this, &FNTP::ntpdStop);
    connect(ui->aRestart, &QAction::triggered, this, &FNTP::ntpdRestart);
    connect(ui->aReload, &QAction::triggered, this, &FNTP::ntpdReload);
    connect(ui->editConfig, &QAction::triggered, this, &FNTP::openNtpConfig);
    connect(ui->refleshWidgetAction, &QAction::triggered, this, &FNTP::refleshWidgetData);
    for (QAction* move :
         {ui->moveBackAction, ui->moveForwardAction, ui->moveUpAction, ui->moveDownAction})
        connect(move, &QAction::triggered, this, &FNTP::changeCurrentTreeItem);
}

void FNTP::restoreWindowSettings()
{
    // Only what was stored is restored: putting the form's own state back
    // would lay out every tool bar and dock a second time for nothing.
    QSettings settings;
    const QVariant splitter = settings.value(QStringLiteral("MainWindow/Splitter"));
    // The page area takes what the window gains; the tree keeps its width.
    ui->splitter->setStretchFactor(0, 0);
    ui->splitter->setStretchFactor(1, 1);
    const QSize first = firstRunSizeOf(this);
    if (splitter.isValid())
        ui->splitter->restoreState(splitter.toByteArray());
    else
        ui->splitter->setSizes({treeWidthOf(ui->twList), first.width() - treeWidthOf(ui->twList)});
    const QVariant state = settings.value(QStringLiteral("MainWindow/State"));
    if (state.isValid())
        restoreState(state.toByteArray(), 0);
    const QSize stored = settings.value(QStringLiteral("MainWindow/Size"), first).toSize();
    resize(stored.isValid() && !stored.isEmpty() ? stored : first);
}

void FNTP::currentItemChanged(QTreeWidgetItem* item, QTreeWidgetItem*)
{
    if (!item) {
        ui->swList->setCurrentIndex(0);
        ui->titleWidgetLineEdit->clear();
        ui->titleWidgetLineEdit->setReadOnly(true);
        ui->refleshWidgetAction->setEnabled(false);
        for (QAction* move :
             {ui->moveBackAction, ui->moveForwardAction, ui->moveUpAction, ui->moveDownAction})
            move->setEnabled(false);
        return;
    }
    const int index = item->data(0, Qt::UserRole).toInt();
    buildPage(index);
    ui->swList->setCurrentIndex(index);
    ui->titleWidgetLineEdit->setText(item->text(0));
    ui->titleWidgetLineEdit->setReadOnly(true);
    ui->refleshWidgetAction->setEnabled(
        qobject_cast<ModifiableWidget*>(ui->swList->currentWidget()) != nullptr);

    // The item's place in the tree: its row among its siblings.
    QTreeWidgetItem* parent = item->parent();
    const int row = parent ? parent->indexOfChild(item) : ui->twList->indexOfTopLevelItem(item);
    const int siblings = parent ? parent->childCount() : ui->twList->topLevelItemCount();
    ui->moveForwardAction->setEnabled(item->childCount() > 0);
    ui->moveBackAction->setEnabled(parent != nullptr);
    ui->moveUpAction->setEnabled(row > 0 || parent != nullptr);
    ui->moveDownAction->setEnabled(row >= 0 && row + 1 < siblings);
}

void FNTP::changeCurrentTreeItem()
{
    const QModelIndex current = ui->twList->currentIndex();
    if (!isValid(current))
        return;
    QModelIndex target;
    const QObject* action = sender();
    if (action == ui->moveUpAction) {
        target = current.sibling(current.row() - 1, 0);
        if (!isValid(target))
            target = current.parent();
    } else if (action == ui->moveDownAction) {
        target = current.sibling(current.row() + 1, 0);
    } else if (action == ui->moveBackAction) {
        target = current.parent();
    } else if (action == ui->moveForwardAction) {
        target = current.model()->index(0, 0, current);
    }
    if (isValid(target))
        ui->twList->setCurrentIndex(target);
}

void FNTP::setNavigationEnabled(bool enabled)
{
    ui->twList->setEnabled(enabled);
    for (QAction* action :
         {ui->aStart, ui->aStop, ui->aRestart, ui->aReload, ui->editConfig, ui->refleshWidgetAction,
          ui->moveBackAction, ui->moveForwardAction, ui->moveUpAction, ui->moveDownAction})
        action->setEnabled(enabled);
    ui->applyAction->setEnabled(!enabled);
    ui->cancelAction->setEnabled(!enabled);
}

void FNTP::setEditing(ModifiableWidget* page)
{
    const bool wasEditing = m_editedPage != nullptr;
    m_editedPage = page;
    setNavigationEnabled(page == nullptr);
    if (wasEditing != (page != nullptr))
        emit m_events->editingChanged(page != nullptr);
}

void FNTP::needApplyCancelDialog(ModifiableWidget* widget)
{
    setEditing(widget);
}

void FNTP::applyActionClicked()
{
    if (ModifiableWidget* page = m_editedPage) {
        page->setWindowTitle(ui->titleWidgetLineEdit->text()); // names the copy Apply keeps
        if (!applyPage(this, page))
            return;
        page->loadSettings();
    }
    setEditing(nullptr);
}

bool FNTP::cancelActionClicked()
{
    const auto answer = QMessageBox::question(
        this, tr("Cancel"),
        tr("Changes not saved!\nDo you want to finish edit element without saving?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
    if (answer != QMessageBox::Yes)
        return false;
    if (m_editedPage)
        m_editedPage->loadSettings();
    setEditing(nullptr);
    return true;
}

void FNTP::refleshWidgetData()
{
    if (auto* page = qobject_cast<ModifiableWidget*>(ui->swList->currentWidget())) {
        const bool wasBlocked = page->blockSignals(true);
        page->loadSettings();
        page->blockSignals(wasBlocked);
    }
}

void FNTP::closeEvent(QCloseEvent* event)
{
    if (ui->cancelAction->isEnabled() && !cancelActionClicked()) {
        event->ignore();
        return;
    }
    event->accept();
}

void FNTP::ntpdStart()
{
    runServiceCommand(this, QStringLiteral("start"), tr("Server started successfully"),
                      tr("Failed to start"));
    emit m_events->serviceCommandFinished(QStringLiteral("start"));
}

void FNTP::ntpdRestart()
{
    runServiceCommand(this, QStringLiteral("restart"), tr("Server restarted successfully"),
                      tr("Failed to start"));
    emit m_events->serviceCommandFinished(QStringLiteral("restart"));
}

void FNTP::ntpdStop()
{
    runServiceCommand(this, QStringLiteral("stop"), tr("Server stopped successfully"),
                      tr("Failed to stop"));
    emit m_events->serviceCommandFinished(QStringLiteral("stop"));
}

void FNTP::ntpdReload()
{
    runServiceCommand(this, QStringLiteral("force-reload"),
                      tr("Server configuration reload successfully"), tr("Failed to start"));
    emit m_events->serviceCommandFinished(QStringLiteral("force-reload"));
}

void FNTP::openNtpConfig()
{
    openInDesktopEditor(ConfigDocument::instance().path());
}
