// The recent-file list: order, limit, removal, the stored values and the menu text.

#include "settings/RecentFileList.h"
#include "platform/FileName.h"
#include "platform/NarrowCodec.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

class RecentFileListTest : public ::testing::Test {
  protected:
    quilltest::TempDir dir;
    SettingsStore store{dir.file("user.reg"), dir.file("machine.reg")};
};

std::vector<std::u16string> entries(std::initializer_list<const char16_t*> list)
{
    return std::vector<std::u16string>(list.begin(), list.end());
}

} // namespace

TEST_F(RecentFileListTest, MostRecentFirstAtMostFiveWithoutDoubles)
{
    RecentFileList list(store, u"quillstream");
    for (const char16_t* path : {u"/a", u"/b", u"/c", u"/d", u"/e", u"/f"}) {
        list.add(path);
    }
    EXPECT_EQ(list.entries(), entries({u"/f", u"/e", u"/d", u"/c", u"/b"}));
    list.add(u"/c");
    EXPECT_EQ(list.entries(), entries({u"/c", u"/f", u"/e", u"/d", u"/b"}));
    list.remove(1);
    EXPECT_EQ(list.entries(), entries({u"/c", u"/e", u"/d", u"/b"}));
    list.remove(10);
    EXPECT_EQ(list.size(), 4u);
}

TEST_F(RecentFileListTest, AFileInTwoSlotsOfAHandEditedHiveIsListedOnce)
{
    RecentFileList list(store, u"quillstream");
    store.writeStringAt(list.keyPath(), u"File1", u"/var/log/a.log");
    store.writeStringAt(list.keyPath(), u"File2", u"/var/log/b.log");
    store.writeStringAt(list.keyPath(), u"File3", u"/var/log/a.log");
    store.writeStringAt(list.keyPath(), u"File4", u"/var/log/c.log");
    list.readList();
    EXPECT_EQ(list.entries(), entries({u"/var/log/a.log", u"/var/log/b.log", u"/var/log/c.log"}));
}

TEST_F(RecentFileListTest, StoredUnderTheApplicationKeyAndReadBack)
{
    RecentFileList list(store, u"viewer");
    EXPECT_EQ(list.keyPath(),
              u"Software\\Local AppWizard-Generated Applications\\viewer\\Recent File List");
    list.add(u"/var/log/one.log");
    list.add(u"/var/log/two.log");
    list.writeList();
    EXPECT_EQ(store.readStringAt(list.keyPath(), u"File1", u""), u"/var/log/two.log");
    EXPECT_EQ(store.readStringAt(list.keyPath(), u"File2", u""), u"/var/log/one.log");

    // A shorter list leaves no stale entry behind.
    list.remove(0);
    list.writeList();
    EXPECT_EQ(store.readStringAt(list.keyPath(), u"File2", u"none"), u"none");

    RecentFileList again(store, u"viewer");
    again.readList();
    EXPECT_EQ(again.entries(), entries({u"/var/log/one.log"}));
    RecentFileList other(store, u"quillstream");
    other.readList();
    EXPECT_EQ(other.size(), 0u) << "each executable name has its own list";
}

TEST_F(RecentFileListTest, NameThatIsNotUtf8KeepsItsBytesThroughTheHiveFile)
{
    // A Latin-1 byte that is no UTF-8, then a CJK character that the Latin-1 set cannot
    // carry: neither may turn into '?' on the way through the hive.
    const std::string bytes = "/logs/caf\xE9-\xE6\x97\xA5.log";
    RecentFileList list(store, u"quillstream");
    list.add(quill::fileNameToUtf16(bytes));
    list.writeList();
    EXPECT_NE(quilltest::readFile(dir.file("user.reg")).find("\"File1\"=hex(1):"),
              std::string::npos);

    quill::setNarrowCharsetForTesting("ISO-8859-1");
    SettingsStore reread{dir.file("user.reg"), dir.file("machine.reg")};
    RecentFileList back(reread, u"quillstream");
    back.readList();
    quill::setNarrowCharsetForTesting("UTF-8");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(quill::fileNameToBytes(back[0]), bytes);
}

TEST_F(RecentFileListTest, MenuTextIsAbbreviatedToThirtyCharacters)
{
    struct Row {
        const char* path;
        const char* shown;
    };
    for (const Row& row : {
             Row{"/var/log/syslog", "/var/log/syslog"},
             Row{"/var/log/exactly-thirty-ch.log", "/var/log/exactly-thirty-ch.log"},
             Row{"/var/log/exactly-thirty-one.log", "/.../exactly-thirty-one.log"},
             Row{"/home/anna/projects/shop/logs/orders.log", "/home/anna/.../orders.log"},
             Row{"/srv/a/b/c/d/e/f/g/h/i/j/k/l/m/n.log", "/srv/a/b/c/d/e/f/g/h/.../n.log"},
             Row{"/x/an-extremely-long-file-name-of-a-log.log",
                 "an-extremely-long-file-name-of-a-log.log"},
             Row{"relative-but-very-long-name-here.log", "relative-but-very-long-name-here.log"},
         }) {
        const std::string path = row.path;
        const std::u16string shown =
            RecentFileList::abbreviate(std::u16string(path.begin(), path.end()));
        EXPECT_EQ(std::string(shown.begin(), shown.end()), row.shown);
    }
}

TEST_F(RecentFileListTest, AnEncodingStaysWithItsFileAndLeavesWithIt)
{
    RecentFileList list(store, u"quillstream");
    for (const char16_t* path : {u"/a", u"/b", u"/c"}) {
        list.add(path);
    }
    list.setEncoding(u"/b", 3);
    list.setEncoding(u"/c", 6);
    list.setEncoding(u"/c", 0); // automatic again: nothing kept
    list.add(u"/b");            // moves up with its encoding
    list.writeList();
    EXPECT_EQ(store.readDwordAt(list.keyPath(), u"Encoding1", 99), 3u);
    EXPECT_EQ(store.readDwordAt(list.keyPath(), u"Encoding2", 99), 99u);

    RecentFileList again(store, u"quillstream");
    again.readList();
    EXPECT_EQ(again.encodingOf(u"/b"), 3u);
    EXPECT_EQ(again.encodingOf(u"/c"), 0u);
    again.remove(0);
    again.add(u"/b"); // removed and opened afresh: automatic
    EXPECT_EQ(again.encodingOf(u"/b"), 0u);
    // Pushed off the end of the list, a file forgets its encoding too.
    RecentFileList small(store, u"quillstream", 1);
    small.add(u"/x");
    small.setEncoding(u"/x", 2);
    small.add(u"/y");
    small.add(u"/x");
    EXPECT_EQ(small.encodingOf(u"/x"), 0u);
}
