// The UTF-16 test on a file's first bytes, over a large random space of hostile narrow text
// (logs and command output with zero bytes anywhere) and of real UTF-16 text in both byte
// orders. What each sample is comes from its generator, never from the code under test.

#include "platform/Utf16Detector.h"
#include "support/Utf8Model.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace quill;

namespace {

// Code points to UTF-8 and to UTF-16 of either order, written here.
std::string utf8(const std::u32string& text)
{
    return utf8Of(text);
}

std::string utf16(const std::u32string& text, bool bigEndian)
{
    std::string out;
    auto unit = [&](unsigned u) {
        const char high = char(u >> 8);
        const char low = char(u & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    };
    for (char32_t c : text) {
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(unsigned(c));
        }
    }
    return out;
}

enum class Script {
    Ascii,
    Latin,
    Cyrillic,
    Greek,
    Cjk,
    Japanese,
    Hangul,
    Emoji,
    Devanagari,
    Mixed
};
constexpr int ScriptCount = 10;

char32_t letter(std::mt19937& rng, Script script)
{
    switch (script) {
    case Script::Ascii:
        return char32_t(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.:-/"[rng() % 67]);
    case Script::Latin: {
        static const char32_t accents[] = {0xE9, 0xE8, 0xFC, 0xF6, 0xDF, 0xE7, 0x142, 0x10D, 0x161};
        return rng() % 4 == 0 ? accents[rng() % 9] : char32_t('a' + rng() % 26);
    }
    case Script::Cyrillic:
        return char32_t(0x410 + rng() % 64);
    case Script::Greek:
        return char32_t(0x3B1 + rng() % 25);
    case Script::Cjk:
        return rng() % 10 == 0 ? char32_t(0x3001 + rng() % 2) : char32_t(0x4E00 + rng() % 0x5200);
    case Script::Japanese:
        return rng() % 2 ? char32_t(0x3041 + rng() % 86) : char32_t(0x30A1 + rng() % 90);
    case Script::Hangul:
        return char32_t(0xAC00 + rng() % 11172);
    case Script::Emoji:
        return char32_t(0x1F600 + rng() % 80);
    case Script::Devanagari: // letters and vowel signs
        return rng() % 3 == 0 ? char32_t(0x93E + rng() % 15) : char32_t(0x915 + rng() % 37);
    case Script::Mixed:
        break;
    }
    return letter(rng, Script(rng() % (ScriptCount - 1)));
}

// Log lines: sometimes a time stamp and ASCII words first, then words of the script.
std::u32string randomLines(std::mt19937& rng, Script script, std::size_t minLetters,
                           std::size_t maxBytes)
{
    std::u32string text;
    std::size_t letters = 0;
    while (letters < minLetters || (text.size() * 2 < maxBytes && rng() % 8 != 0)) {
        if (rng() % 3 == 0) {
            text += U"2026-12-10 01:" + std::u32string(1, char32_t('0' + rng() % 6)) + U"7:12 ";
        }
        for (unsigned w = 1 + rng() % 9; w > 0; --w) {
            for (unsigned k = 1 + rng() % 8; k > 0; --k) {
                text += letter(rng, script);
                ++letters;
            }
            text += rng() % 7 == 0 ? U"\t" : U" ";
        }
        text += rng() % 5 == 0 ? U"\r\n" : U"\n";
    }
    return text;
}

// Zero bytes as crashes, rotations and commands leave them.
std::string padding(std::mt19937& rng)
{
    switch (rng() % 6) {
    case 0:
        return std::string(1, '\0');
    case 1:
        return std::string("\n\0", 2);
    case 2:
        return std::string(" \0", 2);
    case 3:
        return std::string("\t\0", 2);
    case 4: {
        static const char* items[] = {"\n", " ", "\t"};
        std::string run;
        for (unsigned k = 2 + rng() % 40; k > 0; --k) {
            run += items[rng() % 3];
            run += '\0';
        }
        return run;
    }
    default:
        return std::string(2 + rng() % (rng() % 2 ? 9 : 700), '\0');
    }
}

// Narrow text with padding put in at random places: the start, the end, the middle, at odd
// and even offsets, in the middle of a UTF-8 character too. At most one place in 16 bytes.
std::string paddedNarrow(std::mt19937& rng, const std::string& text)
{
    std::string bytes = text;
    const std::size_t places = 1 + rng() % std::max<std::size_t>(1, text.size() / 16);
    for (std::size_t k = 0; k < places; ++k) {
        std::size_t at = 0;
        switch (rng() % 4) {
        case 0:
            at = 0;
            break;
        case 1:
            at = bytes.size();
            break;
        default:
            at = rng() % (bytes.size() + 1);
        }
        if (rng() % 2 == 0 && at % 2 != 0 && at > 0) {
            --at; // an even offset, as aligned padding would be
        }
        bytes.insert(at, padding(rng));
    }
    return bytes;
}

// Names or variables separated by zero bytes, as find -print0 or /proc/*/environ write them.
std::string zeroSeparated(std::mt19937& rng, Script script)
{
    std::string out;
    for (unsigned n = 1 + rng() % 300; n > 0; --n) {
        std::u32string name = U"/var/log/";
        for (unsigned k = 1 + rng() % 30; k > 0; --k) {
            name += letter(rng, script);
        }
        if (rng() % 10 == 0) {
            name += U"\n"; // a name with a line feed in it
        }
        out += utf8(name) + std::string(1, '\0');
    }
    return out;
}

const char* guessName(Utf16Guess guess)
{
    return guess == Utf16Guess::Narrow         ? "narrow"
           : guess == Utf16Guess::LittleEndian ? "UTF-16 LE"
                                               : "UTF-16 BE";
}

std::string printable(const std::string& bytes)
{
    std::string out;
    for (std::size_t i = 0; i < std::min<std::size_t>(bytes.size(), 160); ++i) {
        const auto b = std::uint8_t(bytes[i]);
        if (b >= 0x20 && b < 0x7F) {
            out += char(b);
        } else {
            static const char hex[] = "0123456789ABCDEF";
            out += std::string("\\x") + hex[b >> 4] + hex[b & 15];
        }
    }
    return out;
}

} // namespace

// The faults users met: a 41-line ASCII log with one "\n\0", " \0" or "\t\0" at an even
// offset within its first 8 KB was taken for 2 lines of CJK.
TEST(Utf16Detector, ALogWithCrashPaddingStaysNarrow)
{
    std::string log;
    for (int i = 0; i < 41; ++i) {
        log += "2026-12-09 23:1" + std::to_string(i % 10) + ":04 worker " + std::to_string(i) +
               " finished the job in " + std::to_string(i * 7) + " ms\n";
    }
    for (const char* pad : {"\n", " ", "\t"}) {
        for (std::size_t at : {std::size_t(0), std::size_t(48), log.size() / 2 & ~std::size_t(1),
                               log.size() & ~std::size_t(1)}) {
            std::string bytes = log;
            bytes.insert(at, std::string(pad) + '\0');
            EXPECT_EQ(guessUtf16(bytes.data(), bytes.size()), Utf16Guess::Narrow)
                << "after byte " << at << ": " << printable(bytes);
        }
    }
    const std::string output = std::string("first\0second\0third\n\0", 20) + log;
    EXPECT_EQ(guessUtf16(output.data(), output.size()), Utf16Guess::Narrow);
}

TEST(Utf16Detector, NarrowTextWithZeroBytesAnywhereIsNeverUtf16)
{
    std::mt19937 rng(20261210);
    for (int round = 0; round < 8000; ++round) {
        const Script script = Script(rng() % ScriptCount);
        std::string bytes;
        if (round % 5 == 4) {
            bytes = zeroSeparated(rng, script);
        } else {
            const std::size_t maxBytes = rng() % 3 == 0 ? 200 : 20000;
            bytes = paddedNarrow(rng, utf8(randomLines(rng, script, 1 + rng() % 10, maxBytes)));
        }
        const Utf16Guess guess = guessUtf16(bytes.data(), bytes.size());
        ASSERT_EQ(guess, Utf16Guess::Narrow)
            << "round " << round << " script " << int(script) << ": " << guessName(guess) << " for "
            << printable(bytes);
    }
}

TEST(Utf16Detector, RealUtf16TextIsRecognisedInEitherByteOrder)
{
    std::mt19937 rng(7919);
    for (int round = 0; round < 6000; ++round) {
        const Script script = Script(rng() % ScriptCount);
        const bool bigEndian = rng() % 2 != 0;
        const bool shortText = rng() % 3 == 0;
        // Short: a few lines holding 16 letters (6 in Latin script); long: up to 12 KB.
        const bool latin = script == Script::Ascii || script == Script::Latin;
        std::u32string text =
            randomLines(rng, script, latin ? 6 : 16, shortText ? 0 : 1 + rng() % 12000);
        if (rng() % 4 == 0) {
            // Zero units where a rotation left them: before the text, or inside it.
            const std::size_t at = rng() % 2 ? 0 : rng() % (text.size() + 1);
            text.insert(at, std::u32string(1 + rng() % 300, U'\0'));
        }
        const std::string bytes = utf16(text, bigEndian);
        const Utf16Guess guess = guessUtf16(bytes.data(), bytes.size());
        ASSERT_EQ(guess, bigEndian ? Utf16Guess::BigEndian : Utf16Guess::LittleEndian)
            << "round " << round << " script " << int(script) << " " << guessName(guess) << " for "
            << printable(bytes);
    }
}

TEST(Utf16Detector, Boundaries)
{
    struct Row {
        const char* name;
        std::string bytes;
        Utf16Guess guess;
    };
    const auto le = [](const std::u32string& text) { return utf16(text, false); };
    const auto be = [](const std::u32string& text) { return utf16(text, true); };
    const Row rows[] = {
        {"empty", "", Utf16Guess::Narrow},
        {"one byte", "a", Utf16Guess::Narrow},
        {"six letters and a line feed", le(U"abcdef\n"), Utf16Guess::LittleEndian},
        {"five letters are too few", le(U"ab cde\n"), Utf16Guess::Narrow},
        {"no line feed unit", le(U"hello world, no line end"), Utf16Guess::Narrow},
        {"big-endian Latin", be(U"hello world\n"), Utf16Guess::BigEndian},
        {"a trailing odd byte is ignored", le(U"hello world\n") + "x", Utf16Guess::LittleEndian},
        {"a surrogate pair cut at the end",
         le(U"\u0410\u0411\u0412\u0413\u0414\u0415\n") + "\x3D\xD8", Utf16Guess::LittleEndian},
        {"zero units are no evidence", std::string(4096, '\0') + "narrow line after them\n",
         Utf16Guess::Narrow},
        {"only zero units", std::string(64, '\0'), Utf16Guess::Narrow},
        {"zero units before Latin UTF-16", std::string(6, '\0') + le(U"abcdef\n"),
         Utf16Guess::LittleEndian},
        // One unit no text holds in 64 is allowed, two are not.
        {"one stray unit in 64",
         le(std::u32string(62, U'\u0439') + U"\n" + std::u32string(1, U'\uE000')),
         Utf16Guess::LittleEndian},
        {"two stray units in 64",
         le(std::u32string(61, U'\u0439') + U"\n" + std::u32string(2, U'\uE000')),
         Utf16Guess::Narrow},
        {"a lone low surrogate is stray",
         le(std::u32string(20, U'\u0439') + U"\n" + std::u32string(1, char32_t(0xDC00))),
         Utf16Guess::Narrow},
        // Text whose wide units read as two ASCII characters each (U+6261 is "ab"): a quarter
        // of it in Latin letters is Latin enough, less is not.
        {"a quarter Latin", le(U"abc" + std::u32string(9, U'\u6261') + U"\n"),
         Utf16Guess::LittleEndian},
        {"less than a quarter Latin", le(U"ab" + std::u32string(9, U'\u6261') + U"\n"),
         Utf16Guess::Narrow},
        // Wide units of which three in four read as two ASCII characters are still CJK when
        // the rest break narrow text (U+4E80 is the bytes 80 4E); more than that are not.
        {"three in four wide units look like ASCII pairs",
         le(std::u32string(12, U'\u4E2D') + std::u32string(4, U'\u4E80') + U"\n"),
         Utf16Guess::LittleEndian},
        {"thirteen in sixteen wide units look like ASCII pairs",
         le(std::u32string(13, U'\u4E2D') + std::u32string(3, U'\u4E80') + U"\n"),
         Utf16Guess::Narrow},
        // Narrow text must break once per eight wide units: U+A9C3 reads as the UTF-8 of
        // "\u00E9", U+4E80 breaks it.
        {"two faults in sixteen wide units",
         le(std::u32string(7, U'\uA9C3') + U"\u4E80" + std::u32string(7, U'\uA9C3') + U"\u4E80\n"),
         Utf16Guess::LittleEndian},
        {"two faults in seventeen wide units",
         le(std::u32string(8, U'\uA9C3') + U"\u4E80" + std::u32string(7, U'\uA9C3') + U"\u4E80\n"),
         Utf16Guess::Narrow},
        {"one fault is not enough", le(U"\u4E80" + std::u32string(6, U'\uA9C3') + U"\n"),
         Utf16Guess::Narrow},
        // A lead byte followed by ASCII breaks UTF-8 (U+4EC3 is the bytes C3 4E).
        // Units of one block below U+1000 read as ASCII with a control byte between: three in
        // four of sixteen such units are one script (U+0924 is the bytes 24 09, "$\t").
        {"twelve of sixteen units in one block",
         le(std::u32string(12, U'\u0924') + std::u32string(4, U'\u6261') + U"\n"),
         Utf16Guess::LittleEndian},
        {"eleven of sixteen units in one block",
         le(std::u32string(11, U'\u0924') + std::u32string(5, U'\u6261') + U"\n"),
         Utf16Guess::Narrow},
        {"fifteen units in one block are too few", le(std::u32string(15, U'\u0924') + U"\n"),
         Utf16Guess::Narrow},
        {"lines of one character",
         [] {
             std::string yes;
             for (int i = 0; i < 40; ++i) {
                 yes += "y\n";
             }
             return yes + std::string("\n\0", 2);
         }(),
         Utf16Guess::Narrow},
        {"interrupted sequences are faults",
         le(U"\u4EC3" + std::u32string(7, U'\uA9C3') + U"\u4EC3" + std::u32string(7, U'\uA9C3') +
            U"\n"),
         Utf16Guess::LittleEndian},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(guessUtf16(row.bytes.data(), row.bytes.size()), row.guess) << row.name;
    }
}
