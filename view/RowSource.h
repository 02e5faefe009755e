#pragma once

// RowSource: what a TextArea shows, row by row. Row r is a text (with the terminal colours
// its line had) that stands for one line of a document, lineOfRow(r); the area asks for
// the rows it paints, wraps, hits or copies, and for nothing else, so a source of millions
// of rows costs only what is on screen. The keyword colours are the source's too: rows of
// one document take that document's keywords.
//
// A source tells its area of changes through the one listener the area installs: rows
// appended at the end (the area keeps the end in view while the user is there), all rows
// reset (the area starts over at the end, as on a new file), or texts changed under the
// same rows (read again). User-interface thread only, except that the texts may be read
// under textLock() from the wrap layout.

#include "engine/DocumentTypes.h"
#include "engine/StyleRuns.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct RowChange {
    enum class Kind {
        Appended, // rows [first, first + count) came at the end; earlier rows stay
        Reset,    // every row may be another one now
        Retexted, // the same rows; texts of rows from `first` on may read differently
    };
    Kind kind = Kind::Appended;
    std::size_t first = 0;
    std::size_t count = 0;
    // Retexted: every kept layout of a text is stale (the lines under the numbers changed).
    bool allTexts = false;
};

class RowSource {
  public:
    using Listener = std::function<void(const RowChange&)>;

    virtual ~RowSource() = default;

    virtual std::size_t rowCount() const = 0;
    // The document line row `row` shows (row < rowCount()).
    virtual LineNumber lineOfRow(std::size_t row) const = 0;
    // The rows [first, end) are about to be read: a source that reads in batches reads them
    // now, in one call.
    virtual void prepareRows(std::size_t first, std::size_t end)
    {
        (void)first;
        (void)end;
    }
    // The row's text and its terminal colours; both stay valid until the next call of the
    // source that reads rows (prepareRows, rowText, rowRuns, copyRows). A row past the end is
    // empty.
    virtual std::u16string_view rowText(std::size_t row) = 0;
    virtual const StyleRuns& rowRuns(std::size_t row) = 0;
    // The row's length in characters or a close bound of it, known without reading the text.
    virtual std::optional<std::uint64_t> rowSizeHint(std::size_t row)
    {
        (void)row;
        return std::nullopt;
    }
    // An upper bound of the UTF-16 units the row's text and a line feed take in a copy,
    // known without reading the text.
    virtual std::uint64_t rowCopyBound(std::size_t row) { return rowText(row).size() + 1; }
    // The texts of rows [first, end) for a copy, in order.
    virtual void copyRows(std::size_t first, std::size_t end, std::vector<std::u16string>& texts);
    // For a row too long to lay out, its columns: it wraps in rows of a fixed number of
    // columns (view/ColumnRows.h). None: it wraps by its text.
    virtual std::optional<std::int64_t> rowColumns(std::size_t row)
    {
        (void)row;
        return std::nullopt;
    }
    // Held around every read of the texts, when they are shared with another thread.
    virtual std::recursive_mutex* textLock() { return nullptr; }
    // The largest line number the gutter must hold (counted from 1), so the text does not
    // move sideways while rows of higher numbers scroll in.
    virtual std::uint64_t largestLineNumber() const;
    // Whether the gutter shows the row's number (a heading row of a list has none).
    virtual bool rowNumbered(std::size_t row) const
    {
        (void)row;
        return true;
    }
    // Tells the row's text apart from every other row's while the rows stay (the wrap
    // layout keeps its measures by it): rows of several documents cannot use their lines.
    virtual std::uint64_t rowKey(std::size_t row) const { return lineOfRow(row); }
    // A sign before the row's number in the gutter (0: none).
    virtual char16_t rowSign(std::size_t row) const
    {
        (void)row;
        return 0;
    }
    // The sign the gutter keeps room for, whether or not a row shows it (0: none).
    virtual char16_t signRoom() const { return 0; }
    // A colour the gutter shows as a stripe at its left edge for the row (the source of a
    // merged row); none: no stripe.
    virtual std::optional<ColorRef> rowStripe(std::size_t row) const
    {
        (void)row;
        return std::nullopt;
    }

    // Keyword colours. `matched` is set when a keyword colours the whole row.
    virtual void keywordColors(std::u16string_view text, ColorRef& fore, ColorRef& back,
                               bool& matched) const
    {
        (void)text;
        (void)fore;
        (void)back;
        (void)matched;
    }
    // Whether some keyword colours its matches rather than the whole row.
    virtual bool colorsMatches() const { return false; }
    // The matches such keywords colour in characters [from, to) of the text.
    virtual void matchRuns(std::u16string_view text, std::size_t from, std::size_t to,
                           StyleRuns& runs) const
    {
        (void)text;
        (void)from;
        (void)to;
        (void)runs;
    }

    // The area's listener; one at a time.
    void setListener(Listener listener) { m_listener = std::move(listener); }

  protected:
    void notify(const RowChange& change)
    {
        if (m_listener) {
            m_listener(change);
        }
    }
    void rowsAppended(std::size_t first, std::size_t count)
    {
        notify({RowChange::Kind::Appended, first, count, false});
    }
    void rowsReset() { notify({RowChange::Kind::Reset, 0, rowCount(), false}); }
    void rowsRetexted(std::size_t first, bool allTexts)
    {
        notify({RowChange::Kind::Retexted, first, 0, allTexts});
    }

  private:
    Listener m_listener;
};
