#pragma once

// Resources of the loaded language package, looked up by id: strings, menus, toolbars,
// accelerator tables, icons, cursors and dialog templates. Code passes the names of
// resources/ResourceIds.h; the int forms serve ids that come from data (menus, tables).
//
// A package is a Qt resource bundle rooted at :/lang/<CODE> (see lang/README.md):
//     strings.json       {"<id>": "text", ...}
//     menus.json         {"<id>": [popup, ...]}; popup = {"text", "items": [entry, ...]};
//                        entry = {"id", "text", "checkable"?} | {"separator": true} | popup
//     package.json       {"toolbars": {"<id>": [{"id", "icon"} | {"separator": true}]},
//                         "accelerators": {"<id>": [{"key", "id"}]},
//                         "icons": {"<id>": "file"}, "cursors": {"<id>": {"file", "size",
//                         "hotspot": [x, y]}}}
//     dialogs/<id>.ui    Qt Designer forms; each control's object name is "id_<control id>"
//
// ResourceHandler points current() at the package it loads; everything else reads from
// current(). A lookup that finds nothing gives an empty result (empty text, empty list,
// null icon, nullopt, nullptr) and never fails louder. Main (user-interface) thread only;
// parsed tables are cached until the root changes.

#include "resources/ResourceIds.h"

#include <QCursor>
#include <QHash>
#include <QIcon>
#include <QJsonObject>
#include <QKeySequence>
#include <QList>
#include <QString>
#include <QWidget>

#include <optional>

class QDialog;
class QUiLoader;

struct MenuEntry {
    enum class Kind { Command, Separator, Popup };
    Kind kind = Kind::Command;
    int id = 0;             // command id (Command only)
    QString text;           // with '&' mnemonics (Command, Popup)
    bool checkable = false; // Command only
    QList<MenuEntry> items; // Popup only
};

// One toolbar slot; id 0 is a separator.
struct ToolbarEntry {
    int id = 0;
    QString icon; // package-relative file
};

struct Accelerator {
    QKeySequence key;
    int id = 0;
};

class LanguageResources {
public:
    // The program's resources: the package ResourceHandler loaded, or none.
    static LanguageResources& current();

    LanguageResources() = default;
    explicit LanguageResources(const QString& root);

    // ":/lang/EN" or empty for none; drops every cached table.
    void setRoot(const QString& root);
    const QString& root() const { return m_root; }
    bool isLoaded() const { return !m_root.isEmpty(); }

    // The text of a string id; empty when missing. The stock strings OpenTitle ("Open") and
    // AllFilesFilter ("All Files (*.*)") are the program's own and used when the package
    // lacks them.
    QString string(int id) const;
    QString string(StringId id) const { return string(static_cast<int>(id)); }
    bool hasString(int id) const;
    bool hasString(StringId id) const { return hasString(static_cast<int>(id)); }
    QList<int> stringIds() const;
    // string(id) with %1..%3 replaced in one pass, so an insert that itself holds "%2"
    // stays as it is.
    QString format(int id, const QString& a1, const QString& a2 = {},
                   const QString& a3 = {}) const;
    QString format(StringId id, const QString& a1, const QString& a2 = {},
                   const QString& a3 = {}) const
    {
        return format(static_cast<int>(id), a1, a2, a3);
    }
    // The status-bar prompt and the tool tip of a command: its string is "prompt\ntip".
    QString commandPrompt(int id) const;
    QString commandTip(int id) const;

    // The popups of a menu, in order; empty when the menu is missing.
    QList<MenuEntry> menu(int id) const;
    QList<MenuEntry> menu(ResourceId id) const { return menu(static_cast<int>(id)); }
    bool hasMenu(int id) const;
    QList<ToolbarEntry> toolbar(int id) const;
    QList<ToolbarEntry> toolbar(ResourceId id) const { return toolbar(static_cast<int>(id)); }
    bool hasToolbar(int id) const;
    QList<Accelerator> accelerators(int id) const;
    QList<Accelerator> accelerators(ResourceId id) const
    {
        return accelerators(static_cast<int>(id));
    }
    bool hasAccelerators(int id) const;

    // Icons are drawn from SVG at the sizes a toolbar, a menu and a window list ask for.
    QIcon icon(int id) const;
    QIcon icon(ResourceId id) const { return icon(static_cast<int>(id)); }
    QIcon iconFile(const QString& relativePath) const;
    std::optional<QCursor> cursor(int id) const;
    std::optional<QCursor> cursor(ResourceId id) const { return cursor(static_cast<int>(id)); }

    // Dialog template id as a new widget (the form's root class, QWidget in our packages),
    // owned by parent; nullptr when missing or unreadable. A custom loader can create
    // widgets of its own classes for some object names.
    QString dialogPath(int id) const;
    bool hasDialog(int id) const;
    QWidget* loadDialog(int id, QWidget* parent = nullptr, QUiLoader* loader = nullptr) const;
    QWidget* loadDialog(ResourceId id, QWidget* parent = nullptr, QUiLoader* loader = nullptr) const
    {
        return loadDialog(static_cast<int>(id), parent, loader);
    }
    // Loads template id as the only content of host: host takes its title, and the
    // buttons id_1 (OK) and id_2 (Cancel) accept and reject. Returns the form or nullptr.
    QWidget* setupDialog(QDialog* host, int id, QUiLoader* loader = nullptr) const;
    QWidget* setupDialog(QDialog* host, ResourceId id, QUiLoader* loader = nullptr) const
    {
        return setupDialog(host, static_cast<int>(id), loader);
    }

    // Object name of a control id inside a template, "id_1006".
    static QString controlName(int id) { return QStringLiteral("id_%1").arg(id); }
    static QString controlName(ControlId id) { return controlName(static_cast<int>(id)); }
    template <typename T = QWidget>
    static T* control(const QWidget* form, int id)
    {
        return form ? form->findChild<T*>(controlName(id)) : nullptr;
    }
    template <typename T = QWidget> static T* control(const QWidget* form, ControlId id)
    {
        return control<T>(form, static_cast<int>(id));
    }

private:
    const QJsonObject& document(const QString& file) const;
    QJsonObject packageSection(const QString& name) const;
    QString filePath(const QString& relativePath) const;

    QString m_root;
    mutable QHash<QString, QJsonObject> m_documents;
    mutable QHash<int, QString> m_strings;
    mutable bool m_stringsLoaded = false;
    mutable QHash<QString, QIcon> m_icons;
};
