#include "view/MergedRowSource.h"

#include "engine/LogDocument.h"

#include <algorithm>

namespace {

// Rows kept read beyond those on screen before the cache starts over.
constexpr std::size_t CachedRowsLimit = 4096;

} // namespace

MergedRowSource::MergedRowSource(std::vector<LogDocument*> documents, std::vector<ColorRef> colors,
                                 std::vector<std::u16string> names)
    : m_documents(std::move(documents)), m_colors(std::move(colors)), m_names(std::move(names)),
      m_rows(std::max<std::size_t>(m_documents.size(), 1)), m_bases(m_rows.sourceCount(), 0)
{
}

std::optional<std::size_t> MergedRowSource::apply(const std::vector<MergedLogs::Change>& changes)
{
    const std::size_t before = m_rows.rowCount();
    bool appended = true;
    for (const MergedLogs::Change& change : changes) {
        appended =
            appended && !change.provisional && !m_provisional && change.keep >= m_rows.rowCount();
        m_provisional = change.provisional;
        MergedLogs::applyChange(change, m_rows, m_bases);
    }
    // The last line of a document may have grown under its number: read again.
    m_texts.clear();
    if (appended) {
        if (m_rows.rowCount() > before) {
            rowsAppended(before, m_rows.rowCount() - before);
        }
        return before;
    }
    return std::nullopt;
}

MergedRows::Place MergedRowSource::placeOfRow(std::size_t row) const
{
    if (row >= m_rows.rowCount()) {
        return {};
    }
    MergedRows::Place place = m_rows.placeOfRow(row);
    place.line += m_bases[place.source];
    return place;
}

std::size_t MergedRowSource::rowOfPlace(const MergedRows::Place& place) const
{
    if (place.source >= m_rows.sourceCount() || m_rows.sourceLines(place.source) == 0) {
        return m_rows.rowCount();
    }
    const LineNumber base = m_bases[place.source];
    const LineNumber line =
        std::clamp(place.line, base, base + m_rows.sourceLines(place.source) - 1) - base;
    return m_rows.rowOfLine(place.source, line);
}

void MergedRowSource::setNameColumn(bool shown)
{
    if (m_nameColumn == shown) {
        return;
    }
    m_nameColumn = shown;
    m_texts.clear();
    rowsRetexted(0, true);
}

std::size_t MergedRowSource::nameWidth() const
{
    std::size_t width = 0;
    for (const std::u16string& name : m_names) {
        width = std::max(width, name.size());
    }
    return width;
}

void MergedRowSource::prepareRows(std::size_t first, std::size_t end)
{
    end = std::min(end, m_rows.rowCount());
    std::map<std::size_t, std::vector<LineNumber>> wanted;
    for (std::size_t row = first; row < end; ++row) {
        const MergedRows::Place place = placeOfRow(row);
        if (!m_texts.contains({place.source, place.line})) {
            wanted[place.source].push_back(place.line);
        }
    }
    if (wanted.empty()) {
        return;
    }
    if (m_texts.size() + (end - first) > CachedRowsLimit) {
        m_texts.clear();
    }
    const std::size_t width = nameWidth();
    for (auto& [source, lines] : wanted) {
        std::vector<std::u16string> texts;
        std::vector<StyleRuns> runs;
        m_documents[source]->lines(lines, texts, &runs);
        for (std::size_t i = 0; i < lines.size() && i < texts.size(); ++i) {
            Row entry{std::move(texts[i]), i < runs.size() ? std::move(runs[i]) : StyleRuns()};
            if (m_nameColumn) {
                // The name in its source's colour, then the line as it was.
                std::u16string name = m_names[source];
                name.resize(width + 1, u' ');
                for (StyleRun& run : entry.runs) {
                    run.start += name.size();
                    run.end += name.size();
                }
                StyleRun tag;
                tag.start = 0;
                tag.end = m_names[source].size();
                tag.hasText = true;
                tag.text = m_colors[source];
                if (tag.end > tag.start) {
                    entry.runs.insert(entry.runs.begin(), tag);
                }
                entry.text.insert(0, name);
            }
            m_texts[{source, lines[i]}] = std::move(entry);
        }
    }
}

const MergedRowSource::Row* MergedRowSource::read(std::size_t row)
{
    if (row >= m_rows.rowCount()) {
        return nullptr;
    }
    const MergedRows::Place place = placeOfRow(row);
    auto found = m_texts.find({place.source, place.line});
    if (found == m_texts.end()) {
        prepareRows(row, row + 1);
        found = m_texts.find({place.source, place.line});
    }
    return found != m_texts.end() ? &found->second : nullptr;
}

std::u16string_view MergedRowSource::rowText(std::size_t row)
{
    const Row* entry = read(row);
    return entry != nullptr ? std::u16string_view(entry->text) : std::u16string_view();
}

const StyleRuns& MergedRowSource::rowRuns(std::size_t row)
{
    static const StyleRuns none;
    const Row* entry = read(row);
    return entry != nullptr ? entry->runs : none;
}

std::uint64_t MergedRowSource::largestLineNumber() const
{
    std::uint64_t largest = 0;
    for (const LogDocument* document : m_documents) {
        largest = std::max<std::uint64_t>(largest, document->lineCount());
    }
    return largest;
}

std::uint64_t MergedRowSource::rowKey(std::size_t row) const
{
    const MergedRows::Place place = placeOfRow(row);
    return (std::uint64_t(place.source) << 32) | place.line;
}

std::optional<ColorRef> MergedRowSource::rowStripe(std::size_t row) const
{
    if (row >= m_rows.rowCount()) {
        return std::nullopt;
    }
    return m_colors[m_rows.sourceOfRow(row)];
}

void MergedRowSource::keywordColors(std::u16string_view text, ColorRef& fore, ColorRef& back,
                                    bool& matched) const
{
    // Keywords are the program's, the same in every document.
    if (!m_documents.empty()) {
        m_documents.front()->keywordColors(text, fore, back, matched);
    }
}

bool MergedRowSource::colorsMatches() const
{
    return !m_documents.empty() &&
           std::any_of(m_documents.front()->keywords().begin(),
                       m_documents.front()->keywords().end(),
                       [](const Keyword& k) { return k.enabled && k.matchOnly; });
}

void MergedRowSource::matchRuns(std::u16string_view text, std::size_t from, std::size_t to,
                                StyleRuns& runs) const
{
    if (!m_documents.empty()) {
        m_documents.front()->matchRuns(text, from, to, runs);
    }
}

std::vector<std::size_t> MergedRowSource::markedRows() const
{
    std::vector<std::size_t> marked;
    for (std::size_t s = 0; s < sourceCount(); ++s) {
        for (const LineNumber line : document(s).marks().lines()) {
            const std::size_t row = rowOfPlace({s, line});
            if (row < rowCount() && placeOfRow(row) == MergedRows::Place{s, line}) {
                marked.push_back(row);
            }
        }
    }
    std::sort(marked.begin(), marked.end());
    return marked;
}
