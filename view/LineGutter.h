#pragma once

// LineGutter: the strip left of the log view's text with the line numbers (1-based) and a
// mark column in front of them. It sits in the scroll area's left margin, outside the
// viewport, so the text's coordinates, its selection, copy and every point-to-text mapping
// never see it. Its rows line up with the viewport's rows pixel for pixel; while lines wrap,
// a line's number and mark stand on its first row, and a click on any of its rows marks it.
//
// A left click toggles the mark of the line under the point (the mark and number columns
// alike); the right button's menu toggles it or opens the field for its note, and a marked
// line's note is its tooltip here. Painting takes only the line count under the document lock;
// marks are main-thread state. User-interface thread only; owned by its LogView.

#include "engine/DocumentTypes.h"

#include <QWidget>

#include <optional>

class LogView;

class LineGutter : public QWidget {
    Q_OBJECT
  public:
    explicit LineGutter(LogView* view);

    // The width that holds the mark column and digits for lineCount lines.
    int widthFor(std::uint32_t lineCount) const;
    // The mark column's width (the numbers follow it).
    int markColumnWidth() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool event(QEvent* event) override;

  private:
    // The line whose rows take in the gutter's y; nothing below the last row.
    std::optional<LineNumber> lineAt(int y) const;

    LogView* m_view;
};
