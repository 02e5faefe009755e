// Kept marks: a restart (a new document and keeper over the same file) brings marks and
// notes back; appends keep them; a rewritten line, a rotation or a truncation drops them;
// Clear hides them until the next reload; a damaged marks file is moved aside and what
// reads of it is used; the file's text survives hostile bytes. A random walk of marks,
// notes, appends, rewrites, Clear and restarts against a model that knows only the file's
// bytes and where lines start.

#include "EngineTestSupport.h"

#include "engine/MarkKeeper.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <random>

using namespace quilltest;

namespace {

// One run of the program over the log: a document, its keeper, and what the keeper said.
struct Session {
    Session(TestSettings& settings, const std::string& folder)
        : doc(&host, settings.store), keeper(doc, folder)
    {
        keeper.setProblemHandler([this](const MarkKeeper::Problem& p) { problems.push_back(p); });
    }
    bool open(const std::string& path)
    {
        const bool opened = doc.openDocument(u16(path));
        doc.stopWatching();
        return opened;
    }
    void append(const std::string& path, const std::string& bytes)
    {
        appendFile(path, bytes);
        std::lock_guard lock(doc.docAccess());
        doc.appendText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), false);
    }
    void toggle(LineNumber line)
    {
        doc.marks().toggle(line);
        keeper.marksChanged();
    }
    void note(LineNumber line, const std::u16string& text)
    {
        doc.marks().mark(line, text);
        keeper.marksChanged();
    }
    std::map<LineNumber, std::u16string> marks() const
    {
        std::map<LineNumber, std::u16string> all;
        for (const LineNumber line : doc.marks().lines()) {
            all[line] = doc.marks().note(line);
        }
        return all;
    }

    FakeHost host;
    LogDocument doc;
    MarkKeeper keeper;
    std::vector<MarkKeeper::Problem> problems;
};

class KeptMarks : public ::testing::Test {
  protected:
    void restart()
    {
        session.reset();
        session = std::make_unique<Session>(settings, folder);
        ASSERT_TRUE(session->open(log));
    }

    TestSettings settings;
    std::string folder = settings.dir.file("data/quillstream/marks");
    std::string log = settings.dir.file("app.log");
    std::unique_ptr<Session> session;
};

using Marks = std::map<LineNumber, std::u16string>;

} // namespace

TEST_F(KeptMarks, RestartBringsMarksAndNotesBackAndAppendsKeepThemEvenOnTheOpenLine)
{
    writeFile(log, "alpha\nbeta\ngamma\nopen");
    restart();
    session->toggle(0);
    const std::u16string awkward = u"back\\slash\nnew line\r and \u00fc\U0001F600 \\n";
    session->note(2, awkward);
    session->toggle(3); // the open last line: its bytes grow below
    session->note(3, u"grows");
    EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);

    restart();
    EXPECT_EQ(session->marks(), (Marks{{0, u""}, {2, awkward}, {3, u"grows"}}));
    session->append(log, "ing on\nnext\n");
    restart();
    EXPECT_EQ(session->marks(), (Marks{{0, u""}, {2, awkward}, {3, u"grows"}}))
        << "the open line grew and completed: it still begins with its marked bytes";
    EXPECT_TRUE(session->problems.empty());

    // Unmarking the last mark removes the file, and nothing comes back.
    session->toggle(0);
    session->toggle(2);
    session->toggle(3);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    restart();
    EXPECT_TRUE(session->marks().empty());
}

TEST_F(KeptMarks, ARewrittenLineARotationAndATruncationDropWhatNoLongerMatches)
{
    writeFile(log, "one\ntwo\nthree\nfour\n");
    restart();
    session->toggle(0);
    session->note(1, u"two");
    session->toggle(2);
    session->toggle(3);
    session.reset();

    // Same length, other bytes: the hash must see it. A line one byte longer that starts
    // where the old one did is another line too.
    writeFile(log, "one\ntwO\nthree!\nfour\n");
    restart();
    EXPECT_EQ(session->marks(), (Marks{{0, u""}}))
        << "four moved by a byte and starts nowhere it did";
    restart();
    EXPECT_EQ(session->marks(), (Marks{{0, u""}})) << "the drops were written";

    // A line that now ends earlier than the marked bytes did.
    writeFile(log, "on");
    restart();
    EXPECT_TRUE(session->marks().empty());
    EXPECT_TRUE(std::filesystem::is_empty(folder));

    // A reload of a rotated file in the same session: the watcher's reload is an open.
    writeFile(log, "old one\nold two\n");
    restart();
    session->toggle(1);
    writeFile(log, "new one\nnew two\nnew three\n");
    ASSERT_TRUE(session->open(log));
    EXPECT_TRUE(session->marks().empty());
    writeFile(log, "old one\nold two\n");
    ASSERT_TRUE(session->open(log));
    EXPECT_TRUE(session->marks().empty()) << "a dropped mark stays dropped";
}

TEST_F(KeptMarks, ClearHidesMarksUntilTheWholeFileIsReadAgainAndClearMarksForgetsThem)
{
    writeFile(log, "a\nb\nc\n");
    restart();
    session->note(1, u"kept");
    session->doc.clearText();
    session->doc.stopWatching();
    EXPECT_TRUE(session->marks().empty());
    EXPECT_EQ(session->keeper.unseenCount(), 1u);
    session->append(log, "d\n");
    session->toggle(0); // "d", below the Clear
    restart();
    EXPECT_EQ(session->marks(), (Marks{{1, u"kept"}, {3, u""}}));

    session->doc.clearText();
    session->doc.stopWatching();
    session->doc.marks().clear();
    session->keeper.marksChanged(true);
    EXPECT_EQ(session->keeper.unseenCount(), 0u);
    restart();
    EXPECT_TRUE(session->marks().empty()) << "Clear Marks forgets the unseen ones too";
}

TEST_F(KeptMarks, ADamagedFileIsMovedAsideItsGoodLinesUsedAndTheUserToldOnce)
{
    writeFile(log, "x\ny\nz\n");
    restart();
    session->note(0, u"first");
    session->toggle(2);
    const std::string file = session->keeper.fileFor(log);
    std::string text = readFile(file);
    text +=
        "garbage line\n12 3\n-1 2 0123456789abcdef\n4 2 0123456789abcdeg\n4 0 0123456789abcdef\n"
        "4 2 0123456789abcdef bad\\escape\n";
    writeFile(file, text);
    restart();
    EXPECT_EQ(session->marks(), (Marks{{0, u"first"}, {2, u""}}));
    ASSERT_EQ(session->problems.size(), 1u);
    EXPECT_EQ(session->problems[0].kind, MarkKeeper::Problem::Kind::Damaged);
    EXPECT_EQ(session->problems[0].aside, file + ".damaged");
    EXPECT_EQ(readFile(file + ".damaged"), text) << "its bytes are kept for the user";
    restart();
    EXPECT_TRUE(session->problems.empty()) << "the file was written anew";
    EXPECT_EQ(session->marks(), (Marks{{0, u"first"}, {2, u""}}));

    // Not a marks file at all, and one too big to be ours.
    for (const std::string& bad :
         {std::string("\x89PNG\r\n\x1a\n", 8), std::string(MarkKeeper::MaxFileBytes + 1, '\n')}) {
        writeFile(file, bad);
        restart();
        EXPECT_TRUE(session->marks().empty());
        ASSERT_EQ(session->problems.size(), 1u);
        EXPECT_EQ(readFile(file + ".damaged"), bad);
        EXPECT_FALSE(std::filesystem::exists(file)) << "nothing good was in it";
    }
}

TEST_F(KeptMarks, AnUnwritableFolderIsToldOnceAndTheMarksStayOnTheLines)
{
    writeFile(log, "x\ny\n");
    writeFile(settings.dir.file("data"), "a file where the folder should be");
    restart();
    session->toggle(0);
    session->toggle(1);
    EXPECT_EQ(session->marks(), (Marks{{0, u""}, {1, u""}}));
    ASSERT_EQ(session->problems.size(), 1u);
    EXPECT_EQ(session->problems[0].kind, MarkKeeper::Problem::Kind::Unwritable);
}

TEST(KeptMarksText, HostileBytesNeverCrashAndFormattedMarksReadBackExactly)
{
    std::mt19937 random(7);
    const std::u16string pieces[] = {u"\\",     u"\n",         u"\r",  u"n", u" ",
                                     u"\u00e9", u"\U0001F600", u"\\n", u"x"};
    for (int round = 0; round < 300; ++round) {
        std::vector<KeptMark> marks(random() % 5);
        for (KeptMark& mark : marks) {
            mark.offset = FileOffset(random() % 1000) << (random() % 40);
            mark.length = 1 + random() % 100000;
            mark.hash = (std::uint64_t(random()) << 32) | random();
            for (unsigned n = random() % 6; n > 0; --n) {
                mark.note += pieces[random() % std::size(pieces)];
            }
        }
        std::string path = "/var/log/a b\\c\nd";
        path += char(0x80 + random() % 0x80);
        const std::string text = formatKeptMarks(path, marks);
        const KeptMarksText back = parseKeptMarks(text);
        ASSERT_EQ(back.damagedLines, 0u) << text;
        ASSERT_EQ(back.logPath, path);
        ASSERT_EQ(back.marks, marks) << text;
        // Every cut and every flipped byte of it reads as something, and never as more
        // marks than it had.
        const std::size_t cut = random() % (text.size() + 1);
        std::string hostile = text.substr(0, cut);
        if (!hostile.empty()) {
            hostile[random() % hostile.size()] = char(random());
        }
        const KeptMarksText damaged = parseKeptMarks(hostile);
        ASSERT_LE(damaged.marks.size(), marks.size());
    }
    EXPECT_EQ(parseKeptMarks("").damagedLines, 1u);
    EXPECT_EQ(parseKeptMarks("quillstream marks 1\n").damagedLines, 1u) << "no path";
    EXPECT_EQ(parseKeptMarks("quillstream marks 1\npath \n").damagedLines, 1u);
    EXPECT_EQ(parseKeptMarks("quillstream marks 1\npath /a\n1 2 0123456789ABCDEF\n").damagedLines,
              0u);
    EXPECT_EQ(parseKeptMarks("quillstream marks 1\npath /a\n1 2 +123456789abcdef\n").damagedLines,
              1u);
    EXPECT_EQ(parseKeptMarks("quillstream marks 1\npath /a\n1 2 0123456789abcdef0\n").damagedLines,
              1u);
    EXPECT_EQ(
        parseKeptMarks("quillstream marks 1\npath /a\n99999999999999999999 2 0123456789abcdef\n")
            .damagedLines,
        1u);
}

TEST_F(KeptMarks, AHugeLineIsKnownByItsFirstAndLastBytes)
{
    std::string huge(3 * HashedHalf, 'h');
    writeFile(log, "short\n" + huge + "\nafter\n");
    restart();
    session->toggle(1);
    std::string changed = huge;
    changed[huge.size() - 1] = 'H'; // its last byte: the tail read must see it
    writeFile(log, "short\n" + changed + "\nafter\n");
    restart();
    EXPECT_TRUE(session->marks().empty());
    session->toggle(1);
    changed[0] = 'H';
    writeFile(log, "short\n" + changed + "\nafter\n");
    restart();
    EXPECT_TRUE(session->marks().empty()) << "and its first";
}

namespace {

// The model: the file's bytes and the kept marks as the offset of their line's start with
// the bytes the line had then and the note. It finds lines by splitting its own bytes.
struct Model {
    std::string bytes;
    struct Mark {
        std::string held;
        std::u16string note;
    };
    std::map<std::size_t, Mark> kept; // by offset
    std::size_t shownFrom = 0;        // the offset a Clear showed lines from

    std::vector<std::size_t> starts() const
    {
        std::vector<std::size_t> all;
        for (std::size_t at = shownFrom; at < bytes.size();) {
            all.push_back(at);
            const std::size_t feed = bytes.find('\n', at);
            at = feed == std::string::npos ? bytes.size() : feed + 1;
        }
        return all;
    }
    std::size_t lineEnd(std::size_t start) const
    {
        const std::size_t feed = bytes.find('\n', start);
        return feed == std::string::npos ? bytes.size() : feed + 1;
    }
    // After the whole file is read again: what still starts a line with its bytes.
    void reread()
    {
        shownFrom = 0;
        const std::vector<std::size_t> all = starts();
        std::erase_if(kept, [&](const auto& entry) {
            const auto& [offset, mark] = entry;
            return !std::binary_search(all.begin(), all.end(), offset) ||
                   bytes.compare(offset, mark.held.size(), mark.held) != 0 ||
                   lineEnd(offset) - offset < mark.held.size();
        });
    }
    Marks shown() const
    {
        Marks all;
        const std::vector<std::size_t> lines = starts();
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (auto it = kept.find(lines[i]); it != kept.end()) {
                all[LineNumber(i)] = it->second.note;
            }
        }
        return all;
    }
};

} // namespace

TEST_F(KeptMarks, RandomMarksNotesAppendsRewritesClearsAndRestartsAgreeWithAByteModel)
{
    for (unsigned seed = 1; seed <= 12; ++seed) {
        std::mt19937 random(seed);
        std::filesystem::remove_all(folder);
        Model model;
        model.bytes = "start\nsecond line\nthird";
        writeFile(log, model.bytes);
        restart();
        const char* words[] = {"a", "bb\n", "ccc", "\n", "dd\nee\n", "zz"};
        for (int step = 0; step < 100; ++step) {
            const std::vector<std::size_t> lines = model.starts();
            const LineNumber count = LineNumber(lines.size());
            ASSERT_EQ(session->doc.lineCount(), count) << "seed " << seed << " step " << step;
            const unsigned what = random() % 10;
            if (what <= 3 && count > 0) {
                const LineNumber line =
                    random() % 3 == 0 ? count - 1 : LineNumber(random() % count);
                const std::size_t offset = lines[line];
                const std::string held = model.bytes.substr(offset, model.lineEnd(offset) - offset);
                if (what == 0 && model.kept.count(offset) > 0) {
                    model.kept.erase(offset);
                    session->toggle(line);
                } else if (what == 0) {
                    model.kept[offset] = {held, u""};
                    session->toggle(line);
                } else {
                    const std::u16string note(1 + random() % 3, char16_t(u'a' + random() % 26));
                    if (model.kept.count(offset) == 0) {
                        model.kept[offset] = {held, note};
                    } else {
                        model.kept[offset].note = note;
                    }
                    session->note(line, note);
                }
            } else if (what <= 5) {
                const std::string more = words[random() % std::size(words)];
                model.bytes += more;
                session->append(log, more);
            } else if (what == 6) {
                // Another program rewrites a byte somewhere (or rotates the file).
                if (random() % 4 == 0) {
                    model.bytes = "rotated\n";
                } else if (!model.bytes.empty()) {
                    model.bytes[random() % model.bytes.size()] = "xy\n"[random() % 3];
                }
                writeFile(log, model.bytes);
                model.reread();
                restart();
            } else if (what == 7) {
                session->doc.clearText();
                session->doc.stopWatching();
                model.shownFrom = model.bytes.size();
            } else if (what == 8) {
                model.reread();
                restart();
            } else {
                model.reread();
                ASSERT_TRUE(session->open(log)); // a reload in the same session
            }
            ASSERT_EQ(session->marks(), model.shown()) << "seed " << seed << " step " << step;
        }
    }
}
