#include "resources/LanguageResources.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>
#include <QUiLoader>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The sizes a toolbar (16, 24), a menu (16, 32 on high-density screens) and a window list
// (48 and up) ask for; drawing them once avoids depending on the SVG icon-engine plugin.
constexpr int IconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The style's disabled look, faded further: the style only greys an icon, and a grey icon
// (copy, find) then looks the same enabled or not.
constexpr qreal DisabledOpacity = 0.4;

QPixmap disabledPixmap(const QPixmap& normal)
{
    QPixmap grey = normal;
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QStyleOption option;
        option.palette = QApplication::palette();
        grey = app->style()->generatedIconPixmap(QIcon::Disabled, normal, &option);
    }
    QPixmap faded(grey.size());
    faded.setDevicePixelRatio(grey.devicePixelRatio());
    faded.fill(Qt::transparent);
    QPainter painter(&faded);
    painter.setOpacity(DisabledOpacity);
    painter.drawPixmap(0, 0, grey);
    return faded;
}

QPixmap renderSvg(QSvgRenderer& renderer, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

QString idKey(int id)
{
    return QString::number(id);
}

QList<MenuEntry> parseMenuItems(const QJsonArray& items)
{
    QList<MenuEntry> entries;
    for (const QJsonValue& value : items) {
        const QJsonObject item = value.toObject();
        MenuEntry entry;
        if (item.value(QLatin1String("separator")).toBool()) {
            entry.kind = MenuEntry::Kind::Separator;
        } else if (item.contains(QLatin1String("items"))) {
            entry.kind = MenuEntry::Kind::Popup;
            entry.text = item.value(QLatin1String("text")).toString();
            entry.items = parseMenuItems(item.value(QLatin1String("items")).toArray());
        } else {
            entry.id = item.value(QLatin1String("id")).toInt();
            if (entry.id <= 0) {
                continue; // a command without an id could never be dispatched
            }
            entry.text = item.value(QLatin1String("text")).toString();
            entry.checkable = item.value(QLatin1String("checkable")).toBool();
        }
        entries.append(entry);
    }
    return entries;
}

} // namespace

LanguageResources& LanguageResources::current()
{
    static LanguageResources s_current;
    return s_current;
}

LanguageResources::LanguageResources(const QString& root)
{
    setRoot(root);
}

void LanguageResources::setRoot(const QString& root)
{
    m_root = root;
    m_documents.clear();
    m_strings.clear();
    m_stringsLoaded = false;
    m_icons.clear();
}

QString LanguageResources::filePath(const QString& relativePath) const
{
    return m_root + QLatin1Char('/') + relativePath;
}

const QJsonObject& LanguageResources::document(const QString& file) const
{
    auto it = m_documents.find(file);
    if (it == m_documents.end()) {
        QJsonObject object;
        if (isLoaded()) {
            QFile f(filePath(file));
            if (f.open(QIODevice::ReadOnly)) {
                // A damaged table reads as empty: the program then lacks those resources,
                // which each user of them already tolerates.
                object = QJsonDocument::fromJson(f.readAll()).object();
            }
        }
        it = m_documents.insert(file, object);
    }
    return *it;
}

QJsonObject LanguageResources::packageSection(const QString& name) const
{
    return document(QStringLiteral("package.json")).value(name).toObject();
}

QString LanguageResources::string(int id) const
{
    if (!m_stringsLoaded) {
        const QJsonObject table = document(QStringLiteral("strings.json"));
        for (auto it = table.begin(); it != table.end(); ++it) {
            bool ok = false;
            const int key = it.key().toInt(&ok);
            if (ok && it.value().isString()) {
                m_strings.insert(key, it.value().toString());
            }
        }
        m_stringsLoaded = true;
    }
    const auto it = m_strings.constFind(id);
    if (it != m_strings.constEnd()) {
        return *it;
    }
    switch (id) {
    case static_cast<int>(StringId::OpenTitle):
        return QStringLiteral("Open");
    case static_cast<int>(StringId::AllFilesFilter):
        return QStringLiteral("All Files (*.*)");
    default:
        return {};
    }
}

bool LanguageResources::hasString(int id) const
{
    (void)string(id);
    return m_strings.contains(id);
}

QList<int> LanguageResources::stringIds() const
{
    (void)string(0);
    QList<int> ids = m_strings.keys();
    std::sort(ids.begin(), ids.end());
    return ids;
}

QString LanguageResources::format(int id, const QString& a1, const QString& a2,
                                  const QString& a3) const
{
    // Like the platform's message formatting: each %1, %2, %3 is replaced once, in one pass,
    // and a template may use any subset of them (QString::arg would warn about the rest).
    const QString text = string(id);
    const QString* inserts[] = {&a1, &a2, &a3};
    QString result;
    result.reserve(text.size() + a1.size() + a2.size() + a3.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('%') && i + 1 < text.size()) {
            const int digit = text.at(i + 1).digitValue();
            if (digit >= 1 && digit <= 3) {
                result += *inserts[digit - 1];
                ++i;
                continue;
            }
        }
        result += c;
    }
    return result;
}

QString LanguageResources::commandPrompt(int id) const
{
    return string(id).section(QLatin1Char('\n'), 0, 0);
}

QString LanguageResources::commandTip(int id) const
{
    const QString text = string(id);
    return text.contains(QLatin1Char('\n')) ? text.section(QLatin1Char('\n'), 1, 1) : QString();
}

QList<MenuEntry> LanguageResources::menu(int id) const
{
    return parseMenuItems(document(QStringLiteral("menus.json")).value(idKey(id)).toArray());
}

bool LanguageResources::hasMenu(int id) const
{
    return document(QStringLiteral("menus.json")).value(idKey(id)).isArray();
}

QList<ToolbarEntry> LanguageResources::toolbar(int id) const
{
    QList<ToolbarEntry> entries;
    const QJsonArray items = packageSection(QStringLiteral("toolbars")).value(idKey(id)).toArray();
    for (const QJsonValue& value : items) {
        const QJsonObject item = value.toObject();
        ToolbarEntry entry;
        if (!item.value(QLatin1String("separator")).toBool()) {
            entry.id = item.value(QLatin1String("id")).toInt();
            entry.icon = item.value(QLatin1String("icon")).toString();
            if (entry.id <= 0) {
                continue;
            }
        }
        entries.append(entry);
    }
    return entries;
}

bool LanguageResources::hasToolbar(int id) const
{
    return packageSection(QStringLiteral("toolbars")).value(idKey(id)).isArray();
}

QList<Accelerator> LanguageResources::accelerators(int id) const
{
    QList<Accelerator> table;
    const QJsonArray items =
        packageSection(QStringLiteral("accelerators")).value(idKey(id)).toArray();
    for (const QJsonValue& value : items) {
        const QJsonObject item = value.toObject();
        Accelerator accelerator;
        accelerator.key = QKeySequence::fromString(item.value(QLatin1String("key")).toString(),
                                                   QKeySequence::PortableText);
        accelerator.id = item.value(QLatin1String("id")).toInt();
        if (!accelerator.key.isEmpty() && accelerator.id > 0) {
            table.append(accelerator);
        }
    }
    return table;
}

bool LanguageResources::hasAccelerators(int id) const
{
    return packageSection(QStringLiteral("accelerators")).value(idKey(id)).isArray();
}

QIcon LanguageResources::iconFile(const QString& relativePath) const
{
    if (!isLoaded() || relativePath.isEmpty()) {
        return {};
    }
    const auto cached = m_icons.constFind(relativePath);
    if (cached != m_icons.constEnd()) {
        return *cached;
    }
    QIcon icon;
    const QString path = filePath(relativePath);
    if (relativePath.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        QSvgRenderer renderer(path);
        if (renderer.isValid()) {
            for (int size : IconSizes) {
                const QPixmap normal = renderSvg(renderer, size);
                icon.addPixmap(normal);
                icon.addPixmap(disabledPixmap(normal), QIcon::Disabled);
            }
        }
    } else {
        QPixmap pixmap(path);
        if (!pixmap.isNull()) {
            icon.addPixmap(pixmap);
            icon.addPixmap(disabledPixmap(pixmap), QIcon::Disabled);
        }
    }
    m_icons.insert(relativePath, icon);
    return icon;
}

QIcon LanguageResources::icon(int id) const
{
    return iconFile(packageSection(QStringLiteral("icons")).value(idKey(id)).toString());
}

std::optional<QCursor> LanguageResources::cursor(int id) const
{
    const QJsonObject entry = packageSection(QStringLiteral("cursors")).value(idKey(id)).toObject();
    const QString file = entry.value(QLatin1String("file")).toString();
    if (!isLoaded() || file.isEmpty()) {
        return std::nullopt;
    }
    const int size = std::clamp(entry.value(QLatin1String("size")).toInt(32), 8, 256);
    QPixmap pixmap;
    if (file.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        QSvgRenderer renderer(filePath(file));
        if (renderer.isValid()) {
            pixmap = renderSvg(renderer, size);
        }
    } else {
        pixmap.load(filePath(file));
    }
    if (pixmap.isNull()) {
        return std::nullopt;
    }
    const QJsonArray hotspot = entry.value(QLatin1String("hotspot")).toArray();
    const int x = std::clamp(hotspot.at(0).toInt(0), 0, pixmap.width() - 1);
    const int y = std::clamp(hotspot.at(1).toInt(0), 0, pixmap.height() - 1);
    return QCursor(pixmap, x, y);
}

QString LanguageResources::dialogPath(int id) const
{
    return isLoaded() ? filePath(QStringLiteral("dialogs/%1.ui").arg(id)) : QString();
}

bool LanguageResources::hasDialog(int id) const
{
    return isLoaded() && QFile::exists(dialogPath(id));
}

QWidget* LanguageResources::loadDialog(int id, QWidget* parent, QUiLoader* loader) const
{
    if (!isLoaded()) {
        return nullptr;
    }
    QFile file(dialogPath(id));
    if (!file.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    QUiLoader ownLoader;
    QUiLoader& ui = loader ? *loader : ownLoader;
    return ui.load(&file, parent);
}

QWidget* LanguageResources::setupDialog(QDialog* host, int id, QUiLoader* loader) const
{
    QWidget* form = loadDialog(id, host, loader);
    if (!form) {
        return nullptr;
    }
    // The form keeps its own layout; the host only frames it, so the template's margins
    // and spacing are the translator's to tune.
    auto* layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(form);
    host->setWindowTitle(form->windowTitle());
    if (auto* ok = control<QAbstractButton>(form, ControlId::Ok)) {
        QObject::connect(ok, &QAbstractButton::clicked, host, &QDialog::accept);
    }
    if (auto* cancel = control<QAbstractButton>(form, ControlId::Cancel)) {
        QObject::connect(cancel, &QAbstractButton::clicked, host, &QDialog::reject);
    }
    return form;
}
