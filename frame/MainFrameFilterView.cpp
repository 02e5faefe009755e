// The filter's lines as the main view: the switch's command, and the commands of marks and of
// keyword lines on those lines while they are shown so, and Go to Line among them (Find, Copy
// and Select All ask filterShownAsView).

#include "frame/FilterBar.h"
#include "frame/FilterPane.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"

#include "dialogs/GoToLineDialog.h"
#include "engine/LogDocument.h"
#include "view/FilterView.h"

#include <QCheckBox>
#include <QPointer>

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
    case CommandId::NextKeywordLine:
    case CommandId::PreviousKeywordLine:
        rows->jumpToKeywordRow(id == CommandId::NextKeywordLine);
        return true;
    case CommandId::GoToLine: {
        // To the row of the line, or of the first shown line after it.
        auto* dialog = new GoToLineDialog(activeDocument()->lineCount(), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<LogTab> tab(currentTab());
        connect(dialog, &QDialog::accepted, this, [dialog, tab] {
            const std::optional<std::uint32_t> line = dialog->chosenLine();
            if (tab && line) {
                tab->showLine(*line);
                tab->setFocus();
            }
        });
        dialog->open();
        return true;
    }
    default:
        return false;
    }
}
