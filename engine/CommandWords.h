#pragma once

// A command line split into words the way a POSIX shell splits it, without ever running a
// shell: blanks (space, tab, newline) separate words; 'single quotes' keep everything up
// to the next single quote; "double quotes" keep everything, where a backslash escapes
// only $ ` " \ and a newline (which then vanishes); outside quotes a backslash keeps the next
// character (a backslash-newline vanishes); "" and '' make an empty word. Nothing is
// expanded: $HOME, *, ~, ;, | and > are plain characters of the words, so a command line
// can never do more than start one program with its arguments. Pure; any thread.

#include <string>
#include <string_view>
#include <vector>

enum class CommandWordsError {
    None,
    Empty,             // no word at all
    UnclosedSingle,    // a ' without its closing '
    UnclosedDouble,    // a " without its closing "
    TrailingBackslash, // the line ends with a lone backslash
};

struct CommandWords {
    std::vector<std::string> words;
    CommandWordsError error = CommandWordsError::None;
    // Where the open quotation mark or the backslash is (bytes from the start).
    std::size_t errorOffset = 0;

    bool ok() const { return error == CommandWordsError::None; }
};

CommandWords splitCommandWords(std::string_view line);

// The reverse, for showing a command: each word quoted only where it needs it, so that
// splitCommandWords gives the same words back.
std::string joinCommandWords(const std::vector<std::string>& words);
