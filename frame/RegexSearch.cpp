// Find with the text as a regular expression: compiled as the filter compiles its terms, so a
// pattern that does not compile is named in the Find box with PCRE2's words, and each line
// has the filter's time; lines that could not be decided in it are counted and told.

#include "dialogs/FindDialog.h"
#include "engine/FilterPattern.h"
#include "engine/LogDocument.h"
#include "engine/RegexFind.h"
#include "frame/FilterPane.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MergedNavigation.h"
#include "frame/MergedPart.h"
#include "resources/LanguageResources.h"
#include "resources/QtText.h"
#include "view/FilterView.h"
#include "view/LogView.h"
#include "view/MergedArea.h"

using quill::toQString;

bool MainFrame::searchRegex(const std::u16string& text, bool down, bool& reported)
{
    const LanguageResources& strings = LanguageResources::current();
    const FilterTerm term{text, (m_searchFlags & SearchMatchCase) != 0,
                          (m_searchFlags & SearchWholeWord) != 0, true};
    std::u16string message;
    std::size_t offset = 0;
    const std::unique_ptr<FilterPattern> pattern = FilterPattern::compile(term, message, offset);
    auto tell = [&](const QString& said) {
        reported = true;
        if (m_findDialog) {
            m_findDialog->showMessage(said);
        } else {
            showMessage(said);
        }
    };
    if (!pattern) {
        tell(strings.format(StringId::RegexInvalid, toQString(message),
                            QString::number(offset + 1)));
        return false;
    }
    FilterScratch scratch;
    RegexFindReport report;
    bool found = false;
    if (currentTab()->merged() != nullptr) {
        found = mergedRowsInFront()->findPattern(*pattern, down, report.undecided);
    } else if (filterShownAsView()) {
        found = filterPane()->view()->findPattern(*pattern, down, report.undecided);
    } else {
        found = activeDocument()->findRegex(*pattern, down, scratch, report);
    }
    if (report.undecided > 0) {
        tell(strings.format(StringId::RegexUndecided, QString::number(report.undecided)));
        reported = false; // not found is still said besides
    }
    return found;
}

void MainFrame::setFindHighlight(const std::u16string& text, unsigned flags, bool regularExpression)
{
    if (regularExpression) {
        activeView()->clearFindHighlight();
    } else {
        activeView()->setFindHighlight(text, flags);
    }
    if (MergedPart* merged = currentTab()->merged()) {
        merged->area()->setFindHighlight(regularExpression ? std::u16string() : text, flags);
        merged->navigation()->setFindText(regularExpression ? std::u16string() : text, flags);
        setMergedFilterFindHighlight(regularExpression ? std::u16string() : text, flags);
    }
}
