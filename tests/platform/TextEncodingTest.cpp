// The single-byte sets against iconv, byte by byte: what glibc's converter makes of a byte
// is what the table says (a byte it refuses is U+FFFD).

#include "platform/TextEncoding.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <string>

namespace {

// One byte through iconv(3) to UTF-16LE; U+FFFD when it is refused.
char16_t iconvByte(const char* set, unsigned char byte)
{
    iconv_t cd = iconv_open("UTF-16LE", set);
    EXPECT_NE(cd, iconv_t(-1)) << set;
    char in = char(byte);
    char out[8] = {};
    char* inp = &in;
    char* outp = out;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    const std::size_t rc = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (rc == std::size_t(-1) || outLeft != sizeof out - 2) {
        return 0xFFFD;
    }
    return char16_t(static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8));
}

} // namespace

TEST(TextEncoding, SingleByteSetsEqualIconv)
{
    const struct {
        quill::TextEncoding encoding;
        const char* iconvName;
    } sets[] = {{quill::TextEncoding::Latin1, "ISO-8859-1"},
                {quill::TextEncoding::Latin9, "ISO-8859-15"},
                {quill::TextEncoding::Windows1252, "CP1252"}};
    for (const auto& set : sets) {
        std::string all;
        std::u16string want;
        for (int b = 0; b < 256; ++b) {
            all += char(b);
            want += iconvByte(set.iconvName, static_cast<unsigned char>(b));
        }
        std::u16string got = u"kept|";
        quill::appendBytesAsUtf16(all, set.encoding, got);
        EXPECT_EQ(got, u"kept|" + want) << set.iconvName;
    }
}

TEST(TextEncoding, NamesAndStoredNumbers)
{
    EXPECT_EQ(quill::encodingName(quill::TextEncoding::Utf16Be), "UTF-16 BE");
    EXPECT_EQ(quill::encodingName(quill::TextEncoding::Windows1252), "Windows-1252");
    EXPECT_EQ(quill::encodingName(quill::TextEncoding::Automatic), "");
    for (std::uint32_t n = 0; n < std::uint32_t(quill::TextEncodingCount); ++n) {
        EXPECT_EQ(std::uint32_t(*quill::encodingFromNumber(n)), n);
    }
    EXPECT_FALSE(quill::encodingFromNumber(std::uint32_t(quill::TextEncodingCount)).has_value());
    EXPECT_EQ(quill::singleByteTable(quill::TextEncoding::Utf8), nullptr);
    std::u16string out;
    quill::appendBytesAsUtf16("\xC3\xA9\xFF", quill::TextEncoding::Utf8, out);
    EXPECT_EQ(out, u"\u00E9\uFFFD");
}
