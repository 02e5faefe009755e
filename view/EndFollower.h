#pragma once

// EndFollower: keeps a vertical scroll bar at its end while the user is there.
//
// Whether the user is at the end is kept as state, never read back from pixels: a burst
// of lines, a scroll bar appearing, a resize, a font change or a pane opening all move the
// range under the value, and a judgement "within a few pixels of the maximum" made after
// such a change would drop a user who never scrolled. The state changes only by
//   - arrive(): the user came to the end without scrolling (an open, a reload, Resume,
//     Clear); the bar goes to its end now and on every later range change;
//   - userScrolled(): after a scroll of the user's own (wheel, keys, thumb, trough,
//     a jump to a found line); the user follows if that scroll ended within `slack`
//     of the end.
// Actions on the bar itself (thumb, trough, arrows, the bar's own wheel and context menu)
// are seen through QAbstractSlider::actionTriggered and count as the user's own.
// A user who is not at the end keeps the position of their last scroll: a range that
// shrinks for a moment (a scroll bar appearing and going) and grows again does not leave
// the view where the clamp put it.
//
// Not owned: the bar must outlive the follower or the follower be its child's sibling in
// the same parent (the usual case: both belong to one scroll area). User-interface thread.

#include <QObject>

class QScrollBar;

class EndFollower : public QObject {
    Q_OBJECT
  public:
    EndFollower(QScrollBar* bar, int slack, QObject* parent);

    bool following() const { return m_following; }
    // The user is at the end from now on; the bar goes there.
    void arrive();
    // A scroll of the user's own has set the bar's value: follow if it ended at the end.
    void userScrolled();
    // Puts the bar at its end if the user follows, else at the user's position as far as
    // the range allows (after a change the bar does not report as a range change).
    void keep();
    // A new position for a user who is not at the end, set by the view itself (the same
    // line at the top after the row height changed). Does not change following.
    void anchor(int position);

  private:
    void judge(int position);

    QScrollBar* m_bar;
    int m_slack;
    bool m_following = true;
    int m_position = 0; // the user's position while not following
};
