// Lines too long to decode whole: a line of 160 MiB of zero bytes (a sparse file) with text
// planted deep inside is shown, searched and copied in pieces, within a bounded amount of
// memory, and what each shows equals a model built from the planted bytes.

#include "EngineTestSupport.h"
#include "support/Sanitizers.h"

#include "engine/LongLine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <new>
#include <random>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

// Every allocation of this test program is counted, so that the peak of what the code under
// test holds at once is known exactly, whatever the machine.
namespace {
std::atomic<std::int64_t> s_live{0};
std::atomic<std::int64_t> s_peak{0};

void account(std::int64_t bytes)
{
    const std::int64_t now = s_live.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    std::int64_t peak = s_peak.load(std::memory_order_relaxed);
    while (now > peak && !s_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

void* countedAlloc(std::size_t n)
{
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    account(std::int64_t(malloc_usable_size(p)));
    return p;
}

void countedFree(void* p)
{
    if (p != nullptr) {
        account(-std::int64_t(malloc_usable_size(p)));
        std::free(p);
    }
}

// The most held at once since the last call, above what was held then.
std::int64_t peakSince(std::int64_t& base)
{
    const std::int64_t peak = s_peak.load() - base;
    base = s_live.load();
    s_peak.store(base);
    return peak;
}
} // namespace

void* operator new(std::size_t n)
{
    return countedAlloc(n);
}
void* operator new[](std::size_t n)
{
    return countedAlloc(n);
}
// The nothrow forms too: a new of one kind and a delete of the other must meet one heap.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p != nullptr) {
        account(std::int64_t(malloc_usable_size(p)));
    }
    return p;
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept
{
    return operator new(n, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    countedFree(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    countedFree(p);
}
void operator delete(void* p) noexcept
{
    countedFree(p);
}
void operator delete[](void* p) noexcept
{
    countedFree(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    countedFree(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    countedFree(p);
}

using namespace quilltest;

namespace {

// Where two long texts first differ ("" when they are equal), with a few units around it:
// a failure never prints megabytes.
std::string difference(std::u16string_view got, std::u16string_view want)
{
    std::size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) {
        ++i;
    }
    if (i == got.size() && i == want.size()) {
        return "";
    }
    auto around = [&](std::u16string_view text) {
        std::string out;
        for (std::size_t k = i >= 4 ? i - 4 : 0; k < std::min(text.size(), i + 6); ++k) {
            out += " " + std::to_string(unsigned(text[k]));
        }
        return out;
    };
    return "at " + std::to_string(i) + " of " + std::to_string(got.size()) + "/" +
           std::to_string(want.size()) + ": got" + around(got) + ", want" + around(want);
}

// A quarter of the line under a sanitizer, where each pass over it costs ten to thirty times
// more: still twenty times the bytes a line may have to be decoded whole, and every place
// planted below stays at the same share of it.
constexpr std::int64_t Shrink = quilltest::UnderSanitizer ? 4 : 1;
constexpr std::int64_t LineBytes = (std::int64_t{160} << 20) / Shrink;
constexpr std::int64_t deep(std::int64_t column)
{
    return column / Shrink;
}
constexpr std::int64_t LineStart = 6; // after "first\n"

// Valid UTF-8 decoded by hand: the model of a character and the columns it takes.
std::u16string modelChar(const std::string& bytes, std::size_t at, std::size_t& length)
{
    const auto b = std::uint8_t(bytes[at]);
    char32_t code = b;
    length = 1;
    if (b >= 0xF0) {
        length = 4;
        code = b & 0x07;
    } else if (b >= 0xE0) {
        length = 3;
        code = b & 0x0F;
    } else if (b >= 0xC0) {
        length = 2;
        code = b & 0x1F;
    }
    for (std::size_t k = 1; k < length; ++k) {
        code = (code << 6) | (std::uint8_t(bytes[at + k]) & 0x3F);
    }
    if (code >= 0x10000) {
        return {char16_t(0xD800 + ((code - 0x10000) >> 10)),
                char16_t(0xDC00 + ((code - 0x10000) & 0x3FF))};
    }
    return std::u16string(1, char16_t(code));
}

class LongLineTest : public ::testing::Test {
  protected:
    // Plants valid UTF-8 text at a column of the long line.
    void plant(std::int64_t column, const std::string& text)
    {
        for (std::size_t i = 0; i < text.size(); ++i) {
            planted[column + std::int64_t(i)] = text[i];
        }
    }
    // The long line "first\n" + LineBytes bytes (zeros but what was planted) + "\nafter\n",
    // as a sparse file.
    void write()
    {
        path = settings.dir.file("zeros.log");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "first\n", 6, 0), 6);
        for (const auto& [column, byte] : planted) {
            ASSERT_EQ(::pwrite(fd, &byte, 1, LineStart + column), 1);
        }
        ASSERT_EQ(::pwrite(fd, "\nafter\n", 7, LineStart + LineBytes), 7);
        ::close(fd);
    }
    std::string lineBytes(std::int64_t from, std::int64_t to) const
    {
        std::string bytes(std::size_t(to - from), '\0');
        for (auto it = planted.lower_bound(from); it != planted.end() && it->first < to; ++it) {
            bytes[std::size_t(it->first - from)] = it->second;
        }
        return bytes;
    }
    // The columns [from, to) as shown: a character from the column of its first byte on
    // (a pair of surrogates in two), pads in the columns of its other bytes.
    std::u16string modelShown(std::int64_t from, std::int64_t to) const
    {
        const std::int64_t start = std::max<std::int64_t>(0, from - 3);
        const std::string bytes = lineBytes(start, to + 4);
        std::u16string columns;
        for (std::size_t i = 0; i < bytes.size();) {
            std::size_t length = 1;
            if ((std::uint8_t(bytes[i]) & 0xC0) == 0x80 || i + 4 > bytes.size()) {
                columns += LongLinePad; // the rest of a character before, or past the end
                ++i;
                continue;
            }
            const std::u16string c = modelChar(bytes, i, length);
            columns += c;
            columns.append(length - c.size(), LongLinePad);
            i += length;
        }
        const std::int64_t end = std::min(to, LineBytes);
        return columns.substr(std::size_t(from - start),
                              std::size_t(std::max<std::int64_t>(0, end - from)));
    }
    // The characters whose first byte lies in the columns [from, to], as copied.
    std::u16string modelCopy(std::int64_t from, std::int64_t last) const
    {
        const std::string bytes = lineBytes(from, last + 4);
        std::u16string out;
        for (std::size_t i = 0; i <= std::size_t(last - from);) {
            std::size_t length = 1;
            if ((std::uint8_t(bytes[i]) & 0xC0) == 0x80) {
                ++i;
                continue;
            }
            out += modelChar(bytes, i, length);
            i += length;
        }
        return out;
    }
    void open()
    {
        write();
        ASSERT_TRUE(doc.openDocument(u16(path)));
        doc.stopWatching();
        ASSERT_EQ(doc.lineCount(), 3u);
    }

    struct Utf8Locale {
        std::string before = quill::narrowCharset().codeset;
        Utf8Locale() { quill::setNarrowCharsetForTesting("UTF-8"); }
        ~Utf8Locale() { quill::setNarrowCharsetForTesting(before.c_str()); }
    } utf8;
    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    std::string path;
    std::map<std::int64_t, char> planted;
};

} // namespace

// Works through the document's older calls alone: the line's text, Find and a copy of a
// part of it each hold a few megabytes at most, where the whole line decoded took 2.2 bytes
// a byte of it.
TEST_F(LongLineTest, AHugeLineIsShownFoundAndCopiedInBoundedMemory)
{
    plant(deep(150'000'000), " needle ");
    open();
    const std::u16string model = modelCopy(deep(149'000'000), deep(150'500'000));
    std::int64_t base = 0;
    peakSince(base);
    const std::u16string head = doc.line(1);
    EXPECT_LT(peakSince(base), std::int64_t(2) << 20);
    EXPECT_LT(head.size(), std::size_t(1) << 20);
    EXPECT_EQ(difference(head, modelShown(0, std::int64_t(head.size()))), "");
    EXPECT_EQ(doc.line(2), u"after");
    doc.setFindPosition(0, 0);
    peakSince(base);
    ASSERT_TRUE(doc.find(u"needle", true, SearchWholeWord));
    EXPECT_LT(peakSince(base), std::int64_t(8) << 20);
    const DocSelection found = doc.selection();
    EXPECT_EQ(found.startLine, 1u);
    EXPECT_EQ(found.startCol, deep(150'000'000) + 1);
    EXPECT_EQ(found.endCol, deep(150'000'000) + 6);
    doc.setSelection(1, 1, std::int32_t(deep(149'000'000)), std::int32_t(deep(150'500'000)));
    peakSince(base);
    std::u16string copied = doc.selectedText();
    // The text itself, 1.5 million units (3 MB), grown by doubling; the rest is pieces.
    EXPECT_LT(peakSince(base), std::int64_t(16) << 20);
    EXPECT_EQ(difference(copied, model), "");
}

// The part shown follows the focus column to any place in the line, exactly as the model of
// the bytes there, with characters of several bytes cut by its edges.
TEST_F(LongLineTest, ThePartShownAtAnyColumnIsTheLineThere)
{
    const std::string chars = "a\xC3\xA9"
                              "\xE2\x82\xAC"
                              "\xF0\x9D\x84\x9E"
                              "z"; // a é € 𝄞 z
    // A part runs from a multiple of 16384 columns to another: the characters are cut by
    // its start and by its end at each of their bytes, deep in the line, and at its end.
    std::vector<std::int64_t> focus = {
        0, 1, 16'383, 16'384, deep(100'000'000), LineBytes - 1, LineBytes + 5};
    for (std::int64_t j = 0; j < std::int64_t(chars.size()); ++j) {
        const std::int64_t m = 1000 + 7 * j;
        plant(m * 16'384 - j, chars);
        focus.push_back((m + 1) * 16'384);     // the part starts at m * 16384
        focus.push_back((m - 2) * 16'384 + 5); // the part ends there
    }
    plant(LineBytes - std::int64_t(chars.size()), chars);
    open();
    std::int64_t base = 0;
    peakSince(base);
    for (const std::int64_t column : focus) {
        std::lock_guard lock(doc.docAccess());
        doc.setLongLineFocus(column);
        const LogDocument::LinePart part = doc.linePart(1);
        ASSERT_TRUE(part.isLong());
        EXPECT_EQ(part.columns, LineBytes);
        const std::int64_t shown = std::min(column, LineBytes - 1);
        EXPECT_LE(part.first, shown) << column;
        EXPECT_GT(part.first + std::int64_t(part.text.size()), shown) << column;
        EXPECT_LE(part.text.size(), std::size_t(64) << 10);
        // A view as wide as a piece right of the focus is all in the part.
        EXPECT_GE(part.first + std::int64_t(part.text.size()), std::min(shown + 16'384, LineBytes))
            << column;
        EXPECT_EQ(difference(part.text,
                             modelShown(part.first, part.first + std::int64_t(part.text.size()))),
                  "")
            << column;
        EXPECT_EQ(doc.lineView(1).data(), part.text.data()); // the same text, not decoded again
        EXPECT_FALSE(doc.linePart(0).isLong());
    }
    EXPECT_EQ(doc.longestLongLineColumns(), LineBytes + 1); // counted with its terminator
    EXPECT_LT(peakSince(base), std::int64_t(4) << 20);
}

// Every occurrence, wherever the pieces of the search cut the line (at multiples of 2^18
// columns from where it starts), is found once, in order, forward and backward; a match that
// is not a whole word at a piece's edge is skipped. The planted places are random (seed kept).
TEST_F(LongLineTest, FindMeetsEveryOccurrenceAcrossThePiecesOfTheSearch)
{
    const std::string needle = "Gr\xC3\xBC\xC3\x9F"
                               "e"; // Grüße: 7 bytes, 5 characters
    std::vector<std::int64_t> places;
    const std::int64_t piece = std::int64_t(1) << 18;
    // One alone, with no other within two pieces, for the cuts tried below.
    const std::int64_t alone = deep(40'000'000);
    places.push_back(alone);
    places.push_back(LineBytes - 8); // the line's very end (the backward search's start)
    places.push_back(LineBytes - piece - 4);
    places.push_back(3 * piece - 5);
    std::mt19937_64 random(20261210);
    // Each Find decodes a piece of its own, whatever the line's length: a quarter of the
    // places anywhere under a sanitizer, beside the fixed ones.
    for (int i = 0; i < quilltest::rounds(12); ++i) {
        places.push_back(std::int64_t(random() % std::uint64_t(LineBytes - 40)));
    }
    std::sort(places.begin(), places.end());
    std::vector<std::int64_t> kept;
    for (const std::int64_t p : places) {
        const bool nearAlone = p != alone && p > alone - 2 * piece && p < alone + 2 * piece;
        const bool nearGlued = (p > 6 * piece - 30 && p < 6 * piece + 20) ||
                               (p > 8 * piece + 60 && p < 8 * piece + 130);
        if ((kept.empty() || p - kept.back() > 20) && !nearAlone && !nearGlued) {
            kept.push_back(p);
        }
    }
    // Each as a whole word, and one glued to a letter that must be skipped as a word.
    for (const std::int64_t p : kept) {
        plant(p, " " + needle + " ");
    }
    plant(6 * piece - 2, "x" + needle + " ");
    // Glued on its right, where the first piece's decoded text ends right before the "x".
    const std::int64_t gluedRight = 8 * piece + 100;
    plant(gluedRight - 1, " " + needle + "x");
    open();
    std::vector<std::int64_t> found;
    doc.setFindPosition(1, 0);
    while (doc.find(u"grüße", true, SearchWholeWord) && doc.selection().startLine == 1) {
        const DocSelection s = doc.selection();
        EXPECT_EQ(s.endCol, s.startCol + 6) << s.startCol;
        found.push_back(s.startCol - 1);
    }
    EXPECT_EQ(found, kept);
    std::vector<std::int64_t> back;
    doc.setFindPosition(2, 0);
    while (doc.find(u"GRÜßE", false, SearchWholeWord) && doc.selection().startLine == 1) {
        back.insert(back.begin(), doc.selection().startCol - 1);
    }
    // Case is folded for A-Z only: "ü" and "Ü" differ, so nothing is found that way.
    EXPECT_TRUE(back.empty());
    doc.setFindPosition(2, 0);
    while (doc.find(u"Grüße", false, SearchWholeWord | SearchMatchCase) &&
           doc.selection().startLine == 1) {
        back.insert(back.begin(), doc.selection().startCol - 1);
    }
    EXPECT_EQ(back, kept);
    // Every cut of the first piece across the occurrence and its word's edges, forward: a
    // search from column S takes the occurrences starting in [S, S + 2^18) in its first
    // piece.
    const std::int64_t m = alone + 1;
    for (std::int64_t e = -2; e <= 8; ++e) {
        doc.setFindPosition(1, std::int32_t(m - piece + e));
        ASSERT_TRUE(doc.find(u"grüße", true, SearchWholeWord));
        EXPECT_EQ(doc.selection().startCol, m) << e;
    }
    // And backward, whose first piece takes the starts in [S - 2^18, S).
    for (std::int64_t e = -2; e <= 8; ++e) {
        doc.setFindPosition(1, std::int32_t(m + piece + e));
        ASSERT_TRUE(doc.find(u"grüße", false, SearchWholeWord));
        EXPECT_EQ(doc.selection().startCol, m) << e;
    }
    // The search's first piece decodes 24 columns past its end (four bytes a character of
    // the text, and four more): an occurrence starting there is left to the next piece,
    // which sees the "x" after it.
    doc.setFindPosition(1, std::int32_t(gluedRight - piece - 17));
    ASSERT_TRUE(doc.find(u"grüße", true, SearchWholeWord));
    EXPECT_NE(doc.selection().startCol, gluedRight);
    // A search that starts right at the one glued on its left still sees the "x" before it.
    doc.setFindPosition(1, std::int32_t(6 * piece - 1));
    ASSERT_TRUE(doc.find(u"grüße", true, SearchWholeWord));
    EXPECT_NE(doc.selection().startCol, 6 * piece - 1);
    // Without the whole-word rule the glued one counts too.
    doc.setFindPosition(1, std::int32_t(6 * piece - 20));
    ASSERT_TRUE(doc.find(u"grüße", true, 0));
    EXPECT_EQ(doc.selection().startCol, 6 * piece - 1);
}

// Copies of parts that start and end inside characters and across the copy's pieces give
// the characters whose first byte lies in the part; the whole line streams as pieces that
// add up to it exactly.
TEST_F(LongLineTest, CopiesGiveTheCharactersOfTheColumnsSelected)
{
    const std::string chars = "\xF0\x9D\x84\x9E"
                              "b\xE2\x82\xAC"
                              "c";
    const std::int64_t piece = std::int64_t(1) << 20;
    for (std::int64_t p :
         {std::int64_t(0), piece - 2, 2 * piece + 500, deep(90'000'000) + piece - 1}) {
        plant(p, chars);
    }
    open();
    struct Case {
        std::int64_t from, last;
    };
    for (const Case c : {Case{0, 0}, Case{1, 5}, Case{piece - 3, piece + 2},
                         Case{2 * piece + 499, 2 * piece + 506},
                         Case{deep(90'000'000), deep(90'000'000) + 3 * piece},
                         Case{LineBytes - 3, LineBytes + 5}}) {
        doc.setSelection(1, 1, std::int32_t(c.from), std::int32_t(c.last));
        EXPECT_EQ(
            difference(doc.selectedText(), modelCopy(c.from, std::min(c.last, LineBytes - 1))), "")
            << c.from << " " << c.last;
    }
    // From inside the line to the next one's start: the rest of the line, a line break.
    doc.setSelection(1, 2, std::int32_t(LineBytes - 2), 1);
    EXPECT_EQ(doc.selectedText(), std::u16string(2, u'\0') + u"\naf");
    struct Count {
        std::uint64_t units = 0;
        std::uint64_t pieces = 0;
    } count;
    std::int64_t base = 0;
    peakSince(base);
    const PieceOutcome outcome = doc.forEachSelectedPiece(
        DocSelection{true, 1, 1, 0, -1},
        [](void* context, std::u16string_view text) {
            static_cast<Count*>(context)->units += text.size();
            ++static_cast<Count*>(context)->pieces;
            return true;
        },
        &count);
    EXPECT_EQ(outcome, PieceOutcome::Complete);
    // Four planted runs of 9 bytes, each 5 units: 4 units fewer than bytes each.
    EXPECT_EQ(count.units, std::uint64_t(LineBytes) - 4 * 4);
    EXPECT_GE(count.pieces, std::uint64_t(LineBytes >> 20));
    EXPECT_LT(peakSince(base), std::int64_t(8) << 20);
}

// A long line in UTF-16 counts one column a code unit; a long last line that grows shows
// its new end; a line that grows past the bound while shown turns into a long one.
TEST_F(LongLineTest, WideAndGrowingLongLines)
{
    std::u16string wide(std::size_t(3) << 20, u'w');
    wide[2'000'000] = u'\r';
    wide.replace(3'000'000, 4, u"\U0001D11E!!");
    path = settings.dir.file("wide.log");
    writeFile(path, "\xFF\xFE" + utf16le(u"one\n" + wide + u"\r\n"));
    ASSERT_TRUE(doc.openDocument(u16(path)));
    doc.stopWatching();
    ASSERT_TRUE(doc.isUtf16());
    {
        std::lock_guard lock(doc.docAccess());
        doc.setLongLineFocus(3'000'000);
        const LogDocument::LinePart part = doc.linePart(1);
        ASSERT_EQ(part.columns, std::int64_t(wide.size()));
        std::u16string model = wide.substr(std::size_t(part.first), part.text.size());
        for (char16_t& c : model) {
            c = c == u'\r' ? LoneCrSymbol : c;
        }
        EXPECT_EQ(difference(part.text, model), "");
    }
    doc.setSelection(1, 1, 1'999'999, 3'000'001);
    std::u16string expected = wide.substr(1'999'999, 1'000'003);
    expected[1] = LoneCrSymbol;
    EXPECT_EQ(difference(doc.selectedText(), expected), "");

    // Narrow, open at its end: grows by appends, the last past the bound.
    const std::string start(LongLineBytes - 10, 'n');
    path = settings.dir.file("grow.log");
    writeFile(path, "x\n" + start);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    doc.stopWatching();
    EXPECT_EQ(doc.line(1).size(), start.size());
    for (const std::string& more : {std::string(30, 'm'), std::string("tail")}) {
        appendFile(path, more);
        doc.appendText(reinterpret_cast<const std::uint8_t*>(more.data()), more.size());
        std::lock_guard lock(doc.docAccess());
        doc.setLongLineFocus(LongLineMaxColumns);
        const LogDocument::LinePart part = doc.linePart(1);
        ASSERT_TRUE(part.isLong());
        EXPECT_EQ(std::u16string(part.text.substr(part.text.size() - more.size())), u16(more));
        EXPECT_EQ(part.first + std::int64_t(part.text.size()), part.columns);
    }
    // Grown by much more while it is open: only the part is decoded, never what arrived.
    const std::string more(std::size_t(8) << 20, 'g');
    std::int64_t base = 0;
    peakSince(base);
    appendFile(path, more);
    doc.appendText(reinterpret_cast<const std::uint8_t*>(more.data()), more.size());
    {
        std::lock_guard lock(doc.docAccess());
        EXPECT_EQ(doc.linePart(1).columns, std::int64_t(start.size() + 34 + more.size()));
    }
    EXPECT_LT(peakSince(base), std::int64_t(4) << 20);
    // Closed by CR LF: neither is text.
    appendFile(path, "\r\nlast\n");
    doc.appendText(reinterpret_cast<const std::uint8_t*>("\r\nlast\n"), 7);
    std::lock_guard lock(doc.docAccess());
    const LogDocument::LinePart part = doc.linePart(1);
    EXPECT_EQ(part.columns, std::int64_t(start.size() + 34 + more.size()));
    ASSERT_FALSE(part.text.empty());
    EXPECT_EQ(part.text.back(), u'g');
    EXPECT_EQ(doc.line(2), u"last");
}

// The decoding of a part against a whole decode of random UTF-8: any part, shown (one unit a
// column) or not (each character once, in the column of its first byte).
TEST(DecodeLongLinePart, AnyPartOfRandomTextEqualsTheWholeDecoded)
{
    std::mt19937 random(7);
    const std::vector<std::string> alphabet = {
        "a", " ", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9D\x84\x9E", "\xE6\x97\xA5"};
    for (int round = 0; round < 200; ++round) {
        std::string bytes;
        std::u16string shown; // one unit a column, built from the characters
        std::u16string chars;
        std::vector<std::int64_t> columns;
        while (bytes.size() < 200) {
            const std::string& c = alphabet[random() % alphabet.size()];
            std::size_t length = 0;
            const std::u16string text = modelChar(c, 0, length);
            for (char16_t u : text) {
                chars.push_back(u);
                columns.push_back(std::int64_t(bytes.size()));
            }
            shown += text;
            shown.append(c.size() - text.size(), LongLinePad);
            bytes += c;
        }
        const std::int64_t first = std::int64_t(random() % bytes.size());
        const std::int64_t count = std::int64_t(random() % 40) + 1;
        const std::uint64_t base =
            std::uint64_t(std::max<std::int64_t>(0, first - 3 - int(random() % 2)));
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data()) + base;
        std::u16string out;
        decodeLongLinePart(data, bytes.size() - base, base, bytes.size(), first, count,
                           quill::TextEncoding::Utf8, true, out);
        const std::int64_t end = std::min<std::int64_t>(first + count, std::int64_t(bytes.size()));
        std::u16string expected = shown.substr(std::size_t(first), std::size_t(end - first));
        ASSERT_EQ(out, expected) << round;
        out.clear();
        std::vector<std::int64_t> at;
        decodeLongLinePart(data, bytes.size() - base, base, bytes.size(), first, count,
                           quill::TextEncoding::Utf8, false, out, &at);
        std::u16string model;
        std::vector<std::int64_t> modelAt;
        for (std::size_t i = 0; i < chars.size(); ++i) {
            if (columns[i] >= first && columns[i] < end) {
                model += chars[i];
                modelAt.push_back(columns[i]);
            }
        }
        ASSERT_EQ(out, model) << round;
        ASSERT_EQ(at, modelAt) << round;
    }
}

// With sequences hidden, any part of random text (characters of one to four bytes,
// sequences of every kind, broken ones, and strings too long to hide) against a model
// that knows which bytes it planted as sequences: shown, a hidden sequence's columns hold
// pads and every other column its character; not shown, it gives no text. The part is
// read as a reader of the document reads it, with the margin around it.
TEST(DecodeLongLinePart, SequencesCutAnywhereByAPartAreHiddenAsInTheWholeLine)
{
    std::mt19937 random(11);
    const std::vector<std::string> plain = {
        "a", " ", "[", "m", "\\", "]", "\x07", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9D\x84\x9E"};
    const std::vector<std::string> hidden = {"\x1b[31m",
                                             "\x1b[1;2H",
                                             "\x1b[m",
                                             "\x1b(B",
                                             "\x1b 7",
                                             "\x1b"
                                             "7",
                                             "\x1b=",
                                             "\x1b]0;t\xC3\xAFtle\x07",
                                             "\x1bPdata\x1b\\",
                                             "\x1b]8;;http://x\x1b\\",
                                             "\x1b\\"};
    // ESC before a control character is no sequence; neither is a string over the bound.
    const std::vector<std::string> broken = {"\x1b\x01", "\x1b[3\x01"};
    const std::string overLong =
        "\x1b]2;" + std::string(std::size_t(LongSequenceUnits), 'y') + "\x07";
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        std::u16string shown; // one unit a column
        std::u16string chars; // as copied
        std::vector<std::int64_t> columns;
        const std::size_t size = 2000 + random() % 12000;
        while (bytes.size() < size) {
            const unsigned pick = random() % 100;
            if (pick < 25) {
                const std::string& s = hidden[random() % hidden.size()];
                // Inside a sequence the model needs no decoding: its columns are pads.
                shown.append(s.size(), LongLinePad);
                bytes += s;
                continue;
            }
            std::string piece;
            if (pick < 28) {
                piece = broken[random() % broken.size()];
            } else if (pick == 28 && round % 10 == 0) {
                piece = overLong;
            } else {
                piece = plain[random() % plain.size()];
            }
            for (std::size_t i = 0; i < piece.size();) {
                std::size_t length = 0;
                const std::u16string text = modelChar(piece, i, length);
                for (char16_t u : text) {
                    chars.push_back(u);
                    columns.push_back(std::int64_t(bytes.size() + i));
                }
                shown += text;
                shown.append(length - text.size(), LongLinePad);
                i += length;
            }
            bytes += piece;
        }
        if (round % 7 == 0) {
            bytes += "\x1b[3"; // cut by the line's end: shown
            shown += u"\x1b[3";
            for (int k = 0; k < 3; ++k) {
                chars.push_back(shown[shown.size() - 3 + std::size_t(k)]);
                columns.push_back(std::int64_t(bytes.size()) - 3 + k);
            }
        }
        const std::int64_t n = std::int64_t(bytes.size());
        const std::int64_t first = std::int64_t(random() % std::uint64_t(n));
        const std::int64_t count = std::int64_t(random() % 3000) + 1;
        const std::int64_t end = std::min(first + count, n);
        const std::int64_t margin = 4 + longSequenceMargin(quill::TextEncoding::Utf8, true);
        const std::int64_t base = std::max<std::int64_t>(0, first - margin);
        const std::int64_t stop = std::min(n, end + margin);
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data()) + base;
        std::u16string out;
        decodeLongLinePart(data, std::size_t(stop - base), std::uint64_t(base), std::uint64_t(n),
                           first, count, quill::TextEncoding::Utf8, true, out, nullptr, true);
        ASSERT_EQ(difference(out, shown.substr(std::size_t(first), std::size_t(end - first))), "")
            << "round " << round << " first " << first << " count " << count;
        out.clear();
        std::vector<std::int64_t> at;
        decodeLongLinePart(data, std::size_t(stop - base), std::uint64_t(base), std::uint64_t(n),
                           first, count, quill::TextEncoding::Utf8, false, out, &at, true);
        std::u16string model;
        std::vector<std::int64_t> modelAt;
        for (std::size_t i = 0; i < chars.size(); ++i) {
            if (columns[i] >= first && columns[i] < end) {
                model += chars[i];
                modelAt.push_back(columns[i]);
            }
        }
        ASSERT_EQ(difference(out, model), "") << "round " << round;
        ASSERT_EQ(at, modelAt) << round;
    }
}

// Terminal colours on: sequences cut by the edge of a shown part, of a copy's piece and of
// a search's piece are hidden as a whole, the text around them reads as one, and a wrapped
// view's part of any columns deep inside costs what those columns cost.
TEST_F(LongLineTest, SequencesAreHiddenWhereverThePiecesCutThem)
{
    const std::string red = "\x1b[1;31m";
    const std::string title = "\x1b]0;title\x07";
    // Cut by the start of the part shown around focus 1001 * 16384 (it starts at 1000 *
    // 16384), a copy's second piece and a search's piece at 300 * 2^18 (75 under a sanitizer).
    const std::int64_t shownAt = 1000 * 16'384 - 3;
    plant(shownAt, "A" + red + "B");
    const std::int64_t copyFrom = deep(90'000'000);
    const std::int64_t copyAt = copyFrom + (std::int64_t(1) << 20) - 5;
    plant(copyAt, "foo" + red + "bar");
    const std::int64_t findAt = 300 / Shrink * (std::int64_t(1) << 18) - 5;
    plant(findAt, "sea" + title + "rch");
    open();
    doc.setTerminalColors(true);
    std::int64_t base = 0;
    peakSince(base);
    {
        // Before any part of it is decoded: its text's columns, without its terminator.
        std::lock_guard lock(doc.docAccess());
        EXPECT_EQ(doc.longLineTextColumns(1), LineBytes);
        EXPECT_LT(peakSince(base), std::int64_t(64) << 10) << "its columns need no decoding";
    }
    {
        std::lock_guard lock(doc.docAccess());
        doc.setLongLineFocus(1001 * 16'384);
        const LogDocument::LinePart part = doc.linePart(1);
        ASSERT_EQ(part.first, 1000 * 16'384);
        // The part starts inside the sequence: its columns there are pads up to the B.
        const std::size_t b = std::size_t(shownAt + 1 + std::int64_t(red.size()) - part.first);
        EXPECT_EQ(part.text.substr(0, b + 1), std::u16string(b, LongLinePad) + u"B");
        EXPECT_EQ(part.columns, LineBytes);
        // The part a wrapped view asks for, over the same columns.
        const LogDocument::LinePart rows = doc.longLineColumnsPart(1, shownAt, 20);
        ASSERT_LE(rows.first, shownAt);
        const std::u16string_view around =
            rows.text.substr(std::size_t(shownAt - rows.first), 2 + red.size());
        EXPECT_EQ(around, u"A" + std::u16string(red.size(), LongLinePad) + u"B");
    }
    doc.setSelection(1, 1, std::int32_t(copyFrom), std::int32_t(copyAt + 5 + red.size()));
    const std::u16string copied = doc.selectedText();
    EXPECT_EQ(copied.size(), std::size_t(copyAt - copyFrom) + 6);
    EXPECT_EQ(copied.substr(copied.size() - 6), u"foobar");
    doc.setFindPosition(0, 0);
    ASSERT_TRUE(doc.find(u"search", true, SearchMatchCase));
    const DocSelection found = doc.selection();
    EXPECT_EQ(found.startCol, findAt);
    EXPECT_EQ(found.endCol, findAt + 5 + std::int64_t(title.size()));

    peakSince(base);
    {
        std::lock_guard lock(doc.docAccess());
        // A short range, then a longer one from the same place: the part grows to hold it.
        const std::int64_t far = deep(120'000'000);
        const LogDocument::LinePart few = doc.longLineColumnsPart(1, far, 100);
        EXPECT_GE(few.first + std::int64_t(few.text.size()), far + 100);
        const LogDocument::LinePart rows = doc.longLineColumnsPart(1, far, 100'000);
        EXPECT_LE(rows.first, far);
        EXPECT_GE(rows.first + std::int64_t(rows.text.size()), far + 100'000);
        EXPECT_LT(peakSince(base), std::int64_t(2) << 20);
        EXPECT_EQ(difference(rows.text.substr(0, 1000), modelShown(rows.first, rows.first + 1000)),
                  "");
    }
}

// In UTF-16 a sequence is made of code units: a unit beyond ASCII whose low byte is ESC
// starts none, a real ESC does, in either byte order.
TEST(DecodeLongLinePart, SequencesOfUtf16AreCodeUnits)
{
    const std::u16string line = u"\u011B[31mx\x1b[1my";
    for (const quill::TextEncoding form :
         {quill::TextEncoding::Utf16Le, quill::TextEncoding::Utf16Be}) {
        std::string bytes;
        for (const char16_t unit : line) {
            const char low = char(unit & 0xFF);
            const char high = char(unit >> 8);
            bytes += form == quill::TextEncoding::Utf16Le ? std::string{low, high}
                                                          : std::string{high, low};
        }
        std::u16string out;
        decodeLongLinePart(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 0,
                           bytes.size(), 0, std::int64_t(line.size()), form, true, out, nullptr,
                           true);
        EXPECT_EQ(out, u"\u011B[31mx" + std::u16string(4, LongLinePad) + u"y");
    }
}
