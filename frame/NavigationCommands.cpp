#include "frame/NavigationCommands.h"

#include "dialogs/GoToLineDialog.h"
#include "engine/LogDocument.h"
#include "frame/LogTab.h"
#include "frame/MarksList.h"
#include "resources/CommandActions.h"
#include "settings/SettingsStore.h"
#include "view/LogView.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QTreeWidget>

#include <algorithm>

namespace {

void goToLine(LogView* view, QWidget* parent)
{
    LogDocument* document = view->document();
    if (document == nullptr) {
        return;
    }
    auto* dialog = new GoToLineDialog(document->lineCount(), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<LogView> target(view);
    QObject::connect(dialog, &QDialog::accepted, view, [dialog, target] {
        const std::optional<std::uint32_t> line = dialog->chosenLine();
        if (target && line) {
            target->showLine(*line);
            target->setFocus();
        }
    });
    dialog->open();
}

void showMarksList(LogView* view, QWidget* parent)
{
    LogTab* tab = nullptr;
    for (QWidget* up = view; up != nullptr && tab == nullptr; up = up->parentWidget()) {
        tab = qobject_cast<LogTab*>(up);
    }
    if (tab == nullptr) {
        return;
    }
    // One list at a time, of the tab in front now.
    if (auto* open = parent->findChild<MarksList*>(QString(), Qt::FindDirectChildrenOnly)) {
        open->close();
    }
    auto* list = new MarksList(tab, parent);
    list->setAttribute(Qt::WA_DeleteOnClose);
    list->show();
    list->activateWindow();
    list->list()->setFocus();
}

} // namespace

void NavigationCommands::prepare(CommandActions& actions)
{
    actions.action(CommandId::LineNumbers)->setCheckable(true);
    actions.action(CommandId::OverviewStrip)->setCheckable(true);
}

bool NavigationCommands::run(int id, LogView* view, QWidget* parent)
{
    if (std::find(Ids.begin(), Ids.end(), id) == Ids.end()) {
        return false;
    }
    if (view == nullptr) {
        return true;
    }
    switch (id) {
    case CommandId::LineNumbers: {
        SettingsStore& settings = SettingsStore::instance();
        const bool shown = !settings.boolValue(Setting::LineNumbers);
        settings.setBool(Setting::LineNumbers, shown);
        view->setLineNumbersShown(shown);
        break;
    }
    case CommandId::OverviewStrip: {
        SettingsStore& settings = SettingsStore::instance();
        const bool shown = !settings.boolValue(Setting::OverviewStrip);
        settings.setBool(Setting::OverviewStrip, shown);
        view->setOverviewShown(shown);
        break;
    }
    case CommandId::NextKeywordLine:
        view->jumpToKeywordLine(true);
        break;
    case CommandId::PreviousKeywordLine:
        view->jumpToKeywordLine(false);
        break;
    case CommandId::GoToLine:
        goToLine(view, parent);
        break;
    case CommandId::ToggleMark:
        // A line just marked takes its note at once, typed into the field over it.
        if (view->toggleMarkAtCaret()) {
            view->editMarkNote(LineNumber(std::max(0, view->caretLine())));
        }
        break;
    case CommandId::MarkNote:
        view->editMarkNote(LineNumber(std::max(0, view->caretLine())));
        break;
    case CommandId::ViewMarks:
        showMarksList(view, parent);
        break;
    case CommandId::NextMark:
        view->jumpToMark(true);
        break;
    case CommandId::PreviousMark:
        view->jumpToMark(false);
        break;
    case CommandId::ClearMarks:
        view->clearMarks();
        break;
    default:
        break;
    }
    return true;
}

bool NavigationCommands::fieldHasKeys()
{
    // Alt+Down and Alt+Up open a combo box's list (the filter field's history): while a
    // field has the keyboard, the keys are its own.
    QWidget* focus = QApplication::focusWidget();
    return focus != nullptr && (qobject_cast<QComboBox*>(focus) != nullptr ||
                                qobject_cast<QComboBox*>(focus->parentWidget()) != nullptr ||
                                qobject_cast<QLineEdit*>(focus) != nullptr);
}

void NavigationCommands::updateStates(CommandActions& actions, const LogView* view)
{
    const LogDocument* document = view != nullptr ? view->document() : nullptr;
    const bool hasLines = document != nullptr && document->lineCount() > 0;
    const bool hasMarks = document != nullptr && !document->marks().isEmpty();
    actions.action(CommandId::LineNumbers)
        ->setChecked(SettingsStore::instance().boolValue(Setting::LineNumbers));
    actions.action(CommandId::LineNumbers)->setEnabled(true);
    actions.action(CommandId::OverviewStrip)
        ->setChecked(SettingsStore::instance().boolValue(Setting::OverviewStrip));
    actions.action(CommandId::OverviewStrip)->setEnabled(true);
    actions.action(CommandId::NextKeywordLine)->setEnabled(hasLines && !fieldHasKeys());
    actions.action(CommandId::PreviousKeywordLine)->setEnabled(hasLines && !fieldHasKeys());
    actions.action(CommandId::GoToLine)->setEnabled(hasLines);
    actions.action(CommandId::ToggleMark)->setEnabled(hasLines);
    // A click in the gutter marks a line without the frame hearing of it: the jumps stay
    // enabled whenever there are lines, so their keys always reach the view.
    actions.action(CommandId::NextMark)->setEnabled(hasLines);
    actions.action(CommandId::PreviousMark)->setEnabled(hasLines);
    actions.action(CommandId::ClearMarks)->setEnabled(hasMarks);
    actions.action(CommandId::MarkNote)->setEnabled(hasLines);
    actions.action(CommandId::ViewMarks)->setEnabled(document != nullptr);
}
