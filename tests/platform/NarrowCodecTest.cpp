#include "platform/NarrowCodec.h"

#include <gtest/gtest.h>

using namespace quill;

namespace {

class NarrowCodecTest : public ::testing::Test {
protected:
    void TearDown() override { setNarrowCharsetForTesting("UTF-8"); }
};

struct Utf8Row {
    const char* name;
    std::string bytes;
    std::u16string text;
};

} // namespace

TEST_F(NarrowCodecTest, Utf8DecodesValidTextAndReplacesEachBadByte)
{
    setNarrowCharsetForTesting("UTF-8");
    const Utf8Row rows[] = {
        {"ascii longer than a word", "2026-12-07 ERROR disk full", u"2026-12-07 ERROR disk full"},
        {"two three and four bytes", "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", u"\u00E4\u20AC\U0001F600"},
        {"stray continuation", "a\x80" "b", u"a\uFFFDb"},
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"cut at the end", "ok\xE2\x82", u"ok\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"nul kept", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const Utf8Row& row : rows) {
        EXPECT_EQ(narrowToUtf16(row.bytes), row.text) << row.name;
    }
}

TEST_F(NarrowCodecTest, Utf8RoundTripAndLoneSurrogates)
{
    setNarrowCharsetForTesting("UTF-8");
    const std::u16string text = u"Fehler: Datei \u00FCber \U0001F4BE";
    EXPECT_EQ(narrowToUtf16(utf16ToNarrow(text)), text);
    EXPECT_EQ(utf16ToNarrow(std::u16string(1, char16_t(0xD800)) + u"x"), "?x");
}

TEST_F(NarrowCodecTest, PlainCLocaleIsTreatedAsUtf8)
{
    setNarrowCharsetForTesting("ANSI_X3.4-1968");
    EXPECT_TRUE(narrowCharset().isUtf8);
    EXPECT_EQ(narrowCharset().codePage, 65001u);
    EXPECT_EQ(narrowToUtf16("\xC3\xA4"), u"\u00E4");
}

TEST_F(NarrowCodecTest, Latin1ThroughIconv)
{
    setNarrowCharsetForTesting("ISO-8859-1");
    EXPECT_FALSE(narrowCharset().isUtf8);
    EXPECT_EQ(narrowCharset().codePage, 28591u);
    EXPECT_EQ(narrowToUtf16("gr\xFC\xDF"), u"gr\u00FC\u00DF");
    EXPECT_EQ(utf16ToNarrow(u"gr\u00FC\u00DF \u20AC"), "gr\xFC\xDF ?");
}

TEST_F(NarrowCodecTest, IconvReplacesInvalidBytesAndGoesOn)
{
    setNarrowCharsetForTesting("SHIFT_JIS");
    EXPECT_EQ(narrowCharset().codePage, 932u);
    const std::u16string text = narrowToUtf16("a\x82\xA0" "b\xFF" "c");
    EXPECT_EQ(text.front(), u'a');
    EXPECT_EQ(text.back(), u'c');
    EXPECT_NE(text.find(u'\uFFFD'), std::u16string::npos);
}

TEST(WindowsCodePage, NamesInAnySpelling)
{
    EXPECT_EQ(windowsCodePageFor("utf8"), 65001u);
    EXPECT_EQ(windowsCodePageFor("CP1252"), 1252u);
    EXPECT_EQ(windowsCodePageFor("iso-8859-15"), 28605u);
    EXPECT_EQ(windowsCodePageFor("EBCDIC-XYZ"), 0u);
}
