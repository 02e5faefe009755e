// The filter field's recent filters in the user hive: what is written reads back, in one
// write that leaves no entry of a longer old list behind, and hand-edited hives read sanely.

#include "settings/FilterHistory.h"
#include "platform/HiveStore.h"
#include "platform/NarrowCodec.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using quilltest::readFile;
using quilltest::TempDir;
using quilltest::writeFile;

namespace {

struct Hives {
    TempDir dir;
    std::string userPath = dir.file("user.reg");
    SettingsStore store{userPath, dir.file("machine.reg")};
};

} // namespace

TEST(FilterHistory, WrittenListReadsBackWithItsOptionsAndShorterListLeavesNoOldEntries)
{
    Hives hives;
    FilterHistory history(hives.store, 3);
    history.add({u"ERROR", true, false, false, false, u"", u""});
    history.add({u"health.*check", false, true, true, true, u"-2h", u""});
    history.add({u"Zürich \"quoted\" \\path", false, false, false, false, u"", u""});
    history.add({u"ERROR", false, true, false, true, u"", u""}); // moves up, takes the new options
    history.add({u"", true, true, true, true, u"", u""});        // ignored
    history.add({u"fourth", false, false, false, false, u"", u"2026-12-09 22:01"});
    ASSERT_EQ(history.size(), 3u); // the oldest ("health.*check") fell off
    history.writeList();

    FilterHistory reread(hives.store, 3);
    reread.readList();
    EXPECT_EQ(reread.entries(), history.entries());
    EXPECT_EQ(reread[1], (FilterHistoryEntry{u"ERROR", false, true, false, true, u"", u""}));
    EXPECT_EQ(reread[0].to, u"2026-12-09 22:01") << "the time range it was used with";
    EXPECT_EQ(readFile(hives.userPath).find("\"From\""), std::string::npos) << "none kept empty";

    history.remove(0);
    history.remove(0);
    history.writeList();
    reread.readList();
    ASSERT_EQ(reread.size(), 1u);
    EXPECT_EQ(reread[0].text, u"Zürich \"quoted\" \\path");
    EXPECT_EQ(readFile(hives.userPath).find("Recent\\2]"), std::string::npos);
}

TEST(FilterHistory, HandEditedHiveSkipsEmptySlotsDuplicatesAndKeysPastTheLimit)
{
    Hives hives;
    writeFile(hives.userPath,
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Orix\\Quillstream\\Filter\\Recent\\1]\r\n"
              "\"SearchString\"=\"\"\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Orix\\Quillstream\\Filter\\Recent\\2]\r\n"
              "\"SearchString\"=\"one\"\r\n\"Exclude\"=dword:00000001\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Orix\\Quillstream\\Filter\\Recent\\3]\r\n"
              "\"SearchString\"=\"one\"\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Orix\\Quillstream\\Filter\\Recent\\4]\r\n"
              "\"SearchString\"=\"past the limit\"\r\n");
    FilterHistory history(hives.store, 3);
    history.readList();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0], (FilterHistoryEntry{u"one", false, false, false, true, u"", u""}));
}

TEST(FilterHistory, PaneHeightLivesBesideTheList)
{
    Hives hives;
    EXPECT_EQ(hives.store.dword(Setting::FilterPaneHeight), 0u);
    hives.store.setDword(Setting::FilterPaneHeight, 240);
    FilterHistory history(hives.store);
    history.add({u"x", false, false, false, false, u"", u""});
    history.writeList(); // replaces only the list's own key
    EXPECT_EQ(hives.store.dword(Setting::FilterPaneHeight), 240u);
    EXPECT_EQ(hives.store.keyPath(Setting::FilterPaneHeight),
              u"Software\\Orix\\Quillstream\\Filter");
    EXPECT_EQ(history.keyPath(), u"Software\\Orix\\Quillstream\\Filter\\Recent");
}
