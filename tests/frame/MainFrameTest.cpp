// The main frame with the English package, a real document and a recording owner: status
// panes, enable rules, stored position, bar switches, dropped files, the watcher's
// messages, stay-on-top, the caption, the recent files in the File menu and New Window.

#include "frame/MainFrame.h"
#include "diagnostics/TraceLog.h"
#include "dialogs/GeneralPage.h"
#include "dialogs/KeywordEditor.h"
#include "dialogs/KeywordsPage.h"
#include "dialogs/SettingsSheet.h"
#include "engine/AlertRule.h"
#include "engine/LogDocument.h"
#include "frame/LogTab.h"
#include "frame/PathPane.h"
#include "platform/FileName.h"
#include "resources/LanguageResources.h"
#include "resources/ResourceHandler.h"
#include "settings/SettingsStore.h"
#include "support/EnglishPackage.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "support/WidgetEvents.h"
#include "view/LogView.h"
#include "view/SelectionClipboard.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

using quilltest::NullSound;
using quilltest::TempDir;
using quilltest::u16;
using quilltest::waitFor;

namespace {

// Opens for real (as the application does) and records what the frame asked for.
class RecordingOwner : public FrameOwner {
  public:
    bool openDocumentFile(const std::u16string& path) override
    {
        opened.push_back(path);
        if (document == nullptr || !document->openDocument(path)) {
            return false;
        }
        document->setTitle();
        if (frame != nullptr) {
            frame->activeView()->initialUpdate();
        }
        return true;
    }
    void onFileNew() override { ++newDocuments; }
    void onFileOpen() override {}
    void onAppAbout() override {}
    void onOpenRecentFile(int) override {}
    std::vector<std::u16string> recentFiles() const override { return recent; }

    LogDocument* document = nullptr;
    MainFrame* frame = nullptr;
    std::vector<std::u16string> opened;
    std::vector<std::u16string> recent;
    int newDocuments = 0;
};

} // namespace

class MainFrameTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(package.loaded);
        path = dir.file("app.log");
    }

    void createFrame()
    {
        frame.reset();
        frame = std::make_unique<MainFrame>(&owner, &sound);
        document = frame->activeDocument();
        document->setWatchTiming({std::chrono::milliseconds(20), std::chrono::milliseconds(20),
                                  std::chrono::milliseconds(10)});
        owner.document = document;
        owner.frame = frame.get();
        frame->activeView()->initialUpdate();
    }

    QString paneText(int index) const { return frame->pane(index)->text(); }

    quilltest::EnglishPackage package;
    TempDir& dir = package.dir;
    std::unique_ptr<SettingsStore>& store = package.store;
    NullSound sound;
    RecordingOwner owner;
    LogDocument* document = nullptr; // the first tab's
    std::unique_ptr<MainFrame> frame;
    std::string path;
};

TEST_F(MainFrameTest, CreatesBarsFromThePackage)
{
    createFrame();
    EXPECT_TRUE(frame->isCreated());
    EXPECT_FALSE(frame->findChild<QToolBar*>(QStringLiteral("toolBar"))->actions().isEmpty());
    EXPECT_EQ(paneText(1), QString()) << "pane 1 starts empty";
    EXPECT_EQ(frame->pane(1)->width(), 0);
    EXPECT_EQ(frame->pane(1)->frameShape(), QFrame::NoFrame);
}

TEST_F(MainFrameTest, StatusPanesShowPathSizeAndLineCount)
{
    quilltest::writeFile(path, "one\ntwo\nthree\n");
    createFrame();
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    EXPECT_EQ(paneText(1), QString::fromStdString(path));
    EXPECT_EQ(paneText(2), QStringLiteral("%1 14 Bytes")
                               .arg(LanguageResources::current().string(StringId::SizeLabel)));
    EXPECT_EQ(paneText(3), QStringLiteral("%1 3").arg(
                               LanguageResources::current().string(StringId::LinesLabel)));
    EXPECT_GE(frame->pane(1)->sizeHint().width(), frame->statusTextWidth(paneText(1)));
    EXPECT_NE(frame->pane(1)->frameShape(), QFrame::NoFrame);

    frame->setFileSizeText(5'000'000'000LL);
    EXPECT_TRUE(paneText(2).endsWith(QStringLiteral(" 5000000000 Bytes"))) << "64-bit sizes";
    frame->setPaneText(1, QString());
    EXPECT_EQ(frame->pane(1)->width(), 0);
}

TEST_F(MainFrameTest, LongPathGivesWayToTheOtherPanesElidedInTheMiddle)
{
    createFrame();
    frame->show();
    frame->resize(480, 300);
    const QString longPath =
        QStringLiteral("/srv/") + QString(200, u'x') + QStringLiteral("/end.log");
    frame->setFilePathText(longPath.toStdU16String());
    frame->setFileSizeText(123456);
    frame->setLineCountText(789);
    QApplication::processEvents();
    auto* pathPane = static_cast<PathPane*>(frame->pane(1));
    const QRect bar = frame->statusBar()->rect();
    EXPECT_LE(pathPane->geometry().right(), frame->pane(2)->geometry().left());
    EXPECT_LE(frame->pane(2)->geometry().right(), frame->pane(3)->geometry().left());
    EXPECT_LE(frame->pane(3)->geometry().right(), bar.right());
    EXPECT_GE(frame->pane(3)->width(), frame->statusTextWidth(paneText(3)));
    const QString shown = pathPane->shownText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("/srv/x"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("x/end.log"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026)));
    EXPECT_EQ(pathPane->toolTip(), longPath);

    // With room again, the whole path.
    frame->setFilePathText(u"/var/log/a.log");
    QApplication::processEvents();
    EXPECT_EQ(pathPane->shownText(), QStringLiteral("/var/log/a.log"));
}

TEST_F(MainFrameTest, EnableRulesFollowTheDocument)
{
    createFrame();
    auto enabled = [&](int id) { return frame->action(id)->isEnabled(); };
    EXPECT_FALSE(enabled(CommandId::Reload));
    EXPECT_FALSE(enabled(CommandId::Clear));
    EXPECT_FALSE(enabled(CommandId::Pause));
    EXPECT_FALSE(enabled(CommandId::Find)) << "no lines to search";
    EXPECT_TRUE(enabled(CommandId::SelectAll));
    EXPECT_TRUE(enabled(CommandId::FindNextDown));

    quilltest::writeFile(path, "a\nb\n");
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    EXPECT_TRUE(enabled(CommandId::Reload));
    EXPECT_TRUE(enabled(CommandId::Clear));
    EXPECT_TRUE(enabled(CommandId::Pause));
    EXPECT_FALSE(enabled(CommandId::Resume));
    EXPECT_TRUE(enabled(CommandId::Find));
    EXPECT_FALSE(enabled(CommandId::Copy)) << "nothing selected";
    frame->action(CommandId::SelectAll)->trigger();
    EXPECT_TRUE(enabled(CommandId::Copy));
    EXPECT_TRUE(enabled(CommandId::Settings));
    frame->action(CommandId::Pause)->trigger();
    EXPECT_FALSE(document->isWatching());
    EXPECT_TRUE(enabled(CommandId::Resume));
    EXPECT_FALSE(enabled(CommandId::Pause));
}

// Laptops have no Pause key: Space does the same, and the status bar tells a paused view
// from one that merely has nothing new. Ctrl+W closes the file as elsewhere on Linux (the
// last tab stays, empty, as after New).
TEST_F(MainFrameTest, SpaceAndPausePauseAndResumeAndThePausedPaneSaysSo)
{
    quilltest::writeFile(path, "a\nb\n");
    createFrame();
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    frame->show();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    QLabel* paused = frame->pausePane();
    ASSERT_NE(paused, nullptr);
    EXPECT_FALSE(paused->isVisible());

    QTest::keyClick(frame->activeView(), Qt::Key_Space);
    EXPECT_FALSE(document->isWatching());
    EXPECT_TRUE(paused->isVisible());
    EXPECT_EQ(paused->text(), LanguageResources::current().string(StringId::Paused));
    QTest::keyClick(frame->activeView(), Qt::Key_Space);
    EXPECT_TRUE(document->isWatching());
    EXPECT_FALSE(paused->isVisible());

    QTest::keyClick(frame->activeView(), Qt::Key_Pause);
    EXPECT_TRUE(paused->isVisible());
    QTest::keyClick(frame->activeView(), Qt::Key_Pause);
    EXPECT_FALSE(paused->isVisible());

    QTest::keyClick(frame->activeView(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_EQ(owner.newDocuments, 1);
}

TEST_F(MainFrameTest, AClosedWindowComesBackWhereItWasAndStoresTheSameAgain)
{
    createFrame();
    frame->show();
    frame->setGeometry(100, 120, 640, 480);
    QApplication::processEvents();
    // The window's own rectangle both ways: a window manager's frame stored and restored as
    // the inside would grow the window at every start.
    const QRect before = frame->geometry();
    frame->close();
    const auto stored = [&] {
        return std::array<std::uint32_t, 4>{
            store->dword(Setting::WindowPosLeft), store->dword(Setting::WindowPosTop),
            store->dword(Setting::WindowPosRight), store->dword(Setting::WindowPosBottom)};
    };
    const std::array<std::uint32_t, 4> first = stored();
    EXPECT_EQ(first, (std::array<std::uint32_t, 4>{100, 120, 740, 600}));

    // Three starts in a row, each closed untouched: the same place and the same values.
    for (int start = 0; start < 3; ++start) {
        createFrame();
        frame->show();
        QApplication::processEvents();
        EXPECT_EQ(frame->geometry(), before) << "start " << start;
        frame->close();
        EXPECT_EQ(stored(), first) << "start " << start;
    }
}

TEST_F(MainFrameTest, PositionOffEveryScreenIsBroughtBackOntoTheNearest)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    struct Row {
        QRect stored;
        bool keptAsStored;
    };
    const Row rows[] = {
        // Many cascading steps beyond the bottom right corner.
        {QRect(screen.right() + 400, screen.bottom() + 900, 300, 200), false},
        {QRect(-5000, 40, 300, 200), false},
        // Partly on the screen: left where the user put it.
        {QRect(screen.right() - 99, 50, 300, 200), true},
        // Larger than the screen and off it: shrunk to it.
        {QRect(90000, 90000, screen.width() * 2, screen.height() * 2), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stored.x());
        store->setDword(Setting::WindowPosLeft, std::uint32_t(row.stored.left()));
        store->setDword(Setting::WindowPosTop, std::uint32_t(row.stored.top()));
        store->setDword(Setting::WindowPosRight,
                        std::uint32_t(row.stored.left() + row.stored.width()));
        store->setDword(Setting::WindowPosBottom,
                        std::uint32_t(row.stored.top() + row.stored.height()));
        createFrame();
        frame->show();
        QApplication::processEvents();
        const QRect shown = frame->geometry();
        if (row.keptAsStored) {
            EXPECT_EQ(shown, row.stored);
            continue;
        }
        // Wholly on the screen, give or take the platform's frame.
        const QRect onScreen = shown.intersected(screen.adjusted(-8, -8, 8, 8));
        EXPECT_EQ(onScreen, shown);
        EXPECT_LE(shown.width(), screen.width());
        EXPECT_LE(shown.height(), screen.height());
    }
}

TEST_F(MainFrameTest, ClosingAMinimisedWindowStoresNothing)
{
    createFrame();
    frame->show();
    frame->setWindowState(Qt::WindowMinimized);
    frame->close();
    for (SettingId id : {Setting::WindowPosLeft, Setting::WindowPosTop, Setting::WindowPosRight,
                         Setting::WindowPosBottom}) {
        EXPECT_EQ(store->dword(id), 0u) << id;
    }
}

TEST_F(MainFrameTest, BarSwitchesStoreTheirStateAndShowTheCheckMark)
{
    createFrame();
    frame->show();
    QAction* toolbar = frame->action(CommandId::ViewToolbar);
    ASSERT_TRUE(toolbar->isChecked());
    toolbar->trigger();
    EXPECT_FALSE(store->boolValue(Setting::Toolbar));
    EXPECT_FALSE(frame->findChild<QToolBar*>(QStringLiteral("toolBar"))->isVisible());
    EXPECT_FALSE(toolbar->isChecked());

    createFrame();
    frame->show();
    EXPECT_FALSE(frame->findChild<QToolBar*>(QStringLiteral("toolBar"))->isVisible());
    EXPECT_FALSE(frame->action(CommandId::ViewToolbar)->isChecked());
    frame->action(CommandId::ViewStatusBar)->trigger();
    EXPECT_FALSE(store->boolValue(Setting::StatusBar));
}

TEST_F(MainFrameTest, DroppedFilesAreOpenedInTurnAndTheLastStays)
{
    std::vector<std::string> files;
    for (const char* name : {"one.log", "two.log", "three.log"}) {
        files.push_back(dir.file(name));
        quilltest::writeFile(files.back(), std::string(name) + "\n");
    }
    createFrame();
    frame->show();
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& file : files) {
        urls.append(QUrl::fromLocalFile(QString::fromStdString(file)));
    }
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame.get(), &drop);
    ASSERT_TRUE(waitFor([&] { return owner.opened.size() == 3; }));
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(owner.opened[i], u16(files[i]));
    }
    EXPECT_EQ(document->pathName(), u16(files[2]));
}

TEST_F(MainFrameTest, DroppedNameThatIsNotUtf8OpensItsOwnFileAndShowsAsReplacement)
{
    // What a file manager drops: the name's bytes percent-encoded. The decoy is the name
    // that a decoding with U+FFFD would turn it into.
    const std::string file = dir.file("drop\xFF.log");
    quilltest::writeFile(file, "one\ntwo\n");
    quilltest::writeFile(dir.file("drop\xEF\xBF\xBD.log"), "the wrong file\n");
    createFrame();
    frame->show();
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"),
                 "file://" + QByteArray::fromStdString(file).toPercentEncoding("/") + "\r\n");
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame.get(), &drop);
    ASSERT_TRUE(waitFor([&] { return !owner.opened.empty(); }));
    EXPECT_EQ(owner.opened.front(), quill::fileNameToUtf16(file));
    EXPECT_EQ(document->lineCount(), 2u);

    const QString shown = QString::fromStdString(dir.path()) + QStringLiteral("/drop\uFFFD.log");
    EXPECT_EQ(paneText(1), shown);
    EXPECT_TRUE(frame->windowTitle().endsWith(shown)) << frame->windowTitle().toStdString();
    owner.recent = {quill::fileNameToUtf16(file)};
    frame->updateRecentFileMenu();
    const QAction* recent = frame->findChild<QAction*>(QStringLiteral("recentFile1"));
    ASSERT_NE(recent, nullptr);
    EXPECT_TRUE(recent->text().endsWith(QStringLiteral("drop\uFFFD.log")))
        << recent->text().toStdString();
    EXPECT_EQ(recent->statusTip(), shown);
}

TEST_F(MainFrameTest, AppendedTextArrivesAndATruncatedFileIsReadAgain)
{
    quilltest::writeFile(path, "first\nsecond\n");
    createFrame();
    frame->show();
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    ASSERT_EQ(document->lineCount(), 2u);

    quilltest::appendFile(path, "third\nfourth\n");
    ASSERT_TRUE(waitFor([&] { return paneText(3).endsWith(QStringLiteral(" 4")); }))
        << paneText(3).toStdString();
    EXPECT_EQ(document->lineCount(), 4u);

    owner.opened.clear();
    quilltest::writeFile(path, "new\n");
    ASSERT_TRUE(waitFor([&] { return !owner.opened.empty(); }));
    EXPECT_EQ(owner.newDocuments, 1) << "File New before the open";
    EXPECT_EQ(owner.opened.front(), u16(path));
    EXPECT_EQ(document->lineCount(), 1u);
    EXPECT_TRUE(paneText(3).endsWith(QStringLiteral(" 1")));
}

TEST_F(MainFrameTest, StayOnTopIsAppliedWhenTextArrives)
{
    createFrame();
    EXPECT_FALSE(frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    store->setBool(Setting::TopMost, true);
    frame->currentTab()->postFileAppended();
    QApplication::processEvents();
    EXPECT_TRUE(frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(MainFrameTest, CaptionIsTheDocumentTitle)
{
    quilltest::writeFile(path, "x\n");
    createFrame();
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    EXPECT_EQ(frame->windowTitle().toStdU16String(), document->title());
    EXPECT_TRUE(
        frame->windowTitle().endsWith(QStringLiteral("  -  ") + QString::fromStdString(path)));
}

TEST_F(MainFrameTest, ClearEmptiesTheView)
{
    quilltest::writeFile(path, "a\nb\nc\n");
    createFrame();
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    frame->action(CommandId::Clear)->trigger();
    EXPECT_EQ(document->lineCount(), 0u);
    EXPECT_FALSE(document->newTextArrived());
    EXPECT_TRUE(paneText(3).endsWith(QStringLiteral(" 0")));
    EXPECT_FALSE(frame->action(CommandId::Clear)->isEnabled());
}

TEST_F(MainFrameTest, RecentFilesAreListedInTheFileMenu)
{
    owner.recent = {u"/var/log/syslog", u"/home/someone/projects/service/logs/very-long-name.log"};
    createFrame();
    frame->updateRecentFileMenu();
    QAction* first = frame->findChild<QAction*>(QStringLiteral("recentFile1"));
    QAction* second = frame->findChild<QAction*>(QStringLiteral("recentFile2"));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->text(), QStringLiteral("&1 /var/log/syslog"));
    EXPECT_TRUE(second->text().startsWith(QStringLiteral("&2 ")));
    EXPECT_LE(second->text().size() - 3, 30);
    EXPECT_TRUE(second->text().endsWith(QStringLiteral("very-long-name.log")));
    EXPECT_FALSE(frame->action(CommandId::RecentFile1)->isVisible()) << "place holder hidden";
}

TEST_F(MainFrameTest, NewWindowStoresThePositionAndStartsTheProgramWithoutArguments)
{
    const std::string script = dir.file("program.sh");
    const std::string marker = dir.file("started");
    quilltest::writeFile(script, "#!/bin/sh\necho \"$#\" > '" + marker + "'\n");
    ::chmod(script.c_str(), 0700);
    createFrame();
    frame->setNewWindowProgram(QString::fromStdString(script));
    frame->show();
    frame->setGeometry(50, 60, 500, 400);
    QApplication::processEvents();
    frame->action(CommandId::NewWindow)->trigger();
    EXPECT_EQ(static_cast<int>(store->dword(Setting::WindowPosLeft)),
              frame->geometry().left() + 30);
    ASSERT_TRUE(waitFor(
        [&] { return std::filesystem::exists(marker) && !quilltest::readFile(marker).empty(); }));
    EXPECT_EQ(quilltest::readFile(marker), "0\n");
}

TEST_F(MainFrameTest, ContextMenuOfTheViewIsTheFirstPopupOfMenu132)
{
    quilltest::writeFile(path, "a\n");
    createFrame();
    frame->show();
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    QStringList shown;
    QTimer::singleShot(0, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions()) {
                shown.append(action->objectName());
            }
            menu->close();
        }
    });
    QWidget* viewport = frame->activeView()->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                            viewport->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(viewport, &event);
    EXPECT_TRUE(shown.contains(QStringLiteral("cmd_%1").arg(CommandId::Pause)));
    EXPECT_TRUE(shown.contains(QStringLiteral("cmd_%1").arg(CommandId::Clear)));
    EXPECT_FALSE(frame->action(CommandId::Copy)->isEnabled());
}

TEST_F(MainFrameTest, CtrlCommaOpensTheSettingsAndOkTakesEffectAtOnce)
{
    quilltest::writeFile(path, "plain line\nFATAL: disk gone\n");
    createFrame();
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    store->setDword(Setting::LogLevel, 1);
    TraceLog::instance().setConfiguredLevel(1);
    document->setNewTextArrived(true);
    bool opened = false;
    quilltest::whenModal<SettingsSheet>([&](SettingsSheet* sheet) {
        opened = true;
        QWidget* general = sheet->generalPage();
        quilltest::clickCheckBox(
            LanguageResources::control<QCheckBox>(general, ControlId::GeneralTopMost));
        quilltest::clickCheckBox(
            LanguageResources::control<QCheckBox>(general, ControlId::GeneralDetailedLogging));
        QTabBar* bar = sheet->tabs()->tabBar();
        quilltest::click(bar, bar->tabRect(1).center());
        quilltest::whenModal<KeywordEditor>([](KeywordEditor* editor) {
            QTest::keyClicks(LanguageResources::control(editor, ControlId::KeywordEditorText),
                             QStringLiteral("FATAL"));
            quilltest::click(LanguageResources::control<QPushButton>(editor, ControlId::Ok));
        });
        quilltest::click(LanguageResources::control(sheet->keywordsPage(), ControlId::KeywordsAdd));
        quilltest::click(LanguageResources::control<QPushButton>(sheet, ControlId::Ok));
    });
    frame->show();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    QTest::keyClick(frame->activeView(), Qt::Key_Comma, Qt::ControlModifier);
    ASSERT_TRUE(opened);
    EXPECT_TRUE(frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(TraceLog::instance().configuredLevel(), 3);
    EXPECT_FALSE(document->newTextArrived());
    ColorRef text = 0;
    ColorRef back = 0;
    bool matched = false;
    document->keywordColors(u"FATAL: disk gone", text, back, matched);
    EXPECT_TRUE(matched) << "keywords reloaded into the document";
    EXPECT_EQ(back, 0x000000FFu);
}

TEST_F(MainFrameTest, DisabledToolbarButtonsAreFadedAndResumeNeedsAFile)
{
    createFrame();
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    auto* bar = frame->findChild<QToolBar*>(QStringLiteral("toolBar"));
    // How far a button's pixels stand out from the toolbar behind it.
    auto contrast = [](QWidget* button) {
        const QImage image = button->grab().toImage();
        const QColor back = image.pixelColor(0, 0);
        qint64 sum = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                sum += std::abs(c.red() - back.red()) + std::abs(c.green() - back.green()) +
                       std::abs(c.blue() - back.blue());
            }
        }
        return sum;
    };
    int buttons = 0;
    for (QAction* action : bar->actions()) {
        QWidget* button = bar->widgetForAction(action);
        if (action->isSeparator() || button == nullptr) {
            continue;
        }
        const bool wasEnabled = action->isEnabled();
        action->setEnabled(true);
        const qint64 enabled = contrast(button);
        action->setEnabled(false);
        const qint64 disabled = contrast(button);
        action->setEnabled(wasEnabled);
        // Dark grey icons (copy, find) stay dark grey in a plain grey-scale disabled look.
        EXPECT_LT(disabled * 2, enabled) << action->objectName().toStdString();
        ++buttons;
    }
    EXPECT_GT(buttons, 5);

    // An empty window has nothing to follow: Resume is off, and its button does nothing.
    QWidget* resume = bar->widgetForAction(frame->action(CommandId::Resume));
    ASSERT_NE(resume, nullptr);
    EXPECT_FALSE(resume->isEnabled());
    QTest::mouseClick(resume, Qt::LeftButton);
    EXPECT_FALSE(document->isWatching());

    quilltest::writeFile(path, "a\n");
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    frame->action(CommandId::Pause)->trigger();
    EXPECT_TRUE(resume->isEnabled()) << "a paused file can be resumed";
    QTest::mouseClick(resume, Qt::LeftButton);
    EXPECT_TRUE(document->isWatching());
}

// Counts the paints a widget receives.
class PaintCounter : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
    int paints = 0;
};

// The log view's Copy runs off the window's thread: held at its start, the window still
// paints, a progress window offers Cancel and Escape stops the copy with the clipboard as
// it was; let go, the text arrives. A refusal names its bound.
TEST_F(MainFrameTest, CopyRunsBesideTheWindowWithProgressAndEscapeCancelsIt)
{
    std::string bytes;
    for (int i = 0; i < 2000; ++i) {
        bytes += "line " + std::to_string(i) + "\n";
    }
    quilltest::writeFile(path, bytes);
    createFrame();
    std::vector<QString> messages;
    frame->setMessageHandler([&messages](const QString& text) { messages.push_back(text); });
    frame->resize(600, 400);
    frame->show();
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    document->stopWatching();
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    LogView* view = frame->activeView();
    view->setFocus();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));

    std::atomic<bool> release{false};
    SelectionCopyJob::setStartHookForTesting([&release] {
        while (!release.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    ASSERT_TRUE(frame->isCopying());
    ASSERT_TRUE(
        waitFor([&] { return frame->copyProgress() && frame->copyProgress()->isVisible(); }));
    PaintCounter counter;
    view->viewport()->installEventFilter(&counter);
    view->viewport()->update();
    EXPECT_TRUE(waitFor([&] { return counter.paints > 0; })) << "the window goes on painting";
    view->viewport()->removeEventFilter(&counter);
    QTest::keyClick(frame->copyProgress(), Qt::Key_Escape);
    release = true;
    ASSERT_TRUE(waitFor([&] { return !frame->isCopying(); }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    EXPECT_EQ(frame->copyProgress(), nullptr);
    EXPECT_TRUE(messages.empty()) << "a cancelled copy says nothing";

    SelectionCopyJob::setStartHookForTesting(nullptr);
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    view->setFocus();
    ASSERT_TRUE(frame->action(CommandId::Copy)->isEnabled());
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return !frame->isCopying(); }));
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith(QStringLiteral("line 0\nline 1\n")));
    EXPECT_TRUE(copied.endsWith(QStringLiteral("line 1999\n")));

    setAvailableMemoryForTesting(1 << 16);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return !frame->isCopying(); }));
    setAvailableMemoryForTesting(0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("more than half of the 1 MB available")))
        << messages[0].toStdString();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), copied);
}

// View > Terminal Colours: the escape sequences go, their colours show, a whole-line
// keyword wins over them, and Select All with Ctrl+C copies the text as shown.
TEST_F(MainFrameTest, TerminalColoursShowTheTextAsATerminalDoesAndCopyIt)
{
    quilltest::writeFile(path, "\x1b[42mGREEN\x1b[0m tail\nFATAL \x1b[42mgreen\x1b[0m\n");
    store->saveKeywords({Keyword(u"FATAL", 0x00FFFFFF, 0x00FF0000, true, false, true)});
    createFrame();
    frame->resize(600, 400);
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    QAction* terminal = frame->action(CommandId::ViewTerminalColors);
    ASSERT_NE(terminal, nullptr);
    EXPECT_FALSE(terminal->isChecked());
    EXPECT_EQ(document->line(0), u"\x1b[42mGREEN\x1b[0m tail");

    terminal->trigger();
    EXPECT_TRUE(store->boolValue(Setting::TerminalColors));
    EXPECT_TRUE(terminal->isChecked());
    EXPECT_EQ(document->line(0), u"GREEN tail");
    LogView* view = frame->activeView();
    const QImage image = view->viewport()->grab().toImage();
    const int row = int(view->lineHeight());
    const QColor green(0, 205, 0);
    auto top = [&](int line, int column) {
        return QColor(image.pixel(column * view->renderer().averageCharWidth() + 1, line * row));
    };
    EXPECT_EQ(top(0, 0), green);
    EXPECT_EQ(top(0, 4), green);
    EXPECT_NE(top(0, 5), green);
    EXPECT_EQ(top(1, 7), QColor(0, 0, 255)) << "the keyword's whole-line colour wins";

    view->setFocus();
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return !frame->isCopying(); }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("GREEN tail\nFATAL green\n"));

    terminal->trigger();
    EXPECT_FALSE(store->boolValue(Setting::TerminalColors));
    EXPECT_EQ(document->line(1), u"FATAL \x1b[42mgreen\x1b[0m");
}

// View > Encoding reads the file again in the chosen encoding; the status bar says which,
// and the menu ticks it.
TEST_F(MainFrameTest, EncodingMenuReadsTheFileAgainAndTheStatusBarSaysWhich)
{
    quilltest::writeFile(path, "caf\xE9 \x80\n");
    createFrame();
    frame->show();
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    frame->updateCommandStates();
    EXPECT_TRUE(frame->action(CommandId::ViewEncodingFirst)->isChecked());
    EXPECT_TRUE(frame->encodingPane()->text().endsWith(QStringLiteral(" (automatic)")))
        << frame->encodingPane()->text().toStdString();

    frame->action(CommandId::ViewEncodingFirst + int(quill::TextEncoding::Windows1252))->trigger();
    EXPECT_EQ(document->line(0), u"caf\u00E9 \u20AC");
    EXPECT_EQ(frame->encodingPane()->text(), QStringLiteral("Windows-1252"));
    EXPECT_TRUE(frame->action(CommandId::ViewEncodingFirst + int(quill::TextEncoding::Windows1252))
                    ->isChecked());
    EXPECT_FALSE(frame->action(CommandId::ViewEncodingFirst)->isChecked());
    EXPECT_EQ(owner.opened.size(), 2u) << "read again through the owner, as a reload";

    frame->action(CommandId::ViewEncodingFirst + int(quill::TextEncoding::Latin1))->trigger();
    EXPECT_EQ(document->line(0), u"caf\u00E9 \u0080");
}

// Without a language package (or with one that lacks the text) the status bar still names
// the encoding, and nothing is formatted with an insert the text does not have.
TEST_F(MainFrameTest, TheEncodingPaneNamesTheEncodingWithoutItsText)
{
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
            warnings.append(message);
        });
    package.resources.reset();
    quilltest::writeFile(path, "plain text\n");
    createFrame();
    frame->show();
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    frame->updateCommandStates();
    qInstallMessageHandler(previous);
    EXPECT_FALSE(frame->encodingPane()->text().isEmpty());
    EXPECT_FALSE(frame->encodingPane()->text().contains(QLatin1Char('%')));
    for (const QString& warning : warnings) {
        EXPECT_FALSE(warning.contains(QStringLiteral("QString::arg"))) << warning.toStdString();
    }
}

// A big-endian file with its byte-order mark, under Automatic: the status bar names it, the
// menu keeps Automatic ticked, and the lines read as written.
TEST_F(MainFrameTest, ABigEndianMarkIsNamedInTheStatusBarUnderAutomatic)
{
    quilltest::writeFile(path, std::string("\xFE\xFF\0o\0n\0e\0\n\0t\0w\0o\0\n", 18));
    createFrame();
    frame->show();
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    frame->updateCommandStates();
    EXPECT_TRUE(frame->action(CommandId::ViewEncodingFirst)->isChecked());
    EXPECT_EQ(frame->encodingPane()->text(), QStringLiteral("UTF-16 BE (automatic)"));
    EXPECT_EQ(document->line(0), u"one");
    EXPECT_EQ(document->line(1), u"two");
}

// A keyword that colours only its matches colours each of them, in every line, over the
// colours of a whole-line keyword.
TEST_F(MainFrameTest, MatchOnlyKeywordsColourTheirMatchesOverAWholeLineKeyword)
{
    quilltest::writeFile(path, "an ab ab\nFATAL ab\n");
    Keyword match(u"ab", 0x00FFFFFF, 0x0000FF00, true, false, true); // white on green
    match.matchOnly = true;
    store->saveKeywords({Keyword(u"FATAL", 0x00FFFFFF, 0x00FF0000, true, false, true), match});
    createFrame();
    frame->resize(600, 400);
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    LogView* view = frame->activeView();
    const QImage image = view->viewport()->grab().toImage();
    const int row = int(view->lineHeight());
    const int cell = view->renderer().averageCharWidth();
    auto top = [&](int line, int column) {
        return QColor(image.pixel(column * cell + 1, line * row));
    };
    const QColor green(0, 255, 0);
    const QColor blue(0, 0, 255);
    const QColor black(0, 0, 0);
    EXPECT_EQ(top(0, 0), black);
    EXPECT_EQ(top(0, 2), black);
    EXPECT_EQ(top(0, 3), green);
    EXPECT_EQ(top(0, 4), green);
    EXPECT_EQ(top(0, 5), black);
    EXPECT_EQ(top(0, 7), green) << "every match, up to the line's end";
    EXPECT_EQ(top(1, 0), blue) << "the whole-line keyword's colour under the match";
    EXPECT_EQ(top(1, 6), green);
    EXPECT_EQ(top(1, 7), green);
}

// Alt+Z (View > Wrap Long Lines) puts a wide line's rest on the rows below it and takes
// the horizontal scroll bar away; again, and the line is one row that scrolls sideways.
// The switch is stored.
TEST_F(MainFrameTest, AltZWrapsLongLinesAndTakesTheHorizontalBarAway)
{
    std::string wide;
    for (int word = 0; wide.size() < 400; ++word) {
        wide += "word" + std::to_string(word) + " ";
    }
    quilltest::writeFile(path, "first\n" + wide + "\n");
    createFrame();
    frame->resize(600, 400);
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    ASSERT_TRUE(owner.openDocumentFile(u16(path)));
    LogView* view = frame->activeView();
    QApplication::processEvents();
    ASSERT_TRUE(view->horizontalScrollBar()->isVisible());
    const int row = int(view->lineHeight());
    const QColor background = quill::colorFromRef(store->dword(Setting::BackgroundColor));
    // Whether any pixel of the row at y is not the background.
    auto inked = [&](int y) {
        const QImage image = view->viewport()->grab().toImage();
        for (int py = y; py < y + row; ++py) {
            for (int px = 0; px < image.width(); ++px) {
                if (QColor(image.pixel(px, py)) != background) {
                    return true;
                }
            }
        }
        return false;
    };
    EXPECT_FALSE(inked(2 * row)) << "two lines, two rows";

    view->setFocus();
    QTest::keyClick(view, Qt::Key_Z, Qt::AltModifier);
    QApplication::processEvents();
    EXPECT_TRUE(store->boolValue(Setting::WrapLongLines));
    frame->updateCommandStates();
    EXPECT_TRUE(frame->action(CommandId::ViewWrapLines)->isChecked());
    EXPECT_FALSE(view->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(inked(2 * row)) << "the wide line goes on in the third row";
    EXPECT_GE(view->screenRows().size(), 3u);

    QTest::keyClick(view, Qt::Key_Z, Qt::AltModifier);
    QApplication::processEvents();
    EXPECT_FALSE(store->boolValue(Setting::WrapLongLines));
    EXPECT_TRUE(view->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(inked(2 * row));
}
