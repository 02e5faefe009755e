// File > Save Lines As on the real main frame, through keys: Ctrl+S, the choice of lines
// in the dialog (Alt+L, arrows), the name typed, Enter. The saved bytes are checked against
// the log's own bytes split by the test; a Cancel in the progress window and a failure
// leave an old file as it was and nothing else behind.

#include "FilterPaneFixture.h"

#include "frame/LogTab.h"
#include "frame/SaveLinesCommand.h"

#include <QFileDialog>
#include <QProgressDialog>
#include <QStatusBar>

#include <atomic>
#include <thread>

namespace {

using Choice = SaveLinesCommand::Choice;

class SaveLinesTest : public FilterPaneTest {
  protected:
    void TearDown() override { SaveLinesCommand::setStartHookForTesting(nullptr); }

    // The content's lines, each with its line end.
    std::vector<std::string> modelLines() const
    {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < content.size()) {
            const std::size_t feed = content.find('\n', start);
            const std::size_t end = feed == std::string::npos ? content.size() : feed + 1;
            lines.push_back(content.substr(start, end - start));
            start = end;
        }
        return lines;
    }

    std::string modelBytes(const std::vector<LineNumber>& chosen) const
    {
        const std::vector<std::string> lines = modelLines();
        std::string bytes;
        for (LineNumber line : chosen) {
            bytes += lines.at(line);
        }
        return bytes;
    }

    SaveLinesCommand* command() const { return frame->saveLines(); }

    // Ctrl+S; the dialog's choice as it opened is kept in `offered`.
    QFileDialog* openDialog()
    {
        QTest::keyClick(frame->activeView(), Qt::Key_S, Qt::ControlModifier);
        QApplication::processEvents();
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            ADD_FAILURE() << "Ctrl+S opens the save dialog";
            return nullptr;
        }
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
        auto* choices = dialog->findChild<QComboBox*>(QStringLiteral("saveLinesChoice"));
        if (choices == nullptr) {
            ADD_FAILURE() << "the dialog lists the choice of lines";
            return nullptr;
        }
        offered.clear();
        for (int i = 0; i < choices->count(); ++i) {
            offered.push_back(Choice(choices->itemData(i).toInt()));
        }
        initial = Choice(choices->currentData().toInt());
        return dialog;
    }

    // Ctrl+S, then (unless nullopt) the choice made with Alt+L and the arrow keys, the name
    // typed and Enter; waits for the save to end.
    void saveAs(const std::string& target, std::optional<Choice> wanted = std::nullopt)
    {
        QFileDialog* dialog = openDialog();
        ASSERT_NE(dialog, nullptr);
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        if (wanted) {
            auto* choices = dialog->findChild<QComboBox*>(QStringLiteral("saveLinesChoice"));
            QTest::keyClick(dialog, Qt::Key_L, Qt::AltModifier);
            ASSERT_TRUE(choices->hasFocus()) << "Alt+L takes the keyboard to the choice";
            QTest::keyClick(choices, Qt::Key_Home);
            for (int i = 0;
                 i < choices->count() && Choice(choices->currentData().toInt()) != *wanted; ++i) {
                QTest::keyClick(choices, Qt::Key_Down);
            }
            ASSERT_EQ(Choice(choices->currentData().toInt()), *wanted);
        }
        name->setFocus();
        QTest::keyClicks(name, QString::fromStdString(target));
        QTest::keyClick(name, Qt::Key_Return);
        QApplication::processEvents();
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the dialog closed";
        EXPECT_TRUE(QTest::qWaitFor([&] { return !command()->isSaving(); }, 20000));
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    }

    TempDir out;
    std::vector<Choice> offered;
    Choice initial = Choice::AllShown;
};

std::string mixedLog(int lines)
{
    std::string bytes;
    for (int i = 0; i < lines; ++i) {
        const char* level = i % 3 == 0 ? "ERROR" : "INFO";
        bytes +=
            "2026-12-10 " + std::to_string(i) + " " + level + " caf\xC3\xA9 \x1b[1mbold\x1b[0m";
        bytes += i % 2 == 0 ? "\r\n" : "\n";
    }
    return bytes + "open end ERROR"; // no line end
}

} // namespace

TEST_F(SaveLinesTest, TheFiltersResultIsTheDefaultAndEveryChoiceKeepsTheLogsBytes)
{
    open(mixedLog(40));
    filterBy("ERROR");
    const std::vector<LineNumber> matching = shown(41);
    ASSERT_EQ(matching.size(), 15u);
    document->setSelection(2, 3, 0, -1); // a selection too: the filter's result still comes first

    const std::string filtered = out.file("filtered.log");
    saveAs(filtered);
    EXPECT_EQ(initial, Choice::FilterResult);
    EXPECT_EQ(offered,
              (std::vector<Choice>{Choice::FilterResult, Choice::Selected, Choice::AllShown}));
    EXPECT_EQ(command()->lastResult().outcome, SaveOutcome::Saved);
    EXPECT_EQ(quilltest::readFile(filtered), modelBytes(matching));
    EXPECT_TRUE(frame->statusBar()->currentMessage().startsWith(QStringLiteral("15 lines saved")))
        << frame->statusBar()->currentMessage().toStdString();

    const std::string all = out.file("all.log");
    saveAs(all, Choice::AllShown);
    EXPECT_EQ(quilltest::readFile(all), content) << "the whole log, byte for byte";
}

TEST_F(SaveLinesTest, WithoutAFilterTheSelectionThenTheMarksAndSelectAllIsTheWholeLog)
{
    open(mixedLog(12));
    // A selection from the middle of line 3 to the start of line 5 takes those lines whole.
    document->setSelection(3, 5, 4, 0);
    const std::string selected = out.file("selected.log");
    saveAs(selected);
    EXPECT_EQ(initial, Choice::Selected);
    EXPECT_EQ(quilltest::readFile(selected), modelBytes({3, 4, 5}));

    document->marks().toggle(7);
    document->marks().toggle(1);
    const std::string marked = out.file("marked.log");
    saveAs(marked, Choice::Marked);
    EXPECT_EQ(offered, (std::vector<Choice>{Choice::Selected, Choice::Marked, Choice::AllShown}));
    EXPECT_EQ(quilltest::readFile(marked), modelBytes({1, 7}));

    frame->activeView()->setFocus();
    key(Qt::Key_A, Qt::ControlModifier); // Select All ends on the line count itself
    const std::string everything = out.file("everything.log");
    saveAs(everything, Choice::Selected);
    EXPECT_EQ(quilltest::readFile(everything), content);
}

TEST_F(SaveLinesTest, AClearedViewSavesOnlyTheLinesThatCameAfter)
{
    open("before 1\nbefore 2\n", true);
    key(Qt::Key_L, Qt::ControlModifier);
    ASSERT_EQ(document->lineCount(), 0u);
    append("after 1\r\nafter 2\n");
    // The lines are indexed on the watcher's thread a moment before the window hears of them
    // and enables the command.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return document->lineCount() == 2 && frame->action(CommandId::SaveLinesAs)->isEnabled();
        },
        10000));
    const std::string saved = out.file("after.log");
    saveAs(saved);
    EXPECT_EQ(initial, Choice::AllShown);
    EXPECT_EQ(quilltest::readFile(saved), "after 1\r\nafter 2\n");
}

TEST_F(SaveLinesTest, CancelInTheProgressWindowLeavesTheOldFileAndNothingElse)
{
    open(mixedLog(30));
    const std::string target = out.file("kept.log");
    quilltest::writeFile(target, "the old file\n");
    std::atomic<bool> release{false};
    SaveLinesCommand::setStartHookForTesting([&] {
        while (!release.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    command()->save(frame->currentTab(), Choice::AllShown, u16(target));
    ASSERT_TRUE(command()->isSaving());
    EXPECT_FALSE(frame->action(CommandId::SaveLinesAs)->isEnabled()) << "one save at a time";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return command()->progress() != nullptr && command()->progress()->isVisible(); },
        10000));
    auto* cancel = command()->progress()->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    QTest::mouseClick(cancel, Qt::LeftButton);
    release = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !command()->isSaving(); }, 10000));
    EXPECT_EQ(command()->lastResult().outcome, SaveOutcome::Cancelled);
    EXPECT_EQ(quilltest::readFile(target), "the old file\n");
    EXPECT_EQ(quilltest::folderEntries(out.path()), std::vector<std::string>{"kept.log"});
    EXPECT_TRUE(frame->action(CommandId::SaveLinesAs)->isEnabled());
}

TEST_F(SaveLinesTest, AFolderThatCannotTakeTheFileIsToldWithTheReason)
{
    open("one\ntwo\n");
    QStringList messages;
    frame->setMessageHandler([&](const QString& text) { messages.append(text); });
    const std::string blocker = out.file("a file");
    quilltest::writeFile(blocker, "not a folder\n");
    for (const std::string& target : {out.file("missing/saved.log"), blocker + "/saved.log"}) {
        messages.clear();
        command()->save(frame->currentTab(), Choice::AllShown, u16(target));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !command()->isSaving(); }, 10000));
        EXPECT_EQ(command()->lastResult().outcome, SaveOutcome::CannotCreate);
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].contains(QString::fromStdString(target)))
            << messages[0].toStdString();
        const char* reason =
            command()->lastResult().error == ENOENT ? "No such file" : "Not a directory";
        EXPECT_TRUE(messages[0].contains(QString::fromLatin1(reason))) << messages[0].toStdString();
    }
    EXPECT_EQ(quilltest::folderEntries(out.path()), std::vector<std::string>{"a file"});
}

TEST_F(SaveLinesTest, ClosingTheTabWhileItsLinesAreSavedEndsTheSaveAndLeavesNothing)
{
    open(mixedLog(20));
    const std::string second = out.file("second.log");
    quilltest::writeFile(second, mixedLog(50));
    LogTab* tab = frame->addTab();
    frame->activateTab(tab);
    ASSERT_TRUE(tab->document()->openDocument(u16(second)));
    tab->document()->stopWatching();
    const std::string target = out.file("kept.log");
    quilltest::writeFile(target, "the old file\n");
    // The save's thread waits a moment before it reads, so the tab goes first.
    SaveLinesCommand::setStartHookForTesting(
        [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
    command()->save(tab, Choice::AllShown, u16(target));
    ASSERT_TRUE(command()->isSaving());
    frame->closeTab(tab); // the document goes with the tab: the save must be over by then
    EXPECT_FALSE(command()->isSaving());
    EXPECT_EQ(frame->tabCount(), 1);
    QTest::qWait(50); // the ended thread's notice arrives and is passed over
    EXPECT_EQ(quilltest::readFile(target), "the old file\n");
    EXPECT_EQ(quilltest::folderEntries(out.path()),
              (std::vector<std::string>{"kept.log", "second.log"}));
    EXPECT_TRUE(frame->action(CommandId::SaveLinesAs)->isEnabled());
}
