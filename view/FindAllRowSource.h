#pragma once

// FindAllRowSource: Find in All Tabs' results as a TextArea reads them. Each document with
// at least one matching line takes a heading row (its name and count, as the heading
// callback words it, without a number in the gutter) followed by one row per matching line,
// in the order of the search's groups. Only the line numbers are held (the search's
// FilterMatches); a row's text and terminal colours are read from its document when the
// row is shown, a few thousand at most kept, as the filter pane does.
//
// The search is not owned and must outlive the source or be detached. After the search
// changed, layOut() places the groups again; the owner then tells the area what moved.
// User-interface thread only.

#include "engine/DocumentTypes.h"
#include "view/RowSource.h"

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class FindAllSearch;
class LogDocument;

class FindAllRowSource : public RowSource {
  public:
    // The text of a group's heading row, for count matching lines.
    using Heading = std::function<std::u16string(std::size_t group, std::size_t count)>;

    void setSearch(const FindAllSearch* search);
    const FindAllSearch* search() const { return m_search; }
    void setHeading(Heading heading) { m_heading = std::move(heading); }

    // What a row stands for: a group's heading (line ~0) or one of its matching lines.
    struct Item {
        const LogDocument* document = nullptr; // none: no such row
        LineNumber line = ~LineNumber(0);
        bool isHeading() const { return line == ~LineNumber(0); }
        bool operator==(const Item&) const = default;
    };
    Item itemOfRow(std::size_t row) const;
    // The row of the item, or of the first item after it in the list's order (the end of
    // its group when its line is gone, the heading when its group is); rowCount() when none.
    std::size_t rowOfItem(const Item& item) const;

    // Places the groups again after the search changed; the headings are worded again.
    // Returns the number of rows that read as they did before (the rows before the first
    // group whose rows changed): a list that only grew at its end keeps every old row.
    std::size_t layOut();
    // The document changed (an append, a reload): its changed lines are read again.
    void documentChanged(const LogDocument& document);
    // Tells the area, as the source's own notice: rows appended, or all reset.
    void announceAppended(std::size_t first) { rowsAppended(first, rowCount() - first); }
    void announceReset() { rowsReset(); }
    void announceRetexted() { rowsRetexted(0, true); }

    std::size_t rowCount() const override { return m_rowCount; }
    LineNumber lineOfRow(std::size_t row) const override;
    void prepareRows(std::size_t first, std::size_t end) override;
    std::u16string_view rowText(std::size_t row) override;
    const StyleRuns& rowRuns(std::size_t row) override;
    std::uint64_t largestLineNumber() const override;
    bool rowNumbered(std::size_t row) const override;
    std::uint64_t rowKey(std::size_t row) const override;
    void keywordColors(std::u16string_view text, ColorRef& fore, ColorRef& back,
                       bool& matched) const override;
    bool colorsMatches() const override;
    void matchRuns(std::u16string_view text, std::size_t from, std::size_t to,
                   StyleRuns& runs) const override;

  private:
    struct Shown {
        std::size_t group = 0;
        std::size_t firstRow = 0; // its heading's row
        std::size_t count = 0;    // matching lines
        LineNumber last = 0;      // its last matching line
        std::u16string heading;
        LogDocument* document = nullptr;
    };
    struct Row {
        std::u16string text;
        StyleRuns runs;
    };
    // The shown group holding row (row < rowCount()).
    const Shown& shownOf(std::size_t row) const;
    // The text of a matching line's row, read when it is not yet; null for a heading.
    const Row* read(std::size_t row);
    // Keywords are the program's, the same in every document: any document's serve.
    const LogDocument* keywordDocument() const;
    bool isHeadingText(std::u16string_view text) const;

    const FindAllSearch* m_search = nullptr;
    Heading m_heading;
    std::vector<Shown> m_shown;
    std::size_t m_rowCount = 0;
    // Texts by document and line; how far each document's lines were when read.
    std::map<std::pair<const LogDocument*, LineNumber>, Row> m_texts;
    struct Seen {
        std::uint64_t epoch = 0;
        LineNumber lines = 0;
    };
    std::unordered_map<const LogDocument*, Seen> m_seen;
    // A number per document that stays while the document is searched, for rowKey.
    std::unordered_map<const LogDocument*, std::uint64_t> m_serials;
    std::uint64_t m_nextSerial = 1;
};
