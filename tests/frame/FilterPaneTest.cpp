// The filter bar and pane in the real main frame, driven by keys and mouse events: the rows
// against a line-by-line model while the file grows, clicks and Enter jumping the log view,
// selection and copy of the shown rows, excludes, unusable terms, Escape, the recent list
// and the pane's stored height. English package.

#include "frame/FilterPane.h"
#include "engine/LineFilter.h"
#include "engine/LogDocument.h"
#include "frame/FilterBar.h"
#include "frame/MainFrame.h"
#include "resources/ResourceHandler.h"
#include "settings/FilterHistory.h"
#include "settings/SettingsStore.h"
#include "support/EnglishPackage.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "support/WidgetEvents.h"
#include "view/FilterView.h"
#include "view/LogView.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QRawFont>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>

using quilltest::NullSound;
using quilltest::TempDir;
using quilltest::u16;

// Re-opens for real when the frame asks (a reload), as the application does.
class ReopeningOwner : public FrameOwner {
  public:
    bool openDocumentFile(const std::u16string& path) override
    {
        if (document == nullptr || !document->openDocument(path)) {
            return false;
        }
        frame->activeView()->initialUpdate();
        return true;
    }
    void onFileNew() override
    {
        document->newDocument();
        frame->activeView()->initialUpdate();
    }
    void onFileOpen() override {}
    void onAppAbout() override {}
    void onOpenRecentFile(int) override {}
    std::vector<std::u16string> recentFiles() const override { return {}; }

    LogDocument* document = nullptr;
    MainFrame* frame = nullptr;
};

class FilterPaneTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(package.loaded);
        path = dir.file("app.log");
    }

    void open(const std::string& bytes, bool watch = false)
    {
        content = bytes;
        quilltest::writeFile(path, bytes);
        frame.reset();
        frame = std::make_unique<MainFrame>(&owner, &sound);
        document = frame->activeDocument();
        WatchTiming timing;
        timing.poll = std::chrono::milliseconds(20);
        document->setWatchTiming(timing);
        owner.document = document;
        owner.frame = frame.get();
        frame->setMessageHandler([](const QString&) {});
        frame->resize(700, 500);
        frame->show();
        frame->activeView()->initialUpdate();
        ASSERT_TRUE(document->openDocument(u16(path)));
        if (!watch) {
            document->stopWatching();
        }
        frame->activeView()->initialUpdate();
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        QApplication::processEvents();
    }

    void append(const std::string& bytes)
    {
        content += bytes;
        std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
    }

    FilterPane* pane() const { return frame->filterPane(); }
    FilterView* rows() const { return pane()->view(); }
    QWidget* focused() const { return QApplication::focusWidget(); }

    void key(int k, Qt::KeyboardModifiers mods = {})
    {
        QTest::keyClick(focused(), Qt::Key(k), mods);
        QApplication::processEvents();
    }

    // Ctrl+Shift+F, the text, Enter: as a user sets a filter.
    void filterBy(const char* text)
    {
        key(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClicks(focused(), QString::fromUtf8(text));
        key(Qt::Key_Return);
    }

    // The line numbers shown, once the filter has caught up with `lines` lines.
    std::vector<LineNumber> shown(LineNumber lines)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] {
            const FilterProgress p = pane()->filter()->progress();
            return p.state == FilterState::Done && p.total == lines &&
                   pane()->filter()->isCollected();
        })) << "the filter did not reach "
            << lines << " lines";
        QApplication::processEvents();
        std::vector<LineNumber> result;
        for (std::size_t row = 0; row < rows()->rowCount(); ++row) {
            result.push_back(rows()->lineOfRow(row));
        }
        return result;
    }

    // The independent model: the lines of the content that hold `include` and none of the
    // `excludes`, compared as bytes.
    std::vector<LineNumber> expected(const std::string& include,
                                     const std::vector<std::string>& excludes = {}) const
    {
        std::vector<LineNumber> result;
        std::size_t start = 0;
        for (LineNumber line = 0; start < content.size(); ++line) {
            std::size_t end = content.find('\n', start);
            end = end == std::string::npos ? content.size() : end;
            const std::string text = content.substr(start, end - start);
            bool keep = text.find(include) != std::string::npos;
            for (const std::string& exclude : excludes) {
                keep = keep && text.find(exclude) == std::string::npos;
            }
            if (keep) {
                result.push_back(line);
            }
            start = end + 1;
        }
        return result;
    }

    QPoint rowPoint(std::size_t row, int x = -1) const
    {
        const int h = rows()->rowHeight();
        const std::size_t first = rows()->firstVisibleRow();
        return QPoint(x >= 0 ? x : rows()->gutterWidth() + 4, int(row - first) * h + h / 2);
    }

    quilltest::EnglishPackage package;
    TempDir& dir = package.dir;
    std::unique_ptr<SettingsStore>& store = package.store;
    NullSound sound;
    ReopeningOwner owner;
    LogDocument* document = nullptr; // the first tab's
    std::unique_ptr<MainFrame> frame;
    std::string path;
    std::string content;
};

namespace {

// 400 lines: every 7th an ERROR, every 21st of those also a healthcheck.
std::string sampleLog()
{
    std::string text;
    for (int i = 0; i < 400; ++i) {
        if (i % 21 == 0) {
            text += "t" + std::to_string(i) + " ERROR healthcheck failed\n";
        } else if (i % 7 == 0) {
            text += "t" + std::to_string(i) + " ERROR disk full\n";
        } else {
            text += "t" + std::to_string(i) + " INFO request served\n";
        }
    }
    return text;
}

} // namespace

TEST_F(FilterPaneTest, KeysSetTheFilterAndThePaneFollowsTheGrowingFile)
{
    open(sampleLog(), true);
    EXPECT_FALSE(rows()->isVisible()) << "no filter, no pane";
    const int barOnly = pane()->height();
    filterBy("ERROR");
    EXPECT_TRUE(rows()->isVisible());
    EXPECT_GT(pane()->height(), barOnly);
    EXPECT_EQ(shown(400), expected("ERROR"));
    EXPECT_TRUE(rows()->isFollowing());

    // Appended in pieces, one of them a line cut before its end: the pane ends where the
    // model ends, the cut line counted once it says ERROR.
    append("late INFO one\nlate ERR");
    ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 402; }));
    EXPECT_EQ(shown(402), expected("ERROR"));
    append("OR two\nlate ERROR three\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 403; }));
    EXPECT_EQ(shown(403), expected("ERROR"));
    EXPECT_EQ(rows()->lineOfRow(rows()->rowCount() - 1), 402u);
    EXPECT_TRUE(rows()->isFollowing()) << "at the end before, at the end after";
    EXPECT_EQ(rows()->firstVisibleRow(), std::size_t(rows()->verticalScrollBar()->maximum()));

    // Keys in the pane move its rows: Ctrl+Home leaves the end, new rows do not move it,
    // Ctrl+End comes back and follows again.
    QTest::keyClick(rows(), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_FALSE(rows()->isFollowing());
    append("later ERROR four\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 404; }));
    EXPECT_EQ(shown(404), expected("ERROR"));
    EXPECT_EQ(rows()->firstVisibleRow(), 0u);
    QTest::keyClick(rows(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(rows()->isFollowing());

    // Clear starts the pane over with the main view: only lines written after it.
    QTest::keyClick(frame->activeView(), Qt::Key_L, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(rows()->rowCount(), 0u);
    append("after clear ERROR\nafter clear INFO\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 2; }));
    EXPECT_EQ(shown(2), std::vector<LineNumber>{0});
}

TEST_F(FilterPaneTest, AClickOrEnterOnARowSelectsItsLineInTheLogViewWithALineAbove)
{
    open(sampleLog());
    filterBy("disk");
    const std::vector<LineNumber> lines = shown(400);
    ASSERT_EQ(lines, expected("disk"));
    // To the top as a user goes there: a bar merely set to 0 still follows the end, and
    // rows or a layout that arrive late on a busy machine take it back there.
    QTest::keyClick(rows(), Qt::Key_Home, Qt::ControlModifier);
    QApplication::processEvents();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return rows()->firstVisibleRow() == 0 && rows()->viewport()->height() > rowPoint(1).y();
    }));

    QTest::mouseClick(rows()->viewport(), Qt::LeftButton, {}, rowPoint(1));
    QApplication::processEvents();
    const DocSelection selection = document->selection();
    EXPECT_TRUE(selection.valid);
    EXPECT_EQ(selection.startLine, lines[1]);
    EXPECT_EQ(selection.endLine, lines[1]);
    EXPECT_EQ(selection.startCol, 0);
    EXPECT_EQ(selection.endCol, -1) << "the whole line";
    EXPECT_EQ(frame->activeView()->firstVisibleLine(), lines[1] - 1) << "one line of context";
    EXPECT_EQ(rows()->currentRow(), 1u);
    EXPECT_TRUE(rows()->hasFocus()) << "the keyboard stays in the pane for the next row";

    // Down moves the current row only; Enter shows it. The last row clamps.
    key(Qt::Key_Down);
    EXPECT_EQ(document->selection().startLine, lines[1]);
    key(Qt::Key_Return);
    EXPECT_EQ(document->selection().startLine, lines[2]);
    key(Qt::Key_End, Qt::ControlModifier);
    key(Qt::Key_Down);
    key(Qt::Key_Enter);
    EXPECT_EQ(document->selection().startLine, lines.back());
    const QScrollBar* bar = frame->activeView()->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum()) << "scrolled as far as it goes";
}

TEST_F(FilterPaneTest, SelectAllAndADragCopyTheShownRowsOnly)
{
    open("a ERROR one\nplain\nb ERROR two\u00e4\nplain\nc ERROR three\n");
    filterBy("ERROR");
    ASSERT_EQ(shown(5).size(), 3u);
    QTest::mouseClick(rows()->viewport(), Qt::LeftButton, {}, rowPoint(0));
    ASSERT_TRUE(rows()->hasFocus());

    key(Qt::Key_A, Qt::ControlModifier);
    const DocSelection all = rows()->selection();
    EXPECT_TRUE(all.valid) << "Select All acts on the pane that has the keyboard";
    EXPECT_EQ(all.endLine, 3u) << "every row and the empty one after the last";
    EXPECT_EQ(document->selection().endLine, 0u) << "the log view keeps the clicked line";
    key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QString::fromUtf8("a ERROR one\nb ERROR two\u00e4\nc ERROR three\n"));

    // From "ERROR" on row 0 to just past "b" on row 1: character cells at the points.
    const QString row0 = QStringLiteral("a ERROR one");
    const int x0 = rows()->gutterWidth() + int(rows()->renderer().prefixWidth(row0, 2)) + 1;
    const int x1 = rows()->gutterWidth() + int(rows()->renderer().prefixWidth(row0, 1)) - 1;
    // The first move is reported on row 1 already: the drag still starts at the press.
    QTest::mousePress(rows()->viewport(), Qt::LeftButton, {}, rowPoint(0, x0));
    QTest::mouseMove(rows()->viewport(), rowPoint(1, x1));
    QTest::mouseRelease(rows()->viewport(), Qt::LeftButton, {}, rowPoint(1, x1));
    const DocSelection dragged = rows()->selection();
    EXPECT_EQ(dragged.startLine, 0u);
    EXPECT_EQ(dragged.startCol, 2);
    EXPECT_EQ(dragged.endLine, 1u);
    EXPECT_EQ(dragged.endCol, 0);
    EXPECT_EQ(frame->action(Command::Copy)->isEnabled(), true);
    key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), row0.mid(2) + QStringLiteral("\nb"));
}

TEST_F(FilterPaneTest, AnExcludeRowHidesItsLinesAndEscapeClearsEverything)
{
    open(sampleLog(), true);
    filterBy("ERROR");
    QTest::mouseClick(pane()->bar()->addButton(), Qt::LeftButton);
    ASSERT_EQ(pane()->bar()->rowCount(), 2);
    EXPECT_TRUE(pane()->bar()->option(1, 3)->isChecked()) << "an added row excludes";

    // Space is the window's Pause key, but a focused check box takes it first.
    pane()->bar()->option(1, 3)->setFocus(Qt::TabFocusReason);
    key(Qt::Key_Space);
    EXPECT_FALSE(pane()->bar()->option(1, 3)->isChecked());
    key(Qt::Key_Space);
    EXPECT_TRUE(pane()->bar()->option(1, 3)->isChecked());
    EXPECT_TRUE(document->isWatching());
    pane()->bar()->fieldBox(1)->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(focused(), QStringLiteral("healthcheck"));
    key(Qt::Key_Return);
    EXPECT_EQ(shown(400), expected("ERROR", {"healthcheck"}));

    // Only the exclude: every line but those.
    pane()->bar()->field(0)->clear();
    key(Qt::Key_Return);
    EXPECT_EQ(shown(400), expected("", {"healthcheck"}));

    key(Qt::Key_Escape);
    EXPECT_FALSE(pane()->isActive());
    EXPECT_FALSE(rows()->isVisible());
    EXPECT_FALSE(pane()->filter()->isActive());
    EXPECT_EQ(pane()->bar()->rowCount(), 1);
    EXPECT_TRUE(pane()->bar()->field(0)->text().isEmpty());
    EXPECT_EQ(focused(), frame->activeView());
}

TEST_F(FilterPaneTest, ATermThatCannotBeUsedSaysWhyAndFiltersNothing)
{
    open(sampleLog());
    FilterBar* bar = pane()->bar();
    quilltest::clickCheckBox(bar->option(0, 2));
    filterBy("disk (full");
    EXPECT_FALSE(pane()->isActive());
    EXPECT_FALSE(bar->errorLabel(0)->isHidden());
    EXPECT_TRUE(bar->errorLabel(0)->text().contains(QStringLiteral("character 11")))
        << bar->errorLabel(0)->text().toStdString();

    bar->field(0)->selectAll();
    QTest::keyClicks(bar->field(0), QStringLiteral("disk \\(?full"));
    key(Qt::Key_Return);
    EXPECT_TRUE(bar->errorLabel(0)->isHidden());
    EXPECT_EQ(shown(400), expected("disk"));

    // A second row that includes too: it cannot be, and says so under itself.
    QTest::mouseClick(bar->addButton(), Qt::LeftButton);
    quilltest::clickCheckBox(bar->option(1, 3));
    QTest::keyClicks(bar->field(1), QStringLiteral("INFO"));
    key(Qt::Key_Return);
    EXPECT_FALSE(pane()->isActive());
    EXPECT_TRUE(bar->errorLabel(0)->isHidden());
    EXPECT_FALSE(bar->errorLabel(1)->isHidden());
}

TEST_F(FilterPaneTest, UsedFiltersAreOfferedAgainWithTheirOptionsAndThePaneKeepsItsHeight)
{
    open(sampleLog());
    FilterBar* bar = pane()->bar();
    quilltest::clickCheckBox(bar->option(0, 1));
    filterBy("full");
    EXPECT_EQ(shown(400), expected("full"));

    // The splitter handle dragged up by 60 pixels: the pane's new height is kept.
    QSplitterHandle* handle = frame->splitter()->handle(1);
    const QPoint grip = handle->rect().center();
    const int before = pane()->height();
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip - QPoint(0, 60));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip - QPoint(0, 60));
    QApplication::processEvents();
    const int dragged = pane()->height();
    EXPECT_GT(dragged, before);
    EXPECT_EQ(store->dword(Setting::FilterPaneHeight), std::uint32_t(dragged));

    // A new window: the list offers "full" with Whole word on; the pane comes back as high.
    open(sampleLog());
    bar = pane()->bar();
    QComboBox* box = bar->fieldBox(0);
    ASSERT_EQ(box->count(), 1);
    EXPECT_EQ(box->itemText(0), QStringLiteral("full"));
    EXPECT_FALSE(bar->option(0, 1)->isChecked());
    box->setFocus();
    key(Qt::Key_Down, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return box->view()->isVisible(); }));
    QTest::keyClick(box->view(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_TRUE(bar->option(0, 1)->isChecked());
    EXPECT_EQ(shown(400), expected("full"));
    EXPECT_EQ(pane()->height(), dragged);
}

TEST_F(FilterPaneTest, StopKeepsTheRowsFoundSoFarAndContinueFindsTheRest)
{
    std::string text;
    for (int i = 0; i < 200000; ++i) {
        text += i % 10 == 3 ? "x ERROR " + std::to_string(i) + "\n" : "x info\n";
    }
    open(text);
    // Chunks of one line, so the pass is still running when Stop is clicked.
    pane()->filter()->setChunkLimits(1, 1 << 20);
    filterBy("ERROR");
    QPushButton* stop = pane()->stopButton();
    ASSERT_TRUE(stop->isEnabled());
    QTest::mouseClick(stop, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return pane()->filter()->progress().state == FilterState::Stopped; }));
    QApplication::processEvents();
    const std::size_t kept = rows()->rowCount();
    EXPECT_LT(kept, 20000u);
    EXPECT_TRUE(pane()->progressLabel()->text().startsWith(QStringLiteral("Stopped at")))
        << pane()->progressLabel()->text().toStdString();
    EXPECT_EQ(stop->text(), QStringLiteral("Continue"));

    QTest::mouseClick(stop, Qt::LeftButton);
    EXPECT_EQ(shown(200000), expected("ERROR"));
    const QLocale locale;
    EXPECT_EQ(pane()->progressLabel()->text(),
              QStringLiteral("%1 of %2 lines match")
                  .arg(locale.toString(20000), locale.toString(200000)));
    EXPECT_FALSE(stop->isEnabled());
}

// WCAG contrast ratio, computed here from the sRGB definition.
static double contrastRatio(const QColor& a, const QColor& b)
{
    const auto channel = [](int value) {
        const double v = value / 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    const auto luminance = [&](const QColor& c) {
        return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The message under an unusable term: the bar grows to hold it whole, the field keeps its
// height, and the text stands out from the bar in a light and in a dark palette.
TEST_F(FilterPaneTest, AnUnusableTermKeepsTheBarWholeAndItsMessageReadable)
{
    const QPalette before = QApplication::palette();
    QPalette dark = before;
    for (auto [role, colour] : {std::pair{QPalette::Window, QColor(0x20, 0x20, 0x20)},
                                {QPalette::WindowText, QColor(0xE0, 0xE0, 0xE0)},
                                {QPalette::Base, QColor(0x2A, 0x2A, 0x2A)},
                                {QPalette::Text, QColor(0xE0, 0xE0, 0xE0)},
                                {QPalette::Button, QColor(0x30, 0x30, 0x30)},
                                {QPalette::ButtonText, QColor(0xE0, 0xE0, 0xE0)}}) {
        dark.setColor(role, colour);
    }
    for (const QPalette& palette : {before, dark}) {
        QApplication::setPalette(palette);
        open(sampleLog());
        FilterBar* bar = pane()->bar();
        key(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QApplication::processEvents();
        const int fieldHeight = bar->fieldBox(0)->height();
        ASSERT_GT(fieldHeight, 10);
        quilltest::clickCheckBox(bar->option(0, 2));
        filterBy("disk (full");
        QLabel* error = bar->errorLabel(0);
        ASSERT_FALSE(error->isHidden());
        QTest::qWait(50);
        QApplication::processEvents();
        EXPECT_GE(bar->fieldBox(0)->height(), fieldHeight) << "the field is not squashed";
        EXPECT_GE(error->height(), error->heightForWidth(error->width()))
            << "the message shows whole";
        EXPECT_GE(pane()->height(), bar->sizeHint().height());
        const QColor text = error->palette().color(QPalette::WindowText);
        const QColor back = bar->palette().color(QPalette::Window);
        EXPECT_GE(contrastRatio(text, back), 4.5)
            << text.name().toStdString() << " on " << back.name().toStdString();
        EXPECT_GT(text.red(), std::max(text.green(), text.blue()) + 60)
            << "still an error's red: " << text.name().toStdString();
        frame.reset();
    }
    QApplication::setPalette(before);
}

// However the file is replaced, and whether the watcher sees it empty first or already
// written, the pane ends with the new file's lines, not the old file's rows.
TEST_F(FilterPaneTest, EveryReloadStartsThePaneOver)
{
    std::string old;
    for (int i = 0; i < 1000; ++i) {
        old += "old " + std::to_string(i) + (i % 3 == 0 ? " ERROR\n" : " fine\n");
    }
    std::string fresh;
    for (int i = 0; i < 10; ++i) {
        fresh += "new " + std::to_string(i) + (i % 2 == 0 ? " ERROR\n" : " fine\n");
    }
    const std::string rotated = path + ".1";
    // A reload that finds the file missing for a moment waits for it instead of asking.
    store->setBool(Setting::ShowEmptyFileWarning, false);
    store->setBool(Setting::ShowEmptyFiles, true);
    enum class Step { Truncate, Rename, Remove, WaitEmpty, Write };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } orders[] = {
        {"truncate then write", {Step::Truncate, Step::Write}},
        {"truncate, reload, write", {Step::Truncate, Step::WaitEmpty, Step::Write}},
        {"rename then create", {Step::Rename, Step::Write}},
        {"rename, create empty, reload, write",
         {Step::Rename, Step::Truncate, Step::WaitEmpty, Step::Write}},
        {"delete then create", {Step::Remove, Step::Write}},
    };
    for (const auto& order : orders) {
        SCOPED_TRACE(order.name);
        open(old, true);
        filterBy("ERROR");
        ASSERT_EQ(shown(1000), expected("ERROR"));
        for (Step step : order.steps) {
            switch (step) {
            case Step::Truncate:
                quilltest::writeFile(path, "");
                break;
            case Step::Rename:
                ASSERT_EQ(std::rename(path.c_str(), rotated.c_str()), 0);
                break;
            case Step::Remove:
                ASSERT_EQ(std::remove(path.c_str()), 0);
                break;
            case Step::WaitEmpty:
                ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 0; }));
                break;
            case Step::Write:
                std::ofstream(path, std::ios::binary | std::ios::app) << fresh;
                break;
            }
        }
        content = fresh;
        ASSERT_TRUE(QTest::qWaitFor([&] { return document->lineCount() == 10; }));
        EXPECT_EQ(shown(10), expected("ERROR"));
        // The rows' texts are the new file's, not those the pane had read of the old one.
        for (std::size_t row = 0; row < rows()->rowCount(); ++row) {
            EXPECT_EQ(rows()->selectableLine(LineNumber(row)),
                      u16("new " + std::to_string(rows()->lineOfRow(row)) + " ERROR"));
        }
        std::remove(rotated.c_str());
    }
}

// Line numbers of seven digits and more fit the gutter, also when the large file came with
// a reload that no append followed.
TEST_F(FilterPaneTest, TheGutterFitsTheLargestLineNumber)
{
    open("hit one\n", true);
    filterBy("hit");
    ASSERT_EQ(shown(1), expected("hit"));
    std::string big;
    big.reserve(2'100'000);
    for (int i = 0; i < 1'000'000; ++i) {
        big += "x\n";
    }
    big += "hit last\n";
    quilltest::writeFile(path + ".new", big);
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
    content = big;
    EXPECT_EQ(shown(1'000'001), expected("hit"));
    const QFontMetrics metrics(rows()->renderer().font());
    EXPECT_GT(rows()->gutterWidth(), metrics.horizontalAdvance(QStringLiteral("?1000001")));
    // The number as painted: the gutter's pixels hold ink as far left as seven digits reach.
    const QImage image = rows()->viewport()->grab().toImage();
    ASSERT_EQ(rows()->firstVisibleRow(), 0u);
    const QColor gutter = image.pixelColor(1, 1); // the padding: no ink
    const int right = rows()->gutterWidth() - 6;
    const int left = right - metrics.horizontalAdvance(QStringLiteral("1000001"));
    bool inkAtFirstDigit = false;
    for (int y = 0; y < rows()->rowHeight(); ++y) {
        for (int x = left; x < left + metrics.horizontalAdvance(QLatin1Char('1')); ++x) {
            inkAtFirstDigit = inkAtFirstDigit || image.pixelColor(x, y) != gutter;
        }
    }
    EXPECT_GE(left, 0);
    EXPECT_TRUE(inkAtFirstDigit);
}

// A line too complex for the pattern is shown with a mark before its number, counted in the
// header and explained under the term's row; a plain filter next has none.
TEST_F(FilterPaneTest, LinesTooComplexAreMarkedCountedAndExplained)
{
    for (const int hard : {3, 1}) {
        SCOPED_TRACE(std::to_string(hard) + " hard lines");
        std::string text;
        std::vector<std::size_t> hardRows;
        for (int i = 0; i < 9; ++i) {
            if (i % 3 == 0 && i / 3 < hard) {
                text += std::string(28, 'a') + "b ac\n";
                hardRows.push_back(std::size_t(i));
            } else {
                text += "plain ac\n";
            }
        }
        open(text);
        QTest::mouseClick(pane()->bar()->option(0, 2), Qt::LeftButton);
        filterBy("(a+)+c");
        EXPECT_EQ(shown(9), expected("ac"));
        std::vector<std::size_t> marked;
        for (std::size_t row = 0; row < rows()->rowCount(); ++row) {
            if (rows()->isUndecided(row)) {
                marked.push_back(row);
            }
        }
        EXPECT_EQ(marked, hardRows);
        EXPECT_TRUE(pane()->progressLabel()->text().endsWith(
            QStringLiteral("%1 lines too complex for this pattern").arg(hard)))
            << pane()->progressLabel()->text().toStdString();
        QLabel* explanation = pane()->bar()->errorLabel(0);
        EXPECT_TRUE(explanation->isVisible());
        EXPECT_TRUE(explanation->text().contains(QStringLiteral("could not be tested")));

        // The mark as painted: ink further left in the gutter of the first row, which is
        // marked, than in that of the second, which is not (one digit each).
        QTest::keyClick(rows(), Qt::Key_Home, Qt::ControlModifier);
        ASSERT_EQ(rows()->firstVisibleRow(), 0u);
        ASSERT_GE(rows()->viewport()->height(), 2 * rows()->rowHeight());
        rows()->viewport()->repaint();
        const QImage image = rows()->viewport()->grab().toImage();
        auto leftmostInk = [&](int row) {
            const int top = row * rows()->rowHeight();
            const QColor gutter = image.pixelColor(1, top + 1); // the padding: no ink
            for (int x = 2; x < rows()->gutterWidth(); ++x) {
                for (int y = top; y < top + rows()->rowHeight(); ++y) {
                    if (image.pixelColor(x, y) != gutter) {
                        return x;
                    }
                }
            }
            return rows()->gutterWidth();
        };
        EXPECT_LT(leftmostInk(0) + 2, leftmostInk(1));
        EXPECT_LT(leftmostInk(1), rows()->gutterWidth());

        QLineEdit* field = pane()->bar()->field(0);
        field->selectAll();
        QTest::keyClicks(field, QStringLiteral("plain"));
        key(Qt::Key_Return);
        EXPECT_EQ(shown(9), expected("plain"));
        EXPECT_FALSE(explanation->isVisible());
        EXPECT_FALSE(pane()->progressLabel()->text().contains(QStringLiteral("complex")));
    }
}

namespace {

// A line of `length` b's with `count` a's at distinct random places.
std::string scatteredAs(std::mt19937& rng, std::size_t length, int count)
{
    std::string line(length, 'b');
    for (int placed = 0; placed < count;) {
        char& c = line[rng() % length];
        placed += c != 'a' ? 1 : 0;
        c = 'a';
    }
    return line + '\n';
}

// The first number in `text` after `before` and before `after` (plain digits: the counts
// here stay below a thousand); -1 when there is none.
long numberBetween(const QString& text, const QString& before, const QString& after)
{
    const qsizetype end = text.indexOf(after);
    if (end < 0) {
        return -1;
    }
    const qsizetype start = before.isEmpty() ? 0 : text.lastIndexOf(before, end);
    if (start < 0) {
        return -1;
    }
    bool ok = false;
    const long n = text.mid(start + before.size(), end - start - before.size()).toLong(&ok);
    return ok ? n : -1;
}

} // namespace

// `^ok|(.*a){24}` decides the short lines at once and none of the long ones, each one a short
// of enough a's, in the time a line may take. The header counts those lines apart and never
// among the matches: while the pass runs, when it is stopped and when it is done, its count
// of matches is the rows without a mark, and at the end the model's.
TEST_F(FilterPaneTest, TheHeaderNeverCountsLinesTooComplexAsMatches)
{
    std::mt19937 rng(11);
    std::string text;
    std::size_t matching = 0;
    std::size_t hard = 0;
    const int lines = 90;
    for (int i = 0; i < lines; ++i) {
        if (i % 2 == 0) {
            text += scatteredAs(rng, 10'000, 23);
            ++hard;
        } else if (rng() % 3 == 0) {
            text += "ok " + scatteredAs(rng, 30, int(rng() % 5));
            ++matching;
        } else {
            text += "no " + scatteredAs(rng, 30, int(rng() % 5));
        }
    }
    open(text);
    pane()->filter()->setChunkLimits(3, 1 << 20);
    QTest::mouseClick(pane()->bar()->option(0, 2), Qt::LeftButton);
    filterBy("^ok|(.*a){24}");
    auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        QApplication::processEvents();
        const QString header = pane()->progressLabel()->text();
        std::size_t marked = 0;
        for (std::size_t row = 0; row < rows()->rowCount(); ++row) {
            marked += rows()->isUndecided(row) ? 1 : 0;
        }
        const bool done = pane()->filter()->progress().state == FilterState::Done;
        const long matches =
            done ? numberBetween(header, QString(), QStringLiteral(" of "))
                 : numberBetween(header, QStringLiteral(", "), QStringLiteral(" match"));
        EXPECT_EQ(matches, long(rows()->rowCount() - marked)) << header.toStdString();
        if (marked > 0) {
            EXPECT_EQ(numberBetween(header, QStringLiteral(", "),
                                    QStringLiteral(" lines too complex for this pattern")),
                      long(marked))
                << header.toStdString();
        } else {
            EXPECT_FALSE(header.contains(QStringLiteral("complex"))) << header.toStdString();
        }
        return marked;
    };
    QPushButton* stop = pane()->stopButton();
    ASSERT_TRUE(stop->isEnabled()) << "the pass ended before it could be stopped";
    QTest::qWait(100);
    check("running");
    QTest::mouseClick(stop, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return pane()->filter()->progress().state == FilterState::Stopped; }));
    QTest::qWait(50);
    EXPECT_TRUE(pane()->progressLabel()->text().startsWith(QStringLiteral("Stopped at")));
    check("stopped");
    QTest::mouseClick(stop, Qt::LeftButton);
    QTest::qWait(100);
    check("running again");
    ASSERT_EQ(shown(LineNumber(lines)).size(), matching + hard);
    EXPECT_EQ(check("done"), hard);
    EXPECT_TRUE(pane()->progressLabel()->text().startsWith(
        QStringLiteral("%1 of %2 lines match").arg(matching).arg(lines)))
        << pane()->progressLabel()->text().toStdString();
}

// With lines wrapped the pane wraps its rows too: a long matching line takes several screen
// rows, its number on the first; a click on a later screen row of it shows that line; Down
// brings the next row's first screen row into sight; a drag across screen rows selects
// the characters between; at the end, the last screen row is at the bottom.
TEST_F(FilterPaneTest, WrappedRowsAreClickedSelectedAndFollowedByScreenRows)
{
    std::string text;
    for (int i = 0; i < 60; ++i) {
        text += "t" + std::to_string(i) +
                (i % 3 == 0 ? " ERROR " + std::string(300, 'x') : " INFO") + "\n";
    }
    open(text);
    key(Qt::Key_Z, Qt::AltModifier);
    ASSERT_TRUE(frame->activeView()->wrapsLines());
    filterBy("ERROR");
    const std::vector<LineNumber> lines = shown(60);
    ASSERT_EQ(lines, expected("ERROR"));
    ASSERT_TRUE(rows()->wrapsLines());
    EXPECT_FALSE(rows()->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(rows()->isFollowing());
    std::vector<WrapScroller::Row> screen = rows()->screenRows();
    ASSERT_FALSE(screen.empty());
    EXPECT_EQ(screen.back().item, lines.size() - 1);
    EXPECT_EQ(screen.back().y + rows()->rowHeight(), rows()->viewport()->height());

    QTest::keyClick(rows(), Qt::Key_Home, Qt::ControlModifier);
    QApplication::processEvents();
    screen = rows()->screenRows();
    ASSERT_GE(screen.size(), 3u);
    ASSERT_EQ(screen[1].item, 0u);
    ASSERT_GT(screen[1].start, 0) << "the first row goes on in a second screen row";
    const int h = rows()->rowHeight();
    QTest::mouseClick(rows()->viewport(), Qt::LeftButton, {},
                      QPoint(rows()->gutterWidth() + 4, screen[1].y + h / 2));
    QApplication::processEvents();
    EXPECT_EQ(document->selection().startLine, lines[0]);
    EXPECT_EQ(rows()->currentRow(), 0u);

    // Down, down, ...: the current row's first screen row stays in sight; a row that comes
    // up from below the pane comes whole, its last screen row the lowest whole one.
    const auto firstRowInSight = [&](std::size_t k) {
        bool seen = false;
        for (const WrapScroller::Row& row : rows()->screenRows()) {
            seen = seen || (row.item == k && row.start == 0 && row.y >= 0 &&
                            row.y + h <= rows()->viewport()->height());
        }
        return seen;
    };
    bool cameFromBelow = false;
    for (std::size_t k = 1; k < 12; ++k) {
        const bool wasInSight = firstRowInSight(k);
        key(Qt::Key_Down);
        EXPECT_TRUE(firstRowInSight(k)) << "row " << k;
        if (!wasInSight) {
            cameFromBelow = true;
            int bottom = 0;
            for (const WrapScroller::Row& row : rows()->screenRows()) {
                bottom = row.item == k ? std::max(bottom, row.y + h) : bottom;
            }
            // The lowest whole row of the pane; a row of part height may show below it.
            EXPECT_EQ(bottom, rows()->viewport()->height() / h * h) << "row " << k;
        }
    }
    EXPECT_TRUE(cameFromBelow);
    QTest::keyClick(rows(), Qt::Key_Home, Qt::ControlModifier);
    QApplication::processEvents();

    // A drag from the first screen row of a row to its second.
    screen = rows()->screenRows();
    std::size_t first = 0;
    while (first + 1 < screen.size() && !(screen[first].start == 0 && screen[first].y >= 0 &&
                                          screen[first + 1].item == screen[first].item)) {
        ++first;
    }
    ASSERT_LT(first + 1, screen.size());
    const int cell = rows()->renderer().averageCharWidth();
    const int left = rows()->gutterWidth() + cell / 2;
    QTest::mousePress(rows()->viewport(), Qt::LeftButton, {},
                      QPoint(left + cell, screen[first].y + h / 2));
    QTest::mouseMove(rows()->viewport(), QPoint(left + cell, screen[first].y + h / 2));
    QTest::mouseMove(rows()->viewport(), QPoint(left + 2 * cell, screen[first + 1].y + h / 2));
    QTest::mouseRelease(rows()->viewport(), Qt::LeftButton, {},
                        QPoint(left + 2 * cell, screen[first + 1].y + h / 2));
    const DocSelection dragged = rows()->selection();
    EXPECT_EQ(dragged.startLine, LineNumber(screen[first].item));
    EXPECT_EQ(dragged.endLine, LineNumber(screen[first].item));
    EXPECT_EQ(dragged.startCol, 1);
    EXPECT_EQ(dragged.endCol, int(screen[first + 1].start) + 2);
}

// With View > Terminal Colours on, the pane's rows look as the log view's lines do: the
// sequences hidden, their colours, bold and underline shown, a whole-line keyword's
// colours over them; rows near the log view's lines and far from them alike. A text a
// sequence splits is found whole, and a copy gives the rows as shown.
TEST_F(FilterPaneTest, TerminalColoursShowInTheRowsAsInTheLogView)
{
    store->saveKeywords({Keyword(u"FATAL", 0x00FFFFFF, 0x00FF0000, true, false, true)});
    const std::string coloured = "\x1b[42mGREEN\x1b[0m ERROR tail\n"
                                 "FATAL \x1b[42mgreen\x1b[0m ERROR\n"
                                 "ER\x1b[31mROR \x1b[1;4mbold under\x1b[0m \x1b[K\n";
    std::string text = coloured;
    for (int i = 0; i < 3000; ++i) {
        text += "plain " + std::to_string(i) + "\n";
    }
    text += coloured;
    open(text);
    frame->action(Command::ViewTerminalColors)->trigger();
    ASSERT_TRUE(document->terminalColors());
    filterBy("ERROR");
    EXPECT_EQ(shown(3006), (std::vector<LineNumber>{0, 1, 2, 3003, 3004, 3005}));

    // The log view at its top shows lines 0-2 from its window; the pane's last rows read
    // lines 3003-3005 from the file.
    QTest::keyClick(frame->activeView(), Qt::Key_Home, Qt::ControlModifier);
    QApplication::processEvents();
    LogView* view = frame->activeView();
    ASSERT_EQ(view->verticalScrollBar()->value(), 0);
    const QImage log = view->viewport()->grab().toImage();
    const int height = int(view->lineHeight());
    ASSERT_EQ(rows()->rowHeight(), height);
    const int width = std::min(log.width(), 30 * view->renderer().averageCharWidth());
    const QColor green(0, 205, 0);
    const QColor blue(0, 0, 255);
    for (const bool far : {false, true}) {
        SCOPED_TRACE(far ? "rows read from the file" : "rows of the log view's window");
        QTest::keyClick(rows(), far ? Qt::Key_End : Qt::Key_Home, Qt::ControlModifier);
        QApplication::processEvents();
        const QImage pane = rows()->viewport()->grab().toImage();
        const std::size_t first = far ? 3 : 0;
        ASSERT_LT(first - rows()->firstVisibleRow(), 4u);
        const int gutter = rows()->gutterWidth();
        const int cell = rows()->renderer().averageCharWidth();
        for (int line = 0; line < 3; ++line) {
            const int top = int(first + std::size_t(line) - rows()->firstVisibleRow()) * height;
            int differing = 0;
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    differing += pane.pixel(gutter + x, top + y) != log.pixel(x, line * height + y);
                }
            }
            EXPECT_EQ(differing, 0) << "row of line " << line << " looks as in the log view";
        }
        // What the rows look like: green behind GREEN only, the keyword's blue over the
        // green of the FATAL line.
        const int greenRow = int(first - rows()->firstVisibleRow()) * height;
        EXPECT_EQ(pane.pixelColor(gutter + 1, greenRow + 1), green);
        EXPECT_EQ(pane.pixelColor(gutter + 4 * cell + 1, greenRow + 1), green);
        EXPECT_NE(pane.pixelColor(gutter + 5 * cell + 1, greenRow + 1), green);
        const int fatal = greenRow + height;
        EXPECT_EQ(pane.pixelColor(gutter + 7 * cell + 1, fatal + 1), blue);
    }
    // Bold and underline drawn: row 2's styled words differ from the same words unstyled.
    const QImage pane = rows()->viewport()->grab().toImage();
    const int top = int(5 - rows()->firstVisibleRow()) * height;
    const QColor background = quill::colorFromRef(store->dword(Setting::BackgroundColor));
    QImage plain(pane.size(), QImage::Format_RGB32);
    {
        QPainter painter(&plain);
        LogRenderer::RowStyle style;
        style.text = quill::colorFromRef(store->dword(Setting::TextColor));
        style.background = style.rest = background;
        rows()->renderer().paintRow(painter, top, -rows()->gutterWidth(), 0, pane.width(),
                                    QStringLiteral("ERROR bold under "), style);
    }
    const int cell = rows()->renderer().averageCharWidth();
    auto ink = [&](const QImage& image, int from, int to) {
        int count = 0;
        for (int y = top; y < top + height; ++y) {
            for (int x = rows()->gutterWidth() + from * cell; x < rows()->gutterWidth() + to * cell;
                 ++x) {
                count += image.pixelColor(x, y) != background;
            }
        }
        return count;
    };
    EXPECT_EQ(ink(pane, 0, 6), ink(plain, 0, 6)) << "ERROR is plain text";
    EXPECT_GT(ink(pane, 6, 16), ink(plain, 6, 16)) << "bold and underlined";

    // Select All and copy in the pane: the rows' text as shown.
    QTest::mouseClick(rows()->viewport(), Qt::LeftButton, {}, rowPoint(rows()->firstVisibleRow()));
    ASSERT_TRUE(rows()->hasFocus());
    key(Qt::Key_A, Qt::ControlModifier);
    key(Qt::Key_C, Qt::ControlModifier);
    const QString shownRows =
        QStringLiteral("GREEN ERROR tail\nFATAL green ERROR\nERROR bold under \n");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), shownRows + shownRows);
}

// Terminal colours switched on while the pane shows rows: the rows take the colours at
// once, from the log view's window and from the file alike, with no reopening, with long
// lines wrapped or not.
TEST_F(FilterPaneTest, TerminalColoursSwitchedOnWithThePaneOpenColourItsRows)
{
    for (const bool wrap : {false, true}) {
        SCOPED_TRACE(wrap ? "wrapped" : "not wrapped");
        if (store->boolValue(Setting::WrapLongLines) != wrap) {
            store->setBool(Setting::WrapLongLines, wrap);
        }
        if (store->boolValue(Setting::TerminalColors)) {
            store->setBool(Setting::TerminalColors, false);
        }
        std::string text = "\x1b[42mGREEN\x1b[0m ERROR near\n";
        for (int i = 0; i < 3000; ++i) {
            text += "plain " + std::to_string(i) + "\n";
        }
        text += "\x1b[42mGREEN\x1b[0m ERROR far\n";
        open(text);
        ASSERT_FALSE(document->terminalColors());
        filterBy("ERROR");
        EXPECT_EQ(shown(3002), (std::vector<LineNumber>{0, 3001}));
        QTest::keyClick(frame->activeView(), Qt::Key_Home, Qt::ControlModifier);
        QApplication::processEvents();
        (void)rows()->viewport()->grab(); // the rows are read and drawn without colours first

        frame->action(Command::ViewTerminalColors)->trigger();
        ASSERT_TRUE(document->terminalColors());
        EXPECT_EQ(shown(3002), (std::vector<LineNumber>{0, 3001}));
        const QColor green(0, 205, 0);
        const int height = rows()->rowHeight();
        const int gutter = rows()->gutterWidth();
        const int cell = rows()->renderer().averageCharWidth();
        for (std::size_t row : {0, 1}) {
            SCOPED_TRACE(row == 0 ? "a line of the log view's window"
                                  : "a line read from the file");
            QApplication::processEvents();
            const QImage pane = rows()->viewport()->grab().toImage();
            const int top = int(row - rows()->firstVisibleRow()) * height;
            EXPECT_EQ(pane.pixelColor(gutter + 1, top + 1), green);
            EXPECT_EQ(pane.pixelColor(gutter + 4 * cell + 1, top + 1), green);
            EXPECT_NE(pane.pixelColor(gutter + 5 * cell + 1, top + 1), green);
        }
    }
}

// A progress line written with carriage returns shows its last state as a terminal does;
// Ctrl+A, Ctrl+C in the log view give the lines as shown, joined by line feeds, without
// any carriage return or its symbol. View > Show Control Characters shows every state with
// the symbol the font has, and a copy then carries the carriage returns themselves. The
// filter finds what the line shows.
TEST_F(FilterPaneTest, ProgressLinesShowTheirLastStateAndCopyAsShown)
{
    open("get 10%\rget 50%\rdone\r\nnext line\r\n");
    LogView* view = frame->activeView();
    const char16_t symbol = view->renderer().carriageReturnSymbol();
    EXPECT_TRUE(QRawFont::fromFont(view->renderer().font()).supportsCharacter(QChar(symbol)) ||
                symbol == u'^');
    EXPECT_EQ(document->line(0), u"done50%");
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([] { return !QGuiApplication::clipboard()->text().isEmpty(); }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("done50%\nnext line\n"));

    filterBy("done5");
    EXPECT_EQ(shown(2), (std::vector<LineNumber>{0}));

    frame->action(Command::ViewShowControlCharacters)->trigger();
    ASSERT_TRUE(frame->action(Command::ViewShowControlCharacters)->isChecked());
    EXPECT_EQ(document->line(0), u"get 10%" + std::u16string(1, symbol) + u"get 50%" +
                                     std::u16string(1, symbol) + u"done");
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(
        QTest::qWaitFor([] { return QGuiApplication::clipboard()->text().contains(u'\r'); }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("get 10%\rget 50%\rdone\nnext line\n"));
    EXPECT_TRUE(store->boolValue(Setting::ShowControlCharacters));
    frame->action(Command::ViewShowControlCharacters)->trigger();
    EXPECT_EQ(document->line(0), u"done50%");
}
