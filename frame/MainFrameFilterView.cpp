// The filter's lines as the main view: the switch's command, and the marks' commands on
// those lines while they are shown so (Find, Copy and Select All ask filterShownAsView).

#include "frame/FilterBar.h"
#include "frame/FilterPane.h"
#include "frame/MainFrame.h"

#include "view/FilterView.h"

#include <QCheckBox>

bool MainFrame::filterShownAsView() const
{
    return currentTab() != nullptr && filterPane()->showsAsView();
}

void MainFrame::onFilterAsView()
{
    FilterPane* pane = filterPane();
    const bool on = !pane->bar()->asViewSwitch()->isChecked();
    pane->setAsViewSwitch(on);
    if (on && !pane->isActive()) {
        // Nothing to show yet: the user is about to write the filter.
        pane->bar()->focusField();
    }
}

bool MainFrame::runFilterViewCommand(int id)
{
    if (id == CommandId::FilterAsView) {
        onFilterAsView();
        return true;
    }
    if (!filterShownAsView()) {
        return false;
    }
    FilterView* rows = filterPane()->view();
    switch (id) {
    case CommandId::ToggleMark:
        rows->toggleMarkAtCurrentRow();
        return true;
    case CommandId::NextMark:
    case CommandId::PreviousMark:
        rows->jumpToMark(id == CommandId::NextMark);
        return true;
    default:
        return false;
    }
}
