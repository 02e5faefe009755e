// The filter pane's list over a real document: its rows come from FilterRowSource, and
// what the source tells (a new filter, an append to the open last line) reaches the area.

#include "view/FilterView.h"
#include "ViewTestSupport.h"
#include "engine/FilterMatches.h"
#include "engine/FilterRows.h"
#include "engine/LineFilter.h"

#include <QTest>

using quilltest::ViewFixture;

class FilterViewTest : public ViewFixture {
  protected:
    void TearDown() override
    {
        filterView.reset();
        ViewFixture::TearDown();
    }
    void showFilter(const FilterRows* rows)
    {
        filterView = std::make_unique<FilterView>();
        filterView->setTextFont(view->renderer().font());
        filterView->setDocument(document.get());
        filterView->setMatches(rows);
        filterView->resize(400, 6 * filterView->rowHeight());
        filterView->show();
        settle();
    }
    std::unique_ptr<FilterView> filterView;
};

TEST_F(FilterViewTest, TheOpenLastLineIsReadAgainAfterAnAppend)
{
    open("first\nsecond\npart");
    FilterMatches matches;
    matches.push_back(0);
    matches.push_back(2);
    FilterRows rows(matches);
    showFilter(&rows);
    ASSERT_EQ(filterView->rowCount(), 2u);
    ASSERT_EQ(filterView->selectableLine(1), u"part");
    append("ial line\n");
    filterView->documentChanged();
    EXPECT_EQ(filterView->selectableLine(1), u"partial line");
    EXPECT_EQ(filterView->selectableLine(0), u"first");
}

TEST_F(FilterViewTest, ANewFilterIsReadFromItsEndEvenByAUserWhoHadScrolledAway)
{
    open(numberedLines(0, 100));
    FilterMatches matches;
    for (LineNumber line = 0; line < 60; ++line) {
        matches.push_back(line);
    }
    FilterRows rows(matches);
    showFilter(&rows);
    ASSERT_TRUE(filterView->isFollowing());
    QTest::keyClick(filterView.get(), Qt::Key_Home, Qt::ControlModifier);
    settle();
    ASSERT_FALSE(filterView->isFollowing());
    ASSERT_EQ(filterView->firstVisibleRow(), 0u);

    FilterMatches other;
    for (LineNumber line = 1; line < 100; line += 2) {
        other.push_back(line);
    }
    FilterRows otherRows(other);
    filterView->setMatches(&otherRows);
    settle();
    EXPECT_TRUE(filterView->isFollowing());
    EXPECT_EQ(filterView->firstVisibleRow(), 50u - 6u);
    EXPECT_EQ(filterView->lineOfRow(filterView->firstVisibleRow()), 89u);
    filterView->setMatches(nullptr);
}
