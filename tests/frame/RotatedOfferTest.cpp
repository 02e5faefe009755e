// A log with rotated files beside it, opened in the real window through the application:
// the tab offers them in a bar, Add them turns the tab into the set read oldest first and
// followed on across the live file's rotation, Don't ask again is kept, and --with-rotated
// opens the set without asking.

#include "frame/RotatedOffer.h"
#include "app/Application.h"
#include "engine/LogDocument.h"
#include "frame/LogTab.h"
#include "frame/MainFrame.h"
#include "frame/SourceControl.h"
#include "resources/ResourceIds.h"
#include "settings/SettingsStore.h"
#include "support/EnglishPackage.h"
#include "support/TempDir.h"
#include "support/TestDoubles.h"
#include "support/WidgetEvents.h"
#include "view/LogView.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using quilltest::TempDir;
using quilltest::waitFor;

namespace {

class RotatedOfferTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        store = quilltest::installApplicationStore(dir);
        live = dir.file("app.log");
        quilltest::writeFile(dir.file("app.log.1"), "one\n");
        quilltest::writeFile(dir.file("app.log.2.src"), "two-a\ntwo-b\n");
        const std::string packed = "gzip -c < '" + dir.file("app.log.2.src") + "' > '" +
                                   dir.file("app.log.2.gz") + "' && rm '" +
                                   dir.file("app.log.2.src") + "'";
        ASSERT_EQ(std::system(packed.c_str()), 0);
        quilltest::writeFile(dir.file("app.log.bak"), "not a member\n");
        quilltest::writeFile(live, "live-a\n");
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

    RotatedOffer* offer() const
    {
        return frame->currentTab()->findChild<RotatedOffer*>(QStringLiteral("rotatedOffer"));
    }

    // The button as the user reaches it: the widget under its centre in the window.
    void press(const char* name)
    {
        auto* button = offer()->findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isVisible());
        const QPoint at = button->mapTo(frame, button->rect().center());
        QWidget* under = frame->childAt(at);
        ASSERT_EQ(under, button);
        quilltest::click(under);
    }

    QStringList lines() const
    {
        LogDocument* document = frame->currentTab()->document();
        QStringList all;
        for (LineNumber i = 0; i < document->lineCount(); ++i) {
            all.append(QString::fromStdU16String(document->line(i)));
        }
        return all;
    }

    bool linesAre(const QStringList& want) const
    {
        return waitFor([&] { return lines() == want; }, std::chrono::seconds(10));
    }

    TempDir dir;
    quilltest::ScopedEnv tmp{"TMPDIR", dir.path()};
    quilltest::ScopedEnv cache{"XDG_CACHE_HOME", dir.file("cache")};
    std::unique_ptr<SettingsStore> store;
    quilltest::NullSound sound;
    std::unique_ptr<Application> app;
    MainFrame* frame = nullptr;
    QStringList messages;
    std::string live;
};

} // namespace

TEST_F(RotatedOfferTest, AddThemReadsTheSetInOrderAndFollowsOnAcrossRotation)
{
    start({live});
    ASSERT_NE(offer(), nullptr);
    EXPECT_TRUE(waitFor([&] { return offer()->isVisible(); }));
    EXPECT_EQ(offer()->findChild<QLabel*>(QStringLiteral("rotatedOfferText"))->text(),
              QStringLiteral("app.log has 2 older rotated files beside it."));
    EXPECT_EQ(lines(), QStringList({"live-a"})) << "nothing changes before the answer";
    EXPECT_TRUE(frame->activeView()->hasFocus()) << "the bar takes no keyboard";

    press("rotatedAdd");
    ASSERT_TRUE(linesAre({"two-a", "two-b", "one", "live-a"})) << lines().join(u'|').toStdString();
    EXPECT_TRUE(waitFor([&] { return offer() == nullptr; }));
    EXPECT_EQ(frame->tabCount(), 1) << "the tab became the set";
    EXPECT_EQ(frame->currentTab()->label(), QStringLiteral("app.log with 2 rotated files"));

    // logrotate: each member one number up, the live file renamed, a new one created.
    ASSERT_EQ(std::rename(dir.file("app.log.1").c_str(), dir.file("app.log.2").c_str()), 0);
    ASSERT_EQ(std::rename(live.c_str(), dir.file("app.log.1").c_str()), 0);
    quilltest::appendFile(dir.file("app.log.1"), "live-b\n");
    quilltest::writeFile(live, "new-a\n");
    EXPECT_TRUE(linesAre({"two-a", "two-b", "one", "live-a", "live-b", "new-a"}))
        << lines().join(u'|').toStdString();
    quilltest::appendFile(live, "new-b\n");
    EXPECT_TRUE(linesAre({"two-a", "two-b", "one", "live-a", "live-b", "new-a", "new-b"}));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
}

TEST_F(RotatedOfferTest, NotNowAndDontAskAgainAndTheWaysThatDoNotAsk)
{
    start({live});
    ASSERT_NE(offer(), nullptr);
    press("rotatedNotNow");
    EXPECT_TRUE(waitFor([&] { return offer() == nullptr; }));
    EXPECT_EQ(lines(), QStringList({"live-a"}));
    EXPECT_TRUE(SettingsStore::instance().boolValue(Setting::OfferRotated));
    frame->action(CommandId::Reload)->trigger();
    EXPECT_EQ(offer(), nullptr) << "Not now holds for the file until the next start";

    quilltest::writeFile(dir.file("db.log"), "db\n");
    quilltest::writeFile(dir.file("db.log-20261201"), "db-old\n");
    ASSERT_TRUE(app->openDocumentFile(quilltest::u16(dir.file("db.log"))));
    ASSERT_NE(offer(), nullptr);
    press("rotatedNeverAsk");
    EXPECT_TRUE(waitFor([&] { return offer() == nullptr; }));
    EXPECT_FALSE(SettingsStore::instance().boolValue(Setting::OfferRotated));
    quilltest::writeFile(dir.file("web.log"), "web\n");
    quilltest::writeFile(dir.file("web.1.log"), "web-old\n");
    ASSERT_TRUE(app->openDocumentFile(quilltest::u16(dir.file("web.log"))));
    EXPECT_EQ(offer(), nullptr) << "not asked again";

    // File > Add Rotated Files asks nothing; without any, it says so.
    ASSERT_TRUE(frame->action(CommandId::AddRotated)->isEnabled());
    frame->action(CommandId::AddRotated)->trigger();
    EXPECT_TRUE(linesAre({"web-old", "web"}));
    EXPECT_FALSE(frame->action(CommandId::AddRotated)->isEnabled()) << "a set is no file";
    quilltest::writeFile(dir.file("alone.log"), "alone\n");
    ASSERT_TRUE(app->openDocumentFile(quilltest::u16(dir.file("alone.log"))));
    frame->action(CommandId::AddRotated)->trigger();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.back(), QStringLiteral("alone.log has no rotated files beside it."));

    // The option opens the set at once; a member that cannot be read is named and left out.
    quilltest::writeFile(dir.file("db.log-20261130.gz"), std::string("\x1f\x8b\x08\0garbage", 12));
    ASSERT_TRUE(app->openWithRotated(quilltest::u16(dir.file("db.log"))));
    EXPECT_TRUE(linesAre({"db-old", "db"}));
    ASSERT_TRUE(waitFor([&] { return messages.size() == 2; })) << messages.join(u'|').toStdString();
    EXPECT_TRUE(messages.back().startsWith(
        QStringLiteral("These rotated files could not be read and are left out:\n") +
        QString::fromStdString(dir.file("db.log-20261130.gz")) + QStringLiteral(": ")))
        << messages.back().toStdString();
    QTest::qWait(3 * SourceControl::PollMs);
    EXPECT_EQ(messages.size(), 2) << "told once";
    // A file without any opens as itself.
    quilltest::writeFile(dir.file("other.log"), "other\n");
    ASSERT_TRUE(app->openWithRotated(quilltest::u16(dir.file("other.log"))));
    EXPECT_TRUE(linesAre({"other"}));
    EXPECT_EQ(frame->currentTab()->document()->source(), nullptr);
}
