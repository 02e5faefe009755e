// A file read in the encoding the user chose: the index of UTF-16 big-endian files against
// a model over random splits, and every encoding against iconv on the same text, with
// Find, copy and the filter looking at the decoded text.

#include "EngineTestSupport.h"

#include "engine/LineFilter.h"
#include "engine/LineIndex.h"
#include "engine/LogSource.h"

#include <gtest/gtest.h>

#include <iconv.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

using namespace quilltest;
using quill::TextEncoding;

namespace {

// UTF-16 text as big-endian bytes, encoded here.
std::string bigEndian(const std::u16string& text)
{
    std::string out;
    for (char16_t unit : text) {
        out += char(unit >> 8);
        out += char(unit & 0xFF);
    }
    return out;
}

// The starts of the lines of UTF-16 text, split at its line feeds (in units, as bytes).
std::vector<FileOffset> modelStarts(const std::u16string& text, FileOffset offset)
{
    std::vector<FileOffset> starts{offset};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n' && i + 1 < text.size()) {
            starts.push_back(offset + FileOffset(2 * (i + 1)));
        }
    }
    return starts;
}

std::string viaIconv(const std::u16string& text, const char* set)
{
    iconv_t cd = iconv_open(set, "UTF-16LE");
    EXPECT_NE(cd, iconv_t(-1)) << set;
    std::string in;
    for (char16_t unit : text) {
        in += char(unit & 0xFF);
        in += char(unit >> 8);
    }
    std::string out(in.size() * 4 + 16, '\0');
    char* inp = in.data();
    char* outp = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    EXPECT_NE(rc, std::size_t(-1)) << set;
    out.resize(out.size() - outLeft);
    return out;
}

std::u16string folded(std::u16string text)
{
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') {
            c = char16_t(c + 32);
        }
    }
    return text;
}

} // namespace

TEST(ChosenEncoding, BigEndianIndexEqualsTheModelInAnySplit)
{
    std::mt19937 random(16);
    // Units whose bytes hold 0A without being a line feed, either way round.
    const char16_t units[] = {u'a', u'\n', 0x0A41, 0x410A, 0x0A0A, 0x000D, 0x4E0A, 0x00E9};
    for (int round = 0; round < 300; ++round) {
        std::u16string text;
        for (unsigned k = random() % 60; k > 0; --k) {
            text += units[random() % 8];
        }
        const bool bom = random() % 3 == 0;
        const std::string bytes = (bom ? std::string("\xFE\xFF") : std::string()) +
                                  bigEndian(text) + (random() % 4 == 0 ? "\x00" : "");
        LineIndex index;
        index.chooseEncoding(true, true, bom ? 2 : 0);
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t n = std::min<std::size_t>(1 + random() % 9, bytes.size() - at);
            ASSERT_EQ(index.append(reinterpret_cast<const std::uint8_t*>(bytes.data() + at), n),
                      LineIndex::AppendOutcome::Extended);
            at += n;
        }
        const std::vector<FileOffset> want = bytes.empty() || (bom && bytes.size() == 2)
                                                 ? std::vector<FileOffset>{}
                                                 : modelStarts(text, bom ? 2 : 0);
        std::vector<FileOffset> got;
        for (LineNumber i = 0; i < index.lineCount(); ++i) {
            got.push_back(index.lineStart(i));
        }
        if (!text.empty()) {
            ASSERT_EQ(got, want) << "round " << round;
            EXPECT_EQ(index.lastLineOpen(), text.back() != u'\n') << "round " << round;
        }
        EXPECT_TRUE(index.isBigEndian());
        // The scan of a stretch apart from the index (large files) finds the same starts.
        const std::size_t from = bom ? 2 : 0;
        std::vector<std::uint32_t> found(bytes.size() + 4);
        const std::size_t count = LineIndex::findLineStarts(
            reinterpret_cast<const std::uint8_t*>(bytes.data() + from), bytes.size() - from, true,
            std::uint32_t(from), found.data(), true);
        std::vector<FileOffset> scanned{FileOffset(from)};
        for (std::size_t k = 0; k < count; ++k) {
            if (found[k] < bytes.size()) {
                scanned.push_back(found[k]);
            }
        }
        if (!text.empty()) {
            EXPECT_EQ(scanned, want) << "round " << round;
        }
    }
}

class ChosenEncodingTest : public ::testing::TestWithParam<int> {
  protected:
    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
};

TEST_P(ChosenEncodingTest, EveryEncodingAgainstIconvWithFindCopyAndFilter)
{
    // Automatic with a byte-order mark: the mark decides, and it is no text.
    const struct {
        TextEncoding encoding;
        const char* iconvName;
        const char16_t* sample; // what the set can hold
        const char* mark = "";
        TextEncoding form = encoding;
    } cases[] = {
        {TextEncoding::Utf8, "UTF-8", u"caf\u00E9 \u20AC \u4E0A \U0001F600"},
        {TextEncoding::Utf16Le, "UTF-16LE", u"caf\u00E9 \u20AC \u0A41\u410A \U0001F600"},
        {TextEncoding::Utf16Be, "UTF-16BE", u"caf\u00E9 \u20AC \u0A41\u410A \U0001F600"},
        {TextEncoding::Latin1, "ISO-8859-1", u"caf\u00E9 \u00A4 \u00FF"},
        {TextEncoding::Latin9, "ISO-8859-15", u"caf\u00E9 \u20AC \u0153"},
        {TextEncoding::Windows1252, "CP1252", u"caf\u00E9 \u20AC \u2019"},
        {TextEncoding::Automatic, "UTF-16BE", u"caf\u00E9 \u20AC \u0A41\u410A \U0001F600",
         "\xFE\xFF", TextEncoding::Utf16Be},
        {TextEncoding::Automatic, "UTF-16LE", u"caf\u00E9 \u20AC \u0A41\u410A \U0001F600",
         "\xFF\xFE", TextEncoding::Utf16Le},
        {TextEncoding::Automatic, "UTF-8", u"caf\u00E9 \u20AC \u4E0A \U0001F600", "\xEF\xBB\xBF",
         TextEncoding::Utf8},
        {TextEncoding::Utf8, "UTF-8", u"caf\u00E9 \u20AC \u4E0A \U0001F600", "\xEF\xBB\xBF"},
        {TextEncoding::Utf16Be, "UTF-16BE", u"caf\u00E9 \u20AC \u0A41\u410A \U0001F600",
         "\xFE\xFF"},
    };
    const auto& c = cases[GetParam()];
    SCOPED_TRACE(std::string(c.iconvName) + (*c.mark != 0 ? " with its mark" : ""));
    std::mt19937 random(GetParam());
    std::vector<std::u16string> lines;
    std::u16string text;
    const std::u16string words[] = {u"ERROR", u"ok", c.sample, u"Caf\u00C9", u"x\ty"};
    for (int l = 0; l < 300; ++l) {
        std::u16string line;
        for (unsigned k = random() % 5; k > 0; --k) {
            line += words[random() % 5] + u" ";
        }
        if (l == 0) {
            line = u"ok " + line; // right after a mark, if any
        }
        lines.push_back(line);
        text += line + (random() % 5 == 0 ? u"\r\n" : u"\n");
    }
    const std::string path = settings.dir.file("encoded.log");
    const std::string mark = c.mark;
    writeFile(path, mark + viaIconv(text, c.iconvName));
    doc.setEncoding(c.encoding);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    doc.stopWatching();
    EXPECT_EQ(doc.encodingForm(), c.form);
    // Offsets stay the file's own: the first line starts after the mark.
    EXPECT_EQ(doc.lineStart(0), FileOffset(mark.size()));
    ASSERT_EQ(doc.lineCount(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(doc.line(LineNumber(i)), lines[i]) << "line " << i;
    }

    // Find walks the model's occurrences of the sample's first word, from the top down.
    const std::u16string pattern = folded(std::u16string(c.sample).substr(0, 4));
    std::vector<std::pair<LineNumber, std::int32_t>> want;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::u16string line = folded(lines[i]);
        for (std::size_t at = line.find(pattern); at != std::u16string::npos;
             at = line.find(pattern, at + pattern.size())) {
            want.emplace_back(LineNumber(i), std::int32_t(at));
        }
    }
    std::vector<std::pair<LineNumber, std::int32_t>> got;
    doc.setFindPosition(0, 0);
    while (got.size() <= want.size() && doc.find(pattern, true, 0) && doc.selection().valid) {
        const DocSelection s = doc.selection();
        if (!got.empty() && std::pair(s.startLine, s.startCol) <= got.back()) {
            break;
        }
        got.emplace_back(s.startLine, s.startCol);
    }
    EXPECT_EQ(got, want);

    // Copy of three whole lines, and of the first.
    doc.setSelection(10, 12, 0, -1);
    EXPECT_EQ(doc.selectedText(), lines[10] + u"\n" + lines[11] + u"\n" + lines[12]);
    doc.setSelection(0, 0, 0, -1);
    EXPECT_EQ(doc.selectedText(), lines[0]);
    // Find of the first line's first word lands on its first column.
    doc.setFindPosition(0, 0);
    ASSERT_TRUE(doc.find(u"ok ", true, 0));
    EXPECT_EQ(doc.selection().startLine, 0u);
    EXPECT_EQ(doc.selection().startCol, 0);

    // The filter: a literal of the sample, and a regular expression.
    LineFilter filter(doc, nullptr);
    const std::u16string sample(c.sample);
    for (const FilterTerm& term :
         {FilterTerm{sample, true, false, false}, FilterTerm{u"caf\u00E9 ", false, false, false},
          FilterTerm{u"^ok\\s", false, false, true}}) {
        ASSERT_TRUE(filter.setFilter(FilterSet{term, {}}).empty());
        ASSERT_TRUE(filter.waitIdle());
        filter.collect();
        std::vector<LineNumber> rows;
        for (std::size_t i = 0; i < filter.matches().size(); ++i) {
            rows.push_back(filter.matches().at(i));
        }
        std::vector<LineNumber> expected;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            bool hit;
            if (term.regularExpression) {
                hit = lines[i].rfind(u"ok ", 0) == 0;
            } else if (term.matchCase) {
                hit = lines[i].find(term.text) != std::u16string::npos;
            } else {
                // Case folds A-Z only in literals; the model folds the same letters.
                hit = folded(lines[i]).find(folded(term.text)) != std::u16string::npos;
            }
            if (hit) {
                expected.push_back(LineNumber(i));
            }
        }
        EXPECT_EQ(rows, expected) << std::string(term.text.begin(), term.text.end());
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, ChosenEncodingTest, ::testing::Range(0, 11));

TEST(ChosenEncoding, ABigEndianByteOrderMarkIsNotText)
{
    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    const std::string path = settings.dir.file("be.log");
    writeFile(path, "\xFE\xFF" + bigEndian(u"one\ntwo\n"));
    doc.setEncoding(TextEncoding::Utf16Be);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    doc.stopWatching();
    ASSERT_EQ(doc.lineCount(), 2u);
    EXPECT_EQ(doc.line(0), u"one");
    // Automatic: the mark says big-endian, and the lines are the same.
    doc.setEncoding(TextEncoding::Automatic);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    doc.stopWatching();
    EXPECT_EQ(doc.encodingForm(), TextEncoding::Utf16Be);
    ASSERT_EQ(doc.lineCount(), 2u);
    EXPECT_EQ(doc.line(0), u"one");
    EXPECT_EQ(doc.line(1), u"two");
}

// A large file is indexed in pieces on several threads: big-endian units there too.
TEST(ChosenEncoding, BigEndianPiecesOnSeveralThreadsGiveTheSameLines)
{
    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    doc.setIndexPieces(4096, 2);
    std::u16string text;
    std::vector<std::u16string> lines;
    for (int l = 0; l < 4000; ++l) {
        std::u16string line = u"line " + std::u16string(std::size_t(l % 37), char16_t(0x0A41));
        lines.push_back(line);
        text += line + u"\n";
    }
    const std::string path = settings.dir.file("big-be.log");
    writeFile(path, bigEndian(text));
    doc.setEncoding(TextEncoding::Utf16Be);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    doc.stopWatching();
    ASSERT_EQ(doc.lineCount(), lines.size());
    for (std::size_t i = 0; i < lines.size(); i += 97) {
        EXPECT_EQ(doc.line(LineNumber(i)), lines[i]) << i;
    }
}

// The open last line of a big-endian file, shown between appends: a carriage return at its
// end waits for what follows it before it becomes the lone-CR symbol or half of CR LF.
TEST(ChosenEncoding, ABigEndianCarriageReturnAtTheEndWaitsForTheNextUnit)
{
    TestSettings settings;
    FakeHost host;
    LogDocument doc{&host, settings.store};
    const std::string path = settings.dir.file("growing-be.log");
    writeFile(path, bigEndian(u"first\n"));
    doc.setEncoding(TextEncoding::Utf16Be);
    ASSERT_TRUE(doc.openDocument(u16(path)));
    doc.stopWatching();
    auto append = [&](const std::u16string& text) {
        const std::string bytes = bigEndian(text);
        appendFile(path, bytes);
        std::lock_guard lock(doc.docAccess());
        doc.appendText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), false);
    };
    append(u"ab\r");
    EXPECT_EQ(doc.line(1), u"ab"); // the return may be half of a CR LF
    append(u"x\r");
    EXPECT_EQ(doc.line(1), u"xb"); // written over from the first column
    append(u"\n");
    EXPECT_EQ(doc.line(1), u"xb");
}

// Zero bytes in narrow text, as a crash pads a log ("\n\0" at an even offset) or a command
// writes them between names, under Automatic: a file opened whole, and the same bytes
// arriving through a pipe in pieces, show the text's own lines, never UTF-16.
TEST(ChosenEncoding, ZeroBytesInALogOrACommandsOutputLeaveItNarrow)
{
    std::string log;
    for (int i = 0; i < 41; ++i) {
        log += "2026-12-09 23:1" + std::to_string(i % 10) + ":04 worker " + std::to_string(i) +
               " finished\n";
    }
    const std::string padded = log.substr(0, 48) + std::string("\n\0", 2) + log.substr(48, 400) +
                               std::string("name\0other\0", 11) + log.substr(448) +
                               std::string(" \0\t\0", 4);
    // The model: the bytes as ASCII, cut at each line feed.
    std::vector<std::u16string> want{u""};
    for (char c : padded) {
        if (c == '\n') {
            want.emplace_back();
        } else {
            want.back() += char16_t(std::uint8_t(c));
        }
    }
    if (want.back().empty()) {
        want.pop_back();
    }
    auto expectLines = [&](LogDocument& doc, const char* what) {
        EXPECT_EQ(doc.encodingForm(), TextEncoding::Locale) << what;
        ASSERT_EQ(doc.lineCount(), want.size()) << what;
        for (std::size_t i = 0; i < want.size(); ++i) {
            ASSERT_EQ(doc.line(LineNumber(i)), want[i]) << what << " line " << i;
        }
    };

    TestSettings settings;
    FakeHost host;
    LogDocument file{&host, settings.store};
    const std::string path = settings.dir.file("padded.log");
    writeFile(path, padded);
    ASSERT_TRUE(file.openDocument(u16(path)));
    file.stopWatching();
    expectLines(file, "file");

    LogDocument piped{&host, settings.store};
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int error = 0;
    SourceOptions options;
    options.folder = settings.dir.file("spool");
    options.reserveBytes = 0;
    auto source = LogSource::followStream(fds[0], u"command", options, error);
    ::close(fds[0]);
    ASSERT_TRUE(source) << error;
    ASSERT_TRUE(piped.openSource(std::move(source)));
    std::mt19937 random(37);
    for (std::size_t at = 0; at < padded.size();) {
        const std::size_t n = std::min<std::size_t>(1 + random() % 90, padded.size() - at);
        ASSERT_EQ(::write(fds[1], padded.data() + at, n), ssize_t(n));
        at += n;
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    }
    ::close(fds[1]);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (piped.lineStart(piped.lineCount()) < FileOffset(padded.size()) &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    expectLines(piped, "pipe");
    piped.closeDocument();
}
