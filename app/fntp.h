#pragma once

#include <QHash>
#include <QMainWindow>
#include <QString>
#include <functional>

class ModifiableWidget;
class QTreeWidgetItem;
class WindowEvents;
struct WindowHooks;
class QCloseEvent;
class QAction;
class QMenu;

namespace Ui
{
class FMain;
}

// The program's main window: navigation tree of categories and settings
// pages, the page stack, the per-page edit cycle and the service commands.
class FNTP : public QMainWindow
{
    Q_OBJECT
public:
    explicit FNTP(QWidget* parent = nullptr);
    ~FNTP() override;

    ModifiableWidget* editedPage() const { return m_editedPage; }

public slots:
    virtual void ntpdStart();
    virtual void ntpdRestart();
    virtual void ntpdStop();
    virtual void currentItemChanged(QTreeWidgetItem* item, QTreeWidgetItem* previous);
    virtual void openNtpConfig();
    virtual void ntpdReload();

private slots:
    void needApplyCancelDialog(ModifiableWidget* widget);
    void applyActionClicked();
    bool cancelActionClicked();
    void refleshWidgetData();
    void changeCurrentTreeItem();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct PageFactory;
    void buildTree();
    void addCategory(const QString& text, const QString& icon, const QList<PageFactory>& pages);
    void buildPage(int index);
    void connectActions();
    void restoreWindowSettings();
    void setEditing(ModifiableWidget* page);
    void setNavigationEnabled(bool enabled);
    WindowHooks hooks();
    void addMenu(QMenu* menu);
    void addToFileMenu(QAction* action);
    QList<ModifiableWidget*> builtPages() const;
    void reloadEveryPage();

    Ui::FMain* ui;
    WindowEvents* m_events;
    ModifiableWidget* m_editedPage = nullptr;
    // How to build each page not opened yet, by its place in the page stack.
    QHash<int, std::function<ModifiableWidget*(QWidget*)>> m_unbuiltPages;
};
