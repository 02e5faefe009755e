// The keyword list an installation ships (packaging/machine.reg) read as the machine hive
// of a user without settings: the demo log's levels come out coloured at the first start,
// errors, fatal and critical lines red, warnings yellow, other lines as they were; the list
// ignores case and wants whole words.

#include "engine/KeywordMatcher.h"
#include "settings/SettingsStore.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

constexpr ColorRef Red = 0x000000C0;
constexpr ColorRef Yellow = 0x0000FFFF;
constexpr ColorRef None = 0x12345678; // what a line without a keyword keeps

ColorRef backgroundOf(const std::vector<Keyword>& keywords, std::u16string_view line)
{
    ColorRef text = None;
    ColorRef background = None;
    bool matched = false;
    keywordColors(keywords, line, text, background, matched);
    return matched ? background : None;
}

std::u16string wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

} // namespace

TEST(DefaultKeywordsTest, TheShippedListColoursTheDemoLogAtTheFirstStart)
{
    quilltest::TempDir dir;
    SettingsStore store(dir.file("user.reg"), QUILL_SOURCE_DIR "/packaging/machine.reg");
    std::vector<Keyword> keywords;
    store.loadKeywords(keywords);
    ASSERT_FALSE(keywords.empty());
    for (const Keyword& keyword : keywords) {
        EXPECT_FALSE(keyword.matchCase);
        EXPECT_TRUE(keyword.matchWord);
        EXPECT_TRUE(keyword.enabled);
        EXPECT_FALSE(keyword.matchOnly);
    }

    // Every level the demo writes, in its format; a level added there must be decided here.
    std::ifstream script(QUILL_SOURCE_DIR "/scripts/demo-log");
    std::stringstream text;
    text << script.rdbuf();
    const std::string source = text.str();
    std::set<std::string> levels;
    const std::regex level("level=([A-Z]+)");
    for (auto it = std::sregex_iterator(source.begin(), source.end(), level);
         it != std::sregex_iterator(); ++it) {
        levels.insert((*it)[1]);
    }
    EXPECT_EQ(levels, (std::set<std::string>{"DEBUG", "ERROR", "INFO", "WARN"}));
    const std::map<std::string, ColorRef> wanted{
        {"ERROR", Red}, {"WARN", Yellow}, {"INFO", None}, {"DEBUG", None}};
    for (const std::string& name : levels) {
        char line[200];
        std::snprintf(line, sizeof line, "2026-12-10 05:00:00.123 %-5s [orders] retrying request",
                      name.c_str());
        EXPECT_EQ(backgroundOf(keywords, wide(line)), wanted.at(name)) << line;
    }

    struct Case {
        const char* line;
        ColorRef background;
    };
    for (const Case& c : {Case{"Fatal: out of memory", Red}, Case{"CRITICAL disk full", Red},
                          Case{"an error occurred", Red}, Case{"Warning: low disk", Yellow},
                          Case{"errors=0 warnings=0", None}, Case{"terror of the deep", None},
                          Case{"warned once", None}, Case{"criticality 3", None}}) {
        EXPECT_EQ(backgroundOf(keywords, wide(c.line)), c.background) << c.line;
    }
}
