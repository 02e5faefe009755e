#include "settings/SettingsStore.h"
#include "platform/HiveKey.h"
#include "platform/HiveStore.h"
#include "platform/NarrowCodec.h"
#include "support/ProcessIo.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

using namespace quill;
using quilltest::readFile;
using quilltest::ScopedEnv;
using quilltest::TempDir;
using quilltest::writeFile;

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::u16string Root = u"Software\\Orix\\Quillstream";
const std::u16string Gui = Root + u"\\GUI";
const std::u16string Logging = Root + u"\\Logging";
const std::u16string Keywords = Root + u"\\Keywords";

Bytes dword(std::uint32_t v)
{
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

// The stored bytes of a text value: UTF-16LE and its terminating zero.
Bytes sz(std::u16string_view text)
{
    return quill::szData(text);
}

class SettingsStoreTest : public ::testing::Test {
  protected:
    void put(HiveStore& hive, const std::u16string& path, std::u16string_view name,
             std::uint32_t type, const Bytes& data)
    {
        ASSERT_TRUE(hive.setValue(path, name, type, data.data(), data.size()));
    }

    // The raw stored user value, to see what a setter wrote.
    const HiveValue* stored(const std::u16string& path, std::u16string_view name)
    {
        m_snapshot = user.openKey(path);
        return m_snapshot ? m_snapshot->value(name) : nullptr;
    }

    TempDir dir;
    std::string userPath = dir.file("home/.config/quillstream/user.reg");
    std::string machinePath = dir.file("etc/xdg/quillstream/machine.reg");
    HiveStore user{userPath, HiveRoot::CurrentUser};
    HiveStore machine{machinePath, HiveRoot::LocalMachine};
    SettingsStore store{userPath, machinePath};

  private:
    std::optional<HiveKeyHandle> m_snapshot;
};

TEST_F(SettingsStoreTest, pathsAndNamesComeFromTheTables)
{
    EXPECT_EQ(store.keyPath(Setting::KeyOrix), u"Software\\Orix");
    EXPECT_EQ(store.keyPath(Setting::KeyKeywords), Keywords);
    EXPECT_EQ(store.keyPath(Setting::TextFont), Gui);
    EXPECT_EQ(store.keyPath(Setting::MaxLogFileSize), Logging);
    EXPECT_EQ(store.keyPath(Setting::ShowEmptyFiles), Root);
    EXPECT_EQ(store.valueName(Setting::ResourceDllPath), u"ResorceDLLPath");
    EXPECT_EQ(store.valueName(Setting::ResourceDllPrefix), u"ResouceDLLPrefix");
    EXPECT_EQ(store.valueName(Setting::GuiLanguage), u"GUILanguage");
    EXPECT_EQ(store.keyPath(999), u"");
    EXPECT_EQ(store.valueName(999), u"");
    EXPECT_EQ(store.valueName(Setting::KeyGui), u"");
}

TEST_F(SettingsStoreTest, defaultsWithNothingStored)
{
    EXPECT_EQ(store.dword(Setting::LogLevel), 1u);
    EXPECT_EQ(store.dword(Setting::MaxLogFileSize), 1048576u);
    EXPECT_EQ(store.dword(Setting::TextColor), 0x00FF00u);
    EXPECT_EQ(store.dword(Setting::ColumnWidthKeyword), 134u);
    EXPECT_EQ(store.string(Setting::LogFileName), u"Quillstream.log");
    EXPECT_EQ(store.string(Setting::LogFileExt), u"*.log;*.txt");
    EXPECT_EQ(store.string(Setting::SoundFileExt), u"*.wav *.oga *.ogg");
    EXPECT_EQ(store.string(Setting::GuiLanguage), u"");
    EXPECT_TRUE(store.boolValue(Setting::FindDown));
    EXPECT_TRUE(store.boolValue(Setting::StatusBar));
    EXPECT_FALSE(store.boolValue(Setting::TopMost));
    EXPECT_FALSE(store.binary(Setting::TextFont).has_value());
    EXPECT_FALSE(store.font(Setting::TextFont).has_value());
    EXPECT_FALSE(std::filesystem::exists(userPath));
}

TEST_F(SettingsStoreTest, unknownIdsReadZeroAndWriteNothing)
{
    EXPECT_FALSE(store.boolValue(999));
    EXPECT_EQ(store.dword(999), 0u);
    EXPECT_EQ(store.string(999), u"");
    EXPECT_FALSE(store.binary(999).has_value());
    store.setDword(999, 5);
    store.setBool(Setting::KeyGui, true); // a key id names no value
    store.setString(999, u"x");
    const std::uint8_t b = 1;
    store.setBinary(999, &b, 1);
    EXPECT_FALSE(std::filesystem::exists(userPath));
}

TEST_F(SettingsStoreTest, machineValueIsShadowedByTheFirstWrite)
{
    put(machine, Logging, u"LogLevel", RegType::Dword, dword(3));
    put(machine, Logging, u"LogFileName", RegType::Sz, sz(u"site.log"));
    EXPECT_EQ(store.dword(Setting::LogLevel), 3u);
    EXPECT_EQ(store.string(Setting::LogFileName), u"site.log");

    store.setDword(Setting::LogLevel, 1);
    EXPECT_EQ(store.dword(Setting::LogLevel), 1u);
    EXPECT_EQ(store.string(Setting::LogFileName), u"site.log");
    EXPECT_NE(readFile(machinePath).find("dword:00000003"), std::string::npos); // untouched
}

TEST_F(SettingsStoreTest, wrongTypesFallThroughToMachineThenDefault)
{
    struct Row {
        std::u16string path, name;
        std::uint32_t type;
        Bytes data;
    };
    // User-scope values that a number, text or flag read must not accept.
    const Row rows[] = {
        {Logging, u"LogLevel", RegType::Sz, sz(u"3")},
        {Logging, u"MaxLogFileSize", RegType::Dword, Bytes{1, 2, 3, 4, 5, 6, 7, 8}},
        {Gui, u"TextColor", RegType::Binary, dword(0xff)},
        {Logging, u"LogFileName", RegType::Dword, dword(7)},
        {Root, u"LogFileExt", RegType::ExpandSz, sz(u"*.x")},
        {Gui, u"TopMost", RegType::Sz, sz(u"1")},
    };
    for (const Row& r : rows) {
        put(user, r.path, r.name, r.type, r.data);
    }
    EXPECT_EQ(store.dword(Setting::LogLevel), 1u);
    EXPECT_EQ(store.dword(Setting::MaxLogFileSize), 1048576u);
    EXPECT_EQ(store.dword(Setting::TextColor), 0x00FF00u);
    EXPECT_EQ(store.string(Setting::LogFileName), u"Quillstream.log");
    EXPECT_EQ(store.string(Setting::LogFileExt), u"*.log;*.txt");
    EXPECT_FALSE(store.boolValue(Setting::TopMost));

    put(machine, Logging, u"LogLevel", RegType::Dword, dword(3));
    put(machine, Gui, u"TextColor", RegType::Dword, Bytes{0x12, 0x34}); // at most 4 bytes
    put(machine, Logging, u"LogFileName", RegType::Sz, sz(u"m.log"));
    EXPECT_EQ(store.dword(Setting::LogLevel), 3u);
    EXPECT_EQ(store.dword(Setting::TextColor), 0x3412u);
    EXPECT_EQ(store.string(Setting::LogFileName), u"m.log");

    // A binary read takes whatever type is stored.
    put(user, Gui, u"TextFont", RegType::Sz, sz(u"A"));
    EXPECT_EQ(store.binary(Setting::TextFont), sz(u"A"));
}

TEST_F(SettingsStoreTest, flagsReadNonZeroAndWriteOneOrZero)
{
    put(user, Gui, u"TopMost", RegType::Dword, dword(2));
    EXPECT_TRUE(store.boolValue(Setting::TopMost));
    store.setBool(Setting::TopMost, true);
    ASSERT_NE(stored(Gui, u"TopMost"), nullptr);
    EXPECT_EQ(stored(Gui, u"TopMost")->data, dword(1));
    store.setBool(Setting::TopMost, false);
    EXPECT_EQ(stored(Gui, u"TopMost")->data, dword(0));
    EXPECT_FALSE(store.boolValue(Setting::TopMost));
    EXPECT_EQ(stored(Gui, u"TopMost")->type, RegType::Dword);
}

TEST_F(SettingsStoreTest, textIsStoredWithItsTerminatorAndEmptyIsNotAbsent)
{
    store.setString(Setting::LogFileExt, u"");
    EXPECT_EQ(stored(Root, u"LogFileExt")->data, sz(u""));
    EXPECT_EQ(store.string(Setting::LogFileExt), u"");

    store.setString(Setting::LastFindString, u"f\u00FCr \"x\"");
    EXPECT_EQ(stored(Root, u"LastFindString")->type, RegType::Sz);
    EXPECT_EQ(stored(Root, u"LastFindString")->data, sz(u"f\u00FCr \"x\""));
    EXPECT_EQ(store.string(Setting::LastFindString), u"f\u00FCr \"x\"");

    // Without a terminator, or with text after a zero: the text up to the first zero.
    put(user, Root, u"HelpFilePath", RegType::Sz, Bytes{'a', 0, 'b', 0});
    EXPECT_EQ(store.string(Setting::HelpFilePath), u"ab");
    put(user, Root, u"HelpFilePath", RegType::Sz, Bytes{'a', 0, 0, 0, 'b', 0, 0, 0});
    EXPECT_EQ(store.string(Setting::HelpFilePath), u"a");
}

TEST_F(SettingsStoreTest, longTextIsRead)
{
    const std::u16string longPath = u"/usr/share/sounds/" + std::u16string(300, u's') + u".wav";
    store.setString(Setting::Sound, longPath);
    EXPECT_EQ(store.string(Setting::Sound), longPath);
}

TEST_F(SettingsStoreTest, textPassesThroughTheNarrowCharacterSet)
{
    store.setString(Setting::LastFindString, u"\u20AC \u00E9");
    setNarrowCharsetForTesting("ISO-8859-1");
    const std::u16string latin1 = store.string(Setting::LastFindString);
    setNarrowCharsetForTesting("UTF-8");
    EXPECT_EQ(latin1, u"? \u00E9");
    EXPECT_EQ(store.string(Setting::LastFindString), u"\u20AC \u00E9");
}

TEST_F(SettingsStoreTest, binaryReadsGrowUpTo2600Bytes)
{
    for (std::uint32_t size : {0u, 1u, 260u, 261u, 2599u, 2600u}) {
        Bytes data(size);
        for (std::uint32_t i = 0; i < size; ++i) {
            data[i] = static_cast<std::uint8_t>(i * 31);
        }
        store.setBinary(Setting::TextFont, data.data(), size);
        EXPECT_EQ(store.binary(Setting::TextFont), data) << size;
    }
    put(machine, Gui, u"TextFont", RegType::Binary, Bytes(5, 0xee));
    put(user, Gui, u"TextFont", RegType::Binary, Bytes(2601, 1));
    EXPECT_EQ(store.binary(Setting::TextFont), Bytes(5, 0xee)); // too big: not in user scope
    put(machine, Gui, u"TextFont", RegType::Binary, Bytes(4000, 2));
    EXPECT_FALSE(store.binary(Setting::TextFont).has_value());
}

TEST_F(SettingsStoreTest, fontRecordRoundTrip)
{
    LogFontRecord font;
    font.lfHeight = -13;
    font.lfWeight = 700;
    font.lfItalic = 1;
    font.lfPitchAndFamily = 0x31;
    const std::u16string face = u"DejaVu Sans Mono";
    std::copy(face.begin(), face.end(), font.lfFaceName);
    store.setFont(Setting::TextFont, font);

    const auto block = store.font(Setting::TextFont);
    ASSERT_TRUE(block.has_value());
    ASSERT_EQ(block->size(), 92u);
    EXPECT_EQ(std::memcmp(block->data(), &font, 92), 0);
    EXPECT_EQ((*block)[0], 0xF3); // height -13, little-endian
    EXPECT_EQ((*block)[28], 'D'); // the face name starts after 28 bytes
}

TEST_F(SettingsStoreTest, pathLevelReadsAndWrites)
{
    const std::u16string path = Keywords + u"\\7";
    EXPECT_EQ(store.readDwordAt(path, u"MatchCase", 1), 1u);
    EXPECT_EQ(store.readStringAt(path, u"SearchString", u"dflt"), u"dflt");
    put(machine, path, u"MatchCase", RegType::Dword, dword(0));
    EXPECT_EQ(store.readDwordAt(path, u"MatchCase", 1), 0u);
    store.writeDwordAt(path, u"MatchCase", 5);
    store.writeStringAt(path, u"SearchString", u"");
    EXPECT_EQ(store.readDwordAt(path, u"MatchCase", 1), 5u);
    EXPECT_EQ(store.readStringAt(path, u"SearchString", u"dflt"), u"");
    EXPECT_TRUE(store.deleteUserValueAt(path, u"matchcase"));
    EXPECT_FALSE(store.deleteUserValueAt(path, u"MatchCase"));
    EXPECT_EQ(store.readDwordAt(path, u"MatchCase", 1), 0u); // the machine value again
}

std::vector<Keyword> sampleKeywords(int count)
{
    std::vector<Keyword> list;
    for (int i = 0; i < count; ++i) {
        list.emplace_back(utf8ToUtf16("word" + std::to_string(i)),
                          static_cast<ColorRef>(0x10000 * i + 1), static_cast<ColorRef>(i), i % 2,
                          i % 3 == 0, i % 5 != 0);
    }
    return list;
}

TEST_F(SettingsStoreTest, keywordListRoundTripsInOrder)
{
    const auto twelve = sampleKeywords(12);
    store.saveKeywords(twelve);
    std::vector<Keyword> loaded;
    store.loadKeywords(loaded);
    EXPECT_EQ(loaded, twelve);

    std::vector<std::u16string> names;
    store.enumSubkeyNames(Setting::KeyKeywords, names);
    EXPECT_EQ(names.size(), 12u);
    EXPECT_EQ(stored(Keywords + u"\\1", u"MatchCase")->data, dword(0));
    EXPECT_EQ(stored(Keywords + u"\\2", u"MatchCase")->data, dword(1));
}

TEST_F(SettingsStoreTest, colourOnlyTheMatchIsAValueOfItsOwnWrittenOnlyWhenSet)
{
    std::vector<Keyword> list = sampleKeywords(3);
    list[1].matchOnly = true;
    store.saveKeywords(list);
    std::vector<Keyword> loaded;
    store.loadKeywords(loaded);
    EXPECT_EQ(loaded, list);
    // Older versions read the other values as before; a list without it is what they wrote.
    EXPECT_EQ(stored(Keywords + u"\\1", u"ColorMatchOnly"), nullptr);
    EXPECT_EQ(stored(Keywords + u"\\2", u"ColorMatchOnly")->data, dword(1));
    // A machine-wide keyword may say it too.
    put(machine, Keywords + u"\\3", u"ColorMatchOnly", RegType::Dword, dword(1));
    loaded.clear();
    store.loadKeywords(loaded);
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_TRUE(loaded[2].matchOnly);
}

TEST_F(SettingsStoreTest, savingThreeAfterFiveLeavesExactlyThree)
{
    store.saveKeywords(sampleKeywords(5));
    store.setBool(Setting::Beep, true);
    store.saveKeywords(sampleKeywords(3));
    std::vector<std::u16string> names;
    store.enumSubkeyNames(Setting::KeyKeywords, names);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"1", u"2", u"3"}));
    EXPECT_FALSE(store.boolValue(Setting::Beep)); // removed with the list; the page rewrites it
    std::vector<Keyword> loaded{Keyword()};
    store.loadKeywords(loaded); // appends
    ASSERT_EQ(loaded.size(), 4u);
    EXPECT_EQ(loaded[3], sampleKeywords(3)[2]);

    // An empty list stays the user's own: the key is kept, without keywords.
    store.saveKeywords({});
    EXPECT_TRUE(user.openKey(Keywords).has_value());
    names.clear();
    store.enumSubkeyNames(Setting::KeyKeywords, names);
    EXPECT_TRUE(names.empty());
}

TEST_F(SettingsStoreTest, savingKeywordsKeepsTheUsersSoundPatterns)
{
    store.setString(Setting::SoundFileExt, u"*.flac");
    store.saveKeywords(sampleKeywords(2));
    store.saveKeywords({});
    EXPECT_EQ(store.string(Setting::SoundFileExt), u"*.flac");
    std::vector<std::u16string> names;
    store.enumSubkeyNames(Setting::KeyKeywords, names);
    EXPECT_TRUE(names.empty());
}

TEST_F(SettingsStoreTest, loadOrdersNumbersNumericallyThenOtherNames)
{
    // "1a" sorts among the numbers in the hive but is not one.
    for (const char16_t* name : {u"10", u"zeta", u"2", u"1a", u"Alpha", u"1", u"9"}) {
        store.writeStringAt(Keywords + u"\\" + name, u"SearchString", name);
    }
    std::vector<Keyword> loaded;
    store.loadKeywords(loaded);
    std::vector<std::u16string> texts;
    for (const Keyword& k : loaded) {
        texts.push_back(k.text);
    }
    EXPECT_EQ(texts,
              (std::vector<std::u16string>{u"1", u"2", u"9", u"10", u"1a", u"Alpha", u"zeta"}));
}

using quilltest::readCalls;

// Loading must not read the hive once per value: ten thousand keywords took half a minute.
TEST_F(SettingsStoreTest, loadReadsTheHivesOnceHoweverManyKeywords)
{
    std::vector<Keyword> many;
    for (int i = 0; i < 500; ++i) {
        many.emplace_back(u"k" + quill::utf8ToUtf16(std::to_string(i)), 1, 2, true, false, true);
    }
    store.saveKeywords(many);
    std::vector<Keyword> loaded;
    const std::uint64_t before = readCalls();
    store.loadKeywords(loaded);
    const std::uint64_t calls = readCalls() - before;
    EXPECT_EQ(loaded, many);
    EXPECT_LT(calls, 100u);
}

TEST_F(SettingsStoreTest, keywordEntriesUseTheirDefaultsAndUserSubkeysOnly)
{
    store.writeDwordAt(Keywords + u"\\1", u"HighlightTextColor", 0xff);
    put(machine, Keywords + u"\\1", u"SearchString", RegType::Sz, sz(u"from machine"));
    put(machine, Keywords + u"\\2", u"SearchString", RegType::Sz, sz(u"machine only"));
    std::vector<Keyword> loaded;
    store.loadKeywords(loaded);
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0], Keyword(u"from machine", 0xff, 0, true, true, true));

    std::filesystem::remove(machinePath);
    loaded.clear();
    store.loadKeywords(loaded);
    EXPECT_EQ(loaded, (std::vector<Keyword>{Keyword(u"", 0xff, 0, true, true, true)}));
}

TEST_F(SettingsStoreTest, theMachineListHoldsUntilTheUserStoresOneEvenAnEmptyOne)
{
    put(machine, Keywords + u"\\1", u"SearchString", RegType::Sz, sz(u"error"));
    put(machine, Keywords + u"\\1", u"MatchCase", RegType::Dword, dword(0));
    put(machine, Keywords + u"\\2", u"SearchString", RegType::Sz, sz(u"warn"));
    put(machine, Keywords + u"\\2", u"HighlightBkColor", RegType::Dword, dword(0xffff));
    const std::vector<Keyword> shipped{Keyword(u"error", 0, 0, false, true, true),
                                       Keyword(u"warn", 0, 0xffff, true, true, true)};
    std::vector<Keyword> loaded;
    store.loadKeywords(loaded);
    EXPECT_EQ(loaded, shipped) << "a fresh user sees the machine's list";

    const std::vector<Keyword> own{Keyword(u"mine", 1, 2, true, false, true)};
    store.saveKeywords(own);
    loaded.clear();
    store.loadKeywords(loaded);
    EXPECT_EQ(loaded, own) << "the user's list replaces it, not added to it";

    store.saveKeywords({});
    loaded.clear();
    store.loadKeywords(loaded);
    EXPECT_TRUE(loaded.empty()) << "a list emptied by the user stays empty";
    EXPECT_TRUE(store.deleteUserTree(Keywords));
    store.loadKeywords(loaded);
    EXPECT_EQ(loaded, shipped) << "no list of the user's: the machine's again";
}

TEST_F(SettingsStoreTest, damagedHiveReadsDefaultsAndStillTakesWrites)
{
    std::filesystem::create_directories(std::filesystem::path(userPath).parent_path());
    writeFile(userPath, std::string("\0\0\xff\xfe garbage [HKEY_CURRENT_USER\n\"x\"=", 28));
    EXPECT_EQ(store.dword(Setting::LogLevel), 1u);
    store.setDword(Setting::LogLevel, 3);
    EXPECT_EQ(store.dword(Setting::LogLevel), 3u);
}

TEST_F(SettingsStoreTest, deleteUserTreeRemovesEverythingBelow)
{
    store.saveKeywords(sampleKeywords(2));
    store.setBool(Setting::PlaySound, true);
    store.setDword(Setting::LogLevel, 3);
    EXPECT_TRUE(store.deleteUserTree(Keywords));
    EXPECT_FALSE(user.openKey(Keywords).has_value());
    EXPECT_EQ(store.dword(Setting::LogLevel), 3u);
    EXPECT_FALSE(store.deleteUserTree(Keywords));
}

TEST(SettingsStoreLocation, followsXdgVariables)
{
    TempDir dir;
    {
        ScopedEnv home("HOME", dir.path());
        ScopedEnv config("XDG_CONFIG_HOME", "relative/ignored");
        ScopedEnv dirs("XDG_CONFIG_DIRS", "rel:" + dir.file("site") + ":/etc/xdg");
        EXPECT_EQ(SettingsStore::defaultUserHivePath(), dir.file(".config/quillstream/user.reg"));
        EXPECT_EQ(SettingsStore::defaultMachineHivePath(),
                  dir.file("site/quillstream/machine.reg"));
    }
    {
        // A desktop's folder before the one the package installs to: the first that
        // holds a hive is read.
        std::filesystem::create_directories(dir.file("system/quillstream"));
        writeFile(dir.file("system/quillstream/machine.reg"),
                  "Windows Registry Editor Version 5.00\n");
        ScopedEnv dirs("XDG_CONFIG_DIRS", dir.file("desktop") + ":rel:" + dir.file("system"));
        EXPECT_EQ(SettingsStore::defaultMachineHivePath(),
                  dir.file("system/quillstream/machine.reg"));
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", dir.file("cfg"));
        ScopedEnv dirs("XDG_CONFIG_DIRS", "");
        SettingsStore store;
        EXPECT_EQ(store.userHivePath(), dir.file("cfg/quillstream/user.reg"));
        EXPECT_EQ(store.machineHivePath(), "/etc/xdg/quillstream/machine.reg");

        SettingsStore::overrideInstance(&store);
        EXPECT_EQ(&SettingsStore::instance(), &store);
        SettingsStore::overrideInstance(nullptr);
        EXPECT_NE(&SettingsStore::instance(), &store);
    }
}

} // namespace
