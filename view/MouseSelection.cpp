#include "view/MouseSelection.h"

#include <utility>

bool IsWordSeparator(char16_t c)
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

void WordAround(const std::u16string& text, std::int32_t c, std::int32_t& first, std::int32_t& last)
{
    first = last = c;
    if (IsWordSeparator(text[std::size_t(c)])) {
        return;
    }
    while (first > 0 && !IsWordSeparator(text[std::size_t(first - 1)])) {
        --first;
    }
    const auto length = std::int32_t(text.size());
    while (last + 1 < length && !IsWordSeparator(text[std::size_t(last + 1)])) {
        ++last;
    }
}

void MouseSelection::PlaceCaretAfterSelection(const DocSelection& selection)
{
    m_target.PlaceCaret(selection.endLine, selection.endCol < 0 ? -1 : selection.endCol + 1);
}

void MouseSelection::Press(QPoint point)
{
    // Taken now: by the first move the lines may have scrolled under the point.
    m_press = m_target.PointToText(point);
    m_havePress = m_press.line <= m_target.SelectableLineCount();
}

void MouseSelection::Move(QPoint point)
{
    // A button still held after a double-click keeps the word until the mouse really moves.
    if (m_haveDoubleClickPoint && point == m_lastDoubleClick) {
        return;
    }
    const LineNumber count = m_target.SelectableLineCount();
    const TextPoint hit = m_target.PointToText(point);
    const LineNumber line = hit.line;
    if (line > count) {
        return;
    }
    const std::int32_t c = hit.onText ? hit.character : 0;
    DocSelection selection = m_target.CurrentSelection();
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
    m_target.StoreSelection(selection);
    PlaceCaretAfterSelection(selection);
}

void MouseSelection::Release(QPoint point, bool shift)
{
    m_havePress = false;
    const LineNumber count = m_target.SelectableLineCount();
    const TextPoint hit = m_target.PointToText(point);
    const LineNumber line = hit.line;
    if (line > count || point.y() < 0) {
        // Outside the lines: only a drag in progress ends here.
        if (m_dragging) {
            m_dragging = false;
            PlaceCaretAfterSelection(m_target.CurrentSelection());
            m_target.SelectionFinished();
        }
        return;
    }
    FindPosition find = m_target.CurrentFindPosition();
    std::int32_t c = 0;
    if (hit.onText) {
        c = hit.character;
        find.col = c;
    }
    find.line = line;
    m_target.StoreFindPosition(find);

    DocSelection selection = m_target.CurrentSelection();
    if (m_dragging) {
        m_dragging = false;
        PlaceCaretAfterSelection(selection);
        m_target.SelectionFinished();
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
        m_target.StoreSelection(selection);
        PlaceCaretAfterSelection(selection);
        m_target.SelectionFinished();
        return;
    }
    if (selection.valid) {
        m_target.StoreSelection(DocSelection());
    }
    m_target.PlaceCaret(line, c);
}

void MouseSelection::DoubleClick(QPoint point)
{
    const LineNumber count = m_target.SelectableLineCount();
    if (count > 0) {
        const TextPoint hit = m_target.PointToText(point);
        const LineNumber line = hit.line;
        const std::u16string text =
            line < count && hit.onText ? m_target.SelectableLine(line) : std::u16string();
        if (!text.empty()) {
            const std::int32_t c = hit.character;
            if (c < std::int32_t(text.size())) {
                std::int32_t first = 0;
                std::int32_t last = 0;
                WordAround(text, c, first, last);
                const DocSelection selection{true, line, line, first, last};
                m_target.StoreSelection(selection);
                PlaceCaretAfterSelection(selection);
                m_target.SelectionFinished();
            }
        }
    }
    m_lastDoubleClick = point;
    m_haveDoubleClickPoint = true;
    m_doubleClickPending = true;
}

void MouseSelection::SelectAll()
{
    m_target.StoreSelection(DocSelection{true, 0, m_target.SelectableLineCount(), 0, 0});
    m_target.SelectionFinished();
}

void MouseSelection::Reset()
{
    m_dragging = false;
    m_doubleClickPending = false;
    m_havePress = false;
}
