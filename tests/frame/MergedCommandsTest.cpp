// The file commands on a merged tab, in the real window the application opens: Save Lines
// As writes the selected or all rows in the merged order with each line's own bytes, and a
// random walk of appends, Pause, Resume, Clear and Reload is held against a small model of
// what each command shows (nothing new while paused and all of it after Resume; Clear hides
// the rows there are, while paused too, so that what was written meanwhile comes on Resume,
// as on a tab of one file; Reload reads every file from its start).

#include "app/Application.h"
#include "engine/LogDocument.h"
#include "engine/LogSource.h"
#include "engine/MergedFilterRows.h"
#include "frame/FindAllPane.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MarksList.h"
#include "frame/MergedFilterPane.h"
#include "frame/MergedPart.h"
#include "frame/SaveLinesCommand.h"
#include "resources/ResourceIds.h"
#include "settings/SettingsStore.h"
#include "support/EnglishPackage.h"
#include "support/FrameOwners.h"
#include "support/MergedWindowTest.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "support/WidgetEvents.h"
#include "view/FindAllView.h"
#include "view/MarkNotes.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <optional>
#include <random>

using quilltest::TempDir;
using quilltest::waitFor;

namespace {

using quilltest::stamp;

class MergedCommandsTest : public quilltest::MergedWindowTest {
  protected:
    struct File {
        std::string path;
        std::vector<std::pair<int, std::string>> lines; // second, text with its line end
        std::size_t shownFrom = 0;
        int clock = 0;
    };

    void SetUp() override
    {
        MergedWindowTest::SetUp();
        files[0].path = dir.file("app.log");
        files[1].path = dir.file("db.log");
        files[1].clock = 1;
    }
    void start() { start({"--merge", files[0].path, files[1].path}); }
    void start(const std::vector<std::string>& args, bool mergedTab = true)
    {
        app = std::make_unique<Application>();
        app->setSoundService(&sound);
        ASSERT_TRUE(app->initInstance(args));
        frame = app->mainFrame();
        frame->setMessageHandler([this](const QString& text) { messages.append(text); });
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
        if (mergedTab) {
            ASSERT_NE(merged(), nullptr);
        }
    }
    void quit()
    {
        frame->close();
        app->exitInstance();
        app.reset();
    }
    // The command through its menu, as the user picks it; false when it is turned off.
    bool pick(int id) { return quilltest::pickFromMenu(*frame, id); }
    // Appends n lines to file f, each a second or two after its last, some ended by CR LF.
    void append(std::size_t f, int n, std::mt19937& random)
    {
        std::string bytes;
        for (int i = 0; i < n; ++i) {
            File& file = files[f];
            file.clock += int(random() % 3);
            const std::string text =
                stamp(file.clock) + (f == 0 ? " app " : " db ") + std::to_string(file.lines.size());
            const std::string line = text + (random() % 4 == 0 ? "\r\n" : "\n");
            file.lines.emplace_back(file.clock, line);
            bytes += line;
        }
        quilltest::appendFile(files[f].path, bytes);
    }
    // The lines shown by the model, by time, the first file's first at equal times; with
    // their line ends, or without as the rows show them.
    std::vector<std::string> model(bool ends = false) const
    {
        std::vector<std::pair<std::pair<int, std::size_t>, std::string>> all;
        for (std::size_t f = 0; f < 2; ++f) {
            for (std::size_t i = files[f].shownFrom; i < files[f].lines.size(); ++i) {
                std::string text = files[f].lines[i].second;
                if (!ends) {
                    text.erase(text.find_last_not_of("\r\n") + 1);
                }
                all.push_back({{files[f].lines[i].first, f}, text});
            }
        }
        std::stable_sort(all.begin(), all.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        std::vector<std::string> texts;
        for (const auto& entry : all) {
            texts.push_back(entry.second);
        }
        return texts;
    }
    QPoint rowPoint(std::size_t row) const
    {
        const MergedArea* area = merged()->area();
        const int height = area->rowHeight();
        return {40, int(row - area->firstVisibleRow()) * height + height / 2};
    }
    // Ctrl+S, the choice as the dialog offers it first (or the one wanted, chosen with the
    // keys), the name typed and Enter.
    SaveLinesCommand::Choice saveAs(const std::string& target,
                                    std::optional<SaveLinesCommand::Choice> wanted = {})
    {
        QTest::keyClick(merged()->area(), Qt::Key_S, Qt::ControlModifier);
        QApplication::processEvents();
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            ADD_FAILURE() << "Ctrl+S opens the save dialog";
            return SaveLinesCommand::Choice::FilterResult;
        }
        auto* choices = dialog->findChild<QComboBox*>(QStringLiteral("saveLinesChoice"));
        if (wanted) {
            QTest::keyClick(choices, Qt::Key_Home);
        }
        for (int i = 0; wanted && i < choices->count() &&
                        SaveLinesCommand::Choice(choices->currentData().toInt()) != *wanted;
             ++i) {
            QTest::keyClick(choices, Qt::Key_Down);
        }
        const auto chosen = SaveLinesCommand::Choice(choices->currentData().toInt());
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        name->setFocus();
        QTest::keyClicks(name, QString::fromStdString(target));
        QTest::keyClick(name, Qt::Key_Return);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !frame->saveLines()->isSaving(); }, 20000));
        frame->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(frame));
        return chosen;
    }

    quilltest::NullSound sound;
    QStringList messages;
    File files[2];
};

TEST_F(MergedCommandsTest, SaveLinesWritesTheSelectedOrAllRowsInMergedOrderByteForByte)
{
    std::mt19937 random(7);
    quilltest::writeFile(files[0].path, "");
    quilltest::writeFile(files[1].path, "");
    append(0, 30, random);
    append(1, 30, random);
    start();
    ASSERT_TRUE(waitFor([&] { return rows() == model(); })) << rows().size();

    // Rows 2 to 6 chosen with the mouse: the dialog offers them first.
    QTest::keyClick(merged()->area(), Qt::Key_Home, Qt::ControlModifier);
    QWidget* port = merged()->area()->viewport();
    QTest::mousePress(port, Qt::LeftButton, {}, rowPoint(2));
    QTest::mouseMove(port, rowPoint(6));
    QTest::mouseRelease(port, Qt::LeftButton, {}, rowPoint(6));
    const std::string part = dir.file("part.log");
    EXPECT_EQ(saveAs(part), SaveLinesCommand::Choice::Selected);
    const std::vector<std::string> all = model(true);
    std::string expected;
    for (std::size_t row = 2; row <= 6; ++row) {
        expected += all[row];
    }
    EXPECT_EQ(quilltest::readFile(part), expected);

    // Select All and new lines meanwhile: the rows there are, with their own ends.
    QTest::keyClick(merged()->area(), Qt::Key_A, Qt::ControlModifier);
    append(1, 3, random);
    ASSERT_TRUE(waitFor([&] { return rows() == model(); }));
    QTest::keyClick(merged()->area(), Qt::Key_A, Qt::ControlModifier);
    const std::string whole = dir.file("whole.log");
    EXPECT_EQ(saveAs(whole), SaveLinesCommand::Choice::Selected);
    expected.clear();
    for (const std::string& line : model(true)) {
        expected += line;
    }
    EXPECT_EQ(quilltest::readFile(whole), expected);

    // Two rows marked, one of each file: the marked rows, in merged order.
    const std::vector<std::string> now = model(true);
    std::size_t other = 4;
    while (merged()->rows()->placeOfRow(other).source == merged()->rows()->placeOfRow(3).source) {
        ++other;
    }
    QTest::keyClick(merged()->area(), Qt::Key_Home, Qt::ControlModifier);
    for (const std::size_t row : {other, std::size_t(3)}) {
        QTest::mouseClick(port, Qt::LeftButton, {}, rowPoint(row));
        ASSERT_TRUE(pick(CommandId::ToggleMark));
        auto* note = merged()->area()->findChild<MarkNoteEditor*>();
        ASSERT_TRUE(note != nullptr && note->isVisible());
        QTest::keyClick(note, Qt::Key_Escape);
    }
    for (const std::size_t row : {std::size_t(3), other}) {
        const MergedRows::Place place = merged()->rows()->placeOfRow(row);
        ASSERT_TRUE(merged()->rows()->document(place.source).marks().isMarked(place.line)) << row;
    }
    const std::string kept = dir.file("marked.log");
    EXPECT_EQ(saveAs(kept, SaveLinesCommand::Choice::Marked), SaveLinesCommand::Choice::Marked);
    EXPECT_EQ(quilltest::readFile(kept), now[3] + now[other]);

    // A filter set: its rows are offered first, in merged order.
    ASSERT_TRUE(pick(CommandId::Filter));
    QWidget* field = QApplication::focusWidget();
    ASSERT_NE(field, nullptr);
    QTest::keyClicks(field, QStringLiteral(" db 1"));
    QTest::keyClick(field, Qt::Key_Return);
    MergedFilterPane* filter = frame->currentTab()->mergedFilter();
    ASSERT_TRUE(filter != nullptr && filter->isActive());
    ASSERT_TRUE(waitFor([&] { return filter->rows()->size() == 11; })) << filter->rows()->size();
    const std::string found = dir.file("found.log");
    EXPECT_EQ(saveAs(found), SaveLinesCommand::Choice::FilterResult);
    expected.clear();
    for (const std::string& line : model(true)) {
        expected += line.find(" db 1") != std::string::npos ? line : "";
    }
    EXPECT_EQ(quilltest::readFile(found), expected);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
}

TEST_F(MergedCommandsTest, AMarkAndItsNoteStayWithTheirLineAndTheListGoesToItsRow)
{
    std::mt19937 random(3);
    quilltest::writeFile(files[0].path, "");
    quilltest::writeFile(files[1].path, "");
    append(0, 20, random);
    start();
    ASSERT_TRUE(waitFor([&] { return rows() == model(); }));

    // The fifth row marked; its note typed into the field that opens over it.
    QTest::keyClick(merged()->area(), Qt::Key_Home, Qt::ControlModifier);
    QTest::mouseClick(merged()->area()->viewport(), Qt::LeftButton, {}, rowPoint(4));
    const std::string markedText = rows().at(4);
    ASSERT_TRUE(pick(CommandId::ToggleMark));
    auto* field = merged()->area()->findChild<MarkNoteEditor*>();
    ASSERT_TRUE(field != nullptr && field->isVisible());
    QTest::keyClicks(field, QStringLiteral("look here"));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(field->isVisible());

    // The list names the line by its file and number there, with the note.
    ASSERT_TRUE(pick(CommandId::ViewMarks));
    auto* list = frame->findChild<MarksList*>();
    ASSERT_NE(list, nullptr);
    const auto item = [&list](int column) { return list->list()->topLevelItem(0)->text(column); };
    ASSERT_EQ(list->list()->topLevelItemCount(), 1);
    const MergedRows::Place place = merged()->rows()->placeOfRow(4);
    EXPECT_EQ(
        item(MarksList::LineColumn),
        QStringLiteral("%1:%2").arg(QStringLiteral("app.log"), QString::number(place.line + 1)));
    EXPECT_EQ(item(MarksList::NoteColumn), QStringLiteral("look here"));

    // Older lines of the other file come before it: the mark keeps its line, and Enter in
    // the list selects its row wherever that is now.
    ASSERT_EQ(place.source, 0U);
    append(1, 6, random);
    ASSERT_TRUE(waitFor([&] { return rows() == model(); }));
    const std::vector<std::string> now = rows();
    const auto at = std::find(now.begin(), now.end(), markedText) - now.begin();
    ASSERT_GT(at, 4);
    QTest::keyClick(list->list(), Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return frame->findChild<MarksList*>() == nullptr; }));
    EXPECT_EQ(merged()->area()->selection().startLine, LineNumber(at));

    // Mark Note on it again: the field holds the note; Escape keeps it as it was.
    ASSERT_TRUE(pick(CommandId::MarkNote));
    EXPECT_EQ(field->text(), QStringLiteral("look here"));
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(merged()->rows()->document(place.source).marks().note(place.line), u"look here");

    // A mark on db.log's first line, a row before it: the list goes by the rows.
    const std::vector<std::string> later = rows();
    const auto dbRow =
        std::find_if(later.begin(), later.end(),
                     [](const std::string& text) { return text.ends_with(" db 0"); }) -
        later.begin();
    ASSERT_LT(dbRow, at);
    QTest::keyClick(merged()->area(), Qt::Key_Home, Qt::ControlModifier);
    QTest::mouseClick(merged()->area()->viewport(), Qt::LeftButton, {}, rowPoint(dbRow));
    ASSERT_TRUE(pick(CommandId::ToggleMark));
    QTest::keyClick(field, Qt::Key_Escape);
    ASSERT_TRUE(pick(CommandId::ViewMarks));
    list = frame->findChild<MarksList*>();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->list()->topLevelItemCount(), 2);
    EXPECT_EQ(item(MarksList::LineColumn), QStringLiteral("db.log:1"));
    EXPECT_EQ(item(MarksList::NoteColumn), QString());
}

TEST_F(MergedCommandsTest, FindInAllTabsSearchesEachFileFollowsItAndOpensTheMergedRow)
{
    std::mt19937 random(5);
    quilltest::writeFile(files[0].path, "");
    quilltest::writeFile(files[1].path, "");
    append(0, 20, random);
    append(1, 20, random);
    start();
    ASSERT_TRUE(waitFor([&] { return rows() == model(); }));

    ASSERT_TRUE(pick(CommandId::FindAll));
    FindAllPane* pane = frame->findAllPane();
    ASSERT_NE(pane, nullptr);
    QTest::keyClicks(pane->field(), QStringLiteral(" db "));
    QTest::keyClick(pane->field(), Qt::Key_Return);
    FindAllView* view = pane->view();
    ASSERT_TRUE(waitFor([&] { return pane->search().isSettled() && view->rowCount() == 21; }))
        << view->rowCount();
    EXPECT_TRUE(QString::fromStdU16String(std::u16string(view->rows().rowText(0)))
                    .startsWith(QStringLiteral("app.log + db.log: db.log")));

    // Lines that join the merged tab join the list.
    append(1, 5, random);
    ASSERT_TRUE(waitFor([&] { return view->rowCount() == 26; })) << view->rowCount();

    // Enter on db.log's third line: the merged row that shows it.
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Home, Qt::ControlModifier);
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(view, Qt::Key_Down);
    }
    QTest::keyClick(view, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return merged()->area()->selection().valid; }));
    const std::size_t row = merged()->area()->selection().startLine;
    EXPECT_TRUE(rows().at(row).ends_with(" db 2")) << rows().at(row);
    EXPECT_TRUE(merged()->area()->hasFocus());

    // A merged tab opened while the pane is open joins the search with its files.
    const std::string c = dir.file("c.log");
    const std::string d = dir.file("d.log");
    quilltest::writeFile(c, stamp(1) + " c db one\n" + stamp(3) + " c db two\n");
    quilltest::writeFile(d, stamp(2) + " d none\n");
    app->setOpenDialog([&](const QString&, const QStringList&, const QString&) {
        return QStringList{QString::fromStdString(c), QString::fromStdString(d)};
    });
    ASSERT_TRUE(pick(CommandId::OpenMerged));
    ASSERT_EQ(frame->tabCount(), 2);
    ASSERT_TRUE(waitFor([&] { return pane->search().isSettled() && view->rowCount() == 29; }))
        << view->rowCount();
    EXPECT_TRUE(QString::fromStdU16String(std::u16string(view->rows().rowText(26)))
                    .startsWith(QStringLiteral("c.log + d.log: c.log")));
}

TEST_F(MergedCommandsTest, AMergedTabAndARotatedSetComeBackAtTheNextStart)
{
    store->setBool(Setting::ShowLastViewedFile, true);
    std::mt19937 random(9);
    quilltest::writeFile(files[0].path, "");
    quilltest::writeFile(files[1].path, "");
    append(0, 10, random);
    append(1, 10, random);
    start();
    ASSERT_TRUE(waitFor([&] { return rows() == model(); }));
    quit();

    start({});
    ASSERT_EQ(frame->tabCount(), 1);
    ASSERT_NE(merged(), nullptr);
    EXPECT_EQ(merged()->paths(), (std::vector<std::u16string>{quilltest::u16(files[0].path),
                                                              quilltest::u16(files[1].path)}));
    ASSERT_TRUE(waitFor([&] { return rows() == model(); }));
    quit();

    // A rotated set: found again beside its live file.
    const std::string live = dir.file("svc.log");
    quilltest::writeFile(live + ".1", "old one\nold two\n");
    quilltest::writeFile(live, "new one\n");
    start({"--with-rotated", live}, false);
    quit();
    start({}, false);
    ASSERT_EQ(frame->tabCount(), 1);
    LogDocument* document = frame->currentTab()->document();
    ASSERT_NE(document->source(), nullptr);
    EXPECT_EQ(document->source()->kind(), SourceKind::Rotated);
    ASSERT_TRUE(waitFor([&] { return document->lineCount() >= 3; }));
    EXPECT_EQ(document->line(0), u"old one");
    EXPECT_EQ(document->line(2), u"new one");
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
}

TEST_F(MergedCommandsTest, RandomPauseResumeClearAndReloadWhileRowsArrive)
{
    // Seed 2 once found a Resume after a Clear while paused that showed nothing until more came.
    for (unsigned seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        for (File& file : files) {
            file.lines.clear();
            file.shownFrom = 0;
        }
        quilltest::writeFile(files[0].path, "");
        quilltest::writeFile(files[1].path, "");
        append(0, 5, random);
        append(1, 5, random);
        if (app) {
            app->exitInstance();
            app.reset();
        }
        start();
        ASSERT_TRUE(waitFor([&] { return rows() == model(); }));
        bool paused = false;
        LineNumber pausedAt[2] = {};
        std::vector<std::string> frozen;
        std::string ops;
        for (int step = 0; step < 30; ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            const unsigned op = random() % 8;
            ops += std::to_string(op) + " ";
            SCOPED_TRACE("ops " + ops);
            switch (op) {
            case 0:
                ASSERT_EQ(pick(CommandId::Pause), !paused);
                if (!paused) {
                    frozen = model();
                    pausedAt[0] = files[0].lines.size();
                    pausedAt[1] = files[1].lines.size();
                }
                paused = true;
                break;
            case 1:
                ASSERT_EQ(pick(CommandId::Resume), paused);
                paused = false;
                break;
            case 2:
                // Ctrl+L, as the user clears.
                QTest::keyClick(merged()->area(), Qt::Key_L, Qt::ControlModifier);
                // The lines shown go; while paused, those written meanwhile come on Resume.
                for (std::size_t f = 0; f < 2; ++f) {
                    files[f].shownFrom = paused ? pausedAt[f] : files[f].lines.size();
                }
                frozen.clear();
                break;
            case 3:
                QTest::keyClick(merged()->area(), Qt::Key_F5);
                for (File& file : files) {
                    file.shownFrom = 0;
                }
                paused = false;
                break;
            default:
                append(random() % 2, 1 + int(random() % 4), random);
                break;
            }
            if (paused) {
                QTest::qWait(60);
                ASSERT_EQ(rows(), frozen);
                EXPECT_TRUE(frame->pausePane()->isVisible());
            } else {
                ASSERT_TRUE(waitFor([&] { return rows() == model(); }, std::chrono::seconds(10)))
                    << rows().size() << " rows, " << model().size() << " in the model";
            }
        }
    }
}

} // namespace
