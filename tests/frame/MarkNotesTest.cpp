// Notes on marks on the real main frame with the English package, through keys, clicks and
// help events: Ctrl+F2 and the typed note (Enter keeps it, Escape leaves it), the note as
// the tooltip of the line in the text and in the gutter, the gutter's menu, View > Marks
// with its times and Enter going to the line, and the marks of a log coming back in a new
// window over the same file (the program started again), or a clear message when their
// file is damaged.

#include "view/MarkNotes.h"
#include "engine/DocumentTimeIndex.h"
#include "engine/LogDocument.h"
#include "engine/MarkKeeper.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MarksList.h"
#include "resources/ResourceIds.h"
#include "support/EnglishPackage.h"
#include "support/FrameOwners.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "view/LineGutter.h"
#include "view/LogView.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>

#include <gtest/gtest.h>

using quilltest::NullSound;
using quilltest::ReopeningOwner;
using quilltest::u16;

namespace {

class MarkNotesTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(package.loaded);
        path = package.dir.file("notes.log");
    }

    // A new window over the file, as the program shows it when started again.
    void start()
    {
        ASSERT_NO_FATAL_FAILURE(
            quilltest::showFrameOver(frame, owner, sound, path, {700, 400},
                                     [this](const QString& text) { messages << text; }));
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
        QTest::keyClick(target != nullptr ? target : QApplication::focusWidget(), Qt::Key(k), mods);
        settle();
    }

    void caretTo(LineNumber line)
    {
        view()->showLine(line);
        view()->setFocus();
        settle();
    }

    MarkNoteEditor* editor() const { return view()->markNotes()->editor(); }

    // The tooltip a help event at the middle of the line's row brings up, in the widget.
    QString tipAt(QWidget* widget, LineNumber line)
    {
        QToolTip::hideText();
        static_cast<void>(QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 5000));
        const int y = int(line * view()->lineHeight()) - view()->verticalScrollBar()->value() +
                      int(view()->lineHeight()) / 2;
        const QPoint at(2, y);
        QHelpEvent help(QEvent::ToolTip, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &help);
        settle();
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    }

    std::map<LineNumber, std::u16string> marks() const
    {
        std::map<LineNumber, std::u16string> all;
        for (const LineNumber line : document->marks().lines()) {
            all[line] = document->marks().note(line);
        }
        return all;
    }

    quilltest::EnglishPackage package;
    NullSound sound;
    ReopeningOwner owner;
    LogDocument* document = nullptr;
    std::unique_ptr<MainFrame> frame;
    std::string path;
    QStringList messages;
};

using Marks = std::map<LineNumber, std::u16string>;

} // namespace

TEST_F(MarkNotesTest, CtrlF2ThenTypingKeepsTheNoteWhichTheLineShowsAsItsTooltip)
{
    quilltest::writeFile(path, "zero\none\ntwo\nthree\nfour\n");
    start();
    caretTo(2);
    key(Qt::Key_F2, Qt::ControlModifier);
    ASSERT_NE(editor(), nullptr);
    ASSERT_TRUE(editor()->isVisible()) << "a mark just set asks for its note";
    ASSERT_EQ(QApplication::focusWidget(), editor());
    QTest::keyClicks(editor(), QStringLiteral("disk full "));
    // A key that types a letter beyond ASCII, as a German keyboard's does.
    QKeyEvent umlaut(QEvent::KeyPress, Qt::Key_Udiaeresis, Qt::NoModifier, QStringLiteral("ü"));
    QApplication::sendEvent(editor(), &umlaut);
    key(Qt::Key_Return);
    EXPECT_EQ(marks(), (Marks{{2, u"disk full ü"}}));
    EXPECT_FALSE(editor()->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), view()) << "the keys go back to the log";

    EXPECT_EQ(tipAt(view()->viewport(), 2), QStringLiteral("disk full ü"));
    EXPECT_EQ(tipAt(view()->viewport(), 1), QString()) << "an unmarked line has no tip";

    // Escape leaves a note as it was; the edit command opens it with the note in it.
    frame->updateCommandStates();
    frame->action(CommandId::MarkNote)->trigger();
    settle();
    ASSERT_TRUE(editor()->isVisible());
    EXPECT_EQ(editor()->text(), QStringLiteral("disk full ü"));
    QTest::keyClicks(editor(), QStringLiteral("typed over"));
    key(Qt::Key_Escape);
    EXPECT_EQ(marks(), (Marks{{2, u"disk full ü"}}));
    EXPECT_EQ(QApplication::focusWidget(), view());

    // Ctrl+F2 again while the field is open takes the mark off and the field away.
    caretTo(3);
    key(Qt::Key_F2, Qt::ControlModifier);
    ASSERT_TRUE(editor()->isVisible());
    key(Qt::Key_F2, Qt::ControlModifier);
    EXPECT_FALSE(editor()->isVisible());
    EXPECT_EQ(marks(), (Marks{{2, u"disk full ü"}}));

    // A mark set and left without a note has none; Ctrl+F2 on a marked line unmarks it and
    // asks nothing.
    caretTo(4);
    key(Qt::Key_F2, Qt::ControlModifier);
    key(Qt::Key_Escape);
    caretTo(2);
    key(Qt::Key_F2, Qt::ControlModifier);
    EXPECT_FALSE(editor()->isVisible());
    EXPECT_EQ(marks(), (Marks{{4, u""}}));
    EXPECT_EQ(tipAt(view()->viewport(), 4), QString());

    // What was typed is kept when the field loses the keyboard to a click into the log.
    caretTo(1);
    key(Qt::Key_F2, Qt::ControlModifier);
    QTest::keyClicks(editor(), QStringLiteral("clicked away"));
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {},
                      QPoint(5, int(view()->lineHeight()) / 2));
    settle();
    EXPECT_FALSE(editor()->isVisible());
    EXPECT_EQ(marks(), (Marks{{1, u"clicked away"}, {4, u""}}));

    // A note being typed when the lines start over (a reload) is not put on another line.
    caretTo(4);
    frame->action(CommandId::MarkNote)->trigger();
    settle();
    QTest::keyClicks(editor(), QStringLiteral("late"));
    quilltest::writeFile(path, "other\nlines\nentirely\nnow\nhere\n");
    ASSERT_TRUE(document->openDocument(u16(path)));
    document->stopWatching();
    settle();
    key(Qt::Key_Return, {}, editor());
    EXPECT_TRUE(marks().empty());
}

TEST_F(MarkNotesTest, TheGuttersMenuWritesANoteAndTheGutterShowsItAsTheTooltip)
{
    quilltest::writeFile(path, "a\nb\nc\nd\n");
    start();
    frame->action(CommandId::LineNumbers)->trigger();
    settle();
    LineGutter* gutter = view()->gutter();
    ASSERT_TRUE(gutter->isVisible());
    const int y = int(view()->lineHeight()) * 3 / 2; // line 1
    // The menu runs its own loop: its entry is chosen from inside it.
    QTimer::singleShot(50, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(menu->objectName(), QStringLiteral("gutterMenu"));
        QTest::keyClick(menu, Qt::Key_N); // &Note on Mark...
    });
    QContextMenuEvent open(QContextMenuEvent::Mouse, QPoint(2, y),
                           gutter->mapToGlobal(QPoint(2, y)));
    QApplication::sendEvent(gutter, &open);
    settle();
    ASSERT_NE(editor(), nullptr);
    ASSERT_TRUE(editor()->isVisible());
    QTest::keyClicks(editor(), QStringLiteral("from the gutter"));
    key(Qt::Key_Enter);
    EXPECT_EQ(marks(), (Marks{{1, u"from the gutter"}})) << "the note marked the line";
    EXPECT_EQ(tipAt(gutter, 1), QStringLiteral("from the gutter"));
    EXPECT_EQ(tipAt(gutter, 2), QString());

    QTimer::singleShot(50, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        QTest::keyClick(menu, Qt::Key_M); // Toggle &Mark
    });
    QApplication::sendEvent(gutter, &open);
    settle();
    EXPECT_TRUE(marks().empty());
}

TEST_F(MarkNotesTest, ViewMarksListsLinesTimesAndNotesAndEnterGoesToTheLine)
{
    std::string log;
    for (int i = 0; i < 200; ++i) {
        log += "2026-12-09 10:00:" + std::string(i % 60 < 10 ? "0" : "") + std::to_string(i % 60) +
               " line " + std::to_string(i) + "\n";
    }
    quilltest::writeFile(path, log);
    start();
    document->marks().mark(3, u"third");
    document->marks().mark(150, u"");
    document->marks().mark(70, u"seventy");
    view()->refreshMarks();
    // The times are read off the window's thread: the list waits for them.
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return frame->currentTab()->timeIndex()->timeOfLine(150).has_value(); }, 10000));

    frame->updateCommandStates();
    key(Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier, view());
    auto* list = frame->findChild<MarksList*>();
    ASSERT_NE(list, nullptr) << "Ctrl+Shift+M";
    ASSERT_TRUE(list->isVisible());
    QTreeWidget* rows = list->list();
    ASSERT_EQ(rows->topLevelItemCount(), 3);
    const auto row = [&](int i, int column) { return rows->topLevelItem(i)->text(column); };
    EXPECT_EQ(row(0, MarksList::LineColumn), QStringLiteral("4")) << "counted from 1";
    EXPECT_EQ(row(1, MarksList::LineColumn), QStringLiteral("71"));
    EXPECT_EQ(row(2, MarksList::LineColumn), QStringLiteral("151"));
    EXPECT_EQ(row(1, MarksList::NoteColumn), QStringLiteral("seventy"));
    EXPECT_EQ(row(2, MarksList::NoteColumn), QString());
    EXPECT_TRUE(row(1, MarksList::TimeColumn).startsWith(QStringLiteral("2026-12-09 10:00:10")))
        << row(1, MarksList::TimeColumn).toStdString();

    // The list follows the marks while it is open.
    caretTo(0);
    view()->setMarkNote(0, u"first");
    settle();
    ASSERT_EQ(rows->topLevelItemCount(), 4);
    EXPECT_EQ(row(0, MarksList::NoteColumn), QStringLiteral("first"));

    list->activateWindow();
    rows->setFocus();
    rows->setCurrentItem(rows->topLevelItem(0));
    key(Qt::Key_Down, {}, rows);
    key(Qt::Key_Down, {}, rows);
    key(Qt::Key_Return, {}, rows);
    const DocSelection selection = document->selection();
    EXPECT_TRUE(selection.valid);
    EXPECT_EQ(selection.startLine, 70u) << "Enter went to the third row's line";
    EXPECT_TRUE(QTest::qWaitFor([&] { return frame->findChild<MarksList*>() == nullptr; }, 5000))
        << "and closed the list";

    // Without marks the list says how to make one, and Enter goes nowhere.
    frame->action(CommandId::ClearMarks)->trigger();
    // The offscreen platform gives the window its activation back only when asked.
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    key(Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier, view());
    list = frame->findChild<MarksList*>();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->list()->topLevelItemCount(), 1);
    EXPECT_TRUE(list->list()->topLevelItem(0)->text(MarksList::NoteColumn).contains("Ctrl+F2"));
    view()->showLine(5);
    key(Qt::Key_Return, {}, list->list());
    EXPECT_EQ(document->selection().startLine, 5u);
}

TEST_F(MarkNotesTest, MarksAndNotesComeBackInANewWindowAndADamagedFileIsToldOfOnce)
{
    quilltest::writeFile(path, "first\nsecond\nthird\nopen end");
    start();
    caretTo(1);
    key(Qt::Key_F2, Qt::ControlModifier);
    QTest::keyClicks(editor(), QStringLiteral("why it broke"));
    key(Qt::Key_Return);
    caretTo(3);
    key(Qt::Key_F2, Qt::ControlModifier);
    key(Qt::Key_Escape);
    quilltest::appendFile(path, " grew\nmore\n");

    start();
    EXPECT_EQ(marks(), (Marks{{1, u"why it broke"}, {3, u""}}))
        << "kept by their lines' place and bytes; the open line grew after it was marked";
    EXPECT_EQ(tipAt(view()->viewport(), 1), QStringLiteral("why it broke"));
    EXPECT_TRUE(messages.isEmpty());

    const std::string kept = frame->currentTab()->markKeeper()->fileFor(path);
    quilltest::appendFile(kept, "this is no mark\n");
    start();
    EXPECT_EQ(marks(), (Marks{{1, u"why it broke"}, {3, u""}})) << "what read is used";
    settle();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QString::fromStdString(kept + ".damaged")))
        << messages[0].toStdString();
    start();
    EXPECT_EQ(messages.size(), 1) << "written anew, it is told of no more";
}
