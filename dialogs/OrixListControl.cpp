#include "dialogs/OrixListControl.h"

#include "dialogs/ColorChooser.h"
#include "resources/LanguageResources.h"
#include "resources/QtText.h"
#include "settings/Keyword.h"
#include "settings/SettingsStore.h"

#include <QHeaderView>

#include <algorithm>

namespace {

constexpr int StringYes = 146;
constexpr int StringNo = 147;
constexpr int KeywordRole = Qt::UserRole + 1;
constexpr std::uint32_t DefaultWidthMark = 0xFFFFFFFF;
constexpr int LastColumnShrink = 3;

} // namespace

COrixListControl::COrixListControl(QWidget* parent, SettingsStore* settings)
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
    connect(this, &QTreeWidget::itemChanged, this, &COrixListControl::onItemChanged);
}

COrixListControl::~COrixListControl()
{
    StoreColumnWidths();
}

SettingsStore& COrixListControl::settings() const
{
    return m_settings ? *m_settings : SettingsStore::instance();
}

void COrixListControl::SetColumnCount(int count)
{
    m_nColumnCount = std::max(0, count);
    m_columnWidthIds.assign(static_cast<std::size_t>(m_nColumnCount), 0);
    m_nDefaultColumnWidth = m_nColumnCount > 0 ? width() / m_nColumnCount : 0;
    setColumnCount(m_nColumnCount);
}

void COrixListControl::AddColumn(int index, int headerId, SettingId widthId)
{
    if (index < 0 || index >= m_nColumnCount) {
        return;
    }
    m_columnWidthIds[static_cast<std::size_t>(index)] = widthId;
    QTreeWidgetItem* head = headerItem();
    head->setText(index, LanguageResources::current().string(headerId));
    head->setTextAlignment(index, Qt::AlignLeft | Qt::AlignVCenter);
    const std::uint32_t stored = settings().GetDword(widthId);
    int columnWidth = static_cast<int>(stored);
    if (stored == DefaultWidthMark) {
        columnWidth = m_nDefaultColumnWidth - (index == m_nColumnCount - 1 ? LastColumnShrink : 0);
    } else if (stored > 0x7FFF) {
        // Anything wider than a screen is a damaged value, not a wish.
        columnWidth = m_nDefaultColumnWidth;
    }
    setColumnWidth(index, std::max(0, columnWidth));
}

QTreeWidgetItem* COrixListControl::AddKeywordRow(int index, CKeyword* keyword)
{
    const LanguageResources& resources = LanguageResources::current();
    auto* item = new QTreeWidgetItem;
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, keyword && keyword->m_bEnabled ? Qt::Checked : Qt::Unchecked);
    if (keyword) {
        item->setText(1, quill::toQString(keyword->m_strText));
        item->setText(2, resources.string(keyword->m_bMatchCase ? StringYes : StringNo));
        item->setText(3, resources.string(keyword->m_bMatchWord ? StringYes : StringNo));
        item->setForeground(1, quill::colorFromRef(keyword->m_crTextColor));
        item->setBackground(1, quill::colorFromRef(keyword->m_crBkColor));
    }
    insertTopLevelItem(std::clamp(index, 0, topLevelItemCount()), item);
    // Attached last: the check-box change of the insertion finds no keyword yet.
    item->setData(0, KeywordRole, QVariant::fromValue(reinterpret_cast<quintptr>(keyword)));
    return item;
}

CKeyword* COrixListControl::GetKeyword(int row) const
{
    const QTreeWidgetItem* item = topLevelItem(row);
    return item ? reinterpret_cast<CKeyword*>(item->data(0, KeywordRole).value<quintptr>())
                : nullptr;
}

int COrixListControl::GetSelectedRow() const
{
    const QList<QTreeWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.first());
}

void COrixListControl::SelectRow(int row)
{
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        setCurrentItem(item);
        item->setSelected(true);
        scrollToItem(item);
    } else {
        clearSelection();
    }
}

void COrixListControl::StoreColumnWidths()
{
    for (int i = 0; i < m_nColumnCount; ++i) {
        const SettingId id = m_columnWidthIds[static_cast<std::size_t>(i)];
        if (id != 0) {
            settings().SetDword(id, static_cast<std::uint32_t>(columnWidth(i)));
        }
    }
}

void COrixListControl::onItemChanged(QTreeWidgetItem* item, int column)
{
    if (column != 0) {
        return;
    }
    const int row = indexOfTopLevelItem(item);
    CKeyword* keyword = GetKeyword(row);
    if (keyword == nullptr) {
        return;
    }
    const bool enabled = item->checkState(0) == Qt::Checked;
    if (keyword->m_bEnabled != enabled) {
        keyword->m_bEnabled = enabled;
        emit keywordEnabledChanged(row, enabled);
    }
}
