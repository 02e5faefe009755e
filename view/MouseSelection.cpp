#include "view/MouseSelection.h"

#include <utility>

bool isWordSeparator(char16_t c)
{
    switch (c) {
    case u'\t':
    case u' ':
    case u',':
    case u'.':
    case u'/':
    case u':':
    case u';':
    case u'\\':
        return true;
    default:
        return false;
    }
}

void wordAround(const std::u16string& text, std::int32_t c, std::int32_t& first, std::int32_t& last)
{
    first = last = c;
    if (isWordSeparator(text[std::size_t(c)])) {
        return;
    }
    while (first > 0 && !isWordSeparator(text[std::size_t(first - 1)])) {
        --first;
    }
    const auto length = std::int32_t(text.size());
    while (last + 1 < length && !isWordSeparator(text[std::size_t(last + 1)])) {
        ++last;
    }
}

void MouseSelection::placeCaretAfterSelection(const DocSelection& selection)
{
    m_target.placeCaret(selection.endLine, selection.endCol < 0 ? -1 : selection.endCol + 1);
}

void MouseSelection::press(QPoint point)
{
    // Taken now: by the first move the lines may have scrolled under the point.
    m_press = m_target.pointToText(point);
    m_havePress = m_press.line <= m_target.selectableLineCount();
}

void MouseSelection::move(QPoint point)
{
    // A button still held after a double-click keeps the word until the mouse really moves.
    if (m_haveDoubleClickPoint && point == m_lastDoubleClick) {
        return;
    }
    const LineNumber count = m_target.selectableLineCount();
    const TextPoint hit = m_target.pointToText(point);
    const LineNumber line = hit.line;
    if (line > count) {
        return;
    }
    const std::int32_t c = hit.onText ? hit.character : 0;
    DocSelection selection = m_target.currentSelection();
    if (!m_dragging) {
        m_dragging = true;
        m_anchorIsStart = true;
        const LineNumber anchorLine = m_havePress ? m_press.line : line;
        const std::int32_t anchor = !m_havePress ? c : m_press.onText ? m_press.character : 0;
        m_havePress = false;
        selection = DocSelection{true, anchorLine, anchorLine, anchor, anchor};
    }
    if (m_anchorIsStart) {
        selection.endLine = line;
        selection.endCol = c;
    } else {
        selection.startLine = line;
        selection.startCol = c;
    }
    if (selection.endLine < selection.startLine) {
        std::swap(selection.startLine, selection.endLine);
        std::swap(selection.startCol, selection.endCol);
        m_anchorIsStart = !m_anchorIsStart;
    } else if (selection.startLine == selection.endLine && selection.startCol > selection.endCol) {
        std::swap(selection.startCol, selection.endCol);
        m_anchorIsStart = !m_anchorIsStart;
    }
    selection.valid = true;
    m_target.storeSelection(selection);
    placeCaretAfterSelection(selection);
}

void MouseSelection::release(QPoint point, bool shift)
{
    m_havePress = false;
    const LineNumber count = m_target.selectableLineCount();
    const TextPoint hit = m_target.pointToText(point);
    const LineNumber line = hit.line;
    if (line > count || point.y() < 0) {
        // Outside the lines: only a drag in progress ends here.
        if (m_dragging) {
            m_dragging = false;
            placeCaretAfterSelection(m_target.currentSelection());
            m_target.selectionFinished();
        }
        return;
    }
    FindPosition find = m_target.currentFindPosition();
    std::int32_t c = 0;
    if (hit.onText) {
        c = hit.character;
        find.col = c;
    }
    find.line = line;
    m_target.storeFindPosition(find);

    DocSelection selection = m_target.currentSelection();
    if (m_dragging) {
        m_dragging = false;
        placeCaretAfterSelection(selection);
        m_target.selectionFinished();
        return;
    }
    if (m_doubleClickPending) {
        m_doubleClickPending = false;
        return;
    }
    if (selection.valid && shift) {
        if (line > selection.endLine) {
            selection.endLine = line;
            selection.endCol = c;
        } else if (line < selection.startLine) {
            selection.startLine = line;
            selection.startCol = c;
        } else {
            // A click within the selected lines leaves it as it is.
            return;
        }
        m_target.storeSelection(selection);
        placeCaretAfterSelection(selection);
        m_target.selectionFinished();
        return;
    }
    if (selection.valid) {
        m_target.storeSelection(DocSelection());
    }
    m_target.placeCaret(line, c);
}

void MouseSelection::doubleClick(QPoint point)
{
    const LineNumber count = m_target.selectableLineCount();
    if (count > 0) {
        const TextPoint hit = m_target.pointToText(point);
        const LineNumber line = hit.line;
        const std::u16string text =
            line < count && hit.onText ? m_target.selectableLine(line) : std::u16string();
        if (!text.empty()) {
            const std::int32_t c = hit.character;
            if (c < std::int32_t(text.size())) {
                std::int32_t first = 0;
                std::int32_t last = 0;
                wordAround(text, c, first, last);
                const DocSelection selection{true, line, line, first, last};
                m_target.storeSelection(selection);
                placeCaretAfterSelection(selection);
                m_target.selectionFinished();
            }
        }
    }
    m_lastDoubleClick = point;
    m_haveDoubleClickPoint = true;
    m_doubleClickPending = true;
}

void MouseSelection::selectAll()
{
    m_target.storeSelection(DocSelection{true, 0, m_target.selectableLineCount(), 0, 0});
    m_target.selectionFinished();
}

void MouseSelection::reset()
{
    m_dragging = false;
    m_doubleClickPending = false;
    m_havePress = false;
}
