#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class ModifiableWidget;
class QAction;
class QBoxLayout;
class QMainWindow;
class QMenu;
class QStatusBar;
class QToolBar;

// What the main window tells its features while it runs.
class WindowEvents : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    // A page entered the edit state (true), or the edit state ended.
    void editingChanged(bool editing);
    // A settings page was built, on its first opening.
    void pageBuilt(ModifiableWidget* page);
    // A service command ("start", "stop", "restart", "force-reload") has
    // run, whatever its outcome.
    void serviceCommandFinished(const QString& verb);
};

// Everything of the main window that a feature (status, review, service)
// may use. The window creates each feature with these and the feature
// reaches nothing else of it: no feature looks up the window's form objects
// by name or includes the window's header.
struct WindowHooks {
    QMainWindow* window = nullptr; // parent of the feature's widgets and boxes
    // Menus in the usual order: File, the features' menus (in the order
    // added), Server, Help. An entry added to a menu of the window goes
    // after its own entries, except in the File menu, where "Exit" stays
    // last.
    std::function<void(QMenu*)> addMenu;
    std::function<void(QAction*)> addToFileMenu;
    QMenu* serverMenu = nullptr;
    QToolBar* serviceToolBar = nullptr; // start, stop, restart, reload
    QToolBar* dialogToolBar = nullptr;  // Apply, Cancel
    QAction* applyAction = nullptr;
    QStatusBar* statusBar = nullptr;
    QBoxLayout* aboveThePages = nullptr; // the layout whose first place is above the pages
    WindowEvents* events = nullptr;
    // The page with unapplied edits; nullptr while none is edited.
    std::function<ModifiableWidget*()> editedPage;
    // The settings pages built so far.
    std::function<QList<ModifiableWidget*>()> builtPages;
    // Reads the file anew into the shared record and every built page,
    // without any of them entering the edit state.
    std::function<void()> reloadEveryPage;
};
