// How the document's lines are shown: keyword colours, terminal colours, control characters
// made visible, and the style runs of a decoded line.

#include "engine/LogDocument.h"

#include "engine/KeywordMatcher.h"
#include "engine/LineText.h"
#include "engine/SgrParser.h"
#include "engine/ShownText.h"

void LogDocument::GetKeywordColors(std::u16string_view line, ColorRef& textColor, ColorRef& bkColor,
                                   bool& matched) const
{
    ::GetKeywordColors(m_keywords, line, textColor, bkColor, matched);
}

void LogDocument::GetMatchRuns(std::u16string_view line, std::size_t from, std::size_t to,
                               StyleRuns& runs) const
{
    ::GetMatchRuns(m_keywords, line, from, to, runs);
}

void LogDocument::SetTerminalColors(bool on)
{
    std::lock_guard lock(m_docAccess);
    if (on == TerminalColors()) {
        return;
    }
    m_terminalColors.store(on, std::memory_order_relaxed);
    RestartShownText();
}

void LogDocument::SetShowControlCharacters(bool on)
{
    std::lock_guard lock(m_docAccess);
    if (on == ShowControlCharacters()) {
        return;
    }
    m_showControls.store(on, std::memory_order_relaxed);
    RestartShownText();
}

void LogDocument::SetCarriageReturnSymbol(char16_t symbol)
{
    std::lock_guard lock(m_docAccess);
    if (symbol == m_crSymbol.load(std::memory_order_relaxed)) {
        return;
    }
    m_crSymbol.store(symbol, std::memory_order_relaxed);
    if (ShowControlCharacters()) {
        RestartShownText();
    }
}

void LogDocument::RestartShownText()
{
    // Columns of the old text name other characters in the new: what pointed into it goes.
    // The rows themselves stay (the view may still draw them); an empty window is enough
    // for the next use to decode afresh.
    m_windowFirst = 0;
    m_windowEnd = 0;
    m_longestLength = 0;
    ++m_textGeneration;
    m_tail = OpenTail();
    m_lineRuns.clear();
    m_selection = DocSelection();
    m_findPos = FindPosition();
    ++m_contentGeneration;
    ++m_indexEpoch;
}

bool LogDocument::ShownAsDecoded(std::u16string_view decoded, std::size_t prefix) const
{
    return !TerminalColors() && decoded.substr(0, prefix).find(u'\r') == std::u16string_view::npos;
}

void LogDocument::ShowDecodedLine(LineNumber line, std::u16string& text)
{
    auto it = std::find_if(m_lineRuns.begin(), m_lineRuns.end(),
                           [&](const auto& entry) { return entry.first == line; });
    const TextShowing showing = Showing();
    if (!showing.terminal) {
        if (it != m_lineRuns.end()) {
            m_lineRuns.erase(it);
        }
        ShowLineText(text, nullptr, showing);
        return;
    }
    StyleRuns runs;
    ShowLineText(text, &runs, showing);
    if (runs.empty()) {
        if (it != m_lineRuns.end()) {
            m_lineRuns.erase(it);
        }
    } else if (it != m_lineRuns.end()) {
        it->second = std::move(runs);
    } else {
        m_lineRuns.emplace_back(line, std::move(runs));
    }
}

const StyleRuns& LogDocument::GetLineRuns(LineNumber index) const
{
    static const StyleRuns none;
    std::lock_guard lock(m_docAccess);
    if (index < m_windowFirst || index >= m_windowEnd) {
        return none;
    }
    for (const auto& [line, runs] : m_lineRuns) {
        if (line == index) {
            return runs;
        }
    }
    return none;
}
