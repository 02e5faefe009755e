// How the document's lines are shown: keyword colours, terminal colours, control characters
// made visible, and the style runs of a decoded line.

#include "engine/LogDocument.h"

#include "engine/KeywordMatcher.h"
#include "engine/LineText.h"
#include "engine/SgrParser.h"
#include "engine/ShownText.h"

void LogDocument::keywordColors(std::u16string_view line, ColorRef& textColor, ColorRef& bkColor,
                                bool& matched) const
{
    ::keywordColors(m_keywords, line, textColor, bkColor, matched);
}

void LogDocument::matchRuns(std::u16string_view line, std::size_t from, std::size_t to,
                            StyleRuns& runs) const
{
    ::matchRuns(m_keywords, line, from, to, runs);
}

void LogDocument::setTerminalColors(bool on)
{
    std::lock_guard lock(m_docAccess);
    if (on == terminalColors()) {
        return;
    }
    m_terminalColors.store(on, std::memory_order_relaxed);
    restartShownText();
}

void LogDocument::setShowControlCharacters(bool on)
{
    std::lock_guard lock(m_docAccess);
    if (on == showControlCharacters()) {
        return;
    }
    m_showControls.store(on, std::memory_order_relaxed);
    restartShownText();
}

void LogDocument::setCarriageReturnSymbol(char16_t symbol)
{
    std::lock_guard lock(m_docAccess);
    if (symbol == m_crSymbol.load(std::memory_order_relaxed)) {
        return;
    }
    m_crSymbol.store(symbol, std::memory_order_relaxed);
    if (showControlCharacters()) {
        restartShownText();
    }
}

void LogDocument::restartShownText()
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

bool LogDocument::shownAsDecoded(std::u16string_view decoded, std::size_t prefix) const
{
    return !terminalColors() && decoded.substr(0, prefix).find(u'\r') == std::u16string_view::npos;
}

void LogDocument::showDecodedLine(LineNumber line, std::u16string& text)
{
    auto it = std::find_if(m_lineRuns.begin(), m_lineRuns.end(),
                           [&](const auto& entry) { return entry.first == line; });
    const TextShowing showing = textShowing();
    if (!showing.terminal) {
        if (it != m_lineRuns.end()) {
            m_lineRuns.erase(it);
        }
        showLineText(text, nullptr, showing);
        return;
    }
    StyleRuns runs;
    showLineText(text, &runs, showing);
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

const StyleRuns& LogDocument::lineRuns(LineNumber index) const
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
