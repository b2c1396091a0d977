#pragma once

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "app/hooks/windowhooks.h"

// A main window made of nothing but what the hooks name, for the features'
// tests: a feature has to work with the hooks alone, whatever window gives
// them.
struct BareWindow {
    QMainWindow window;
    QMenu* file = window.menuBar()->addMenu(QStringLiteral("File"));
    QMenu* server = window.menuBar()->addMenu(QStringLiteral("Server"));
    QMenu* help = window.menuBar()->addMenu(QStringLiteral("Help"));
    QToolBar* service = window.addToolBar(QStringLiteral("service"));
    QToolBar* dialog = window.addToolBar(QStringLiteral("dialog"));
    QAction* apply = dialog->addAction(QStringLiteral("Apply"));
    QWidget* central = new QWidget;
    QVBoxLayout* layout = new QVBoxLayout(central);
    WindowEvents events;
    ModifiableWidget* edited = nullptr;
    QList<ModifiableWidget*> pages;
    int reloads = 0;

    BareWindow()
    {
        window.setCentralWidget(central);
        layout->addWidget(new QWidget); // where the pages are
        apply->setEnabled(false);
    }

    WindowHooks hooks()
    {
        WindowHooks hooks;
        hooks.window = &window;
        hooks.addMenu = [this](QMenu* menu) {
            window.menuBar()->insertMenu(server->menuAction(), menu);
        };
        hooks.addToFileMenu = [this](QAction* action) {
            file->addAction(action);
        };
        hooks.serverMenu = server;
        hooks.serviceToolBar = service;
        hooks.dialogToolBar = dialog;
        hooks.applyAction = apply;
        hooks.statusBar = window.statusBar();
        hooks.aboveThePages = layout;
        hooks.events = &events;
        hooks.editedPage = [this] {
            return edited;
        };
        hooks.builtPages = [this] {
            return pages;
        };
        hooks.reloadEveryPage = [this] {
            ++reloads;
        };
        return hooks;
    }

    // Puts `page` into the edit state, as the window does.
    void edit(ModifiableWidget* page)
    {
        edited = page;
        apply->setEnabled(page != nullptr);
        emit events.editingChanged(page != nullptr);
    }
};
