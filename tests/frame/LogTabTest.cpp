// Tabs in the real window, opened through the application as the user opens them: files
// from the command line and dropped, switched by keys and clicks, closed by key and middle
// click, reordered by a drag; a background tab that grows is marked and sounds its alert
// without moving the front one; each tab keeps its own selection, find position, filter and
// pause; and the next start brings the tabs back in their order.

#include "frame/LogTab.h"
#include "app/Application.h"
#include "engine/LogDocument.h"
#include "frame/FilterBar.h"
#include "frame/FilterPane.h"
#include "frame/MainFrame.h"
#include "frame/TabNames.h"
#include "settings/Keyword.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "view/LogView.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QSet>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <QWindow>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

using quilltest::TempDir;
using quilltest::u16;

namespace {

class CountingSound : public SoundService {
  public:
    void playSoundFile(const std::u16string&) override { ++plays; }
    void beep() override { ++beeps; }
    int plays = 0;
    int beeps = 0;
};

// Waits for a condition while the event loop runs (a safety net, not a timing check).
template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        QTest::qWait(10);
    }
    return true;
}

void append(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

class LogTabTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        store = std::make_unique<SettingsStore>(dir.file("user.reg"), dir.file("machine.reg"));
        SettingsStore::overrideInstance(store.get());
        store->setString(Setting::ResourceDllPath, u16(QUILL_LANGUAGE_DIR));
        store->setString(Setting::ResourceDllPrefix, u"quillstream_");
        store->setString(Setting::GuiLanguage, u"EN");
        store->setBool(Setting::ShowEmptyFileWarning, false);
        store->setBool(Setting::ShowEmptyFiles, false);
        a = logFile("a.log", "a1\na2\n");
        b = logFile("b.log", "b1\nb2\nb3\n");
        c = logFile("c.log", "c1\nc2\nc3\nc4\n");
    }

    void TearDown() override
    {
        if (app) {
            app->exitInstance();
        }
        app.reset();
        SettingsStore::overrideInstance(nullptr);
    }

    void start(const std::vector<std::string>& args)
    {
        app = std::make_unique<Application>();
        app->setSoundService(&sound);
        ASSERT_TRUE(app->initInstance(args));
        frame = app->mainFrame();
        frame->setMessageHandler([this](const QString& text) { messages.append(text); });
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    }

    std::string logFile(const char* name, const std::string& text)
    {
        const std::string path = dir.file(name);
        quilltest::writeFile(path, text);
        return path;
    }

    int front() const { return frame->tabWidget()->currentIndex(); }
    QTabBar* bar() const { return frame->tabWidget()->tabBar(); }
    // Keys go where the user's keys go: to the widget with the keyboard.
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget* target = QApplication::focusWidget();
        QTest::keyClick(target != nullptr ? target : frame, k, modifiers);
    }
    QString paneText(int index) const { return frame->pane(index)->text(); }

    TempDir dir;
    quilltest::ScopedEnv tmp{"TMPDIR", dir.path()};
    std::unique_ptr<SettingsStore> store;
    CountingSound sound;
    std::unique_ptr<Application> app;
    MainFrame* frame = nullptr;
    QStringList messages;
    std::string a, b, c;
};

} // namespace

TEST_F(LogTabTest, ThreeFilesSwitchedByKeysAndClicksClosedAndReordered)
{
    start({a, b, c});
    ASSERT_EQ(frame->tabCount(), 3);
    EXPECT_TRUE(bar()->isVisible());
    EXPECT_EQ(front(), 0) << "the first file named is in front";
    EXPECT_EQ(bar()->tabText(1), QStringLiteral("b.log"));
    EXPECT_TRUE(frame->windowTitle().contains(QStringLiteral("a.log")));
    EXPECT_TRUE(paneText(3).endsWith(QStringLiteral(" 2")));

    key(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(front(), 1);
    EXPECT_TRUE(frame->windowTitle().contains(QStringLiteral("b.log")));
    EXPECT_TRUE(paneText(3).endsWith(QStringLiteral(" 3"))) << "the status follows the front";
    EXPECT_TRUE(frame->activeView()->hasFocus());
    key(Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(front(), 2);
    key(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(front(), 0) << "past the last comes the first";
    key(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(front(), 2) << "before the first comes the last";
    key(Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(front(), 1);
    key(Qt::Key_3, Qt::AltModifier);
    EXPECT_EQ(front(), 2);
    key(Qt::Key_1, Qt::AltModifier);
    EXPECT_EQ(front(), 0);
    key(Qt::Key_9, Qt::AltModifier);
    EXPECT_EQ(front(), 0) << "no ninth tab";

    QTest::mouseClick(bar(), Qt::LeftButton, {}, bar()->tabRect(2).center());
    EXPECT_EQ(front(), 2);
    EXPECT_EQ(frame->activeDocument()->pathName(), u16(c));

    // A middle click closes the tab under it, not the one in front.
    QTest::mouseClick(bar(), Qt::MiddleButton, {}, bar()->tabRect(1).center());
    ASSERT_EQ(frame->tabCount(), 2);
    EXPECT_EQ(frame->tab(0)->path(), u16(a));
    EXPECT_EQ(frame->tab(1)->path(), u16(c));
    EXPECT_EQ(frame->currentTab()->path(), u16(c));

    // Dragged by the mouse: c before a.
    const QPoint from = bar()->tabRect(1).center();
    const QPoint to = bar()->tabRect(0).topLeft() + QPoint(2, bar()->tabRect(0).height() / 2);
    QTest::mousePress(bar(), Qt::LeftButton, {}, from);
    for (int step = 1; step <= 10; ++step) {
        QMouseEvent move(QEvent::MouseMove, from + (to - from) * step / 10,
                         bar()->mapToGlobal(from + (to - from) * step / 10), Qt::LeftButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(bar(), &move);
    }
    QTest::mouseRelease(bar(), Qt::LeftButton, {}, to);
    ASSERT_TRUE(waitFor([&] { return frame->tab(0)->path() == u16(c); }));
    EXPECT_EQ(frame->tab(1)->path(), u16(a));
    EXPECT_EQ(frame->currentTab()->path(), u16(c));

    // A file already open comes to the front instead of opening twice; new ones get tabs.
    const std::string d = logFile("d.log", "d1\n");
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(QString::fromStdString(a)),
                   QUrl::fromLocalFile(QString::fromStdString(d))});
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame, &drop);
    ASSERT_TRUE(waitFor([&] { return frame->tabCount() == 3; }));
    EXPECT_EQ(frame->tab(2)->path(), u16(d));
    EXPECT_EQ(frame->currentTab()->path(), u16(d));
    delete data;

    // Ctrl+W closes the front tab; the last one stays, empty, and the bar hides.
    key(Qt::Key_W, Qt::ControlModifier);
    key(Qt::Key_W, Qt::ControlModifier);
    ASSERT_EQ(frame->tabCount(), 1);
    EXPECT_FALSE(bar()->isVisible());
    EXPECT_FALSE(frame->activeDocument()->pathName().empty());
    key(Qt::Key_W, Qt::ControlModifier);
    ASSERT_EQ(frame->tabCount(), 1);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(frame->activeDocument()->pathName().empty());
    EXPECT_EQ(frame->activeDocument()->lineCount(), 0u);
}

TEST_F(LogTabTest, AnOpenGoesToTheEmptyFrontTabElseToANewOne)
{
    start({});
    ASSERT_EQ(frame->tabCount(), 1);
    EXPECT_FALSE(bar()->isVisible()) << "one tab looks as the window always did";
    ASSERT_TRUE(app->openDocumentFile(u16(a)));
    EXPECT_EQ(frame->tabCount(), 1);
    ASSERT_TRUE(app->openDocumentFile(u16(b)));
    EXPECT_EQ(frame->tabCount(), 2);
    EXPECT_EQ(front(), 1);
    // A file that cannot be opened leaves no tab behind and the front where it was.
    EXPECT_FALSE(app->openDocumentFile(u16(dir.file("missing.log"))));
    EXPECT_EQ(frame->tabCount(), 2);
    EXPECT_EQ(front(), 1);
    ASSERT_TRUE(app->openDocumentFile(u16(a)));
    EXPECT_EQ(frame->tabCount(), 2);
    EXPECT_EQ(front(), 0);
}

TEST_F(LogTabTest, AppendsToABackgroundTabMarkItAndAlertWithoutMovingTheFront)
{
    store->saveKeywords({Keyword(u"ERROR", 0x0000FF, 0xFFFFFF, false, false, true)});
    store->setBool(Setting::Beep, true);
    start({a, b});
    ASSERT_EQ(front(), 0);
    const QString frontTitle = frame->windowTitle();
    const QString frontLines = paneText(3);
    LogTab* background = frame->tab(1);
    EXPECT_FALSE(background->hasNewLines());

    append(b, "b4 fine\n");
    ASSERT_TRUE(waitFor([&] { return background->hasNewLines(); }));
    EXPECT_TRUE(bar()->tabText(1).endsWith(QStringLiteral("b.log")));
    EXPECT_NE(bar()->tabText(1), QStringLiteral("b.log")) << "marked";
    EXPECT_FALSE(background->hasAlert());
    EXPECT_EQ(sound.beeps, 0);
    EXPECT_EQ(front(), 0);
    EXPECT_EQ(frame->windowTitle(), frontTitle);
    EXPECT_EQ(paneText(3), frontLines) << "the status bar tells of the front tab";

    // The matching line is not the last one shown.
    append(b, "b5 ERROR\nb6 after\n");
    ASSERT_TRUE(waitFor([&] { return background->hasAlert(); }));
    EXPECT_EQ(sound.beeps, 1) << "the alert sounds from behind";
    EXPECT_EQ(bar()->tabTextColor(1), QColor(Qt::red));
    EXPECT_EQ(front(), 0);

    key(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_FALSE(background->hasNewLines());
    EXPECT_FALSE(background->hasAlert());
    EXPECT_EQ(bar()->tabText(1), QStringLiteral("b.log"));
    EXPECT_TRUE(paneText(3).endsWith(QStringLiteral(" 6")));
    LogView* view = frame->activeView();
    EXPECT_EQ(view->contentSize().height(), 6 * int(view->lineHeight()))
        << "the view caught up with the lines that came while it was behind";
    frame->activeView()->viewport()->grab();
    EXPECT_EQ(sound.beeps, 1) << "shown now, but not sounded twice";

    // Lines for the front tab mark nothing.
    append(b, "b7\n");
    ASSERT_TRUE(waitFor([&] { return paneText(3).endsWith(QStringLiteral(" 7")); }));
    EXPECT_FALSE(background->hasNewLines());
}

TEST_F(LogTabTest, AFileReplacedBehindTheFrontIsReadAgainInItsOwnTab)
{
    start({a, b});
    LogTab* background = frame->tab(1);
    const std::uint64_t generation = background->document()->contentGeneration();
    // Shorter than before: the watcher sees another file and the tab reads it again.
    quilltest::writeFile(b, "new\n");
    ASSERT_TRUE(waitFor([&] {
        return background->document()->contentGeneration() != generation &&
               background->document()->lineCount() == 1;
    }));
    EXPECT_EQ(frame->tabCount(), 2);
    EXPECT_EQ(background->path(), u16(b));
    EXPECT_EQ(front(), 0);
    EXPECT_EQ(frame->activeDocument()->pathName(), u16(a));
    EXPECT_EQ(frame->activeDocument()->lineCount(), 2u) << "the front tab untouched";
    EXPECT_TRUE(paneText(3).endsWith(QStringLiteral(" 2")));
}

TEST_F(LogTabTest, SelectionFindPositionFilterAndPauseStayWithTheirTab)
{
    const std::string x = logFile("x.log", "zero\nneedle one\ntwo\nneedle three\n");
    const std::string y = logFile("y.log", "needle first\nother\n");
    store->setString(Setting::LastFindString, u"needle");
    start({x, y});
    LogTab* first = frame->tab(0);
    LogTab* second = frame->tab(1);

    key(Qt::Key_F3);
    EXPECT_EQ(first->document()->selection().startLine, 1u);
    key(Qt::Key_Space);
    EXPECT_FALSE(first->document()->isWatching());
    EXPECT_TRUE(frame->pausePane()->isVisible());

    key(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_TRUE(second->document()->isWatching());
    EXPECT_FALSE(frame->pausePane()->isVisible()) << "the pane tells of the front tab";
    key(Qt::Key_F3);
    EXPECT_EQ(second->document()->selection().startLine, 0u);
    key(Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("oth"));
    key(Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return second->filterPane()->isActive(); }));

    key(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_FALSE(first->filterPane()->isActive());
    EXPECT_TRUE(frame->pausePane()->isVisible());
    EXPECT_EQ(first->document()->selection().startLine, 1u);
    key(Qt::Key_F3);
    EXPECT_EQ(first->document()->selection().startLine, 3u) << "on from its own place";
    EXPECT_TRUE(messages.isEmpty());

    key(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_TRUE(second->filterPane()->isActive());
    EXPECT_EQ(second->filterPane()->bar()->findChild<QLineEdit*>()->text(), QStringLiteral("oth"));
    EXPECT_EQ(second->document()->selection().startLine, 0u);
    EXPECT_TRUE(second->document()->isWatching());
}

TEST_F(LogTabTest, TheNextStartRestoresTheTabsInOrderWithTheFrontOneInFront)
{
    store->setBool(Setting::ShowLastViewedFile, true);
    start({a, b, c});
    key(Qt::Key_2, Qt::AltModifier);
    frame->close();
    app->exitInstance();
    app.reset();
    std::remove(b.c_str());

    start({});
    ASSERT_EQ(frame->tabCount(), 2) << "a file gone since is skipped";
    EXPECT_EQ(frame->tab(0)->path(), u16(a));
    EXPECT_EQ(frame->tab(1)->path(), u16(c));
    EXPECT_EQ(front(), 0) << "the front one was skipped: the first comes to the front";
    key(Qt::Key_2, Qt::AltModifier);
    frame->close();
    app->exitInstance();
    app.reset();

    start({});
    ASSERT_EQ(frame->tabCount(), 2);
    EXPECT_EQ(frame->tab(0)->path(), u16(a));
    EXPECT_EQ(frame->currentTab()->path(), u16(c));
    EXPECT_EQ(frame->activeDocument()->lineCount(), 4u);
}

// A command's tab is not saved: the front tab is saved by its place among the saved ones,
// not among all tabs (a command left of it would move the front one place on, or past the
// end). A middle click on the leftmost tab closes that one.
TEST_F(LogTabTest, TheFrontTabComesBackInFrontPastACommandsTabAndTheLeftmostClosesByMiddleClick)
{
    store->setBool(Setting::ShowLastViewedFile, true);
    start({"--command", "printf 'from a command\\n'", a, b, c});
    ASSERT_EQ(frame->tabCount(), 4);
    ASSERT_TRUE(frame->tab(0)->path().empty() || frame->tab(0)->document()->source() != nullptr);
    for (const int pick : {1, 2, 3}) {
        SCOPED_TRACE("front tab " + std::to_string(pick));
        QTest::mouseClick(bar(), Qt::LeftButton, {}, bar()->tabRect(pick).center());
        const std::u16string chosen = frame->currentTab()->path();
        frame->close();
        app->exitInstance();
        app.reset();
        start({});
        ASSERT_EQ(frame->tabCount(), 3) << "the command's tab is not brought back";
        EXPECT_EQ(frame->currentTab()->path(), chosen);
        frame->close();
        app->exitInstance();
        app.reset();
        start({"--command", "printf 'from a command\\n'", a, b, c});
    }

    // The leftmost tab closes under a middle click, though another one is in front.
    QTest::mouseClick(bar(), Qt::LeftButton, {}, bar()->tabRect(2).center());
    QTest::mouseClick(bar(), Qt::MiddleButton, {}, bar()->tabRect(0).center());
    ASSERT_EQ(frame->tabCount(), 3);
    EXPECT_EQ(frame->tab(0)->path(), u16(a));
    EXPECT_EQ(frame->currentTab()->path(), u16(b));
    QTest::mouseClick(bar(), Qt::MiddleButton, {}, bar()->tabRect(0).center());
    ASSERT_EQ(frame->tabCount(), 2);
    EXPECT_EQ(frame->tab(0)->path(), u16(b));
    EXPECT_EQ(frame->currentTab()->path(), u16(b));
}

// '&' in a name is shown as it is: a tab never takes Alt+F from the File menu, and "[*]" in
// the window title is not taken for the modified mark.
TEST_F(LogTabTest, AnAmpersandInANameIsShownAndNeverBecomesAnAccelerator)
{
    const std::string amp = logFile("x&f.log", "x1\n");
    const std::string star = logFile("y[*].log", "y1\n");
    start({star});
    EXPECT_TRUE(frame->windowHandle()->title().contains(QStringLiteral("y[*].log")))
        << frame->windowHandle()->title().toStdString();
    ASSERT_TRUE(app->openDocumentFile(u16(a)));
    ASSERT_TRUE(app->openDocumentFile(u16(amp)));
    ASSERT_EQ(frame->tabCount(), 3);
    EXPECT_EQ(bar()->tabText(2), QStringLiteral("x&&f.log"));
    key(Qt::Key_2, Qt::AltModifier);
    ASSERT_EQ(front(), 1);
    key(Qt::Key_F, Qt::AltModifier);
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
    }
    EXPECT_EQ(front(), 1) << "Alt+F is the File menu's";
    key(Qt::Key_1, Qt::AltModifier);
    ASSERT_EQ(front(), 0);
    EXPECT_TRUE(frame->windowHandle()->title().contains(QStringLiteral("y[*].log")))
        << frame->windowHandle()->title().toStdString();
}

// Twenty logs that differ only in the day: every tab shows its day and the extension, the
// bar scrolls, each tab has its close button and names its whole path in its tip.
TEST_F(LogTabTest, TwentyTabsShowWhatTellsThemApartScrollAndCloseByTheirButtons)
{
    std::vector<std::string> files;
    for (int day = 1; day <= 20; ++day) {
        files.push_back(logFile(QStringLiteral("service-frontend-eu-west-1-2026-12-%1.log")
                                    .arg(day, 2, 10, QLatin1Char('0'))
                                    .toStdString()
                                    .c_str(),
                                "line\n"));
    }
    start(files);
    frame->resize(1500, 600);
    QApplication::processEvents();
    ASSERT_EQ(frame->tabCount(), 20);
    QSet<QString> shown;
    for (int i = 0; i < 20; ++i) {
        const QString text = bar()->tabText(i);
        EXPECT_TRUE(text.endsWith(QStringLiteral("-%1.log").arg(i + 1, 2, 10, QLatin1Char('0'))))
            << text.toStdString();
        EXPECT_TRUE(text.startsWith(QStringLiteral("ser"))) << text.toStdString();
        EXPECT_LT(text.size(), 40) << "shortened";
        shown.insert(text);
        EXPECT_EQ(bar()->tabToolTip(i), QString::fromStdString(files[std::size_t(i)]));
        EXPECT_GE(bar()->tabRect(i).width(), bar()->fontMetrics().horizontalAdvance(text))
            << "not squeezed further";
    }
    EXPECT_EQ(shown.size(), 20);
    auto* scroll = bar()->findChild<QToolButton*>(QStringLiteral("ScrollRightButton"));
    ASSERT_NE(scroll, nullptr);
    EXPECT_TRUE(scroll->isVisible());

    // The close button of a background tab closes that tab; the front one stays in front.
    const auto closeButton = [&](int index) {
        QWidget* button = bar()->tabButton(index, QTabBar::RightSide);
        return button != nullptr ? button : bar()->tabButton(index, QTabBar::LeftSide);
    };
    ASSERT_NE(closeButton(1), nullptr);
    QTest::mouseClick(closeButton(1), Qt::LeftButton);
    ASSERT_EQ(frame->tabCount(), 19);
    EXPECT_EQ(front(), 0);
    EXPECT_EQ(frame->tab(0)->path(), u16(files[0]));
    EXPECT_EQ(frame->tab(1)->path(), u16(files[2]));
    QTest::mouseClick(closeButton(0), Qt::LeftButton);
    ASSERT_EQ(frame->tabCount(), 18);
    EXPECT_EQ(frame->currentTab()->path(), u16(files[2]));

    // With one name left over the others the shared part changes: the day shows still.
    for (int i = 17; i >= 1; --i) {
        QTest::mouseClick(closeButton(i), Qt::LeftButton);
    }
    ASSERT_EQ(frame->tabCount(), 1);
    EXPECT_FALSE(bar()->isVisible());
}

// Ctrl+W on the last tab empties it, and the status bar stops naming the closed file.
TEST_F(LogTabTest, ClosingTheLastTabClearsThePathFromTheStatusBar)
{
    start({a, b});
    EXPECT_EQ(paneText(1), QString::fromStdString(a));
    key(Qt::Key_W, Qt::ControlModifier);
    EXPECT_EQ(paneText(1), QString::fromStdString(b));
    key(Qt::Key_W, Qt::ControlModifier);
    ASSERT_EQ(frame->tabCount(), 1);
    EXPECT_TRUE(frame->activeDocument()->pathName().empty());
    EXPECT_EQ(paneText(1), QString());
    EXPECT_FALSE(frame->windowTitle().contains(QStringLiteral("b.log")));
}

// Shortened names at their boundaries, one pixel a character: a name that fits exactly
// stays whole; the shared start keeps its first three characters and its end next to the
// part that differs; the shared end keeps its last four; a surrogate pair is never split.
TEST(TabNamesTest, ShortNamesKeepWhatDiffersAtTheBoundaries)
{
    const quill::TextWidth chars = [](const QString& text) { return int(text.size()); };
    const QString day1 = QStringLiteral("service-frontend-2026-12-01.log");
    const QString day2 = QStringLiteral("service-frontend-2026-12-02.log");
    const quill::SharedParts days = quill::sharedParts({day1, day2});
    EXPECT_EQ(days.start, 26);
    EXPECT_EQ(days.end, 4);
    EXPECT_EQ(quill::shortTabName(day1, days, 31, chars), day1);
    EXPECT_EQ(quill::shortTabName(day1, days, 30, chars),
              QStringLiteral("ser\u2026ce-frontend-2026-12-01.log"));
    EXPECT_EQ(quill::shortTabName(day1, days, 12, chars), QStringLiteral("ser\u20262-01.log"));
    EXPECT_EQ(quill::shortTabName(day1, days, 9, chars), QStringLiteral("ser\u20261.log"));

    const QString a = QStringLiteral("a-server-application.log");
    const quill::SharedParts ends =
        quill::sharedParts({a, QStringLiteral("b-server-application.log")});
    EXPECT_EQ(ends.start, 0);
    EXPECT_EQ(ends.end, 23);
    EXPECT_EQ(quill::shortTabName(a, ends, 10, chars), QStringLiteral("a\u2026tion.log"));
    EXPECT_EQ(quill::shortTabName(a, ends, 6, chars), QStringLiteral("a\u2026.log"));
    EXPECT_EQ(quill::shortTabName(a, ends, 4, chars), QStringLiteral("a\u2026og"));

    // Nothing shared: the middle goes, one more character kept left than right.
    EXPECT_EQ(quill::shortTabName(QStringLiteral("abcdefgh"), {}, 6, chars),
              QStringLiteral("abc\u2026gh"));
    EXPECT_EQ(quill::shortTabName(QStringLiteral("a\U0001F600bc"), {}, 4, chars),
              QStringLiteral("a\u2026bc"));
    EXPECT_EQ(quill::shortTabName(QStringLiteral("abc"), {}, 0, chars), QStringLiteral("\u2026"));

    // One name shares nothing with itself; one name a prefix of another; pairs kept whole.
    EXPECT_EQ(quill::sharedParts({day1}).start, 0);
    EXPECT_EQ(quill::sharedParts({day1}).end, 0);
    const quill::SharedParts prefix =
        quill::sharedParts({QStringLiteral("a.log"), QStringLiteral("a.log.1")});
    EXPECT_EQ(prefix.start, 5);
    EXPECT_EQ(prefix.end, 0);
    EXPECT_EQ(
        quill::sharedParts({QStringLiteral("a\U0001F600"), QStringLiteral("a\U0001F601")}).start,
        1);
    EXPECT_EQ(
        quill::sharedParts({QStringLiteral("\U0001F600z"), QStringLiteral("\U0001FA00z")}).end, 1);
}
