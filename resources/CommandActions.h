#pragma once

// One QAction per command id, shared by the menu bar, the context menu, the toolbar and the
// accelerator table, so a command's enabled and checked state is set in one place. Actions
// are created on first use, owned by this object, named "cmd_<id>" and carry the id as
// data; their status tip and tool tip come from the command's string ("prompt\ntip").
//
// Building from the loaded package (LanguageResources::current() unless one is given):
//     CommandActions actions(mainWindow);
//     actions.buildMenuBar(mainWindow->menuBar(), ResourceId::MainFrame);
//     actions.buildToolBar(toolBar, ResourceId::MainFrame);
//     actions.applyAccelerators(ResourceId::MainFrame);
//     mainWindow->addActions(actions.all()); // shortcuts of commands on no visible bar
//     connect(&actions, &CommandActions::triggered, frame, &MainFrame::onCommand);
// The menu item CommandId::RecentFile1 is the recent-file placeholder: its owner replaces or hides
// it. Main (user-interface) thread only.

#include "resources/LanguageResources.h"

#include <QHash>
#include <QObject>

class QAction;
class QMenu;
class QMenuBar;
class QToolBar;

class CommandActions : public QObject {
    Q_OBJECT
public:
    explicit CommandActions(QObject* parent = nullptr,
                            const LanguageResources* resources = nullptr);

    // The action of a command id, created when first asked for.
    QAction* action(int id);
    // The action if it exists, else nullptr.
    QAction* find(int id) const;
    QList<QAction*> all() const;
    QList<int> ids() const;

    // Fills bar with the popups of menu id (cleared first). False when the menu is missing.
    bool buildMenuBar(QMenuBar* bar, int menuId);
    bool buildMenuBar(QMenuBar* bar, ResourceId menuId)
    {
        return buildMenuBar(bar, static_cast<int>(menuId));
    }
    // Popup index of menu id as a new QMenu owned by parent; nullptr when missing. The
    // context menu is the first popup of menu ResourceId::ContextMenu.
    QMenu* createPopupMenu(int menuId, QWidget* parent, int index = 0);
    QMenu* createPopupMenu(ResourceId menuId, QWidget* parent, int index = 0)
    {
        return createPopupMenu(static_cast<int>(menuId), parent, index);
    }
    // Fills bar with the buttons of toolbar id (cleared first). False when missing.
    bool buildToolBar(QToolBar* bar, int toolbarId);
    bool buildToolBar(QToolBar* bar, ResourceId toolbarId)
    {
        return buildToolBar(bar, static_cast<int>(toolbarId));
    }
    // Sets every key of accelerator table id on its command's action (a command may have
    // several keys). Returns the number of keys set; 0 when the table is missing.
    int applyAccelerators(int tableId);
    int applyAccelerators(ResourceId tableId)
    {
        return applyAccelerators(static_cast<int>(tableId));
    }

signals:
    void triggered(int id);

private:
    void fillMenu(QMenu* menu, const QList<MenuEntry>& entries);
    const LanguageResources& resources() const;

    const LanguageResources* m_resources;
    QHash<int, QAction*> m_actions;
};
