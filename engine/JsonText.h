#pragma once

// JsonText: a small strict JSON reader and printer for the objects log lines carry.
//
// The grammar is RFC 8259's, with nothing added: no comments, no trailing commas, no
// single quotes, no NaN. Text is UTF-16 as everywhere in the core. Two bounds keep any input
// cheap and safe: containers nest at most JsonMaxDepth deep (the parser keeps its own stack,
// so no input can exhaust the thread's), and one object may span at most JsonMaxChars code
// units. Malformed text gives an error with its offset; nothing throws.
//
// Strings are kept decoded: escapes resolved, an escaped surrogate pair joined into its
// character. A surrogate that is not part of a pair (escaped or raw, as an unpaired code unit
// in a UTF-16 file) becomes U+FFFD, so a decoded string is always well-formed UTF-16 and prints
// back to text that reads the same. Numbers keep their text: a number of any size or precision
// is shown as written, never rounded.
//
// A parsed document is its nodes in document order (a container before its members), each
// with its depth; that order and the depths say the whole tree, so printing and comparing
// are loops without recursion. Pure functions; thread-safe.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The deepest nesting read: the outermost object counts as one.
constexpr std::uint32_t JsonMaxDepth = 64;
// The most code units one object may span, braces included.
constexpr std::size_t JsonMaxChars = std::size_t{1} << 20;

enum class JsonKind : std::uint8_t { Object, Array, String, Number, True, False, Null };

struct JsonNode {
    JsonKind kind = JsonKind::Null;
    std::uint32_t depth = 0; // the outermost object is 0
    bool hasKey = false;     // a member of an object
    std::u16string key;      // decoded, when hasKey
    std::u16string text;     // a string's decoded text, a number as written
    bool operator==(const JsonNode&) const = default;
};

struct JsonDocument {
    std::vector<JsonNode> nodes;
    bool operator==(const JsonDocument&) const = default;
};

// Why reading stopped; the offset says where.
enum class JsonFault : std::uint8_t {
    None,
    ExpectedValue,      // not the start of a value
    ExpectedKey,        // an object's member must start with a quoted name
    ExpectedColon,      // a name must be followed by ':'
    ExpectedCommaOrEnd, // after a member: ',' or the closing bracket
    BadEscape,          // a backslash not followed by one of "\/bfnrt or uXXXX
    ControlCharacter,   // a raw character below U+0020 inside a string
    BadNumber,          // a number's digits are missing
    UnexpectedEnd,      // the line ends inside the object
    TooDeep,            // nesting past JsonMaxDepth
    TooLong,            // the object is longer than JsonMaxChars
};

struct JsonError {
    JsonFault fault = JsonFault::None;
    std::size_t offset = 0; // code units into the text given to the reader
    bool operator==(const JsonError&) const = default;
};

struct JsonRead {
    JsonDocument document; // complete when error.fault is None, else what was read so far
    JsonError error;
    std::size_t end = 0; // one past the closing brace, when read whole
    bool ok() const { return error.fault == JsonFault::None; }
};

// Reads one object starting at text[start] (which should be '{'; anything else is
// ExpectedValue there). What follows the closing brace is not looked at.
JsonRead readJsonObject(std::u16string_view text, std::size_t start = 0);

// One line of printed output: its nesting depth (the indent is the printer's user's to draw,
// so that a wrapped line can hang under its own start) and its text.
struct PrintedLine {
    std::uint32_t depth = 0;
    std::u16string text;
    bool operator==(const PrintedLine&) const = default;
};

enum class JsonStyle : std::uint8_t {
    // JSON again, one member a line: what it prints reads back as the same document.
    // Only '"', '\\' and characters below U+0020 are escaped.
    Json,
    // For reading: as Json, but quotes and backslashes inside strings are shown as they
    // are, and a line feed inside a string starts a new line one level deeper.
    Display,
};

// Appends the document's lines to out.
void printJson(const JsonDocument& document, JsonStyle style, std::vector<PrintedLine>& out);

// Printed lines as one text: each indented by indentWidth spaces per depth, ended by '\n'.
std::u16string joinPrintedLines(const std::vector<PrintedLine>& lines, std::size_t indentWidth);
