#pragma once

// MergedArea: the text area of a merged tab (view/MergedRowSource.h). A row whose line its
// own document marks is tinted as a marked line is in the log view, and the marks are set,
// cleared and jumped between on the merged rows: each mark stays with its document's line.
// User-interface thread only.

#include "view/TextArea.h"

class MergedRowSource;

class MergedArea : public TextArea {
  public:
    MergedArea(MergedRowSource* rows, QWidget* parent = nullptr);

    // The current row's line is marked, or its mark goes.
    void toggleMarkAtCurrentRow();
    // To the nearest marked row after (or before) the current one, around the end; false
    // when no row is marked.
    bool jumpToMark(bool next);
    // Every document's marks go.
    void clearMarks();

    // A strip beside the vertical scroll bar, given room right of the rows while it is
    // shown (null: none); not owned.
    void setSideStrip(QWidget* strip, bool shown);

  protected:
    void styleRow(std::size_t row, LogRenderer::RowStyle& style) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void placeSideStrip();

    MergedRowSource* m_rows;
    QWidget* m_strip = nullptr;
    bool m_stripShown = false;
};
