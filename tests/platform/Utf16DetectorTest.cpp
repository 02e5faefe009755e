// The UTF-16 test on the first bytes of a file.

#include "platform/Utf16Detector.h"

#include <gtest/gtest.h>

#include <string>

using namespace quill;

namespace {

std::string le(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    return out;
}

} // namespace

TEST(Utf16Detector, Rows)
{
    struct Row {
        const char* name;
        std::string bytes;
        int result;
        std::uint32_t passed;
    };
    const Row rows[] = {
        {"ASCII as UTF-16 with CR LF", le(u"hello world\r\n"), 1,
         IS_TEXT_UNICODE_ASCII16 | IS_TEXT_UNICODE_STATISTICS | IS_TEXT_UNICODE_CONTROLS},
        {"byte-order mark", "\xFF\xFE" + le(u"\u4E2D\u6587\u4E2D"), 1, IS_TEXT_UNICODE_SIGNATURE},
        {"German text", le(u"Gr\u00FC\u00DFe"), 1, IS_TEXT_UNICODE_STATISTICS},
        {"Chinese text with a blank", le(u"\u4E2D\u6587 \u4E2D\u6587\u4E2D\u6587"), 1,
         IS_TEXT_UNICODE_CONTROLS},
        {"Chinese text with ideographic spaces",
         le(u"\u4E2D\u6587\u3000\u4E2D\u6587\u3000\u4E2D\u6587"), 1, IS_TEXT_UNICODE_CONTROLS},
        {"narrow ASCII", "hello world, this is a log line\r\n", 0, 0},
        {"narrow UTF-8",
         "gr\xC3\xBC\xC3\x9F"
         "e aus K\xC3\xB6ln\n",
         0, 0},
        {"one byte", "a", 0, 0},
        {"empty", "", 0, 0},
        {"zero units are no evidence", std::string(4096, '\0') + "narrow line after them\n", 0, 0},
        {"only zero units", std::string(64, '\0'), 0, 0},
        {"zero units beside ASCII as UTF-16", std::string(6, '\0') + le(u"abc"), 1,
         IS_TEXT_UNICODE_ASCII16 | IS_TEXT_UNICODE_STATISTICS},
        {"odd trailing byte ignored", le(u"ab\r\n") + "x", 1,
         IS_TEXT_UNICODE_ASCII16 | IS_TEXT_UNICODE_STATISTICS | IS_TEXT_UNICODE_CONTROLS},
    };
    for (const Row& row : rows) {
        std::uint32_t tests = IS_TEXT_UNICODE_UNICODE_MASK;
        EXPECT_EQ(IsTextUnicode(row.bytes.data(), row.bytes.size(), &tests), row.result)
            << row.name;
        EXPECT_EQ(tests, row.passed) << row.name;
    }
}

TEST(Utf16Detector, OnlyTheRequestedTestsAreMade)
{
    const std::string bytes = le(u"hello\r\n");
    std::uint32_t tests = IS_TEXT_UNICODE_SIGNATURE;
    EXPECT_EQ(IsTextUnicode(bytes.data(), bytes.size(), &tests), 0);
    EXPECT_EQ(tests, 0u);
    tests = IS_TEXT_UNICODE_CONTROLS;
    EXPECT_EQ(IsTextUnicode(bytes.data(), bytes.size(), &tests), 1);
    EXPECT_EQ(tests, IS_TEXT_UNICODE_CONTROLS);
    EXPECT_EQ(IsTextUnicode(bytes.data(), bytes.size(), nullptr), 1);
}
