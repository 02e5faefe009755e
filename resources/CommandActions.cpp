#include "resources/CommandActions.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

#include <algorithm>

CommandActions::CommandActions(QObject* parent, const LanguageResources* resources)
    : QObject(parent)
    , m_resources(resources)
{
}

const LanguageResources& CommandActions::resources() const
{
    return m_resources ? *m_resources : LanguageResources::current();
}

QAction* CommandActions::action(int id)
{
    if (QAction* existing = find(id)) {
        return existing;
    }
    auto* created = new QAction(this);
    created->setObjectName(QStringLiteral("cmd_%1").arg(id));
    created->setData(id);
    created->setStatusTip(resources().commandPrompt(id));
    const QString tip = resources().commandTip(id);
    if (!tip.isEmpty()) {
        created->setToolTip(tip);
        created->setText(tip); // until a menu names it
    }
    connect(created, &QAction::triggered, this, [this, id] { emit triggered(id); });
    m_actions.insert(id, created);
    return created;
}

QAction* CommandActions::find(int id) const
{
    return m_actions.value(id, nullptr);
}

QList<QAction*> CommandActions::all() const
{
    QList<QAction*> actions;
    for (int id : ids()) {
        actions.append(m_actions.value(id));
    }
    return actions;
}

QList<int> CommandActions::ids() const
{
    QList<int> keys = m_actions.keys();
    std::sort(keys.begin(), keys.end());
    return keys;
}

void CommandActions::fillMenu(QMenu* menu, const QList<MenuEntry>& entries)
{
    for (const MenuEntry& entry : entries) {
        switch (entry.kind) {
        case MenuEntry::Kind::Separator:
            menu->addSeparator();
            break;
        case MenuEntry::Kind::Popup:
            fillMenu(menu->addMenu(entry.text), entry.items);
            break;
        case MenuEntry::Kind::Command: {
            QAction* command = action(entry.id);
            command->setText(entry.text);
            if (entry.checkable) {
                command->setCheckable(true);
            }
            menu->addAction(command);
            break;
        }
        }
    }
}

bool CommandActions::buildMenuBar(QMenuBar* bar, int menuId)
{
    if (!resources().hasMenu(menuId)) {
        return false;
    }
    bar->clear();
    for (const MenuEntry& popup : resources().menu(menuId)) {
        if (popup.kind == MenuEntry::Kind::Popup) {
            fillMenu(bar->addMenu(popup.text), popup.items);
        } else if (popup.kind == MenuEntry::Kind::Command) {
            QAction* command = action(popup.id);
            command->setText(popup.text);
            bar->addAction(command);
        }
    }
    return true;
}

QMenu* CommandActions::createPopupMenu(int menuId, QWidget* parent, int index)
{
    QList<MenuEntry> popups = resources().menu(menuId);
    popups.removeIf([](const MenuEntry& e) { return e.kind != MenuEntry::Kind::Popup; });
    if (index < 0 || index >= popups.size()) {
        return nullptr;
    }
    auto* menu = new QMenu(popups.at(index).text, parent);
    fillMenu(menu, popups.at(index).items);
    return menu;
}

bool CommandActions::buildToolBar(QToolBar* bar, int toolbarId)
{
    if (!resources().hasToolbar(toolbarId)) {
        return false;
    }
    bar->clear();
    for (const ToolbarEntry& entry : resources().toolbar(toolbarId)) {
        if (entry.id == 0) {
            bar->addSeparator();
            continue;
        }
        QAction* command = action(entry.id);
        const QIcon icon = resources().iconFile(entry.icon);
        if (!icon.isNull()) {
            command->setIcon(icon);
        }
        bar->addAction(command);
    }
    return true;
}

int CommandActions::applyAccelerators(int tableId)
{
    QHash<int, QList<QKeySequence>> keys;
    const QList<Accelerator> table = resources().accelerators(tableId);
    for (const Accelerator& accelerator : table) {
        keys[accelerator.id].append(accelerator.key);
    }
    for (auto it = keys.begin(); it != keys.end(); ++it) {
        action(it.key())->setShortcuts(it.value());
    }
    return static_cast<int>(table.size());
}
