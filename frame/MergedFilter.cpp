// The filter of a merged tab in the tab and the window: its pane below the merged area, its
// rows in place of the area (Filter as View), and the commands that act on them while the
// merged tab is in front.

#include "frame/FilterBar.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MergedFilterPane.h"
#include "frame/MergedPart.h"

#include "engine/MergedFilterRows.h"
#include "resources/CommandActions.h"
#include "settings/SettingsStore.h"
#include "view/LogView.h"
#include "view/MergedArea.h"
#include "view/MergedFilterView.h"
#include "view/MergedRowSource.h"

#include <QAction>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLayout>
#include <QSplitter>

#include <algorithm>

void LogTab::attachMergedFilter()
{
    MergedArea* area = m_merged->area();
    m_mergedSplitter = new QSplitter(Qt::Vertical, this);
    m_mergedSplitter->setObjectName(QStringLiteral("mergedSplitter"));
    m_mergedSplitter->setChildrenCollapsible(false);
    m_mergedFilter = new MergedFilterPane(m_merged.get(), m_mergedSplitter);
    m_mergedSplitter->addWidget(area);
    m_mergedSplitter->addWidget(m_mergedFilter);
    m_mergedSplitter->setStretchFactor(0, 1);
    m_mergedSplitter->setStretchFactor(1, 0);
    m_mergedSplitter->handle(1)->setEnabled(false);
    layout()->addWidget(m_mergedSplitter);
    mergedFilterSettingsChanged();

    MergedFilterPane* pane = m_mergedFilter;
    connect(m_merged.get(), &MergedPart::rowsChanging, pane, &MergedFilterPane::rowsChanging);
    connect(m_merged.get(), &MergedPart::rowsChanged, pane, &MergedFilterPane::rowsChanged);
    connect(pane, &MergedFilterPane::activeChanged, this, &LogTab::placeMergedFilter);
    connect(pane, &MergedFilterPane::asViewChanged, this, &LogTab::showMergedFilterAsView);
    connect(pane, &MergedFilterPane::mergedRowActivated, this, [this, area](std::size_t row) {
        // As the main view the rows are where the user works: a click only moves there.
        if (!m_mergedFilter->showsAsView() && row < area->rowCount()) {
            area->selectInRow(row, 0, -1);
            emit commandStatesChanged();
        }
    });
    connect(pane, &MergedFilterPane::clearedByUser, this, [area] { area->setFocus(); });
    connect(pane->view(), &TextArea::selectionPresenceChanged, this, &LogTab::commandStatesChanged);
    connect(m_mergedSplitter, &QSplitter::splitterMoved, this, [this] {
        if (m_mergedFilter->isActive()) {
            SettingsStore::instance().setDword(
                Setting::FilterPaneHeight, static_cast<std::uint32_t>(m_mergedFilter->height()));
        }
    });
}

void LogTab::mergedFilterSettingsChanged()
{
    if (m_mergedFilter == nullptr) {
        return;
    }
    MergedFilterView* rows = m_mergedFilter->view();
    rows->setTextFont(m_view->renderer().font());
    rows->setWrapLines(SettingsStore::instance().boolValue(Setting::WrapLongLines));
    rows->rows().retexted();
    rows->viewport()->update();
}

void LogTab::placeMergedFilter(bool active)
{
    const bool asView = m_mergedFilter->showsAsView();
    m_mergedSplitter->handle(1)->setEnabled(active && !asView);
    if (asView) {
        return; // the merged area is hidden: the pane has all the room
    }
    const int total = m_mergedSplitter->height();
    const int bar = m_mergedFilter->bar()->sizeHint().height();
    if (!active) {
        m_mergedSplitter->setSizes({std::max(0, total - bar), bar});
        return;
    }
    const int stored = static_cast<int>(std::min<std::uint32_t>(
        SettingsStore::instance().dword(Setting::FilterPaneHeight), QWIDGETSIZE_MAX));
    const int rows = std::max(1, m_merged->area()->rowHeight());
    const int least = bar + 4 * rows;
    const int most = std::max(least, total - 4 * rows);
    const int height = std::clamp(stored > 0 ? stored : total / 3, least, most);
    m_mergedSplitter->setSizes({std::max(0, total - height), height});
}

void LogTab::showMergedRow(std::size_t row)
{
    if (m_mergedFilter != nullptr && m_mergedFilter->showsAsView()) {
        MergedFilterView* rows = m_mergedFilter->view();
        if (rows->rowCount() > 0) {
            rows->selectInRow(
                std::min(m_mergedFilter->rows()->lowerBound(row), rows->rowCount() - 1), 0, -1);
        }
        rows->setFocus();
        return;
    }
    MergedArea* area = m_merged->area();
    if (area->rowCount() > 0) {
        area->selectInRow(std::min(row, area->rowCount() - 1), 0, -1);
    }
    area->setFocus();
}

void LogTab::showMergedFilterAsView(bool shown)
{
    MergedFilterView* rows = m_mergedFilter->view();
    MergedArea* area = m_merged->area();
    const bool focused = rows->hasFocus() || area->hasFocus();
    if (shown) {
        // The rows go on from the merged row the user was at (or the first after it).
        if (area->isFollowing() || area->rowCount() == 0) {
            rows->followEnd();
        } else {
            const std::size_t top = area->firstVisibleRow();
            const std::size_t current = area->currentRow();
            const auto screen = std::size_t(
                std::max(1, area->viewport()->height() / std::max(1, area->rowHeight())));
            const std::size_t at = current >= top && current < top + screen ? current : top;
            const std::size_t row = m_mergedFilter->rows()->lowerBound(at);
            rows->rearrangeRows(row, row);
        }
        area->hide();
        setFocusProxy(rows);
        if (focused) {
            rows->setFocus();
        }
    } else {
        const std::optional<std::size_t> row = rows->placeRow();
        area->show();
        setFocusProxy(area);
        if (focused) {
            area->setFocus();
        }
        placeMergedFilter(m_mergedFilter->isActive());
        if (row && *row < area->rowCount()) {
            area->rearrangeRows(*row, *row);
        }
    }
    emit commandStatesChanged();
}

bool MainFrame::runMergedFilterCommand(int id)
{
    MergedFilterPane* pane = m_front != nullptr ? m_front->mergedFilter() : nullptr;
    if (pane == nullptr) {
        return false;
    }
    MergedFilterView* rows = pane->view();
    // The rows take Copy and Select All while they have the keyboard or stand for the area.
    const bool rowsInFront = pane->isActive() && (rows->hasFocus() || pane->showsAsView());
    switch (id) {
    case CommandId::Filter:
        pane->bar()->focusField();
        return true;
    case CommandId::FilterAsView: {
        const bool on = !pane->bar()->asViewSwitch()->isChecked();
        pane->setAsViewSwitch(on);
        if (on && !pane->isActive()) {
            // Nothing to show yet: the user is about to write the filter.
            pane->bar()->focusField();
        }
        return true;
    }
    case CommandId::Copy:
        if (!rowsInFront) {
            return false;
        }
        if (rows->canCopy()) {
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            const CopyResult result = rows->onEditCopy();
            QGuiApplication::restoreOverrideCursor();
            reportCopy(result);
        }
        return true;
    case CommandId::SelectAll:
        if (!rowsInFront) {
            return false;
        }
        rows->onEditSelectAll();
        return true;
    case CommandId::ToggleMark:
    case CommandId::NextMark:
    case CommandId::PreviousMark:
        // The marks are the files': on the rows while they stand for the area.
        if (!pane->showsAsView()) {
            return false;
        }
        if (id == CommandId::ToggleMark) {
            rows->toggleMarkAtCurrentRow();
        } else {
            rows->jumpToMark(id == CommandId::NextMark);
        }
        return true;
    default:
        return false;
    }
}

TextArea* MainFrame::mergedRowsInFront() const
{
    MergedFilterPane* pane = m_front->mergedFilter();
    if (pane != nullptr && pane->showsAsView()) {
        return pane->view();
    }
    return m_front->merged()->area();
}

void MainFrame::setMergedFilterFindHighlight(const std::u16string& text, unsigned flags)
{
    if (MergedFilterPane* pane = currentTab()->mergedFilter()) {
        pane->view()->setFindHighlight(text, flags);
    }
}

void MainFrame::updateMergedFilterCommandStates()
{
    MergedFilterPane* pane = m_front != nullptr ? m_front->mergedFilter() : nullptr;
    if (pane == nullptr) {
        return;
    }
    commandAction(CommandId::Filter)->setEnabled(true);
    commandAction(CommandId::FilterAsView)->setEnabled(true);
    commandAction(CommandId::FilterAsView)->setChecked(pane->bar()->asViewSwitch()->isChecked());
    MergedFilterView* rows = pane->view();
    if (pane->isActive() && (rows->hasFocus() || pane->showsAsView())) {
        commandAction(CommandId::Copy)->setEnabled(rows->canCopy());
    }
}
