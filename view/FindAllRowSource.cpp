#include "view/FindAllRowSource.h"

#include "engine/FindAllSearch.h"
#include "engine/LogDocument.h"

#include <algorithm>
#include <unordered_set>

namespace {

// Rows kept read beyond those on screen before the cache starts over.
constexpr std::size_t CachedRowsLimit = 4096;

} // namespace

void FindAllRowSource::setSearch(const FindAllSearch* search)
{
    m_search = search;
    layOut();
    rowsReset();
}

std::size_t FindAllRowSource::layOut()
{
    const std::vector<Shown> before = std::move(m_shown);
    const std::size_t rowsBefore = m_rowCount;
    m_shown.clear();
    m_rowCount = 0;
    std::unordered_set<const LogDocument*> present;
    for (std::size_t group = 0; m_search != nullptr && group < m_search->documentCount(); ++group) {
        LogDocument* document = &m_search->document(group);
        present.insert(document);
        // A reload or Clear numbers the lines anew: the texts read before are other lines'.
        if (const auto seen = m_seen.find(document);
            seen != m_seen.end() && seen->second.epoch != document->indexEpoch()) {
            documentChanged(*document);
        }
        const FilterMatches& matches = m_search->matches(group);
        if (matches.empty()) {
            continue;
        }
        const std::size_t count = matches.size();
        Shown shown{group, m_rowCount, count, matches.back(), {}, document};
        shown.heading = m_heading ? m_heading(group, count) : std::u16string();
        m_shown.push_back(std::move(shown));
        m_rowCount += 1 + count;
        m_serials.try_emplace(document, m_nextSerial++);
    }
    // A document gone may be followed by another at the same address.
    std::erase_if(m_texts, [&](const auto& entry) { return !present.contains(entry.first.first); });
    std::erase_if(m_seen, [&](const auto& entry) { return !present.contains(entry.first); });
    std::erase_if(m_serials, [&](const auto& entry) { return !present.contains(entry.first); });

    // The rows before the first group that changed read as before; a last group that only
    // grew keeps all of them.
    std::size_t same = 0;
    while (same < before.size() && same < m_shown.size() &&
           before[same].document == m_shown[same].document &&
           before[same].count == m_shown[same].count && before[same].last == m_shown[same].last) {
        ++same;
    }
    if (same == before.size()) {
        return rowsBefore;
    }
    const Shown& was = before[same];
    if (same + 1 == before.size() && same < m_shown.size() &&
        m_shown[same].document == was.document && m_shown[same].count > was.count &&
        m_search->matches(m_shown[same].group).at(was.count - 1) == was.last) {
        // Grown at the end, with the line at its old end still there (nothing before it was
        // taken back or started over): its old rows stand.
        return rowsBefore;
    }
    return was.firstRow;
}

const FindAllRowSource::Shown& FindAllRowSource::shownOf(std::size_t row) const
{
    const auto after = std::upper_bound(
        m_shown.begin(), m_shown.end(), row,
        [](std::size_t value, const Shown& shown) { return value < shown.firstRow; });
    return *(after - 1);
}

FindAllRowSource::Item FindAllRowSource::itemOfRow(std::size_t row) const
{
    if (row >= m_rowCount) {
        return {};
    }
    const Shown& shown = shownOf(row);
    if (row == shown.firstRow) {
        return {shown.document, ~LineNumber(0)};
    }
    // The search may have changed since the rows were laid out (the owner asks what stood
    // where before it lays them out again): a group gone, or fewer lines, is read safely.
    const std::size_t group = m_search->groupOf(*shown.document);
    const std::size_t index = row - shown.firstRow - 1;
    const FilterMatches& matches = m_search->matches(group);
    if (index >= matches.size()) {
        return {shown.document, matches.empty() ? ~LineNumber(0) : matches.back()};
    }
    return {shown.document, matches.at(index)};
}

std::size_t FindAllRowSource::rowOfItem(const Item& item) const
{
    for (const Shown& shown : m_shown) {
        if (shown.document != item.document) {
            continue;
        }
        if (item.isHeading()) {
            return shown.firstRow;
        }
        const std::size_t index = m_search->matches(shown.group).lowerBound(item.line);
        return shown.firstRow + 1 + std::min(index, shown.count);
    }
    return m_rowCount;
}

LineNumber FindAllRowSource::lineOfRow(std::size_t row) const
{
    const Item item = itemOfRow(row);
    return item.isHeading() ? 0 : item.line;
}

bool FindAllRowSource::rowNumbered(std::size_t row) const
{
    return !itemOfRow(row).isHeading();
}

std::uint64_t FindAllRowSource::rowKey(std::size_t row) const
{
    const Item item = itemOfRow(row);
    const auto serial = m_serials.find(item.document);
    const std::uint64_t high = serial != m_serials.end() ? serial->second : 0;
    // Line numbers are 32-bit: the heading takes the one number past them.
    const std::uint64_t low = item.isHeading() ? (std::uint64_t(1) << 32) : item.line;
    return (high << 33) | low;
}

void FindAllRowSource::documentChanged(const LogDocument& document)
{
    const std::uint64_t epoch = document.indexEpoch();
    const LineNumber lines = document.lineCount();
    auto [seen, added] = m_seen.try_emplace(&document, Seen{epoch, lines});
    LineNumber from = 0;
    if (!added && seen->second.epoch == epoch) {
        // Only the last line read can have changed its text: it may have had no line feed.
        const LineNumber first = std::min(seen->second.lines, lines);
        from = first > 0 ? first - 1 : 0;
    }
    seen->second = Seen{epoch, lines};
    std::erase_if(m_texts, [&](const auto& entry) {
        return entry.first.first == &document && entry.first.second >= from;
    });
}

void FindAllRowSource::prepareRows(std::size_t first, std::size_t end)
{
    end = std::min(end, m_rowCount);
    std::vector<std::pair<LogDocument*, LineNumber>> wanted;
    for (std::size_t row = first; row < end; ++row) {
        const Item item = itemOfRow(row);
        if (!item.isHeading() && !m_texts.contains({item.document, item.line})) {
            wanted.emplace_back(shownOf(row).document, item.line);
        }
    }
    if (wanted.empty()) {
        return;
    }
    if (m_texts.size() + wanted.size() > CachedRowsLimit) {
        m_texts.clear();
    }
    // One read per document: the rows of a range are grouped by document already.
    std::size_t at = 0;
    while (at < wanted.size()) {
        LogDocument* document = wanted[at].first;
        std::vector<LineNumber> lines;
        for (; at < wanted.size() && wanted[at].first == document; ++at) {
            lines.push_back(wanted[at].second);
        }
        std::vector<std::u16string> texts;
        std::vector<StyleRuns> runs;
        document->lines(lines, texts, &runs);
        m_seen.try_emplace(document, Seen{document->indexEpoch(), document->lineCount()});
        for (std::size_t i = 0; i < lines.size(); ++i) {
            m_texts[{document, lines[i]}] = Row{std::move(texts[i]), std::move(runs[i])};
        }
    }
}

const FindAllRowSource::Row* FindAllRowSource::read(std::size_t row)
{
    const Item item = itemOfRow(row);
    if (item.document == nullptr || item.isHeading()) {
        return nullptr;
    }
    auto found = m_texts.find({item.document, item.line});
    if (found == m_texts.end()) {
        prepareRows(row, row + 1);
        found = m_texts.find({item.document, item.line});
    }
    return found != m_texts.end() ? &found->second : nullptr;
}

std::u16string_view FindAllRowSource::rowText(std::size_t row)
{
    if (row < m_rowCount && itemOfRow(row).isHeading()) {
        return shownOf(row).heading;
    }
    const Row* entry = read(row);
    return entry != nullptr ? std::u16string_view(entry->text) : std::u16string_view();
}

const StyleRuns& FindAllRowSource::rowRuns(std::size_t row)
{
    static const StyleRuns none;
    const Row* entry = read(row);
    return entry != nullptr ? entry->runs : none;
}

std::uint64_t FindAllRowSource::largestLineNumber() const
{
    std::uint64_t largest = 0;
    for (const Shown& shown : m_shown) {
        largest = std::max<std::uint64_t>(largest, shown.document->lineCount());
    }
    return largest;
}

const LogDocument* FindAllRowSource::keywordDocument() const
{
    return m_shown.empty() ? nullptr : m_shown.front().document;
}

bool FindAllRowSource::isHeadingText(std::u16string_view text) const
{
    // The area hands back the view rowText gave: a heading is told by where it lies.
    return std::any_of(m_shown.begin(), m_shown.end(), [&](const Shown& shown) {
        return !shown.heading.empty() && text.data() == shown.heading.data();
    });
}

void FindAllRowSource::keywordColors(std::u16string_view text, ColorRef& fore, ColorRef& back,
                                     bool& matched) const
{
    if (const LogDocument* document = keywordDocument();
        document != nullptr && !isHeadingText(text)) {
        document->keywordColors(text, fore, back, matched);
    }
}

bool FindAllRowSource::colorsMatches() const
{
    const LogDocument* document = keywordDocument();
    return document != nullptr &&
           std::any_of(document->keywords().begin(), document->keywords().end(),
                       [](const Keyword& k) { return k.enabled && k.matchOnly; });
}

void FindAllRowSource::matchRuns(std::u16string_view text, std::size_t from, std::size_t to,
                                 StyleRuns& runs) const
{
    if (const LogDocument* document = keywordDocument();
        document != nullptr && !isHeadingText(text)) {
        document->matchRuns(text, from, to, runs);
    }
}
