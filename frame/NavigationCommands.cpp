#include "frame/NavigationCommands.h"

#include "dialogs/GoToLineDialog.h"
#include "engine/LogDocument.h"
#include "resources/CommandActions.h"
#include "settings/SettingsStore.h"
#include "view/LogView.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>

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

} // namespace

void NavigationCommands::prepare(CommandActions& actions)
{
    actions.action(NavigationCommand::LineNumbers)->setCheckable(true);
    actions.action(NavigationCommand::OverviewStrip)->setCheckable(true);
}

bool NavigationCommands::Run(int id, LogView* view, QWidget* parent)
{
    if (std::find(Ids.begin(), Ids.end(), id) == Ids.end()) {
        return false;
    }
    if (view == nullptr) {
        return true;
    }
    switch (id) {
    case NavigationCommand::LineNumbers: {
        SettingsStore& settings = SettingsStore::instance();
        const bool shown = !settings.boolValue(Setting::LineNumbers);
        settings.setBool(Setting::LineNumbers, shown);
        view->setLineNumbersShown(shown);
        break;
    }
    case NavigationCommand::OverviewStrip: {
        SettingsStore& settings = SettingsStore::instance();
        const bool shown = !settings.boolValue(Setting::OverviewStrip);
        settings.setBool(Setting::OverviewStrip, shown);
        view->setOverviewShown(shown);
        break;
    }
    case NavigationCommand::NextKeywordLine:
        view->jumpToKeywordLine(true);
        break;
    case NavigationCommand::PreviousKeywordLine:
        view->jumpToKeywordLine(false);
        break;
    case NavigationCommand::GoToLine:
        goToLine(view, parent);
        break;
    case NavigationCommand::ToggleMark:
        view->toggleMarkAtCaret();
        break;
    case NavigationCommand::NextMark:
        view->jumpToMark(true);
        break;
    case NavigationCommand::PreviousMark:
        view->jumpToMark(false);
        break;
    case NavigationCommand::ClearMarks:
        view->clearMarks();
        break;
    default:
        break;
    }
    return true;
}

void NavigationCommands::updateStates(CommandActions& actions, const LogView* view)
{
    const LogDocument* document = view != nullptr ? view->document() : nullptr;
    const bool hasLines = document != nullptr && document->lineCount() > 0;
    const bool hasMarks = document != nullptr && !document->marks().Empty();
    actions.action(NavigationCommand::LineNumbers)
        ->setChecked(SettingsStore::instance().boolValue(Setting::LineNumbers));
    actions.action(NavigationCommand::LineNumbers)->setEnabled(true);
    actions.action(NavigationCommand::OverviewStrip)
        ->setChecked(SettingsStore::instance().boolValue(Setting::OverviewStrip));
    actions.action(NavigationCommand::OverviewStrip)->setEnabled(true);
    // Alt+Down and Alt+Up open a combo box's list (the filter field's history): while a
    // field has the keyboard, the keys are its own.
    QWidget* focus = QApplication::focusWidget();
    const bool fieldHasKeys =
        focus != nullptr && (qobject_cast<QComboBox*>(focus) != nullptr ||
                             qobject_cast<QComboBox*>(focus->parentWidget()) != nullptr ||
                             qobject_cast<QLineEdit*>(focus) != nullptr);
    actions.action(NavigationCommand::NextKeywordLine)->setEnabled(hasLines && !fieldHasKeys);
    actions.action(NavigationCommand::PreviousKeywordLine)->setEnabled(hasLines && !fieldHasKeys);
    actions.action(NavigationCommand::GoToLine)->setEnabled(hasLines);
    actions.action(NavigationCommand::ToggleMark)->setEnabled(hasLines);
    // A click in the gutter marks a line without the frame hearing of it: the jumps stay
    // enabled whenever there are lines, so their keys always reach the view.
    actions.action(NavigationCommand::NextMark)->setEnabled(hasLines);
    actions.action(NavigationCommand::PreviousMark)->setEnabled(hasLines);
    actions.action(NavigationCommand::ClearMarks)->setEnabled(hasMarks);
}
