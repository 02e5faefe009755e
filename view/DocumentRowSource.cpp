#include "view/DocumentRowSource.h"

#include "engine/LogDocument.h"

#include <algorithm>

std::size_t DocumentRowSource::rowCount() const
{
    return m_document != nullptr ? m_document->lineCount() : 0;
}

std::u16string_view DocumentRowSource::rowText(std::size_t row)
{
    return m_document->lineView(LineNumber(row));
}

const StyleRuns& DocumentRowSource::rowRuns(std::size_t row)
{
    static const StyleRuns none;
    return m_document->terminalColors() ? m_document->lineRuns(LineNumber(row)) : none;
}

std::optional<std::int64_t> DocumentRowSource::rowColumns(std::size_t row)
{
    if (!m_document->isLongLine(LineNumber(row))) {
        return std::nullopt;
    }
    return m_document->longLineTextColumns(LineNumber(row));
}

std::optional<std::uint64_t> DocumentRowSource::rowSizeHint(std::size_t row)
{
    if (m_document->isLongLine(LineNumber(row))) {
        return std::nullopt; // its rows are counted from its columns
    }
    // The line's bytes in the index: at least as many as its characters in UTF-8 and the
    // narrow sets, twice as many in UTF-16.
    const FileOffset bytes =
        m_document->lineStart(LineNumber(row) + 1) - m_document->lineStart(LineNumber(row));
    return std::uint64_t(std::max<FileOffset>(0, bytes)) / (m_document->isUtf16() ? 2 : 1);
}

std::recursive_mutex* DocumentRowSource::textLock()
{
    return m_document != nullptr ? &m_document->docAccess() : nullptr;
}

void DocumentRowSource::keywordColors(std::u16string_view text, ColorRef& fore, ColorRef& back,
                                      bool& matched) const
{
    m_document->keywordColors(text, fore, back, matched);
}

bool DocumentRowSource::colorsMatches() const
{
    const std::vector<Keyword>& keywords = m_document->keywords();
    return std::any_of(keywords.begin(), keywords.end(),
                       [](const Keyword& k) { return k.enabled && k.matchOnly; });
}

void DocumentRowSource::matchRuns(std::u16string_view text, std::size_t from, std::size_t to,
                                  StyleRuns& runs) const
{
    m_document->matchRuns(text, from, to, runs);
}
