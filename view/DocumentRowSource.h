#pragma once

// DocumentRowSource: every line of a document as rows, row r being line r; the log view's
// rows. The texts are views into the document's decoded window: read them under
// textLock(), the document's lock. The document is not owned; it must outlive the source
// or be detached with setDocument(nullptr).

#include "view/RowSource.h"

class LogDocument;

class DocumentRowSource : public RowSource {
  public:
    void setDocument(LogDocument* document) { m_document = document; }
    LogDocument* document() const { return m_document; }

    std::size_t rowCount() const override;
    LineNumber lineOfRow(std::size_t row) const override { return LineNumber(row); }
    std::u16string_view rowText(std::size_t row) override;
    const StyleRuns& rowRuns(std::size_t row) override;
    std::optional<std::uint64_t> rowSizeHint(std::size_t row) override;
    std::optional<std::int64_t> rowColumns(std::size_t row) override;
    std::recursive_mutex* textLock() override;
    void keywordColors(std::u16string_view text, ColorRef& fore, ColorRef& back,
                       bool& matched) const override;
    bool colorsMatches() const override;
    void matchRuns(std::u16string_view text, std::size_t from, std::size_t to,
                   StyleRuns& runs) const override;

    // The document's lines were appended to (the last line may have grown).
    void linesAppended(std::size_t before) { rowsAppended(before, rowCount() - before); }
    // Other lines under the same numbers (an open, a reload, a truncation).
    void linesReset() { rowsReset(); }

  private:
    LogDocument* m_document = nullptr;
};
