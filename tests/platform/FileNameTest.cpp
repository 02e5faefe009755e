#include "platform/FileName.h"

#include "support/TempDir.h"
#include "support/Utf8Model.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

using namespace quill;

namespace {

// An independent model of the escaped form: at each position the shortest byte run that is
// exactly the UTF-8 encoding of a Unicode scalar value is one character; when none is, the
// byte is escaped. "Exactly the encoding" is checked by encoding the decoded value again,
// which rules out overlong forms without a table of lead bytes.
std::string encodeUtf8(char32_t c)
{
    return utf8Of(c);
}

std::u16string modelToUtf16(const std::string& bytes)
{
    std::u16string out;
    std::size_t i = 0;
    while (i < bytes.size()) {
        bool matched = false;
        for (std::size_t len = 1; len <= 4 && i + len <= bytes.size() && !matched; ++len) {
            const auto lead = static_cast<unsigned char>(bytes[i]);
            char32_t cp = len == 1 ? lead : lead & (0x7F >> len);
            for (std::size_t k = 1; k < len; ++k) {
                cp = (cp << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
            }
            const bool scalar = cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
            if (scalar && encodeUtf8(cp) == bytes.substr(i, len)) {
                if (cp >= 0x10000) {
                    out += char16_t(0xD800 + ((cp - 0x10000) >> 10));
                    out += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
                } else {
                    out += char16_t(cp);
                }
                i += len;
                matched = true;
            }
        }
        if (!matched) {
            out += char16_t(0xDC00 + static_cast<unsigned char>(bytes[i]));
            ++i;
        }
    }
    return out;
}

struct NameRow {
    const char* name;
    std::string bytes;
    std::u16string text;
};

} // namespace

TEST(FileNameTest, EscapesExactlyTheBytesThatAreNotUtf8AtEachBoundary)
{
    const NameRow rows[] = {
        {"plain path", "/var/log/syslog", u"/var/log/syslog"},
        {"lowest continuation byte", "a\x80", u"a\xDC80"},
        {"highest continuation byte", "\xBF", u"\xDCBF"},
        {"overlong two-byte leads", "\xC0\x80\xC1\xBF", u"\xDCC0\xDC80\xDCC1\xDCBF"},
        {"lowest two-byte sequence", "\xC2\x80", u"\u0080"},
        {"overlong three-byte", "\xE0\x9F\xBF", u"\xDCE0\xDC9F\xDCBF"},
        {"encoded surrogate", "\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
        {"around the surrogates", "\xED\x9F\xBF\xEE\x80\x80", u"\uD7FF\uE000"},
        {"overlong four-byte", "\xF0\x8F\xBF\xBF", u"\xDCF0\xDC8F\xDCBF\xDCBF"},
        {"highest code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
        {"bytes that never lead", "\xF5\xFF", u"\xDCF5\xDCFF"},
        {"truncated at the end", "x\xE2\x82", u"x\xDCE2\xDC82"},
        {"truncated four-byte at the end", "\xF0\x9F\x98", u"\xDCF0\xDC9F\xDC98"},
        {"truncated before text", "\xE2\x82!", u"\xDCE2\xDC82!"},
        {"escape then a character", "\xFF\xC3\xA4\xF0\x9F\x98\x80", u"\xDCFF\u00E4\U0001F600"},
    };
    for (const NameRow& row : rows) {
        EXPECT_EQ(fileNameToUtf16(row.bytes), row.text) << row.name;
        EXPECT_EQ(fileNameToBytes(row.text), row.bytes) << row.name;
    }
}

TEST(FileNameTest, EveryByteSequenceRoundTripsAndMatchesTheModel)
{
    // Bytes near every boundary of the encoding are drawn more often than the rest.
    static const unsigned char edges[] = {0x00, 0x2F, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F,
                                          0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xED,
                                          0xEE, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> length(0, 12);
    std::uniform_int_distribution<int> kind(0, 2);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<std::size_t> edge(0, sizeof edges - 1);
    std::uniform_int_distribution<std::uint32_t> codePoint(0x80, 0x10FFFF);
    for (int round = 0; round < 50000; ++round) {
        std::string bytes;
        for (int n = length(random); n > 0; --n) {
            switch (kind(random)) {
            case 0:
                bytes += char(anyByte(random));
                break;
            case 1:
                bytes += char(edges[edge(random)]);
                break;
            default: {
                const char32_t cp = codePoint(random);
                if (cp < 0xD800 || cp > 0xDFFF) {
                    bytes += encodeUtf8(cp);
                }
            }
            }
        }
        const std::u16string text = fileNameToUtf16(bytes);
        ASSERT_EQ(text, modelToUtf16(bytes)) << testing::PrintToString(bytes);
        ASSERT_EQ(fileNameToBytes(text), bytes) << testing::PrintToString(bytes);
    }
}

TEST(FileNameTest, DisplayShowsEveryLoneSurrogateAsTheReplacementCharacter)
{
    EXPECT_EQ(fileNameForDisplay(u"/tmp/a\xDCFF\xDC80.log"), u"/tmp/a\uFFFD\uFFFD.log");
    EXPECT_EQ(fileNameForDisplay(u"\U0001F600\xD800"), u"\U0001F600\uFFFD");
    // A lone surrogate that is not an escape still gives bytes, as UTF-8 would spell it.
    EXPECT_EQ(fileNameToBytes(u"\xD800"), "\xED\xA0\x80");
}

TEST(FileNameTest, AbsoluteNameIsBuiltFromBytesEvenInAFolderThatIsNotUtf8)
{
    EXPECT_EQ(absoluteFileName("/a/./b//c/"), "/a/b/c");
    EXPECT_EQ(absoluteFileName("/a/../../b"), "/b");
    EXPECT_EQ(absoluteFileName("/.."), "/");
    EXPECT_EQ(absoluteFileName(""), "");

    quilltest::TempDir dir;
    const std::string folder = dir.file("f\xFF\xC0");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    quilltest::writeFile(folder + "/x\xE9.log", "line\n");
    std::string before(4096, '\0');
    ASSERT_NE(::getcwd(before.data(), before.size()), nullptr);
    ASSERT_EQ(::chdir(folder.c_str()), 0);
    // The folder as the kernel names it (the temporary folder may lie behind a link).
    std::string current(4096, '\0');
    const bool gotCurrent = ::getcwd(current.data(), current.size()) != nullptr;
    const std::string absolute = absoluteFileName("./x\xE9.log");
    ASSERT_EQ(::chdir(before.c_str()), 0);
    ASSERT_TRUE(gotCurrent);
    EXPECT_EQ(absolute, std::string(current.c_str()) + "/x\xE9.log");
    EXPECT_TRUE(absolute.ends_with("/f\xFF\xC0/x\xE9.log")) << absolute;

    EXPECT_EQ(folderEntryNames(folder), std::vector<std::string>{"x\xE9.log"});
    EXPECT_TRUE(folderEntryNames(dir.file("missing")).empty());
}
