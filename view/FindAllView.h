#pragma once

// FindAllView: Find in All Tabs' list of results, a TextArea over FindAllRowSource: each
// tab's heading (its name and how many lines match), then its matching lines with their
// numbers in the gutter. Enter on a row, or a double click, chooses it (itemChosen); a
// plain click only makes it the current row, since choosing brings another tab to the
// front. While the search adds rows at the end the area follows them as the filter pane
// does; rows that come in the middle (an earlier tab grew) keep the rows on screen where
// they are.
//
// The search is not owned; it must outlive the view or be detached. User-interface thread
// only.

#include "view/FindAllRowSource.h"
#include "view/TextArea.h"

class FindAllView : public TextArea {
    Q_OBJECT
  public:
    explicit FindAllView(QWidget* parent = nullptr);
    ~FindAllView() override;

    FindAllRowSource& rows() { return m_rows; }
    void setSearch(const FindAllSearch* search) { m_rows.setSearch(search); }
    void setHeading(FindAllRowSource::Heading heading) { m_rows.setHeading(std::move(heading)); }

    // The search's lists changed (collect, sync, a tab gone): the rows follow.
    void searchChanged();
    // The search started over: the list starts at its top.
    void searchReset();
    // A searched document changed: its rows read again.
    void documentChanged(const LogDocument& document);

  signals:
    // The user chose a row: a tab's heading (item.isHeading()) or one of its lines.
    void itemChosen(FindAllRowSource::Item item);

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    FindAllRowSource m_rows;
    bool m_clicking = false;
};
