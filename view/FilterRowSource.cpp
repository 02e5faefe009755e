#include "view/FilterRowSource.h"

#include "engine/LineFilter.h"
#include "engine/LogDocument.h"

#include <algorithm>

namespace {

// Before the number of a line no term could decide.
constexpr char16_t UndecidedMark = u'?';
// Rows kept read beyond those on screen before the cache starts over.
constexpr std::size_t CachedRowsLimit = 4096;

} // namespace

void FilterRowSource::setDocument(LogDocument* document)
{
    m_document = document;
    m_seenGeneration = document != nullptr ? document->indexEpoch() : 0;
    m_seenLineCount = document != nullptr ? document->lineCount() : 0;
    forgetRows();
    rowsRetexted(0, false);
}

void FilterRowSource::matchesChanged(const FilterChange& change)
{
    if (change.reset) {
        forgetRows();
        rowsReset();
    } else {
        rowsAppended(change.firstNewRow, rowCount() - std::min(change.firstNewRow, rowCount()));
    }
}

void FilterRowSource::documentChanged()
{
    if (m_document == nullptr) {
        return;
    }
    const std::uint64_t epoch = m_document->indexEpoch();
    const LineNumber lines = m_document->lineCount();
    const bool renumbered = epoch != m_seenGeneration;
    LineNumber from = 0;
    if (renumbered) {
        forgetRows();
    } else {
        // Only the last line can have changed its text since it was read: it may have had
        // no line feed yet.
        const LineNumber firstChanged = std::min(m_seenLineCount, lines);
        from = firstChanged > 0 ? firstChanged - 1 : 0;
        std::erase_if(m_texts, [from](const auto& entry) { return entry.first >= from; });
    }
    m_seenGeneration = epoch;
    m_seenLineCount = lines;
    rowsRetexted(0, renumbered);
}

bool FilterRowSource::isUndecided(std::size_t row) const
{
    if (m_undecided == nullptr || m_matches == nullptr || row >= rowCount()) {
        return false;
    }
    return std::binary_search(m_undecided->begin(), m_undecided->end(), m_matches->at(row));
}

void FilterRowSource::prepareRows(std::size_t first, std::size_t end)
{
    if (m_document == nullptr || m_matches == nullptr) {
        return;
    }
    end = std::min(end, rowCount());
    std::vector<LineNumber> wanted;
    for (std::size_t row = first; row < end; ++row) {
        const LineNumber line = m_matches->at(row);
        if (!m_texts.contains(line)) {
            wanted.push_back(line);
        }
    }
    if (wanted.empty()) {
        return;
    }
    if (m_texts.size() + wanted.size() > CachedRowsLimit) {
        m_texts.clear();
    }
    std::vector<std::u16string> texts;
    std::vector<StyleRuns> runs;
    m_document->lines(wanted, texts, &runs);
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        m_texts[wanted[i]] = Row{std::move(texts[i]), std::move(runs[i])};
    }
}

const FilterRowSource::Row* FilterRowSource::row(std::size_t row)
{
    if (m_matches == nullptr || row >= rowCount()) {
        return nullptr;
    }
    const LineNumber line = m_matches->at(row);
    auto found = m_texts.find(line);
    if (found == m_texts.end()) {
        prepareRows(row, row + 1);
        found = m_texts.find(line);
    }
    return found != m_texts.end() ? &found->second : nullptr;
}

std::u16string_view FilterRowSource::rowText(std::size_t row)
{
    const Row* entry = this->row(row);
    return entry != nullptr ? std::u16string_view(entry->text) : std::u16string_view();
}

const StyleRuns& FilterRowSource::rowRuns(std::size_t row)
{
    static const StyleRuns none;
    const Row* entry = this->row(row);
    return entry != nullptr ? entry->runs : none;
}

std::optional<std::uint64_t> FilterRowSource::rowSizeHint(std::size_t row)
{
    if (m_document == nullptr) {
        return std::nullopt;
    }
    const LineNumber line = lineOfRow(row);
    if (line >= m_document->lineCount()) {
        return 0;
    }
    const FileOffset bytes = m_document->lineStart(line + 1) - m_document->lineStart(line);
    return std::uint64_t(std::max<FileOffset>(0, bytes)) / (m_document->isUtf16() ? 2 : 1);
}

std::uint64_t FilterRowSource::rowCopyBound(std::size_t row)
{
    // Each line's bytes give at most as many UTF-16 units, and a line feed joins them.
    if (m_document == nullptr) {
        return 0;
    }
    const LineNumber line = lineOfRow(row);
    return std::uint64_t(m_document->lineStart(line + 1) - m_document->lineStart(line)) + 2;
}

void FilterRowSource::copyRows(std::size_t first, std::size_t end,
                               std::vector<std::u16string>& texts)
{
    if (m_document == nullptr) {
        texts.assign(end - first, std::u16string());
        return;
    }
    std::vector<LineNumber> lines;
    for (std::size_t row = first; row < end; ++row) {
        lines.push_back(m_matches->at(row));
    }
    m_document->lines(lines, texts);
}

std::uint64_t FilterRowSource::largestLineNumber() const
{
    // Wide enough for the largest line number the document has, not only the matches'.
    std::uint64_t largest = m_document != nullptr ? std::uint64_t(m_document->lineCount()) : 0;
    if (m_matches != nullptr && !m_matches->empty()) {
        largest = std::max<std::uint64_t>(largest, std::uint64_t(m_matches->back()) + 1);
    }
    return largest;
}

char16_t FilterRowSource::rowSign(std::size_t row) const
{
    return isUndecided(row) ? UndecidedMark : 0;
}

char16_t FilterRowSource::signRoom() const
{
    return UndecidedMark;
}

void FilterRowSource::keywordColors(std::u16string_view text, ColorRef& fore, ColorRef& back,
                                    bool& matched) const
{
    if (m_document != nullptr) {
        m_document->keywordColors(text, fore, back, matched);
    }
}

bool FilterRowSource::colorsMatches() const
{
    return m_document != nullptr &&
           std::any_of(m_document->keywords().begin(), m_document->keywords().end(),
                       [](const Keyword& k) { return k.enabled && k.matchOnly; });
}

void FilterRowSource::matchRuns(std::u16string_view text, std::size_t from, std::size_t to,
                                StyleRuns& runs) const
{
    m_document->matchRuns(text, from, to, runs);
}
