// Files merged by time in the real window the application opens: through File > Open Merged
// (its file box answered by the test) and through --merge. The rows are the files' lines in
// the order of their times, a file that cannot be read is named and the others still merge,
// each row's file shows as a stripe of its colour in the gutter, lines appended to a file
// whose clock runs behind take their place by time, and Copy takes the original lines with
// the file's short name in front once View > Source Names is on.

#include "app/Application.h"
#include "dialogs/GoToTimeDialog.h"
#include "engine/LogDocument.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/MergedPart.h"
#include "frame/TimeCommands.h"
#include "resources/LanguageResources.h"
#include "resources/ResourceIds.h"
#include "settings/SettingsStore.h"
#include "support/EnglishPackage.h"
#include "support/FrameOwners.h"
#include "support/MergedWindowTest.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "support/WidgetEvents.h"
#include "view/LogRenderer.h"
#include "view/MergedArea.h"
#include "view/MergedRowSource.h"
#include "view/TextArea.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

using quilltest::TempDir;
using quilltest::u16;
using quilltest::waitFor;

namespace {

class CountingSound : public SoundService {
  public:
    void playSoundFile(const std::u16string&) override {}
    void beep() override { ++beeps; }
    int beeps = 0;
};

// A line of file `tag` at `second` after a fixed local moment; its text names both.
std::string logLine(const std::string& tag, int second)
{
    return quilltest::stamp(second) + " " + tag + " " + std::to_string(second);
}

class MergedViewTest : public quilltest::MergedWindowTest {
  protected:
    void SetUp() override
    {
        MergedWindowTest::SetUp();
        a = dir.file("east/app.log");
        b = dir.file("west/app.log");
        ::mkdir(dir.file("east").c_str(), 0700);
        ::mkdir(dir.file("west").c_str(), 0700);
    }
    void start(const std::vector<std::string>& args)
    {
        app = std::make_unique<Application>();
        app->setSoundService(&sound);
        app->setOpenDialog(
            [this](const QString&, const QStringList&, const QString&) { return chosen; });
        ASSERT_TRUE(app->initInstance(args));
        frame = app->mainFrame();
        frame->setMessageHandler([this](const QString& text) { messages.append(text); });
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
    }
    // The lines written, in the order of their times (the second after the tag), east first
    // at equal times.
    std::vector<std::string> expected() const
    {
        std::vector<std::pair<std::pair<int, int>, std::string>> all;
        for (const auto& [second, east, text] : written) {
            all.push_back({{second, east ? 0 : 1}, text});
        }
        std::stable_sort(all.begin(), all.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        std::vector<std::string> texts;
        for (const auto& entry : all) {
            texts.push_back(entry.second);
        }
        return texts;
    }
    std::string lines(bool east, int from, int to, int step)
    {
        std::string bytes;
        for (int second = from; second < to; second += step) {
            const std::string text = logLine(east ? "east" : "west", second);
            written.emplace_back(second, east, text);
            bytes += text + "\n";
        }
        return bytes;
    }

    CountingSound sound;
    QStringList messages;
    QStringList chosen;
    std::string a;
    std::string b;
    std::vector<std::tuple<int, bool, std::string>> written;
};

TEST_F(MergedViewTest, OpenMergedMenuStripesLateLinesAndCopyWithNames)
{
    quilltest::writeFile(a, lines(true, 0, 400, 2));
    quilltest::writeFile(b, lines(false, 1, 400, 3));
    chosen = {QString::fromStdString(a), QString::fromStdString(dir.file("gone.log")),
              QString::fromStdString(b)};
    start({});
    pick(CommandId::OpenMerged);
    ASSERT_NE(merged(), nullptr);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.front().contains(QStringLiteral("gone.log")));
    ASSERT_TRUE(waitFor([&] { return rows() == expected(); })) << rows().size();
    EXPECT_EQ(merged()->label(), QStringLiteral("east/app.log + west/app.log"));
    const QString tip = frame->tabWidget()->tabToolTip(frame->tabWidget()->currentIndex());
    EXPECT_TRUE(tip.contains(QString::fromStdString(a)) && tip.contains(QString::fromStdString(b)));

    // The gutter's stripe: the colour of the row's file, on every row on screen.
    TextArea* area = merged()->area();
    QApplication::processEvents();
    const QImage shot = area->viewport()->grab().toImage();
    const int height = area->rowHeight();
    const std::size_t first = area->firstVisibleRow();
    int checked = 0;
    for (int y = height / 2;
         y < shot.height() && first + std::size_t(y / height) < area->rowCount(); y += height) {
        const std::size_t row = first + std::size_t(y / height);
        const MergedRows::Place place = merged()->rows()->placeOfRow(row);
        EXPECT_EQ(shot.pixelColor(1, y), quill::colorFromRef(merged()->rows()->color(place.source)))
            << "row " << row;
        ++checked;
    }
    EXPECT_GT(checked, 3);

    // West's clock is behind: its new lines are older than east's last and take their place.
    quilltest::appendFile(a, lines(true, 400, 500, 2));
    ASSERT_TRUE(waitFor([&] { return rows() == expected(); })) << rows().size();
    quilltest::appendFile(b, lines(false, 400, 460, 3));
    ASSERT_TRUE(waitFor([&] { return rows() == expected(); })) << rows().size();
    EXPECT_TRUE(area->isFollowing());

    // Copy: the original lines, each with its file's short name in front once names are on.
    pick(CommandId::MergedNames);
    pick(CommandId::SelectAll);
    QApplication::clipboard()->clear();
    pick(CommandId::Copy);
    QStringList named;
    for (const std::string& text : expected()) {
        named.append(QString::fromStdString(
            (text.find("east") != std::string::npos ? "east/app.log " : "west/app.log ") + text));
    }
    EXPECT_EQ(QApplication::clipboard()->text().split(QChar(u'\n'), Qt::SkipEmptyParts), named);

    // Find Previous from a row clicked near the end: first its own text, searched from the
    // row's end, then an earlier row's.
    const auto textOf = [&](std::size_t row) {
        return QString::fromStdU16String(std::u16string(merged()->rows()->rowText(row)));
    };
    QTest::mouseClick(area->viewport(), Qt::LeftButton, {},
                      QPoint(area->gutterWidth() + 5, area->viewport()->height() - 2 * height));
    const std::size_t clicked = area->currentRow();
    const QString own = textOf(clicked).section(QChar(u' '), -2);
    SettingsStore::instance().setString(Setting::LastFindString, own.toStdU16String());
    pick(CommandId::FindNextUp);
    ASSERT_TRUE(area->selection().valid) << own.toStdString();
    EXPECT_EQ(area->selection().startLine, clicked);
    SettingsStore::instance().setString(Setting::LastFindString, u"west 301");
    pick(CommandId::FindNextUp);
    const DocSelection found = area->selection();
    ASSERT_TRUE(found.valid);
    EXPECT_TRUE(textOf(found.startLine).endsWith(QStringLiteral("west 301")));

    // A mark on that row and one on the first; Next Mark from the end goes round to the first,
    // then to that row.
    const std::size_t markedRow = found.startLine;
    pick(CommandId::ToggleMark);
    const MergedRows::Place markedPlace = merged()->rows()->placeOfRow(markedRow);
    EXPECT_TRUE(merged()->rows()->document(markedPlace.source).marks().isMarked(markedPlace.line));
    QTest::keyClick(area, Qt::Key_Home, Qt::ControlModifier);
    pick(CommandId::ToggleMark);
    QTest::keyClick(area, Qt::Key_End, Qt::ControlModifier);
    pick(CommandId::NextMark);
    EXPECT_EQ(area->currentRow(), 0u);
    pick(CommandId::NextMark);
    EXPECT_EQ(area->currentRow(), markedRow);

    // Lines after the end only join: the selection stays on its row.
    quilltest::appendFile(a, lines(true, 500, 510, 2));
    ASSERT_TRUE(waitFor([&] { return area->rowCount() == expected().size(); }));
    EXPECT_TRUE(textOf(area->rowCount() - 1).endsWith(QString::fromStdString(expected().back())));
    EXPECT_TRUE(area->selection().valid);
    EXPECT_TRUE(textOf(area->selection().startLine).endsWith(QStringLiteral("west 301")));
}

TEST_F(MergedViewTest, MergeOnTheCommandLineAndAKeywordAlertOnNewRows)
{
    store->saveKeywords({Keyword(u"ERROR", 0x0000FF, 0xFFFFFF, false, false, true)});
    store->setBool(Setting::Beep, true);
    quilltest::writeFile(a, lines(true, 0, 50, 1) + "x ERROR before the merge\n");
    quilltest::writeFile(b, lines(false, 0, 50, 2));
    start({"--merge", a, b});
    ASSERT_NE(merged(), nullptr);
    EXPECT_EQ(frame->tabCount(), 1);
    ASSERT_TRUE(waitFor([&] { return merged()->rows()->rowCount() == written.size() + 1; }));
    EXPECT_EQ(sound.beeps, 0) << "lines there at the open sound nothing";
    quilltest::appendFile(b, logLine("west", 60) + " ERROR\n" + logLine("west", 61) + "\n");
    ASSERT_TRUE(waitFor([&] { return sound.beeps == 1; })) << sound.beeps;

    // Go to Time: the first row at that time, east's at equal times.
    pick(CommandId::GoToTime);
    QApplication::processEvents();
    auto* box = qobject_cast<GoToTimeDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    auto* field = box->findChild<QLineEdit*>(QStringLiteral("time"));
    ASSERT_NE(field, nullptr);
    QTest::keyClicks(field, QString::fromStdString(logLine("east", 20).substr(0, 19)));
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return merged()->area()->selection().valid; }));
    const std::size_t shown = merged()->area()->selection().startLine;
    EXPECT_EQ(rows().at(shown), logLine("east", 20));
    EXPECT_EQ(rows().at(shown - 1), logLine("east", 19));

    // East vanishes: its lines leave; it returns with other lines, which join.
    written.erase(std::remove_if(written.begin(), written.end(),
                                 [](const auto& line) { return std::get<1>(line); }),
                  written.end());
    written.emplace_back(60, false, logLine("west", 60) + " ERROR");
    written.emplace_back(61, false, logLine("west", 61));
    ASSERT_EQ(std::remove(a.c_str()), 0);
    ASSERT_TRUE(waitFor([&] { return rows() == expected(); })) << rows().size();
    quilltest::writeFile(a, lines(true, 30, 70, 4));
    ASSERT_TRUE(waitFor([&] { return rows() == expected(); })) << rows().size();
}

// A remote file on the command line is taken as written, not as a path of this folder: one
// that cannot be followed is named with the reason, and the local file merges alone.
TEST_F(MergedViewTest, ARemoteFileOnTheCommandLineIsNamedAsWritten)
{
    quilltest::writeFile(a, lines(true, 0, 20, 1));
    // Told while the window starts, before the test's handler: in the box, read and closed.
    QString told;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            told = box->text();
            box->accept();
        }
    });
    start({"--merge", a, "ssh://-oProxyCommand=x/var/log/app.log"});
    ASSERT_NE(merged(), nullptr);
    EXPECT_EQ(merged()->fileCount(), 1u);
    EXPECT_TRUE(told.contains(
        QStringLiteral("\nssh://-oProxyCommand=x/var/log/app.log: the host or user name is empty")))
        << told.toStdString();
}

// Without --merge too: the remote file is followed in a tab of its own, or, as here, refused
// with the reason, never opened as a local path.
TEST_F(MergedViewTest, ARemoteFileAloneOnTheCommandLineIsFollowedNotOpenedAsAPath)
{
    QString told;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            told = box->text();
            box->accept();
        }
    });
    start({"ssh://-oProxyCommand=x/var/log/app.log"});
    EXPECT_TRUE(told.startsWith(
        QStringLiteral("The remote file cannot be followed: the host or user name is empty")))
        << told.toStdString();
}

// The status bar's time pane on a merged tab: the current row's time in its own file, and
// with a mark above it (of the other file), the time since that mark.
TEST_F(MergedViewTest, TheTimePaneShowsTheRowsTimeAndTheTimeSinceAMarkAbove)
{
    quilltest::writeFile(a, lines(true, 0, 20, 2));
    quilltest::writeFile(b, lines(false, 1, 20, 2));
    start({"--merge", a, b});
    ASSERT_TRUE(waitFor([&] { return rows() == expected(); }));
    const auto at = [](int second) { return TimeMs(1'796'000'000LL + second) * 1000; };
    QLabel* pane = frame->timeCommands()->pane();
    MergedArea* area = merged()->area();
    area->setFocus();
    QTest::keyClick(area, Qt::Key_Home, Qt::ControlModifier);
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(area, Qt::Key_Down);
    }
    ASSERT_TRUE(waitFor([&] { return pane->text() == TimeCommands::timeText(at(3)); }))
        << pane->text().toStdString();
    pick(CommandId::ToggleMark);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); // the mark's note field
    area->setFocus();
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(area, Qt::Key_Up);
    }
    EXPECT_TRUE(waitFor([&] { return pane->text() == TimeCommands::timeText(at(0)); }))
        << "no mark above the first row: " << pane->text().toStdString();
    for (int i = 0; i < 11; ++i) {
        QTest::keyClick(area, Qt::Key_Down);
    }
    const QString since = LanguageResources::current().format(
        StringId::CaretTimeSinceMark, TimeCommands::timeText(at(11)), TimeCommands::spanText(8000));
    EXPECT_TRUE(waitFor([&] { return pane->text() == since; })) << pane->text().toStdString();
}

TEST_F(MergedViewTest, AFileWithoutTimesGoesFirstAsABlockAndTheStatusBarSaysSo)
{
    quilltest::writeFile(a, lines(true, 0, 20, 1));
    const std::string plain = dir.file("plain.txt");
    quilltest::writeFile(plain, "first plain\nsecond plain\n");
    start({"--merge", a, plain});
    ASSERT_NE(merged(), nullptr);
    ASSERT_TRUE(waitFor([&] { return merged()->rows()->rowCount() == written.size() + 2; }));
    std::vector<std::string> wanted{"first plain", "second plain"};
    const std::vector<std::string> timed = expected();
    wanted.insert(wanted.end(), timed.begin(), timed.end());
    EXPECT_EQ(rows(), wanted);
    ASSERT_TRUE(waitFor([&] {
        return frame->pane(1)->text().contains(QStringLiteral("plain.txt"));
    })) << frame->pane(1)->text().toStdString();
    EXPECT_TRUE(frame->pane(1)->text().startsWith(QStringLiteral("No times")));

    // Closed, the one merged tab gives its place to an empty one.
    pick(CommandId::CloseTab);
    EXPECT_EQ(frame->tabCount(), 1);
    EXPECT_EQ(merged(), nullptr);
}

} // namespace
