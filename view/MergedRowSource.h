#pragma once

// MergedRowSource: the rows of several documents merged by time (engine/MergedLogs.h), as a
// TextArea reads them. It keeps the user interface's mirror of the order (MergedRows, a
// fraction of a byte a row) and reads the texts of the rows shown from their documents, a
// few thousand at most kept. Each row's source shows as a coloured stripe in the gutter and,
// when the name column is on, as the source's short name in front of the text (a copy takes
// it too); the gutter numbers a row by its line in its own file.
//
// The documents are not owned and must outlive the source. User-interface thread only.

#include "engine/MergedLogs.h"
#include "engine/MergedOrder.h"
#include "engine/MergedRowMap.h"
#include "view/RowSource.h"

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class LogDocument;

class MergedRowSource : public RowSource {
  public:
    // colors and names: one per document.
    MergedRowSource(std::vector<LogDocument*> documents, std::vector<ColorRef> colors,
                    std::vector<std::u16string> names);

    std::size_t sourceCount() const { return m_documents.size(); }
    LogDocument& document(std::size_t source) const { return *m_documents[source]; }
    ColorRef color(std::size_t source) const { return m_colors[source]; }
    const std::u16string& name(std::size_t source) const { return m_names[source]; }

    // Takes the worker's changes. Returns the old row count when rows only came at the end
    // (the area was told), else none: rows changed before the end, and the owner places the
    // area again (placeOfRow before, rowOfPlace after).
    std::optional<std::size_t> apply(const std::vector<MergedLogs::Change>& changes);
    // Whether the order shows only the last lines of each document so far.
    bool provisional() const { return m_provisional; }
    // The mirror of the order, and each document's first line in it (a filter counts on it).
    const MergedRows& order() const { return m_rows; }
    const std::vector<LineNumber>& bases() const { return m_bases; }

    // The document line a row shows (row < rowCount()).
    MergedRows::Place placeOfRow(std::size_t row) const;
    // The row of the document line, or of the nearest row after it; rowCount() when none.
    std::size_t rowOfPlace(const MergedRows::Place& place) const;
    // The rows of every document's marked lines, ascending (a marked line not merged yet is
    // none).
    std::vector<std::size_t> markedRows() const;
    // The documents' own line facts over the rows; valid until the rows change.
    MergedRowMap map() const { return MergedRowMap(m_rows, m_bases); }

    void setNameColumn(bool shown);
    bool nameColumn() const { return m_nameColumn; }

    std::size_t rowCount() const override { return m_rows.rowCount(); }
    LineNumber lineOfRow(std::size_t row) const override { return placeOfRow(row).line; }
    void prepareRows(std::size_t first, std::size_t end) override;
    std::u16string_view rowText(std::size_t row) override;
    const StyleRuns& rowRuns(std::size_t row) override;
    std::uint64_t largestLineNumber() const override;
    std::uint64_t rowKey(std::size_t row) const override;
    std::optional<ColorRef> rowStripe(std::size_t row) const override;
    void keywordColors(std::u16string_view text, ColorRef& fore, ColorRef& back,
                       bool& matched) const override;
    bool colorsMatches() const override;
    void matchRuns(std::u16string_view text, std::size_t from, std::size_t to,
                   StyleRuns& runs) const override;

    // The documents' lines changed under the same numbers (an append to an open last line,
    // a reload): texts are read again.
    void forgetTexts() { m_texts.clear(); }

  private:
    struct Row {
        std::u16string text;
        StyleRuns runs;
    };
    const Row* read(std::size_t row);
    std::size_t nameWidth() const;

    std::vector<LogDocument*> m_documents;
    std::vector<ColorRef> m_colors;
    std::vector<std::u16string> m_names;
    MergedRows m_rows;
    std::vector<LineNumber> m_bases;
    bool m_provisional = false;
    bool m_nameColumn = false;
    std::map<std::pair<std::size_t, LineNumber>, Row> m_texts;
};
