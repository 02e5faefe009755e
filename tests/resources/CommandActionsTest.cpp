#include "resources/CommandActions.h"
#include "resources/LanguageResources.h"
#include "support/TempDir.h"

#include "support/PackageFiles.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

using namespace quilltest;

namespace {

class CommandActionsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_package = new LoadedPackage("EN"); }
    static void TearDownTestSuite()
    {
        delete s_package;
        s_package = nullptr;
    }

    static std::set<int> commandsOf(const QList<QAction*>& actions)
    {
        std::set<int> ids;
        for (QAction* a : actions) {
            if (a->menu()) {
                const std::set<int> inner = commandsOf(a->menu()->actions());
                ids.insert(inner.begin(), inner.end());
            } else if (!a->isSeparator()) {
                ids.insert(a->data().toInt());
            }
        }
        return ids;
    }

    static LoadedPackage* s_package;
};

LoadedPackage* CommandActionsTest::s_package = nullptr;

TEST_F(CommandActionsTest, MenuToolbarAndAcceleratorsShareOneActionPerCommand)
{
    CommandActions actions;
    QMenuBar bar;
    QToolBar toolBar;
    ASSERT_TRUE(actions.buildMenuBar(&bar, 128));
    ASSERT_TRUE(actions.buildToolBar(&toolBar, 128));
    EXPECT_GT(actions.applyAccelerators(128), 0);
    std::unique_ptr<QMenu> context(actions.createPopupMenu(132, nullptr));
    ASSERT_TRUE(context);

    const std::set<int> menuIds = commandsOf(bar.actions());
    for (int id : {57600, 57601, 57616, 57665, 57634, 32795, 57636, 32774, 32775, 59392, 59393,
                   32783, 32782, 32791, 32801, 32793, 32772, 57664}) {
        EXPECT_TRUE(menuIds.count(id)) << "main menu lacks command " << id;
    }
    // The same QAction object wherever the command appears.
    for (QAction* button : toolBar.actions()) {
        if (!button->isSeparator()) {
            EXPECT_EQ(button, actions.find(button->data().toInt()));
            EXPECT_FALSE(button->icon().isNull()) << button->data().toInt();
        }
    }
    for (QAction* item : context->actions()) {
        if (!item->isSeparator()) {
            EXPECT_EQ(item, actions.find(item->data().toInt()));
        }
    }
    EXPECT_EQ(actions.find(57601)->objectName(), QStringLiteral("cmd_57601"));
    EXPECT_EQ(actions.find(57601)->text(), QStringLiteral("&Open..."));
    EXPECT_EQ(actions.find(57601)->statusTip(), QStringLiteral("Open a log file to follow"));
    EXPECT_EQ(actions.find(57601)->toolTip(), QStringLiteral("Open"));
    EXPECT_TRUE(actions.find(59392)->isCheckable());
}

TEST_F(CommandActionsTest, AcceleratorsLandOnTheirCommands)
{
    CommandActions actions;
    actions.applyAccelerators(128);
    struct Row {
        const char* key;
        int id;
    };
    for (const Row& row : {Row{"Ctrl+O", 57601}, Row{"Ctrl+F", 57636}, Row{"F3", 32774},
                           Row{"Shift+F3", 32775}, Row{"Ctrl+C", 57634}, Row{"Ctrl+A", 32795},
                           Row{"F5", 32791}, Row{"Ctrl+Q", 57665}, Row{"Ctrl+L", 32801},
                           Row{"Pause", 32783}, Row{"Pause", 32782}}) {
        QAction* action = actions.find(row.id);
        ASSERT_TRUE(action) << row.id;
        EXPECT_TRUE(action->shortcuts().contains(QKeySequence(QString::fromUtf8(row.key))))
            << row.key << " -> " << row.id;
    }
    // A command with two keys keeps both.
    EXPECT_EQ(actions.find(57634)->shortcuts().size(), 2);
}

// Pause and resume share the Pause key: exactly one of them is enabled at any time, and
// the key goes to that one.
TEST_F(CommandActionsTest, PauseKeyReachesWhicheverOfPauseAndResumeIsEnabled)
{
    QMainWindow window;
    CommandActions actions;
    actions.buildMenuBar(window.menuBar(), 128);
    actions.applyAccelerators(128);
    window.addActions(actions.all());
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QSignalSpy spy(&actions, &CommandActions::triggered);
    for (bool watching : {true, false}) {
        actions.find(32783)->setEnabled(watching);
        actions.find(32782)->setEnabled(!watching);
        QTest::keyClick(&window, Qt::Key_Pause);
        ASSERT_EQ(spy.count(), 1) << watching;
        EXPECT_EQ(spy.takeFirst().at(0).toInt(), watching ? 32783 : 32782);
    }
}

TEST_F(CommandActionsTest, TriggeringAnActionReportsItsCommandId)
{
    CommandActions actions;
    QSignalSpy spy(&actions, &CommandActions::triggered);
    actions.action(32801)->trigger();
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 32801);
}

TEST_F(CommandActionsTest, MissingResourcesLeaveTheFeatureOut)
{
    CommandActions actions;
    QMenuBar bar;
    QToolBar toolBar;
    EXPECT_FALSE(actions.buildMenuBar(&bar, 999));
    EXPECT_FALSE(actions.buildToolBar(&toolBar, 999));
    EXPECT_EQ(actions.applyAccelerators(999), 0);
    EXPECT_EQ(actions.createPopupMenu(132, nullptr, 5), nullptr);
    EXPECT_TRUE(actions.ids().isEmpty());
}

// Tables a translator may damage: what parses is used, the rest reads as absent.
TEST(LanguageResourcesTest, DamagedAndPartialTablesReadAsAbsent)
{
    TempDir dir;
    writeFile(dir.file("strings.json"), R"({"5": "File %1 is %2", "6": 17, "x": "y"})");
    writeFile(dir.file("menus.json"), "{ this is not json");
    writeFile(dir.file("package.json"),
              R"({"accelerators": {"128": [{"key": "Ctrl+O", "id": 57601},
                                            {"key": "", "id": 1}, {"key": "F5"}]},
                  "toolbars": {"128": [{"id": 0, "icon": "x.svg"}, {"separator": true}]},
                  "icons": {"128": "missing.svg"},
                  "cursors": {"282": {"file": "missing.svg"}}})");
    LanguageResources resources(QString::fromStdString(dir.path()));

    EXPECT_EQ(resources.string(5), QStringLiteral("File %1 is %2"));
    EXPECT_EQ(resources.string(6), QString());
    EXPECT_FALSE(resources.hasString(6));
    EXPECT_EQ(resources.stringIds(), QList<int>{5});
    EXPECT_FALSE(resources.hasMenu(128));
    EXPECT_TRUE(resources.menu(128).isEmpty());
    ASSERT_EQ(resources.accelerators(128).size(), 1);
    EXPECT_EQ(resources.accelerators(128).at(0).id, 57601);
    ASSERT_EQ(resources.toolbar(128).size(), 1); // the button without an id is dropped
    EXPECT_EQ(resources.toolbar(128).at(0).id, 0);
    EXPECT_TRUE(resources.icon(128).isNull());
    EXPECT_FALSE(resources.cursor(282).has_value());
    EXPECT_EQ(resources.loadDialog(100), nullptr);
    // The program's stock strings stand in for a package that lacks them.
    EXPECT_EQ(resources.string(61440), QStringLiteral("Open"));
    EXPECT_EQ(resources.string(61442), QStringLiteral("All Files (*.*)"));
}

TEST(LanguageResourcesTest, InsertsAreReplacedInOnePass)
{
    TempDir dir;
    writeFile(dir.file("strings.json"), R"json({"135": "%1: %2 (%3)", "134": "Not found: %1"})json");
    LanguageResources resources(QString::fromStdString(dir.path()));
    // A path holding "%2" stays as it is.
    EXPECT_EQ(resources.format(135, QStringLiteral("/tmp/100%2.log"), QStringLiteral("denied"),
                               QStringLiteral("13")),
              QStringLiteral("/tmp/100%2.log: denied (13)"));
    EXPECT_EQ(resources.format(134, QStringLiteral("%1")), QStringLiteral("Not found: %1"));
}

TEST(LanguageResourcesTest, NoPackageGivesEmptyResults)
{
    LanguageResources none;
    EXPECT_FALSE(none.isLoaded());
    EXPECT_EQ(none.string(9), QString());
    EXPECT_TRUE(none.icon(128).isNull());
    EXPECT_EQ(none.loadDialog(100), nullptr);
    EXPECT_FALSE(none.hasDialog(100));
}

} // namespace
