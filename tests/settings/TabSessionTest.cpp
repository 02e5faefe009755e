// The tabs of the last session in the user hive: order and front kept, a name that is not
// UTF-8 kept byte for byte, a damaged list skipped entry by entry.

#include "settings/TabSession.h"
#include "platform/FileName.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

class TabSessionTest : public ::testing::Test {
  protected:
    quilltest::TempDir dir;
    SettingsStore store{dir.file("user.reg"), dir.file("machine.reg")};
    TabSession session{store, u"quillstream"};
};

using Paths = std::vector<std::u16string>;

} // namespace

TEST_F(TabSessionTest, TabsComeBackInTheirOrderWithTheFrontOne)
{
    EXPECT_TRUE(session.read().paths.empty()) << "no session yet";
    // A name that is not UTF-8 travels in its escaped form.
    const std::u16string odd = quill::fileNameToUtf16(std::string("/var/log/\xff.log"));
    session.write({{u"/c.log", u"", odd, u"/a.log"}, 3});
    const TabSessionState back = TabSession(store, u"quillstream").read();
    EXPECT_EQ(back.paths, (Paths{u"/c.log", odd, u"/a.log"})) << "empty paths are left out";
    EXPECT_EQ(back.front, 2u);

    // A shorter session leaves none of the longer one behind.
    session.write({{u"/b.log"}, 0});
    EXPECT_EQ(session.read().paths, Paths{u"/b.log"});
    EXPECT_EQ(session.read().front, 0u);
    // Beside the recent files, under the executable's name.
    EXPECT_EQ(
        store.readFileNameAt(
            u"Software\\Local AppWizard-Generated Applications\\quillstream\\Open Tabs", u"Tab1"),
        u"/b.log");
}

TEST_F(TabSessionTest, ADamagedListIsSkippedEntryByEntry)
{
    const std::u16string key = session.keyPath();
    store.writeStringAt(key, u"Tab1", u"/one.log");
    store.writeDwordAt(key, u"Tab2", 7);            // not text
    store.writeStringAt(key, u"Tab3", u"");         // emptied
    store.writeStringAt(key, u"Tab4", u"/one.log"); // twice
    store.writeStringAt(key, u"Tab6", u"/six.log"); // after a hole
    store.writeStringAt(key, u"Tab64", u"/last.log");
    store.writeStringAt(key, u"Tab65", u"/beyond.log");
    store.writeDwordAt(key, u"Front", 6);
    TabSessionState state = session.read();
    EXPECT_EQ(state.paths, (Paths{u"/one.log", u"/six.log", u"/last.log"}));
    EXPECT_EQ(state.front, 1u) << "Front names the sixth value, the second restored";

    for (std::uint32_t front : {2u, 0u, 99u}) {
        store.writeDwordAt(key, u"Front", front);
        EXPECT_EQ(session.read().front, 0u) << "Front " << front << " names nothing restored";
    }
    store.writeStringAt(key, u"Front", u"6");
    EXPECT_EQ(session.read().front, 0u) << "a Front that is not a number";
}

TEST_F(TabSessionTest, AtMostSixtyFourTabsAreKept)
{
    TabSessionState many;
    for (int i = 0; i < 70; ++i) {
        const std::string name = "/" + std::to_string(i) + ".log";
        many.paths.emplace_back(name.begin(), name.end());
    }
    many.front = 69;
    session.write(many);
    const TabSessionState back = session.read();
    ASSERT_EQ(back.paths.size(), TabSession::MaxTabs);
    EXPECT_EQ(back.paths.back(), u"/63.log");
    EXPECT_EQ(back.front, 0u) << "the front tab was beyond the kept ones";
    EXPECT_TRUE(store.readFileNameAt(session.keyPath(), u"Tab65").empty()) << "none stored";
}

TEST_F(TabSessionTest, MergedTabsAndRotatedSetsKeepTheirFilesBesideAnOlderSessionsValues)
{
    TabSessionState state;
    state.paths = {u"/a.log", u"/live.log", u"/a.log", u"/b.log"};
    state.extras.resize(4);
    state.extras[0].mergedWith = {u"/b.log", u"/c.log"};
    state.extras[1].rotated = true;
    state.front = 1;
    session.write(state);
    TabSessionState back = session.read();
    EXPECT_EQ(back.paths, state.paths) << "a merged tab and a file of its own are two tabs";
    EXPECT_EQ(back.extras, state.extras);
    EXPECT_EQ(back.front, 1u);
    // An older reader finds each tab's first file where it always was.
    const std::u16string key = session.keyPath();
    EXPECT_EQ(store.readFileNameAt(key, u"Tab1"), u"/a.log");
    EXPECT_EQ(store.readFileNameAt(key, u"Tab1 Merged3"), u"/c.log");
    EXPECT_EQ(store.readDwordAt(key, u"Tab2 Rotated", 0), 1u);

    // A session of an older version: plain files, no extras; a damaged merge list keeps
    // the files it still names, and the same merge twice comes back once.
    session.write({{u"/x.log", u"/y.log"}, 0});
    back = session.read();
    EXPECT_EQ(back.paths, (Paths{u"/x.log", u"/y.log"}));
    EXPECT_EQ(back.extras, std::vector<TabSessionExtra>(2));
    store.writeStringAt(key, u"Tab1 Merged2", u"");
    store.writeStringAt(key, u"Tab1 Merged3", u"/z.log");
    store.writeStringAt(key, u"Tab3", u"/x.log");
    store.writeStringAt(key, u"Tab3 Merged2", u"/z.log");
    back = session.read();
    EXPECT_EQ(back.paths, (Paths{u"/x.log", u"/y.log"}));
    EXPECT_EQ(back.extras[0].mergedWith, Paths{u"/z.log"});
}
