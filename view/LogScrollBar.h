#pragma once

// LogScrollBar: the log view's scroll bars. They look and behave as the style's own; the
// difference is that a value change which leaves the picture as it is (the handle on the
// same pixels, neither end newly reached or left) does not repaint the bar.
//
// On a long file a page is a fraction of a pixel of the bar, so most Page Down presses
// would otherwise repaint a full-height bar for nothing; with the stock styles that is
// dearer than painting the page itself, because Qt hands fills taller than about a
// hundred lines to its thread pool.
//
// User-interface thread only; owned by its parent like any widget.

#include <QRect>
#include <QScrollBar>

#include <optional>

class LogScrollBar : public QScrollBar {
    Q_OBJECT
  public:
    explicit LogScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

  protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    // What of the value shows in the style's picture.
    struct Look {
        QRect handle;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look&) const = default;
    };
    Look currentLook() const;

    // The look of the last paint that covered the whole bar, when it is still on screen.
    std::optional<Look> m_painted;
};
