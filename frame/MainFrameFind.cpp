// Find in the main frame: the Find box (one at a time), Find Next up and down, the text a
// search starts from, and the search with its history and its "not found".

#include "frame/MainFrame.h"

#include "dialogs/FindDialog.h"
#include "engine/LogDocument.h"
#include "frame/FilterPane.h"
#include "frame/LogTab.h"
#include "frame/MergedPart.h"
#include "resources/LanguageResources.h"
#include "resources/QtText.h"
#include "settings/SettingsStore.h"
#include "view/FilterView.h"
#include "view/LogView.h"
#include "view/MergedArea.h"

#include <QGuiApplication>

using quill::toQString;
using quill::toU16;

std::u16string MainFrame::initialSearchText() const
{
    if (m_front->merged() != nullptr) {
        return SettingsStore::instance().string(Setting::LastFindString);
    }
    if (filterShownAsView()) {
        std::u16string text = filterPane()->view()->selectedRowText();
        return text.empty() ? SettingsStore::instance().string(Setting::LastFindString) : text;
    }
    LogDocument* document = activeDocument();
    // Text spanning several lines is never found (a match lies on one line), and building
    // it for a selection of the whole file would cost a copy of the file.
    const DocSelection selection = document->selection();
    std::u16string text;
    if (selection.valid && selection.startLine == selection.endLine) {
        text = document->selectedText();
    }
    if (text.empty()) {
        text = SettingsStore::instance().string(Setting::LastFindString);
    }
    return text;
}

void MainFrame::onEditFind()
{
    if (activeDocument()->lineCount() == 0 &&
        (m_front->merged() == nullptr || m_front->merged()->area()->rowCount() == 0)) {
        return;
    }
    if (m_findDialog) {
        // At most one: the open dialog comes to the front with the current text.
        const std::u16string text = initialSearchText();
        if (!text.empty()) {
            m_findDialog->setSearchText(toQString(text));
        }
        m_findDialog->show();
        m_findDialog->raise();
        m_findDialog->activateWindow();
        return;
    }
    SettingsStore& settings = SettingsStore::instance();
    auto* dialog = new FindDialog(this);
    dialog->setHistory(m_findHistory);
    dialog->setSearchText(toQString(initialSearchText()));
    dialog->setOptions(settings.boolValue(Setting::FindMatchCase),
                       settings.boolValue(Setting::FindWholeWord),
                       settings.boolValue(Setting::FindDown));
    dialog->setRegularExpression(settings.boolValue(Setting::FindRegularExpression));
    connect(dialog, &FindDialog::findNext, this, &MainFrame::onFindNext);
    connect(dialog, &FindDialog::searchChanged, this,
            [this](const QString& text, bool matchCase, bool wholeWord, bool regularExpression) {
                if (currentTab() != nullptr) {
                    setFindHighlight(toU16(text),
                                     (matchCase ? SearchMatchCase : 0) |
                                         (wholeWord ? SearchWholeWord : 0),
                                     regularExpression);
                }
            });
    connect(dialog, &FindDialog::closing, this, [this, dialog] {
        // The matches stay shown after a Find, until Escape in the view; a box closed
        // without one takes its highlight with it.
        if (!dialog->property("searched").toBool() && currentTab() != nullptr) {
            activeView()->clearFindHighlight();
        }
        m_findDialog = nullptr;
    });
    setFindHighlight(toU16(dialog->searchText()),
                     (dialog->matchCase() ? SearchMatchCase : 0) |
                         (dialog->wholeWord() ? SearchWholeWord : 0),
                     dialog->regularExpression());
    m_findDialog = dialog;
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void MainFrame::onFindNext(const QString& text, bool down, bool matchCase, bool wholeWord,
                           bool regularExpression)
{
    m_findRegularExpression = regularExpression;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_searchFlags = (down ? SearchDown : 0) | (wholeWord ? SearchWholeWord : 0) |
                    (matchCase ? SearchMatchCase : 0);
    SettingsStore& settings = SettingsStore::instance();
    // Shift+Enter searches the other way once; the dialog's own direction is what is kept.
    settings.setBool(Setting::FindDown, m_findDialog ? m_findDialog->searchDown() : down);
    settings.setBool(Setting::FindMatchCase, matchCase);
    settings.setBool(Setting::FindWholeWord, wholeWord);
    settings.setBool(Setting::FindRegularExpression, regularExpression);
    QGuiApplication::restoreOverrideCursor();
    search(toU16(text), down);
}

void MainFrame::findAgain(bool down)
{
    m_searchFlags = down ? (m_searchFlags | SearchDown) : (m_searchFlags & ~SearchDown);
    // A pattern's match is no pattern to search for next: the last pattern is.
    const std::u16string text = m_findRegularExpression
                                    ? SettingsStore::instance().string(Setting::LastFindString)
                                    : initialSearchText();
    if (text.empty()) {
        onEditFind();
        return;
    }
    search(text, down);
}

void MainFrame::search(const std::u16string& text, bool down)
{
    const QString shown = toQString(text);
    m_findHistory.removeAll(shown);
    m_findHistory.prepend(shown);
    if (m_findDialog) {
        m_findDialog->rememberText(shown);
    }
    if (m_findDialog) {
        m_findDialog->setProperty("searched", true);
    }
    setFindHighlight(text, m_searchFlags, m_findRegularExpression);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    bool reported = false;
    const unsigned flags = m_searchFlags & (SearchWholeWord | SearchMatchCase);
    const bool found = m_findRegularExpression ? searchRegex(text, down, reported)
                       : m_front->merged() != nullptr
                           ? mergedRowsInFront()->findText(text, down, flags)
                       : filterShownAsView() ? filterPane()->view()->findText(text, down, flags)
                                             : activeDocument()->find(text, down, flags);
    QGuiApplication::restoreOverrideCursor();
    SettingsStore::instance().setString(Setting::LastFindString, text);
    updateCommandStates();
    if (!found && !reported) {
        showMessage(LanguageResources::current().format(StringId::TextNotFound, toQString(text)));
        if (m_findDialog) {
            m_findDialog->raise();
            m_findDialog->activateWindow();
            m_findDialog->focusSearchText();
        }
    }
}
