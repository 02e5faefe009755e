// The command-line splitter against a table written from the shell's rules, against the
// shell itself for lines the shell would not expand, and its join against its split.

#include "engine/CommandWords.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;

struct Row {
    const char* line;
    Words words;
};

const std::vector<Row>& splitRows()
{
    static const std::vector<Row> rows = {
        {"journalctl -f -o short-iso", {"journalctl", "-f", "-o", "short-iso"}},
        {"  a \t b\n c  ", {"a", "b", "c"}},
        {"'a b' c", {"a b", "c"}},
        {"\"a b\" c", {"a b", "c"}},
        {"a'b'c", {"abc"}},
        {"a\"b c\"d", {"ab cd"}},
        {"''", {""}},
        {"a \"\" b", {"a", "", "b"}},
        {"a\\ b", {"a b"}},
        {"\\'a", {"'a"}},
        {"'a\\b'", {"a\\b"}},   // no escapes inside single quotes
        {"\"a\\b\"", {"a\\b"}}, // a backslash before b stays in double quotes
        {"\"a\\\"b\"", {"a\"b"}},
        {"\"\\$HOME \\` \\\\\"", {"$HOME ` \\"}},
        {"$HOME *.log ~ a;b|c>d", {"$HOME", "*.log", "~", "a;b|c>d"}}, // nothing expands
        {"a\\\nb", {"ab"}},                                            // backslash-newline joins
        {"\"a\\\nb\"", {"ab"}},
        {"'it'\\''s'", {"it's"}},
        {"kubectl logs -f 'pod/name with space'", {"kubectl", "logs", "-f", "pod/name with space"}},
        {"\xc3\xa4 '\xe2\x82\xac'", {"\xc3\xa4", "\xe2\x82\xac"}},
    };
    return rows;
}

TEST(CommandWords, SplitsByShellRules)
{
    for (const Row& row : splitRows()) {
        const CommandWords split = splitCommandWords(row.line);
        EXPECT_TRUE(split.ok()) << row.line;
        EXPECT_EQ(split.words, row.words) << row.line;
    }
}

TEST(CommandWords, RefusesWhatAShellWouldNotFinish)
{
    struct Bad {
        const char* line;
        CommandWordsError error;
        std::size_t offset;
    };
    const Bad rows[] = {
        {"", CommandWordsError::Empty, 0},
        {" \t\n", CommandWordsError::Empty, 0},
        {"a 'b c", CommandWordsError::UnclosedSingle, 2},
        {"a \"b c", CommandWordsError::UnclosedDouble, 2},
        {"a \"b\\\"", CommandWordsError::UnclosedDouble, 2},
        {"a b\\", CommandWordsError::TrailingBackslash, 3},
        {"'a\"' \"", CommandWordsError::UnclosedDouble, 5},
    };
    for (const Bad& row : rows) {
        const CommandWords split = splitCommandWords(row.line);
        EXPECT_EQ(split.error, row.error) << row.line;
        EXPECT_EQ(split.errorOffset, row.offset) << row.line;
        EXPECT_TRUE(split.words.empty()) << row.line;
    }
}

// The shell as the model: printf prints each word it was given between zero bytes.
Words shellWords(const std::string& line)
{
    const std::string script = "printf '%s\\0' " + line;
    std::string command = "/bin/sh -c '";
    for (char c : script) {
        command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    command += "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    Words words;
    std::string word;
    int c;
    while ((c = std::fgetc(pipe)) != EOF) {
        if (c == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(c);
        }
    }
    ::pclose(pipe);
    return words;
}

TEST(CommandWords, AgreesWithTheShellOnRandomLines)
{
    // Letters, blanks, quotes and backslashes only: nothing the shell would expand.
    const std::string alphabet = "ab  '\"\\\t-";
    std::mt19937 random(24);
    int compared = 0;
    for (int round = 0; round < 300; ++round) {
        std::string line;
        const int length = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < length; ++i) {
            line += alphabet[random() % alphabet.size()];
        }
        const CommandWords split = splitCommandWords(line);
        if (!split.ok()) {
            continue; // the shell would report a syntax error or wait for more
        }
        ++compared;
        EXPECT_EQ(split.words, shellWords(line)) << "line: [" << line << "]";
    }
    EXPECT_GT(compared, 100);
}

TEST(CommandWords, JoinedWordsSplitBackUnchanged)
{
    std::mt19937 random(7);
    const std::string alphabet = "aZ9 '\"\\$*;|\t\n-_/=";
    for (int round = 0; round < 500; ++round) {
        Words words(1 + random() % 4);
        for (std::string& word : words) {
            const int length = static_cast<int>(random() % 6);
            for (int i = 0; i < length; ++i) {
                word += alphabet[random() % alphabet.size()];
            }
        }
        const std::string line = joinCommandWords(words);
        const CommandWords split = splitCommandWords(line);
        EXPECT_EQ(split.words, words) << line;
    }
    EXPECT_EQ(joinCommandWords({"journalctl", "-f", "a b", ""}), "journalctl -f 'a b' ''");
}

} // namespace
