#pragma once

// Status pane 1: the watched file's path. It asks for the path's full width, but when the
// status bar is too narrow for it and the panes beside it, it gives way first and shows
// the path with its middle elided, so the size and line panes stay readable; the whole
// path stays available as the pane's tool tip. User-interface thread only.

#include <QLabel>

class PathPane : public QLabel {
    Q_OBJECT
  public:
    explicit PathPane(QWidget* parent = nullptr);

    // The text as drawn: the whole text when it fits, else its middle replaced by "…".
    QString shownText() const;
    // Room for the ellipsis alone: the pane may shrink that far.
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};
