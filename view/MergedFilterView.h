#pragma once

// MergedFilterView: the filter pane's list on a merged tab, a TextArea over the rows the
// filter lets through (engine/MergedFilterRows.h). Each row reads as the merged area reads
// it (view/MergedRowSource.h): its file's stripe in the gutter, its line's number in its
// own file, the short name in front while the name column is on, the keyword and terminal
// colours; a copy takes those texts, the original lines. A line a term could not decide
// shows a mark before its number, a marked line is tinted as in the merged area. A click
// that is not the end of a drag, or Enter, asks for the row's merged row to be shown
// (mergedRowActivated).
//
// Neither the merged rows, the filter rows nor the undecided lists are owned; they must
// outlive the view. User-interface thread only.

#include "engine/MergedFilterRows.h"
#include "view/RowSource.h"
#include "view/TextArea.h"

#include <cstddef>
#include <vector>

class MergedRowSource;

class MergedFilterRowSource : public RowSource {
  public:
    MergedFilterRowSource(MergedRowSource* merged, const MergedFilterRows* rows);

    // Each file's lines the filter could not decide, ascending (null: none); not owned.
    void setUndecided(std::vector<const std::vector<LineNumber>*> lines)
    {
        m_undecided = std::move(lines);
    }
    bool isUndecided(std::size_t row) const;
    MergedFilterRows::Row row(std::size_t row) const { return m_rows->at(row); }

    // Tell the area: rows came at the end, every row may be another, texts changed.
    void appended(std::size_t first, std::size_t count) { rowsAppended(first, count); }
    void reset() { rowsReset(); }
    void retexted() { rowsRetexted(0, true); }

    std::size_t rowCount() const override { return m_rows->size(); }
    LineNumber lineOfRow(std::size_t row) const override { return m_rows->at(row).line; }
    std::u16string_view rowText(std::size_t row) override;
    const StyleRuns& rowRuns(std::size_t row) override;
    std::uint64_t largestLineNumber() const override;
    std::uint64_t rowKey(std::size_t row) const override;
    char16_t rowSign(std::size_t row) const override;
    char16_t signRoom() const override { return u'?'; }
    std::optional<ColorRef> rowStripe(std::size_t row) const override;
    void keywordColors(std::u16string_view text, ColorRef& fore, ColorRef& back,
                       bool& matched) const override;
    bool colorsMatches() const override;
    void matchRuns(std::u16string_view text, std::size_t from, std::size_t to,
                   StyleRuns& runs) const override;

  private:
    MergedRowSource* m_merged;
    const MergedFilterRows* m_rows;
    std::vector<const std::vector<LineNumber>*> m_undecided;
};

class MergedFilterView : public TextArea {
    Q_OBJECT
  public:
    MergedFilterView(MergedRowSource* merged, const MergedFilterRows* rows,
                     QWidget* parent = nullptr);
    ~MergedFilterView() override;

    MergedFilterRowSource& rows() { return m_rows; }
    // The merged row of the row the user looks at: the current row's when it is on screen,
    // else the top row's; none without rows.
    std::optional<std::size_t> placeRow();
    // The view goes to its end and follows it.
    void followEnd() { arriveAtEnd(); }
    // The current row's line is marked in its file, or its mark goes.
    void toggleMarkAtCurrentRow();
    // To the nearest row after (or before) the current one whose line is marked, around the
    // end; false when no row is.
    bool jumpToMark(bool next);

  signals:
    void mergedRowActivated(std::size_t mergedRow);

  protected:
    void styleRow(std::size_t row, LogRenderer::RowStyle& style) override;

  private:
    MergedRowSource* m_merged;
    const MergedFilterRows* m_rowsOf;
    MergedFilterRowSource m_rows;
};
