// Which keyword colours a line, and the alert the paint sounds.

#include "EngineTestSupport.h"

#include "engine/KeywordMatcher.h"

#include <gtest/gtest.h>

using namespace quilltest;

namespace {

Keyword keyword(const char16_t* text, bool matchCase, bool matchWord, bool enabled = true,
                ColorRef color = 0x0000FF)
{
    return Keyword(text, color, 0x00FFFF, matchCase, matchWord, enabled);
}

} // namespace

TEST(KeywordMatcher, MatchingRows)
{
    struct Row {
        Keyword keyword;
        const char16_t* line;
        bool matches;
    };
    const Row rows[] = {
        {keyword(u"error", false, false), u"an ERROR here", true},
        {keyword(u"error", false, false), u"Error:", true},
        {keyword(u"error", true, false), u"ERROR", false},
        {keyword(u"error", true, false), u"error", true},
        {keyword(u"err", false, true), u"err: disk", true},
        {keyword(u"err", false, true), u"disk/err", true},
        {keyword(u"err", false, true), u"err", true},
        {keyword(u"err", false, true), u"error", false},
        {keyword(u"err", false, true), u"kerr", false},
        {keyword(u"err", false, true), u"errno err", false}, // only the first occurrence counts
        {keyword(u"\u00E9t\u00E9", false, false), u"\u00C9T\u00C9", false}, // beyond a-z: exact
        {keyword(u"\u00E9t\u00E9", false, false), u"l'\u00E9t\u00E9", true},
        {keyword(u"", false, false), u"anything", true},
        {keyword(u"", false, true), u"anything", false},
        {keyword(u"", false, true), u" starts with a blank", true},
        {keyword(u"", false, true), u"", true},
        {keyword(u"error", false, false, false), u"error", false}, // disabled
        // Case folding at both ends of the alphabet, and just outside it.
        {keyword(u"lazy", false, false), u"THE LAZY DOG", true},
        {keyword(u"LAZY", false, false), u"the lazy dog", true},
        {keyword(u"a", false, false), u"A", true},
        {keyword(u"A", false, false), u"a", true},
        {keyword(u"z", false, false), u"Z", true},
        {keyword(u"Z", false, false), u"z", true},
        {keyword(u"lazy", true, false), u"LAZY", false},
        {keyword(u"@", false, false), u"`", false},
        {keyword(u"[", false, false), u"{", false},
        {keyword(u"{", false, false), u"[", false},
    };
    for (const Row& row : rows) {
        const std::vector<Keyword> list{row.keyword};
        EXPECT_EQ(findKeyword(list, row.line) != nullptr, row.matches)
            << std::string(row.line, row.line + std::char_traits<char16_t>::length(row.line));
    }
}

TEST(KeywordMatcher, TheFirstEnabledMatchInListOrderColoursTheLine)
{
    const std::vector<Keyword> list{keyword(u"disk", false, false, false, 0x111111),
                                    keyword(u"warn", false, false, true, 0x222222),
                                    keyword(u"disk", false, false, true, 0x333333)};
    ColorRef text = 7;
    ColorRef back = 8;
    bool matched = false;
    keywordColors(list, u"disk full, warn", text, back, matched);
    EXPECT_TRUE(matched);
    EXPECT_EQ(text, 0x222222u);
    EXPECT_EQ(back, 0x00FFFFu);

    text = 7;
    back = 8;
    matched = false;
    keywordColors(list, u"nothing", text, back, matched);
    EXPECT_FALSE(matched);
    EXPECT_EQ(text, 7u);
    EXPECT_EQ(back, 8u);
}

TEST(KeywordMatcher, WordDelimiters)
{
    for (char16_t c = 0; c < 0x80; ++c) {
        const bool expected = c == u'\t' || c == u' ' || c == u',' || c == u';' || c == u':' ||
                              c == u'\\' || c == u'/' || c == u'.';
        EXPECT_EQ(isWordDelimiter(c), expected) << int(c);
    }
}

class AlertRuleTest : public ::testing::Test {
  protected:
    void setAlerts(bool play, bool beep)
    {
        settings.store.setBool(Setting::PlaySound, play);
        settings.store.setBool(Setting::Beep, beep);
        settings.store.setString(Setting::Sound, u"/sounds/ding.wav");
    }
    TestSettings settings;
    FakeSound sound;
    AlertRule alert{sound, settings.store};
};

TEST_F(AlertRuleTest, OneSoundThenOneBeepPerPaintHoweverManyLinesMatch)
{
    setAlerts(true, true);
    alert.beginPaint(true);
    alert.lineDrawn(false);
    alert.lineDrawn(true);
    alert.lineDrawn(true);
    alert.lineDrawn(true);
    // Nothing sounds while the paint still holds the document lock.
    EXPECT_TRUE(sound.events.empty());
    alert.soundDue();
    alert.soundDue();
    EXPECT_EQ(sound.events, (std::vector<std::u16string>{u"play:/sounds/ding.wav", u"beep"}));
    EXPECT_TRUE(alert.newTextWasArrived());
}

TEST_F(AlertRuleTest, NothingWithoutNewTextOrWithoutAMatch)
{
    setAlerts(true, true);
    alert.beginPaint(false);
    alert.lineDrawn(true);
    alert.soundDue();
    EXPECT_TRUE(sound.events.empty());
    EXPECT_FALSE(alert.newTextWasArrived());

    alert.beginPaint(true);
    alert.lineDrawn(false);
    alert.soundDue();
    EXPECT_TRUE(sound.events.empty());
    EXPECT_TRUE(alert.newTextWasArrived()); // the paint clears the flag all the same
}

TEST_F(AlertRuleTest, OnlyTheSwitchedOnAlertsSound)
{
    setAlerts(false, true);
    alert.beginPaint(true);
    alert.lineDrawn(true);
    alert.soundDue();
    EXPECT_EQ(sound.events, std::vector<std::u16string>{u"beep"});
    sound.events.clear();
    setAlerts(true, false);
    alert.beginPaint(true); // re-arms from the settings of this paint
    alert.lineDrawn(true);
    alert.soundDue();
    EXPECT_EQ(sound.events, std::vector<std::u16string>{u"play:/sounds/ding.wav"});
}
