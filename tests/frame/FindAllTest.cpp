// Edit > Find in All Tabs on the real main frame with the English package, driven by keys,
// clicks and the files themselves: three tabs of logs, Ctrl+Alt+F, a text and Enter; the
// list's headings and rows against a model of the files; Enter and a double click bring the
// row's tab to the front at its line; a followed file's new lines join its list, a closed tab
// leaves it, a bad pattern says why, and Escape ends the search.

#include "engine/FindAllSearch.h"
#include "engine/LogDocument.h"
#include "frame/FindAllPane.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "resources/ResourceIds.h"
#include "support/EnglishPackage.h"
#include "support/FrameOwners.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "view/FindAllView.h"
#include "view/LogView.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>

using quilltest::NullSound;
using quilltest::ReopeningOwner;
using quilltest::u16;

namespace {

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

// Log k: line i says "request <i % 13>"; "req=7" is on lines where i % 13 == 7, and every
// eleventh line of log 1 says ERROR.
std::string logText(int k, int from, int to)
{
    std::string bytes;
    for (int i = from; i < to; ++i) {
        bytes += "log" + std::to_string(k) + " line " + std::to_string(i) +
                 " req=" + std::to_string(i % 13) + (k == 1 && i % 11 == 0 ? " ERROR" : " ok") +
                 "\n";
    }
    return bytes;
}

// What a row stands for, as the model writes it: "name" for a heading, "name:line" else.
std::string describe(const FindAllRowSource::Item& item, const MainFrame& frame)
{
    for (int i = 0; i < frame.tabCount(); ++i) {
        if (frame.tab(i)->document() == item.document) {
            const std::string name = frame.tab(i)->label().toStdString();
            return item.isHeading() ? name : name + ":" + std::to_string(item.line);
        }
    }
    return "?";
}

class FindAllTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(package.loaded);
        frame = std::make_unique<MainFrame>(&owner, &sound);
        owner.frame = frame.get();
        frame->setMessageHandler([](const QString&) {});
        frame->resize(800, 600);
        frame->show();
        for (int k = 0; k < 3; ++k) {
            paths.push_back(package.dir.file("log" + std::to_string(k) + ".log"));
            quilltest::writeFile(paths[k], logText(k, 0, 200 + 100 * k));
            LogTab* tab = k == 0 ? frame->currentTab() : frame->addTab();
            frame->activateTab(tab);
            LogDocument* document = tab->document();
            WatchTiming timing;
            timing.poll = std::chrono::milliseconds(20);
            document->setWatchTiming(timing);
            owner.document = document;
            ASSERT_TRUE(owner.openDocumentFile(u16(paths[k])));
        }
        frame->activateTab(frame->tab(0));
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        settle();
    }

    void key(QWidget* widget, int k, Qt::KeyboardModifiers mods = {})
    {
        QTest::keyClick(widget, Qt::Key(k), mods);
        settle();
    }

    // The rows once the search has settled, as "name" and "name:line".
    std::vector<std::string> rows()
    {
        FindAllPane* pane = frame->findAllPane();
        EXPECT_TRUE(QTest::qWaitFor([&] { return pane->search().isSettled(); }, 20000));
        settle();
        std::vector<std::string> out;
        FindAllView* view = pane->view();
        for (std::size_t r = 0; r < view->rowCount(); ++r) {
            out.push_back(describe(view->rows().itemOfRow(r), *frame));
        }
        return out;
    }

    // The model: per tab in tab order, a heading and the lines of its file that hold text.
    std::vector<std::string> model(const std::string& text)
    {
        std::vector<std::string> out;
        for (int i = 0; i < frame->tabCount(); ++i) {
            std::ifstream in(u8path(frame->tab(i)));
            std::vector<std::string> found;
            std::string line;
            for (int n = 0; std::getline(in, line); ++n) {
                if (line.find(text) != std::string::npos) {
                    found.push_back(frame->tab(i)->label().toStdString() + ":" + std::to_string(n));
                }
            }
            if (!found.empty()) {
                out.push_back(frame->tab(i)->label().toStdString());
                out.insert(out.end(), found.begin(), found.end());
            }
        }
        return out;
    }
    std::string u8path(const LogTab* tab) const
    {
        return QString::fromStdU16String(tab->path()).toStdString();
    }

    // Makes row `row` current with Down keys from the list's top, then presses Enter.
    void enterOnRow(std::size_t row)
    {
        FindAllView* view = frame->findAllPane()->view();
        view->setFocus();
        key(view, Qt::Key_Home, Qt::ControlModifier);
        for (std::size_t i = 0; i < row; ++i) {
            key(view, Qt::Key_Down);
        }
        ASSERT_EQ(view->currentRow(), row);
        key(view, Qt::Key_Return);
    }

    quilltest::EnglishPackage package;
    NullSound sound;
    ReopeningOwner owner;
    std::unique_ptr<MainFrame> frame;
    std::vector<std::string> paths;
};

} // namespace

TEST_F(FindAllTest, ListsEveryTabsLinesAndEnterOrDoubleClickGoesThere)
{
    // Ctrl+Alt+F from the log view opens the pane with the keyboard in its field.
    key(frame->activeView(), Qt::Key_F, Qt::ControlModifier | Qt::AltModifier);
    FindAllPane* pane = frame->findAllPane();
    ASSERT_NE(pane, nullptr);
    ASSERT_TRUE(pane->isVisible());
    ASSERT_EQ(QApplication::focusWidget(), pane->field());
    QTest::keyClicks(pane->field(), QStringLiteral("req=7 "));
    key(pane->field(), Qt::Key_Return);
    const std::vector<std::string> found = rows();
    EXPECT_EQ(found, model("req=7 "));
    ASSERT_EQ(found.size(), 3u + 15 + 23 + 31);
    EXPECT_EQ(pane->view()->rows().rowText(0), u"log0.log: 15 lines");
    EXPECT_EQ(pane->progressLabel()->text(),
              QStringLiteral("69 lines found in 3 tabs, 900 lines searched"));

    // Enter on a row of the second tab: that tab comes to the front at that line.
    const std::size_t row = 16 + 1 + 5; // log1's sixth match, line 5 * 13 + 7
    enterOnRow(row);
    ASSERT_EQ(frame->currentTab(), frame->tab(1));
    DocSelection selection = frame->activeDocument()->selection();
    EXPECT_TRUE(selection.valid && selection.startLine == 72 && selection.endLine == 72)
        << selection.startLine;
    EXPECT_EQ(QApplication::focusWidget(), frame->tab(1)->view());

    // A double click on a row of the third tab.
    FindAllView* view = pane->view();
    view->setFocus();
    key(view, Qt::Key_End, Qt::ControlModifier);
    settle();
    const std::size_t last = view->rowCount() - 1;
    const int y = int(last - view->firstVisibleRow()) * view->rowHeight() + view->rowHeight() / 2;
    ASSERT_GT(y, 0);
    // A plain click makes the row current and brings no tab.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(view->gutterWidth() + 20, y));
    settle();
    EXPECT_EQ(frame->currentTab(), frame->tab(1));
    EXPECT_EQ(view->currentRow(), last);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, QPoint(view->gutterWidth() + 20, y));
    settle();
    ASSERT_EQ(frame->currentTab(), frame->tab(2));
    selection = frame->activeDocument()->selection();
    EXPECT_TRUE(selection.valid && selection.startLine == 397) << selection.startLine;
}

TEST_F(FindAllTest, FollowsGrowingFilesClosedTabsAndEndsOnEscape)
{
    key(frame->activeView(), Qt::Key_F, Qt::ControlModifier | Qt::AltModifier);
    FindAllPane* pane = frame->findAllPane();
    QTest::keyClicks(pane->field(), QStringLiteral("ERROR"));
    key(pane->field(), Qt::Key_Return);
    ASSERT_EQ(rows(), model("ERROR"));
    ASSERT_EQ(rows().size(), 1u + 28);

    // Log 1 grows behind the front tab; log 2 starts to say ERROR too.
    std::ofstream(paths[1], std::ios::binary | std::ios::app) << logText(1, 300, 400);
    std::ofstream(paths[2], std::ios::binary | std::ios::app) << "log2 late ERROR\n";
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane->view()->rowCount() == 1 + 37 + 2; }, 20000))
        << pane->view()->rowCount();
    EXPECT_EQ(rows(), model("ERROR"));

    // Match case: "error" is nowhere.
    QCheckBox* matchCase = pane->option(0);
    matchCase->setFocus();
    pane->field()->setText(QStringLiteral("error"));
    QTest::mouseClick(matchCase, Qt::LeftButton, {}, QPoint(4, matchCase->height() / 2));
    settle();
    ASSERT_TRUE(matchCase->isChecked());
    EXPECT_TRUE(rows().empty());
    QTest::mouseClick(matchCase, Qt::LeftButton, {}, QPoint(4, matchCase->height() / 2));
    EXPECT_EQ(rows(), model("ERROR"));

    // The second tab closes: its heading and lines leave; the third's stay.
    frame->closeTab(frame->tab(1));
    settle();
    EXPECT_EQ(rows(), model("ERROR"));
    ASSERT_EQ(rows().size(), 2u);

    // A regular expression that does not compile says why and lists nothing.
    pane->option(2)->setChecked(true);
    pane->field()->setFocus();
    pane->field()->setText(QStringLiteral("(ERROR"));
    key(pane->field(), Qt::Key_Return);
    EXPECT_TRUE(pane->errorLabel()->isVisible());
    EXPECT_TRUE(pane->errorLabel()->text().contains(QStringLiteral("at character")));
    EXPECT_EQ(pane->view()->rowCount(), 0u);

    // Escape: the pane goes, nothing is searched, the log view has the keyboard.
    key(pane->field(), Qt::Key_Escape);
    EXPECT_FALSE(pane->isVisible());
    EXPECT_FALSE(pane->search().isActive());
    EXPECT_EQ(QApplication::focusWidget(), frame->activeView());
}
