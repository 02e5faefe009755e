// The command line: help switches as whole arguments, flags with "-" only, "--", and the
// first file name winning.

#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* name;
    std::vector<std::string> args;
    bool help;
    const char* file; // nullptr: none
};

class CommandLineTest : public ::testing::TestWithParam<Case> {};

} // namespace

TEST_P(CommandLineTest, Parses)
{
    const Case& c = GetParam();
    const CommandLineInfo info = parseCommandLine(c.args);
    EXPECT_EQ(info.showHelp, c.help);
    if (c.file == nullptr) {
        EXPECT_FALSE(info.fileName.has_value());
    } else {
        ASSERT_TRUE(info.fileName.has_value());
        EXPECT_EQ(*info.fileName, c.file);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineTest,
    ::testing::Values(
        Case{"Empty", {}, false, nullptr},
        Case{"File", {"/var/log/syslog"}, false, "/var/log/syslog"},
        Case{"ShortHelp", {"-h"}, true, nullptr}, Case{"LongHelpAnyCase", {"-HELP"}, true, nullptr},
        Case{"QuestionMark", {"-?"}, true, nullptr}, Case{"GnuHelp", {"--Help"}, true, nullptr},
        Case{"HelpWinsOverAFile", {"/var/log/a.log", "-h"}, true, "/var/log/a.log"},
        Case{"SlashIsAPathNotAFlag", {"/h"}, false, "/h"},
        Case{"SlashQuestionMarkIsAPath", {"/?"}, false, "/?"},
        Case{"PathContainingDashH", {"/var/log/my-history.log"}, false, "/var/log/my-history.log"},
        Case{"PathContainingDashHelp", {"/srv/-hourly/-help.log"}, false, "/srv/-hourly/-help.log"},
        Case{"HelpPrefixIsNoHelp", {"-hx", "a.log"}, false, "a.log"},
        Case{"TwoFilesOpenTheFirst", {"first.log", "second.log"}, false, "first.log"},
        Case{"OtherFlagsIgnored", {"-v", "--geometry=1", "x.log"}, false, "x.log"},
        Case{"DoubleDashEndsFlags", {"--", "-h"}, false, "-h"},
        Case{"HelpBeforeDoubleDash", {"-h", "--", "x.log"}, true, "x.log"},
        Case{"SecondDoubleDashIsAFile", {"--", "--"}, false, "--"},
        Case{"EmptyArgumentSkipped", {"", "y.log"}, false, "y.log"},
        Case{"NonAsciiPath", {"/tmp/\xc3\xa4rger.log"}, false, "/tmp/\xc3\xa4rger.log"}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

TEST(CommandLineVersionTest, WholeArgumentBeforeDoubleDashOnly)
{
    EXPECT_TRUE(parseCommandLine({"--version"}).showVersion);
    EXPECT_TRUE(parseCommandLine({"a.log", "--VERSION"}).showVersion);
    EXPECT_FALSE(parseCommandLine({"--versions"}).showVersion);
    EXPECT_FALSE(parseCommandLine({"-version"}).showVersion);
    const CommandLineInfo afterDoubleDash = parseCommandLine({"--", "--version"});
    EXPECT_FALSE(afterDoubleDash.showVersion);
    EXPECT_EQ(afterDoubleDash.fileName, std::optional<std::string>("--version"));
}

TEST(CommandLineSourcesTest, DashIsStandardInputAndCommandTakesTheNextArgumentWhole)
{
    EXPECT_TRUE(parseCommandLine({"-"}).standardInput);
    EXPECT_FALSE(parseCommandLine({"-"}).fileName);
    const CommandLineInfo afterDoubleDash = parseCommandLine({"--", "-"});
    EXPECT_FALSE(afterDoubleDash.standardInput);
    EXPECT_EQ(afterDoubleDash.fileName, std::optional<std::string>("-"));

    const CommandLineInfo command = parseCommandLine({"--command", "journalctl -f -o short-iso"});
    EXPECT_EQ(command.command, std::optional<std::string>("journalctl -f -o short-iso"));
    EXPECT_FALSE(command.fileName);
    // The line is taken whole even when it looks like a flag; the first one wins.
    const CommandLineInfo flagLike =
        parseCommandLine({"--command", "-h", "--command", "b", "x.log"});
    EXPECT_EQ(flagLike.command, std::optional<std::string>("-h"));
    EXPECT_FALSE(flagLike.showHelp);
    EXPECT_EQ(flagLike.fileName, std::optional<std::string>("x.log"));
    EXPECT_EQ(parseCommandLine({"--command=tail -f a"}).command,
              std::optional<std::string>("tail -f a"));
    EXPECT_EQ(parseCommandLine({"--command="}).command, std::optional<std::string>(""));
    EXPECT_FALSE(parseCommandLine({"--command"}).command);
    EXPECT_FALSE(parseCommandLine({"--commands", "x"}).command);
    EXPECT_FALSE(parseCommandLine({"--", "--command", "x"}).command);
}

TEST(CommandLineLineTest, PlusNAndLineOptionPickTheLineAndTheLastOneCounts)
{
    struct Row {
        std::vector<std::string> args;
        std::optional<std::uint32_t> line;
        const char* file; // nullptr: none
        const char* bad;  // the option reported as lacking its number
    };
    const Row rows[] = {
        {{"+120", "a.log"}, 120u, "a.log", ""},
        {{"a.log", "+0"}, 0u, "a.log", ""},
        {{"--line", "7", "a.log"}, 7u, "a.log", ""},
        {{"--line=9", "a.log"}, 9u, "a.log", ""},
        {{"+", "a.log"}, std::nullopt, "a.log", ""},
        {{"+5", "+G", "a.log"}, std::nullopt, "a.log", ""},
        {{"+G", "+5", "a.log"}, 5u, "a.log", ""},
        {{"+99999999999999999999", "a.log"}, UINT32_MAX, "a.log", ""},
        {{"+x.log"}, std::nullopt, "+x.log", ""},
        {{"+5x"}, std::nullopt, "+5x", ""},
        {{"--", "+5"}, std::nullopt, "+5", ""},
        {{"--", "--line", "3"}, std::nullopt, "--line", ""},
        {{"--line", "a.log"}, std::nullopt, "a.log", "--line"},
        {{"a.log", "--line"}, std::nullopt, "a.log", "--line"},
        {{"--line=", "a.log"}, std::nullopt, "a.log", "--line"},
        {{"--lines", "a.log"}, std::nullopt, "a.log", ""},
    };
    for (const Row& row : rows) {
        const CommandLineInfo info = parseCommandLine(row.args);
        std::string shown;
        for (const std::string& a : row.args) {
            shown += a + " ";
        }
        EXPECT_EQ(info.line, row.line) << shown;
        if (row.file == nullptr) {
            EXPECT_FALSE(info.fileName.has_value()) << shown;
        } else {
            EXPECT_EQ(info.fileName, std::optional<std::string>(row.file)) << shown;
        }
        EXPECT_EQ(info.badOption, row.bad) << shown;
    }
    // The text as typed goes to a window already running, of the first one that reads.
    EXPECT_EQ(parseCommandLine({"--at", "noon", "--at=-15m", "--at", "9:00", "a.log"}).atText,
              "-15m");
    EXPECT_EQ(parseCommandLine({"--at", "2026-12-09 22:01", "a.log"}).atText, "2026-12-09 22:01");
}

TEST(CommandLineLineTest, EachPlusNGoesToTheFileAfterIt)
{
    using Lines = std::vector<std::optional<std::uint32_t>>;
    const std::optional<std::uint32_t> end;
    const std::pair<std::vector<std::string>, Lines> rows[] = {
        {{"+300", "g.log", "h.log"}, {300u, end}},
        {{"+300", "g.log", "+40", "h.log"}, {300u, 40u}},
        {{"g.log", "+40", "h.log"}, {end, 40u}},
        {{"g.log", "h.log", "+7"}, {end, 7u}},
        {{"+1", "+2", "g.log", "+G", "h.log"}, {2u, end}},
        {{"+5", "--", "+6", "h.log"}, {5u, end}},
        {{"--line", "8", "g.log", "--line=9", "h.log"}, {8u, 9u}},
        {{"+3", "", "g.log"}, {3u}},
        {{"+4", "-", "g.log"}, {4u}},
        {{"+4", "--new-window", "g.log"}, {4u}},
        {{"+4"}, {}},
    };
    for (const auto& [args, lines] : rows) {
        const CommandLineInfo info = parseCommandLine(args);
        EXPECT_EQ(info.lines, lines) << args.size() << " " << args.front();
        EXPECT_EQ(info.fileNames.size(), lines.size());
        EXPECT_EQ(info.line, lines.empty() ? end : lines.front());
    }
    EXPECT_TRUE(parseCommandLine({"--new-window"}).newWindow);
    EXPECT_FALSE(parseCommandLine({"--", "--new-window"}).newWindow);
    EXPECT_FALSE(parseCommandLine({"--New-Window"}).newWindow);
    // --merge takes no value: every file named, before or after it, is merged.
    const CommandLineInfo merged = parseCommandLine({"a.log", "--merge", "b.log"});
    EXPECT_TRUE(merged.merge);
    EXPECT_EQ(merged.fileNames, (std::vector<std::string>{"a.log", "b.log"}));
    EXPECT_FALSE(parseCommandLine({"--", "--merge"}).merge);
}

TEST(CommandLineAtTest, AtTakesTheNextArgumentWholeAndABadTimeIsReported)
{
    struct Row {
        std::vector<std::string> args;
        bool at;
        const char* file;
        const char* bad;
    };
    const Row rows[] = {
        {{"--at", "2026-12-09 22:01:00", "a.log"}, true, "a.log", ""},
        {{"a.log", "--at=2026-12-09 22:01:00"}, true, "a.log", ""},
        // The value is the time, never a file or a flag, whatever it looks like.
        {{"--at", "a.log"}, false, nullptr, "--at"},
        {{"--at", "--line", "a.log"}, false, "a.log", "--at"},
        {{"a.log", "--at"}, false, "a.log", "--at"},
        {{"--", "--at", "2026-12-09 22:01:00"}, false, "--at", ""},
        {{"--atx", "a.log"}, false, "a.log", ""},
    };
    for (const Row& row : rows) {
        const CommandLineInfo info = parseCommandLine(row.args);
        std::string shown;
        for (const std::string& a : row.args) {
            shown += a + " ";
        }
        EXPECT_EQ(info.at.has_value(), row.at) << shown;
        EXPECT_EQ(info.fileName, row.file ? std::optional<std::string>(row.file) : std::nullopt)
            << shown;
        EXPECT_EQ(info.badOption, row.bad) << shown;
    }
}

TEST(CommandLineRotatedTest, WithRotatedMarksTheFileAfterItWhateverItStartsWith)
{
    const CommandLineInfo info =
        parseCommandLine({"a.log", "+5", "--with-rotated", "-odd.log", "--with-rotated=c.log"});
    EXPECT_EQ(info.fileNames, (std::vector<std::string>{"a.log", "-odd.log", "c.log"}));
    EXPECT_EQ(info.withRotated, (std::vector<bool>{false, true, true}));
    EXPECT_EQ(info.lines[1], std::optional<std::uint32_t>(5)) << "a line goes with it too";
    EXPECT_TRUE(info.badOption.empty());
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"a.log", "--with-rotated"}, {"--with-rotated="}}) {
        EXPECT_EQ(parseCommandLine(args).badOption, "--with-rotated") << args.back();
    }
    EXPECT_EQ(parseCommandLine({"--", "--with-rotated"}).fileNames,
              (std::vector<std::string>{"--with-rotated"}));
}
