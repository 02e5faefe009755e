#include "dialogs/CheckListControl.h"

#include "dialogs/ColorChooser.h"
#include "resources/LanguageResources.h"
#include "resources/QtText.h"
#include "settings/Keyword.h"
#include "settings/SettingsStore.h"

#include <QHeaderView>
#include <QKeyEvent>

#include <algorithm>

namespace {

constexpr int KeywordRole = Qt::UserRole + 1;
constexpr std::uint32_t DefaultWidthMark = 0xFFFFFFFF;
constexpr int LastColumnShrink = 3;
// A keyword's text in its row: far more than a column shows, far less than a keyword may
// hold, so the row's eliding never lays out a huge text.
constexpr qsizetype ShownTextUnits = 512;

QString shownText(const std::u16string& text)
{
    if (text.size() <= std::size_t(ShownTextUnits)) {
        return quill::toQString(text);
    }
    qsizetype cut = ShownTextUnits;
    if (QChar::isHighSurrogate(text[std::size_t(cut) - 1])) {
        --cut; // never half a character
    }
    return QString::fromUtf16(text.data(), cut) + QChar(0x2026);
}

} // namespace

CheckListControl::CheckListControl(QWidget* parent, SettingsStore* settings)
    : QTreeWidget(parent), m_settings(settings)
{
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    // Each column keeps the width it was given or dragged to; nothing stretches.
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    connect(this, &QTreeWidget::itemChanged, this, &CheckListControl::onItemChanged);
}

CheckListControl::~CheckListControl()
{
    storeColumnWidths();
}

SettingsStore& CheckListControl::settings() const
{
    return m_settings ? *m_settings : SettingsStore::instance();
}

void CheckListControl::setColumns(int count)
{
    m_columnCount = std::max(0, count);
    m_columnWidthIds.assign(static_cast<std::size_t>(m_columnCount), 0);
    m_defaultColumnWidth = m_columnCount > 0 ? width() / m_columnCount : 0;
    setColumnCount(m_columnCount);
}

void CheckListControl::addColumn(int index, StringId headerId, SettingId widthId)
{
    if (index < 0 || index >= m_columnCount) {
        return;
    }
    m_columnWidthIds[static_cast<std::size_t>(index)] = widthId;
    QTreeWidgetItem* head = headerItem();
    head->setText(index, LanguageResources::current().string(headerId));
    head->setTextAlignment(index, Qt::AlignLeft | Qt::AlignVCenter);
    const std::uint32_t stored = settings().dword(widthId);
    const SettingsValueRecord* record = findSettingsValue(widthId);
    int columnWidth = static_cast<int>(stored);
    bool untouched = record != nullptr && stored == record->numberDefault;
    if (stored == DefaultWidthMark) {
        columnWidth = m_defaultColumnWidth - (index == m_columnCount - 1 ? LastColumnShrink : 0);
        untouched = true;
    } else if (stored == 0 || stored > 0x7FFF) {
        // Anything wider than a screen is a damaged value, not a wish; so is a width of 0,
        // which would hide the column for good (it can no longer be dragged wider).
        columnWidth = m_defaultColumnWidth;
        untouched = true;
    }
    if (untouched) {
        // A width nobody chose is at least as wide as the header's text in this language
        // and font; a width the user dragged stays as it is.
        columnWidth = std::max(columnWidth, header()->sectionSizeHint(index));
    }
    setColumnWidth(index, std::max(0, columnWidth));
}

QTreeWidgetItem* CheckListControl::addKeywordRow(int index, Keyword* keyword)
{
    const LanguageResources& resources = LanguageResources::current();
    auto* item = new QTreeWidgetItem;
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, keyword && keyword->enabled ? Qt::Checked : Qt::Unchecked);
    if (keyword) {
        item->setText(1, shownText(keyword->text));
        item->setText(2, resources.string(keyword->matchCase ? StringId::Yes : StringId::No));
        item->setText(3, resources.string(keyword->matchWord ? StringId::Yes : StringId::No));
        if (m_columnCount > MatchOnlyColumn) {
            item->setCheckState(MatchOnlyColumn, keyword->matchOnly ? Qt::Checked : Qt::Unchecked);
        }
        item->setForeground(1, quill::colorFromRef(keyword->textColor));
        item->setBackground(1, quill::colorFromRef(keyword->backgroundColor));
    }
    insertTopLevelItem(std::clamp(index, 0, topLevelItemCount()), item);
    // Attached last: the check-box change of the insertion finds no keyword yet.
    item->setData(0, KeywordRole, QVariant::fromValue(reinterpret_cast<quintptr>(keyword)));
    return item;
}

Keyword* CheckListControl::keywordAt(int row) const
{
    const QTreeWidgetItem* item = topLevelItem(row);
    return item ? reinterpret_cast<Keyword*>(item->data(0, KeywordRole).value<quintptr>())
                : nullptr;
}

int CheckListControl::selectedRow() const
{
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.first());
}

void CheckListControl::selectRow(int row)
{
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        setCurrentItem(item);
        item->setSelected(true);
        scrollToItem(item);
    } else {
        clearSelection();
    }
}

void CheckListControl::storeColumnWidths()
{
    for (int i = 0; i < m_columnCount; ++i) {
        const SettingId id = m_columnWidthIds[static_cast<std::size_t>(i)];
        if (id != 0) {
            settings().setDword(id, static_cast<std::uint32_t>(columnWidth(i)));
        }
    }
}

void CheckListControl::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier &&
        selectedRow() >= 0) {
        emit deleteRequested();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void CheckListControl::onItemChanged(QTreeWidgetItem* item, int column)
{
    if (column != 0 && column != MatchOnlyColumn) {
        return;
    }
    const int row = indexOfTopLevelItem(item);
    Keyword* keyword = keywordAt(row);
    if (keyword == nullptr) {
        return;
    }
    if (column == MatchOnlyColumn) {
        keyword->matchOnly = item->checkState(MatchOnlyColumn) == Qt::Checked;
        return;
    }
    const bool enabled = item->checkState(0) == Qt::Checked;
    if (keyword->enabled != enabled) {
        keyword->enabled = enabled;
        emit keywordEnabledChanged(row, enabled);
    }
}
