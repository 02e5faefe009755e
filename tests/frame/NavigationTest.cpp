// Finding the way in a long log on the real main frame with the English package, through
// keys and clicks: the line-number gutter (its edge, and that the text's hit-testing ignores
// it), the Go to line box at its boundaries, marks toggled, jumped, tinted, kept through
// appends and a reload of unchanged lines, dropped by a rewritten file and Clear, the
// filter pane listing them, and every match of the find text highlighted by pixels, a tab
// inside and before a match included.

#include "dialogs/FindDialog.h"
#include "dialogs/GoToLineDialog.h"
#include "engine/LineFilter.h"
#include "engine/LogDocument.h"
#include "frame/FilterBar.h"
#include "frame/FilterPane.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/NavigationCommands.h"
#include "resources/ResourceIds.h"
#include "settings/SettingsStore.h"
#include "support/EnglishPackage.h"
#include "support/FrameOwners.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "support/WidgetEvents.h"
#include "view/FilterView.h"
#include "view/LineGutter.h"
#include "view/LogView.h"
#include "view/OverviewStrip.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSet>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <random>

// Runs the event loop until the two agree (at most ten seconds), then compares them: the
// QTRY_ macros report to Qt Test, which a GoogleTest program does not hear.
#define WAIT_EQ(actual, expected)                                                                  \
    do {                                                                                           \
        static_cast<void>(QTest::qWaitFor([&] { return (actual) == (expected); }, 10000));         \
        EXPECT_EQ(actual, expected);                                                               \
    } while (false)

using quilltest::NullSound;
using quilltest::ReopeningOwner;
using quilltest::u16;

namespace {

class NavigationTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(package.loaded);
        path = package.dir.file("nav.log");
    }

    static std::string numbered(int count)
    {
        std::string bytes;
        for (int i = 0; i < count; ++i) {
            bytes += "line " + std::to_string(i) + "\n";
        }
        return bytes;
    }

    void open(const std::string& bytes)
    {
        quilltest::writeFile(path, bytes);
        // A second open in one test starts with a new frame (and with it new tabs).
        ASSERT_NO_FATAL_FAILURE(quilltest::showFrameOver(frame, owner, sound, path, {600, 400}));
        document = frame->activeDocument();
    }

    LogView* view() const { return frame->activeView(); }

    static void settle()
    {
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
    }

    void key(int k, Qt::KeyboardModifiers mods = {}, QWidget* target = nullptr)
    {
        QTest::keyClick(target != nullptr ? target : view(), Qt::Key(k), mods);
        settle();
    }

    // Ctrl+J, the text typed into the box, then Enter (or Escape).
    void goToLine(const char* typed, bool accept = true)
    {
        key(Qt::Key_J, Qt::ControlModifier);
        auto* box = qobject_cast<GoToLineDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr) << "Ctrl+J opens the box";
        auto* field = box->findChild<QLineEdit*>(QStringLiteral("lineNumber"));
        ASSERT_NE(field, nullptr);
        QTest::keyClicks(field, typed);
        key(accept ? Qt::Key_Return : Qt::Key_Escape, {}, field);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the box closed";
        // The offscreen platform gives the window its activation back only when asked.
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        settle();
    }

    // The whole line selected, as Go to line and a jump to a mark leave it.
    std::optional<LineNumber> shownLine() const
    {
        const DocSelection s = document->selection();
        if (!s.valid || s.startLine != s.endLine || s.startCol != 0 || s.endCol != -1) {
            return std::nullopt;
        }
        EXPECT_EQ(document->findPosition().line, s.startLine) << "the find position too";
        return s.startLine;
    }

    void append(const std::string& bytes)
    {
        quilltest::appendFile(path, bytes);
        {
            std::lock_guard lock(document->docAccess());
            document->appendText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                 false);
        }
        frame->currentTab()->updateAllViews();
        settle();
    }

    // The client y of the top of document line `line`.
    int rowTop(LineNumber line) const
    {
        return static_cast<int>(line * view()->lineHeight()) - view()->verticalScrollBar()->value();
    }

    QImage shown() const { return view()->viewport()->grab().toImage(); }

    quilltest::EnglishPackage package;
    NullSound sound;
    ReopeningOwner owner;
    LogDocument* document = nullptr; // the front tab's
    std::unique_ptr<MainFrame> frame;
    std::string path;
};

} // namespace

TEST_F(NavigationTest, GutterTakesItsClicksUpToItsEdgeAndTheTextKeepsItsCoordinates)
{
    open(numbered(300));
    EXPECT_FALSE(view()->gutter()->isVisible()) << "off by default";
    const int textLeft = view()->viewport()->x();
    frame->action(CommandId::LineNumbers)->trigger();
    settle();
    LineGutter* gutter = view()->gutter();
    ASSERT_TRUE(gutter->isVisible());
    EXPECT_TRUE(package.store->boolValue(Setting::LineNumbers)) << "stored";
    EXPECT_TRUE(frame->action(CommandId::LineNumbers)->isChecked());
    EXPECT_EQ(view()->viewport()->x(), textLeft + gutter->width());
    EXPECT_EQ(gutter->geometry().right() + 1, view()->viewport()->x()) << "side by side";

    const LineNumber line = 290;
    const int y = rowTop(line) + int(view()->lineHeight()) / 2;
    ASSERT_GT(rowTop(line), 0);
    QTest::mouseClick(gutter, Qt::LeftButton, {}, QPoint(gutter->width() - 1, y));
    EXPECT_EQ(document->marks().lines(), std::vector<LineNumber>{line}) << "the last column";
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, QPoint(0, y));
    EXPECT_EQ(document->marks().lines(), std::vector<LineNumber>{line})
        << "the text's first column is no gutter";
    QTest::mouseClick(gutter, Qt::LeftButton, {}, QPoint(0, y));
    EXPECT_TRUE(document->marks().isEmpty()) << "the first column toggles it off again";

    // A double click on the first word selects it from column 0: the gutter moved the
    // text, not its coordinates.
    QTest::mouseDClick(view()->viewport(), Qt::LeftButton, {}, QPoint(2, y));
    const DocSelection selection = document->selection();
    ASSERT_TRUE(selection.valid);
    EXPECT_EQ(selection.startLine, line);
    EXPECT_EQ(selection.startCol, 0);
    EXPECT_EQ(selection.endCol, 3) << "\"line\"";

    // The numbers: ink in the rows of lines, none below the last line.
    const QImage image = gutter->grab().toImage();
    const QRgb paper = image.pixel(0, 0);
    auto inked = [&](int top) {
        for (int yy = top; yy < top + int(view()->lineHeight()); ++yy) {
            for (int x = gutter->markColumnWidth(); x < image.width(); ++x) {
                if (image.pixel(x, yy) != paper) {
                    return true;
                }
            }
        }
        return false;
    };
    EXPECT_TRUE(inked(rowTop(line)));
    EXPECT_TRUE(inked(rowTop(299)));
    // The numbers end a character's width before the text starts, and the first of the
    // three digits of "291" has its room.
    const int nine = int(view()->renderer().textWidth(u"9"));
    bool firstDigit = false;
    for (int yy = rowTop(line); yy < rowTop(line) + int(view()->lineHeight()); ++yy) {
        for (int x = image.width() - 4 * nine; x < image.width() - 3 * nine; ++x) {
            firstDigit = firstDigit || image.pixel(x, yy) != paper;
        }
    }
    EXPECT_TRUE(firstDigit);
    for (int yy = rowTop(line); yy < rowTop(line) + int(view()->lineHeight()); ++yy) {
        for (int x = image.width() - nine; x < image.width(); ++x) {
            ASSERT_EQ(image.pixel(x, yy), paper) << "ink at " << x << " beside the text";
        }
    }
    if (rowTop(300) + int(view()->lineHeight()) <= image.height()) {
        EXPECT_FALSE(inked(rowTop(300)));
    }

    frame->action(CommandId::LineNumbers)->trigger();
    settle();
    EXPECT_FALSE(view()->gutter()->isVisible());
    EXPECT_EQ(view()->viewport()->x(), textLeft);
    EXPECT_FALSE(package.store->boolValue(Setting::LineNumbers));
}

TEST(GoToLineDialog, TheFieldsTextNamesALineOfTheFile)
{
    struct Row {
        const char* text;
        std::uint32_t count;
        std::optional<std::uint32_t> line;
    };
    const Row rows[] = {{"1", 10, 0u},
                        {"0", 10, 0u},
                        {"10", 10, 9u},
                        {"11", 10, 9u},
                        {"999999999999", 10, 9u},
                        {"", 10, std::nullopt},
                        {"5", 0, std::nullopt},
                        {"4294967295", 4294967295u, 4294967294u},
                        {"12a", 10, std::nullopt}};
    for (const Row& row : rows) {
        EXPECT_EQ(GoToLineDialog::lineFromText(QString::fromLatin1(row.text), row.count), row.line)
            << row.text << " of " << row.count;
    }
}

TEST_F(NavigationTest, GoToLineClampsToTheFileAndShowsALineOfContext)
{
    open(numbered(500));
    goToLine("250");
    EXPECT_EQ(shownLine(), 248u + 1);
    EXPECT_EQ(view()->firstVisibleLine(), 248u) << "one line of context above";
    EXPECT_FALSE(view()->isFollowing());

    goToLine("1");
    EXPECT_EQ(shownLine(), 0u);
    EXPECT_EQ(view()->verticalScrollBar()->value(), 0);
    goToLine("0");
    EXPECT_EQ(shownLine(), 0u) << "0 is the first line";
    goToLine("500");
    EXPECT_EQ(shownLine(), 499u);
    goToLine("99999999999999");
    EXPECT_EQ(shownLine(), 499u) << "past the end: the last line";
    goToLine("12", false);
    EXPECT_EQ(shownLine(), 499u) << "Escape goes nowhere";

    // F3 goes on from the line shown: it became the find position.
    goToLine("100");
    QTest::keyClick(view(), Qt::Key_F, Qt::ControlModifier);
    settle();
    FindDialog* find = frame->findDialog();
    ASSERT_NE(find, nullptr);
    auto* field = find->findChild<QComboBox*>(QStringLiteral("findText"))->lineEdit();
    field->selectAll();
    QTest::keyClicks(field, "line 3");
    key(Qt::Key_Return, {}, field);
    EXPECT_EQ(document->selection().startLine, 300u);
}

TEST_F(NavigationTest,
       MarksAreToggledJumpedTintedKeptThroughAppendsAndReloadsDroppedByRotationAndClear)
{
    // The last line is still open: an append extends it.
    open(numbered(99) + "line 99");
    goToLine("11");
    key(Qt::Key_F2, Qt::ControlModifier);
    goToLine("51");
    key(Qt::Key_F2, Qt::ControlModifier);
    goToLine("100");
    key(Qt::Key_F2, Qt::ControlModifier);
    EXPECT_EQ(document->marks().lines(), (std::vector<LineNumber>{10, 50, 99}));

    key(Qt::Key_F2);
    EXPECT_EQ(shownLine(), 10u) << "from the last line round to the first mark";
    key(Qt::Key_F2);
    EXPECT_EQ(shownLine(), 50u);
    key(Qt::Key_F2, Qt::ShiftModifier);
    EXPECT_EQ(shownLine(), 10u);
    key(Qt::Key_F2, Qt::ShiftModifier);
    EXPECT_EQ(shownLine(), 99u) << "from the first mark round to the last";
    EXPECT_GE(rowTop(99), 0);
    EXPECT_LE(rowTop(99) + int(view()->lineHeight()), view()->viewport()->height());

    // The marked rows are tinted right across, past the end of their text.
    const QColor background = quill::colorFromRef(package.store->dword(Setting::BackgroundColor));
    const QImage before = shown();
    const int x = before.width() - 2;
    const int half = int(view()->lineHeight()) / 2;
    EXPECT_EQ(QColor(before.pixel(x, rowTop(99) + half)), LogView::markedBackground(background));
    EXPECT_EQ(QColor(before.pixel(x, rowTop(98) + half)), background);

    append(" grown\nline 100\n");
    EXPECT_EQ(document->line(99), u"line 99 grown");
    EXPECT_EQ(document->marks().lines(), (std::vector<LineNumber>{10, 50, 99}))
        << "appends keep the marks, the grown last line's too";
    const QImage after = shown();
    EXPECT_EQ(QColor(after.pixel(x, rowTop(99) + half)), LogView::markedBackground(background));
    EXPECT_EQ(QColor(after.pixel(x, rowTop(100) + half)), background) << "the new line is not";
    // Under the text as well (with the selection elsewhere): the blank in "line 99".
    goToLine("101");
    const QImage unselected = shown();
    const int blank = int(view()->renderer().textWidth(u"line"));
    EXPECT_EQ(QColor(unselected.pixel(blank + 1, rowTop(99))),
              LogView::markedBackground(background));
    EXPECT_EQ(QColor(unselected.pixel(blank + 1, rowTop(98))), background);
    goToLine("100");

    key(Qt::Key_F2, Qt::ControlModifier);
    EXPECT_EQ(document->marks().lines(), (std::vector<LineNumber>{10, 50}))
        << "Ctrl+F2 on a marked line unmarks it";

    key(Qt::Key_F5);
    document->stopWatching();
    EXPECT_EQ(document->marks().lines(), (std::vector<LineNumber>{10, 50}))
        << "a reload keeps the marks of lines that are as they were";
    quilltest::writeFile(path, "rotated\n" + numbered(99));
    key(Qt::Key_F5);
    document->stopWatching();
    EXPECT_TRUE(document->marks().isEmpty()) << "a reload of a rewritten file drops them";
    goToLine("3");
    key(Qt::Key_F2, Qt::ControlModifier);
    EXPECT_FALSE(document->marks().isEmpty());
    frame->updateCommandStates();
    ASSERT_TRUE(frame->action(CommandId::ClearMarks)->isEnabled());
    frame->action(CommandId::ClearMarks)->trigger();
    EXPECT_TRUE(document->marks().isEmpty()) << "View > Clear Marks";
    key(Qt::Key_F2, Qt::ControlModifier);
    key(Qt::Key_L, Qt::ControlModifier);
    document->stopWatching();
    EXPECT_TRUE(document->marks().isEmpty()) << "Clear drops them";
    key(Qt::Key_F2);
    EXPECT_FALSE(document->selection().valid) << "no mark, no jump";
}

TEST_F(NavigationTest, EveryMatchOnScreenIsHighlightedTheCurrentOneStronger)
{
    open("xx ab yy ab\n\tab\nab\tc d\nAB ab\n");
    QTest::keyClick(view(), Qt::Key_F, Qt::ControlModifier);
    settle();
    FindDialog* find = frame->findDialog();
    ASSERT_NE(find, nullptr);
    auto* field = find->findChild<QComboBox*>(QStringLiteral("findText"))->lineEdit();
    QTest::keyClicks(field, "ab");
    settle();

    const LogRenderer& r = view()->renderer();
    const int h = int(view()->lineHeight());
    const QColor background = quill::colorFromRef(package.store->dword(Setting::BackgroundColor));
    // The colours in the cell that follows the prefix (glyphs may ink any of its pixels, so
    // a cell is judged by what it holds, not by one pixel).
    auto cell = [&](const QImage& image, LineNumber line, const char16_t* prefix,
                    const char16_t* character) {
        const QStringView before(prefix);
        const int x0 = int(r.textWidth(before));
        const int x1 = int(r.textWidth(before.toString() + QString::fromUtf16(character)));
        QSet<QRgb> colours;
        for (int y = rowTop(line); y < rowTop(line) + h; ++y) {
            for (int x = x0; x < x1; ++x) {
                colours.insert(image.pixel(x, y));
            }
        }
        return colours;
    };
    QImage image = shown();
    // An 'a' has no ink in its top row: its top-left pixel is the highlight's colour.
    const QRgb lit = image.pixel(int(r.textWidth(u"xx ")) + 1, rowTop(0));
    EXPECT_NE(QColor(lit), background) << "the box's text is shown at once";
    // The tint is opaque, its text black or white: a lit cell holds the tint, a plain one only
    // the row's colours.
    auto isLit = [&](const QSet<QRgb>& c) { return c.contains(lit); };
    auto isPlain = [&](const QSet<QRgb>& c) {
        return c.contains(background.rgb()) && !c.contains(lit);
    };
    EXPECT_TRUE(isLit(cell(image, 0, u"xx ", u"a")));
    EXPECT_TRUE(isLit(cell(image, 0, u"xx a", u"b"))) << "the second character too";
    EXPECT_TRUE(isLit(cell(image, 0, u"xx ab yy ", u"a"))) << "every occurrence";
    EXPECT_TRUE(isPlain(cell(image, 0, u"", u"x")));
    EXPECT_TRUE(isPlain(cell(image, 0, u"xx ab", u" "))) << "not past the match";
    EXPECT_TRUE(isLit(cell(image, 1, u"\t", u"a"))) << "after a tab, at the tab stop";
    EXPECT_TRUE(isPlain(cell(image, 1, u"", u"\t"))) << "the tab itself is no match";
    EXPECT_TRUE(isLit(cell(image, 3, u"", u"A"))) << "case ignored";

    quilltest::clickCheckBox(find->findChild<QCheckBox*>(QStringLiteral("matchCase")));
    settle();
    image = shown();
    EXPECT_TRUE(isPlain(cell(image, 3, u"", u"A"))) << "Match case: AB is no match";
    EXPECT_TRUE(isLit(cell(image, 3, u"AB ", u"a")));

    // A match with a tab inside is lit across the tab's whole width.
    find->setSearchText(QStringLiteral("b\tc"));
    settle();
    image = shown();
    EXPECT_TRUE(isLit(cell(image, 2, u"ab", u"\t"))) << "the tab inside";
    EXPECT_TRUE(isLit(cell(image, 2, u"ab\t", u"c")));
    EXPECT_TRUE(isPlain(cell(image, 2, u"", u"a")));

    // Enter finds one: the current match is drawn unlike the others.
    find->setSearchText(QStringLiteral("ab"));
    field->setFocus();
    key(Qt::Key_Return, {}, field);
    const DocSelection found = document->selection();
    ASSERT_TRUE(found.valid);
    ASSERT_EQ(found.startLine, 0u);
    image = shown();
    // The current match is the selection: the row's colours swapped, no tint.
    const QSet<QRgb> current = cell(image, 0, u"xx ", u"a");
    const QColor text = quill::colorFromRef(package.store->dword(Setting::TextColor));
    EXPECT_FALSE(current.contains(lit));
    EXPECT_TRUE(current.contains(text.rgb()));
    EXPECT_TRUE(isLit(cell(image, 0, u"xx ab yy ", u"a"))) << "the others as before";

    // Escape closes the box; the matches stay until Escape in the view.
    key(Qt::Key_Escape, {}, field);
    EXPECT_EQ(frame->findDialog(), nullptr);
    EXPECT_TRUE(isLit(cell(shown(), 0, u"xx ab yy ", u"a")));
    view()->setFocus();
    key(Qt::Key_Escape);
    EXPECT_TRUE(isPlain(cell(shown(), 0, u"xx ab yy ", u"a")));
}

TEST_F(NavigationTest, ClosingTheBoxWithoutAFindTakesTheHighlightAlong)
{
    open("one ab\n");
    QTest::keyClick(view(), Qt::Key_F, Qt::ControlModifier);
    settle();
    FindDialog* find = frame->findDialog();
    ASSERT_NE(find, nullptr);
    auto* field = find->findChild<QComboBox*>(QStringLiteral("findText"))->lineEdit();
    QTest::keyClicks(field, "ab");
    EXPECT_EQ(view()->findHighlightText(), u"ab");
    key(Qt::Key_Escape, {}, field);
    EXPECT_TRUE(view()->findHighlightText().empty());
}

namespace {

// Lines with the keywords at chosen places, "plain N" elsewhere.
std::string linesWith(int count, const std::map<int, std::string>& special)
{
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        const auto it = special.find(i);
        bytes += it != special.end() ? it->second : "plain " + std::to_string(i);
        bytes += "\n";
    }
    return bytes;
}

} // namespace

TEST_F(NavigationTest, KeywordLineJumpsReachBeyondTheDecodedWindowAndStopAtTheEnds)
{
    package.store->saveKeywords({Keyword(u"ERROR", 0x0000FF, 0xFFFFFF, true, false, true)});
    open(linesWith(5000, {{10, "an ERROR"}, {2500, "ERROR again"}, {4990, "last ERROR"}}));
    goToLine("1");
    key(Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(shownLine(), 10u) << "in the decoded window";
    key(Qt::Key_Down, Qt::AltModifier);
    // Far outside the window: found by the search off the main thread.
    WAIT_EQ(shownLine(), std::optional<LineNumber>(2500u));
    key(Qt::Key_Down, Qt::AltModifier);
    WAIT_EQ(shownLine(), std::optional<LineNumber>(4990u));
    EXPECT_GE(rowTop(4990), 0) << "on screen";
    EXPECT_LE(rowTop(4990) + int(view()->lineHeight()), view()->viewport()->height());
    key(Qt::Key_Down, Qt::AltModifier);
    settle();
    EXPECT_FALSE(view()->keywordJumpPending());
    EXPECT_EQ(shownLine(), 4990u) << "none below: the view stays";
    key(Qt::Key_Up, Qt::AltModifier);
    WAIT_EQ(shownLine(), std::optional<LineNumber>(2500u));
    key(Qt::Key_Up, Qt::AltModifier);
    WAIT_EQ(shownLine(), std::optional<LineNumber>(10u));
    key(Qt::Key_Up, Qt::AltModifier);
    settle();
    EXPECT_EQ(shownLine(), 10u) << "none above";
}

TEST_F(NavigationTest, KeywordLineJumpsAgreeWithALineModelOnRandomFiles)
{
    package.store->saveKeywords({Keyword(u"warn", 0x0000FF, 0xFFFFFF, true, false, true),
                                 Keyword(u"FAIL", 0x0000FF, 0xFFFFFF, true, false, true)});
    for (unsigned seed = 1; seed <= 3; ++seed) {
        std::mt19937 random(seed);
        std::map<int, std::string> special;
        std::vector<LineNumber> model;
        const int count = 1500 + int(random() % 2000);
        for (int i = 0; i < count; ++i) {
            if (random() % 97 == 0) {
                special[i] = random() % 2 ? "a warning" : "x FAIL y";
                model.push_back(LineNumber(i));
            } else if (random() % 50 == 0) {
                special[i] = "WARN fail"; // the keywords match case
            }
        }
        open(linesWith(count, special));
        for (int jump = 0; jump < 12; ++jump) {
            const LineNumber from = LineNumber(random() % count);
            goToLine(std::to_string(from + 1).c_str());
            const bool down = random() % 2 == 0;
            key(down ? Qt::Key_Down : Qt::Key_Up, Qt::AltModifier);
            std::optional<LineNumber> expected = from;
            if (down) {
                const auto it = std::upper_bound(model.begin(), model.end(), from);
                expected = it != model.end() ? *it : from;
            } else {
                const auto it = std::lower_bound(model.begin(), model.end(), from);
                expected = it != model.begin() ? *(it - 1) : from;
            }
            WAIT_EQ(shownLine(), expected);
            ASSERT_EQ(shownLine(), expected)
                << "seed " << seed << " from " << from << (down ? " down" : " up");
        }
    }
}

TEST_F(NavigationTest, OverviewStripShowsMarksAndKeywordLinesAtTheirHeightAsLinesArrive)
{
    package.store->saveKeywords({Keyword(u"ERROR", 0x000000, 0x0000FF, true, false, true)});
    open(linesWith(1000, {{100, "ERROR here"}}));
    frame->action(CommandId::OverviewStrip)->trigger();
    settle();
    OverviewStrip* strip = view()->overview();
    ASSERT_TRUE(strip->isVisible());
    EXPECT_TRUE(package.store->boolValue(Setting::OverviewStrip));
    EXPECT_EQ(strip->geometry().left(), view()->viewport()->geometry().right() + 1)
        << "between the text and the scroll bar";
    const QRect track = strip->track();
    ASSERT_GT(track.height(), 100);
    goToLine("501");
    key(Qt::Key_F2, Qt::ControlModifier);

    const QColor red(255, 0, 0);
    auto rowColour = [&](int row) { return QColor(strip->grab().toImage().pixel(1, row)); };
    const int markRow = track.top() + 500 * track.height() / 1000;
    const int keywordRow = track.top() + 100 * track.height() / 1000;
    EXPECT_EQ(rowColour(markRow), LogView::markColor()) << "the mark at its height";
    EXPECT_EQ(rowColour(markRow + 1), LogView::markColor()) << "two rows at least";
    EXPECT_NE(rowColour(markRow + 4), LogView::markColor());
    WAIT_EQ(rowColour(keywordRow), red);
    EXPECT_NE(rowColour(keywordRow + 3), red);
    EXPECT_NE(rowColour(keywordRow - 3), red);

    // A thousand lines more: everything moves up to half its height.
    append(linesWith(1000, {{600, "ERROR too"}}));
    const int movedMark = track.top() + 500 * track.height() / 2000;
    const int newKeyword = track.top() + 1600 * track.height() / 2000;
    WAIT_EQ(rowColour(newKeyword), red);
    EXPECT_EQ(rowColour(movedMark), LogView::markColor());
    EXPECT_NE(rowColour(markRow), LogView::markColor());
    EXPECT_EQ(rowColour(track.top() + 100 * track.height() / 2000), red);

    // A click on the strip scrolls there.
    QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(2, newKeyword));
    settle();
    const LineNumber first = view()->firstVisibleLine();
    EXPECT_LE(first, 1600u);
    EXPECT_GE(first + view()->visibleRowCount(), 1600u);
    EXPECT_FALSE(view()->isFollowing());

    // The find text's lines in the right third: "here" is on line 100 only.
    QTest::keyClick(view(), Qt::Key_F, Qt::ControlModifier);
    settle();
    ASSERT_NE(frame->findDialog(), nullptr);
    QTest::keyClicks(
        frame->findDialog()->findChild<QComboBox*>(QStringLiteral("findText"))->lineEdit(), "here");
    const QColor orange(255, 120, 0);
    const int oldKeyword = track.top() + 100 * track.height() / 2000;
    auto rightColour = [&](int row) {
        return QColor(strip->grab().toImage().pixel(strip->width() - 1, row));
    };
    WAIT_EQ(rightColour(oldKeyword), orange);
    EXPECT_EQ(rowColour(oldKeyword), red) << "the keyword's colour beside it";
    EXPECT_NE(rightColour(newKeyword), orange) << "ERROR too holds no \"here\"";
}

TEST_F(NavigationTest, AMarkTintsAKeywordLineTooAndAMatchReachingInFromTheLeftIsLit)
{
    package.store->saveKeywords({Keyword(u"ERROR", 0x000000, 0x00FFFF, true, false, true)});
    std::string wide = "ERROR " + std::string(200, 'x') + "ab" + std::string(200, 'y') + "\n";
    open(wide + "plain\n");
    goToLine("1");
    key(Qt::Key_F2, Qt::ControlModifier);
    goToLine("2"); // the selection off the marked line
    const QColor yellow(255, 255, 0);
    QImage image = shown();
    EXPECT_EQ(QColor(image.pixel(int(view()->renderer().textWidth(u"ERROR")) + 1, rowTop(0))),
              LogView::markedBackground(yellow))
        << "the keyword's background tinted, not hidden";

    // The view scrolled right so that the "a" of the match is left of the edge and its "b"
    // is the first character shown.
    QTest::keyClick(view(), Qt::Key_F, Qt::ControlModifier);
    settle();
    FindDialog* find = frame->findDialog();
    ASSERT_NE(find, nullptr);
    QTest::keyClicks(find->findChild<QComboBox*>(QStringLiteral("findText"))->lineEdit(), "ab");
    settle();
    const LogRenderer& r = view()->renderer();
    const QString before = QString::fromLatin1(("ERROR " + std::string(200, 'x') + "a").c_str());
    const qint64 b = r.textWidth(before);
    QScrollBar* bar = view()->horizontalScrollBar();
    ASSERT_EQ(view()->horizontalScale(), 1);
    bar->setValue(int(b));
    settle();
    ASSERT_EQ(view()->scrollX(), b);
    image = shown();
    const QRgb tinted = LogView::markedBackground(yellow).rgb();
    auto holdsTint = [&](int x0, int x1) {
        for (int y = rowTop(0); y < rowTop(0) + int(view()->lineHeight()); ++y) {
            for (int x = x0; x < x1; ++x) {
                if (image.pixel(x, y) == tinted) {
                    return true;
                }
            }
        }
        return false;
    };
    const int bWidth = int(r.textWidth(u"b"));
    EXPECT_FALSE(holdsTint(0, bWidth)) << "the b is lit";
    EXPECT_TRUE(holdsTint(bWidth, bWidth + int(r.textWidth(u"y")))) << "the y after it is not";
}

TEST_F(NavigationTest, TheFilterPaneListsTheMarkedLinesBesideTheMatchesAsTheyComeAndGo)
{
    std::map<int, std::string> errors;
    for (int i = 0; i < 300; i += 50) {
        errors[i] = "an ERROR";
    }
    open(linesWith(300, errors));
    FilterPane* pane = frame->filterPane();
    auto listed = [&] {
        std::vector<LineNumber> lines;
        for (std::size_t row = 0; row < pane->view()->rowCount(); ++row) {
            lines.push_back(pane->view()->lineOfRow(row));
        }
        return lines;
    };
    auto filterDone = [&] {
        return pane->filter()->progress().state == FilterState::Done &&
               pane->filter()->progress().total == document->lineCount();
    };
    using Lines = std::vector<LineNumber>;

    // Marks without a filter text: the pane opens with the marked lines alone.
    QCheckBox* marks = pane->bar()->marksOption();
    ASSERT_EQ(marks->text(), QStringLiteral("Marks"));
    QTest::mouseClick(marks, Qt::LeftButton);
    settle();
    EXPECT_TRUE(pane->isActive());
    EXPECT_EQ(listed(), Lines{});
    goToLine("121");
    key(Qt::Key_F2, Qt::ControlModifier);
    goToLine("8");
    key(Qt::Key_F2, Qt::ControlModifier);
    EXPECT_EQ(listed(), (Lines{7, 120}));
    EXPECT_TRUE(pane->progressLabel()->text().contains(QStringLiteral("2 marked")))
        << pane->progressLabel()->text().toStdString();

    // With a filter: matches and marks in file order, a marked match once.
    key(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("ERROR"));
    key(Qt::Key_Return, {}, QApplication::focusWidget());
    ASSERT_TRUE(QTest::qWaitFor(filterDone));
    goToLine("101");
    key(Qt::Key_F2, Qt::ControlModifier);
    EXPECT_EQ(listed(), (Lines{0, 7, 50, 100, 120, 150, 200, 250}));
    EXPECT_TRUE(pane->progressLabel()->text().contains(QStringLiteral("3 marked")))
        << "a marked match is counted: " << pane->progressLabel()->text().toStdString();

    // A mark taken off goes from the list, one put on a line far down joins it; the rows
    // on screen stay where they were.
    pane->view()->setFocus();
    key(Qt::Key_Home, Qt::ControlModifier, pane->view());
    goToLine("8");
    key(Qt::Key_F2, Qt::ControlModifier);
    goToLine("300");
    key(Qt::Key_F2, Qt::ControlModifier);
    EXPECT_EQ(listed(), (Lines{0, 50, 100, 120, 150, 200, 250, 299}));
    EXPECT_EQ(pane->view()->firstVisibleRow(), 0u);

    // Appended lines keep the marks; their matches join in order.
    append(linesWith(10, {{5, "late ERROR"}}));
    ASSERT_TRUE(QTest::qWaitFor(filterDone));
    settle();
    EXPECT_EQ(listed(), (Lines{0, 50, 100, 120, 150, 200, 250, 299, 305}));

    // Without the tick the marks are not listed; Clear Marks leaves the matches.
    QTest::mouseClick(marks, Qt::LeftButton);
    settle();
    EXPECT_EQ(listed(), (Lines{0, 50, 100, 150, 200, 250, 305}));
    QTest::mouseClick(marks, Qt::LeftButton);
    settle();
    EXPECT_EQ(listed(), (Lines{0, 50, 100, 120, 150, 200, 250, 299, 305}));
    frame->action(CommandId::ClearMarks)->trigger();
    settle();
    EXPECT_EQ(listed(), (Lines{0, 50, 100, 150, 200, 250, 305}));

    // Escape in the field takes the filter and the tick away: the pane closes.
    goToLine("2");
    key(Qt::Key_F2, Qt::ControlModifier);
    key(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    key(Qt::Key_Escape, {}, QApplication::focusWidget());
    EXPECT_FALSE(marks->isChecked());
    EXPECT_FALSE(pane->isActive());
    EXPECT_EQ(listed(), Lines{});

    // A reload drops the marks, and the pane of marks alone empties but stays.
    QTest::mouseClick(marks, Qt::LeftButton);
    settle();
    goToLine("31");
    key(Qt::Key_F2, Qt::ControlModifier);
    EXPECT_EQ(listed(), (Lines{1, 30}));
    quilltest::writeFile(path, "rotated\n");
    key(Qt::Key_F5);
    EXPECT_EQ(listed(), Lines{});
    EXPECT_TRUE(pane->isActive());
    EXPECT_TRUE(pane->progressLabel()->text().contains(QStringLiteral("0 marked")));
}

// The gutter holds the largest line number whole: one digit more at 1000 and at 10000 lines,
// none at 1099 or 1100 (a count of digits off by one clips the leading one, 1000-1099).
TEST_F(NavigationTest, TheGutterGrowsByADigitExactlyWhereTheLineCountGainsOne)
{
    open(numbered(999));
    frame->action(CommandId::LineNumbers)->trigger();
    settle();
    LineGutter* gutter = view()->gutter();
    ASSERT_TRUE(gutter->isVisible());
    const int nine = static_cast<int>(view()->renderer().textWidth(u"9"));
    ASSERT_GT(nine, 0);
    const int atThreeDigits = gutter->width();
    int lines = 999;
    for (const int target : {1000, 1099, 1100, 9999, 10000}) {
        std::string more;
        for (; lines < target; ++lines) {
            more += "more " + std::to_string(lines) + "\n";
        }
        append(more);
        ASSERT_EQ(document->lineCount(), LineNumber(target));
        const int digits = int(std::to_string(target).size());
        EXPECT_EQ(gutter->width(), atThreeDigits + (digits - 3) * nine) << target << " lines";
        EXPECT_EQ(view()->viewport()->x(), gutter->width()) << "the text starts after it";
    }
}

// Each strip row paints the lines the strip draws on it (line l from row l * h / count down,
// one row at least), which is where a click on the row goes: with more lines than rows the
// rows' lines follow each other without a gap, and each lies on its own row; with fewer, a
// row paints the one line whose rows reach over it.
TEST(OverviewStripRows, EachRowPaintsTheLinesDrawnOnIt)
{
    for (const std::uint64_t height : {1, 7, 100, 613}) {
        for (const std::uint64_t count :
             {1, 2, 6, 7, 8, 99, 100, 101, 612, 613, 614, 2000, 100003}) {
            const auto drawnAt = [&](std::uint64_t line) { return line * height / count; };
            std::uint64_t next = 0;
            for (std::uint64_t row = 0; row < height; ++row) {
                const auto [first, end] = OverviewStrip::linesOfRow(row, count, height);
                ASSERT_LT(first, end) << count << " lines, " << height << " rows, row " << row;
                if (count >= height) {
                    ASSERT_EQ(first, next) << count << " lines, " << height << " rows, row " << row;
                    for (std::uint64_t line = first; line < end; ++line) {
                        ASSERT_EQ(drawnAt(line), row) << count << " lines, " << height << " rows";
                    }
                    next = end;
                } else {
                    ASSERT_EQ(end, first + 1);
                    ASSERT_LE(drawnAt(first), row);
                    ASSERT_LT(row, std::max(drawnAt(first) + 1, drawnAt(first + 1)))
                        << count << " lines, " << height << " rows, row " << row;
                }
            }
            if (count >= height) {
                EXPECT_EQ(next, count);
            }
        }
    }
}

// A click on the overview strip goes to the line drawn at that height: with fewer lines than
// the strip has pixels a line is drawn over several rows, and every one of them leads to it;
// with more, a row leads to the first line drawn on it.
TEST_F(NavigationTest, AClickOnTheOverviewStripGoesToTheLineDrawnThere)
{
    for (const int count : {60, 97, 2000}) {
        SCOPED_TRACE(std::to_string(count) + " lines");
        open(numbered(count));
        if (!view()->overview()->isVisible()) {
            frame->action(CommandId::OverviewStrip)->trigger();
            settle();
        }
        OverviewStrip* strip = view()->overview();
        ASSERT_TRUE(strip->isVisible());
        const QRect track = strip->track();
        const std::int64_t h = track.height();
        ASSERT_GT(h, 100);
        // Line l is drawn from row l * h / count down to the next line's row, one row at least.
        auto lineDrawnAt = [&](std::int64_t row) {
            for (std::int64_t l = 0; l < count; ++l) {
                const std::int64_t top = l * h / count;
                const std::int64_t next = std::max(top + 1, (l + 1) * h / count);
                if (top <= row && row < next) {
                    return l;
                }
            }
            return std::int64_t(count - 1);
        };
        QScrollBar* bar = view()->verticalScrollBar();
        const std::int64_t rows = view()->visibleRowCount();
        const std::int64_t lineHeight = std::int64_t(view()->lineHeight());
        for (std::int64_t row = 0; row < h; ++row) {
            QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(2, track.top() + int(row)));
            const std::int64_t line = lineDrawnAt(row);
            const std::int64_t expected =
                std::clamp<std::int64_t>((line - rows / 2) * lineHeight, 0, bar->maximum());
            ASSERT_EQ(bar->value(), expected) << "row " << row << " draws line " << line;
        }
    }
}
