#pragma once

// FilterRowSource: the filter pane's rows as a TextArea reads them. Row r is document line
// matches.at(r); its text and terminal colours are read from the document for the rows
// asked for, in one call, and kept until the lines may have changed (only the open last
// line is read again after an append). The keyword colours are the document's. Neither the
// document, the matches nor the undecided lines are owned; each must outlive the source or
// be detached. User-interface thread only.

#include "engine/FilterRows.h"
#include "view/RowSource.h"

#include <unordered_map>

class LogDocument;
struct FilterChange;

class FilterRowSource : public RowSource {
  public:
    void setDocument(LogDocument* document);
    LogDocument* document() const { return m_document; }
    void setMatches(const FilterRows* rows) { m_matches = rows; }
    const FilterRows* matches() const { return m_matches; }
    // The lines among the matches that are shown undecided, ascending.
    void setUndecided(const std::vector<LineNumber>* lines) { m_undecided = lines; }
    bool isUndecided(std::size_t row) const;

    // The matches changed as LineFilter::collect or Sync reported.
    void matchesChanged(const FilterChange& change);
    // The document changed (an append, new keywords): changed lines are read again.
    void documentChanged();

    std::size_t rowCount() const override { return m_matches != nullptr ? m_matches->size() : 0; }
    LineNumber lineOfRow(std::size_t row) const override { return m_matches->at(row); }
    void prepareRows(std::size_t first, std::size_t end) override;
    std::u16string_view rowText(std::size_t row) override;
    const StyleRuns& rowRuns(std::size_t row) override;
    std::optional<std::uint64_t> rowSizeHint(std::size_t row) override;
    std::uint64_t rowCopyBound(std::size_t row) override;
    void copyRows(std::size_t first, std::size_t end, std::vector<std::u16string>& texts) override;
    std::uint64_t largestLineNumber() const override;
    char16_t rowSign(std::size_t row) const override;
    char16_t signRoom() const override;
    void keywordColors(std::u16string_view text, ColorRef& fore, ColorRef& back,
                       bool& matched) const override;
    bool colorsMatches() const override;
    void matchRuns(std::u16string_view text, std::size_t from, std::size_t to,
                   StyleRuns& runs) const override;

  private:
    struct Row {
        std::u16string text;
        StyleRuns runs;
    };
    // The row's entry, read when it is not yet; null for a row beyond the matches.
    const Row* row(std::size_t row);
    void forgetRows() { m_texts.clear(); }

    LogDocument* m_document = nullptr;
    const FilterRows* m_matches = nullptr;
    const std::vector<LineNumber>* m_undecided = nullptr;
    // Row texts and their terminal colours by document line.
    std::unordered_map<LineNumber, Row> m_texts;
    std::uint64_t m_seenGeneration = 0;
    LineNumber m_seenLineCount = 0;
};
