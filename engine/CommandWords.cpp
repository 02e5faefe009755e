#include "engine/CommandWords.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

} // namespace

CommandWords splitCommandWords(std::string_view line)
{
    CommandWords result;
    std::string word;
    // A word exists once anything of it was seen, an empty pair of quotes included.
    bool inWord = false;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n) {
        const char c = line[i];
        if (isBlank(c)) {
            if (inWord) {
                result.words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
            ++i;
        } else if (c == '\'') {
            const std::size_t close = line.find('\'', i + 1);
            if (close == std::string_view::npos) {
                result.error = CommandWordsError::UnclosedSingle;
                result.errorOffset = i;
                result.words.clear();
                return result;
            }
            word.append(line.substr(i + 1, close - i - 1));
            inWord = true;
            i = close + 1;
        } else if (c == '"') {
            const std::size_t open = i;
            ++i;
            bool closed = false;
            while (i < n) {
                const char d = line[i];
                if (d == '"') {
                    closed = true;
                    ++i;
                    break;
                }
                if (d == '\\' && i + 1 < n) {
                    const char next = line[i + 1];
                    if (next == '$' || next == '`' || next == '"' || next == '\\') {
                        word += next;
                        i += 2;
                        continue;
                    }
                    if (next == '\n') {
                        i += 2;
                        continue;
                    }
                }
                word += d;
                ++i;
            }
            if (!closed) {
                result.error = CommandWordsError::UnclosedDouble;
                result.errorOffset = open;
                result.words.clear();
                return result;
            }
            inWord = true;
        } else if (c == '\\') {
            if (i + 1 >= n) {
                result.error = CommandWordsError::TrailingBackslash;
                result.errorOffset = i;
                result.words.clear();
                return result;
            }
            if (line[i + 1] != '\n') {
                word += line[i + 1];
                inWord = true;
            }
            i += 2;
        } else {
            word += c;
            inWord = true;
            ++i;
        }
    }
    if (inWord) {
        result.words.push_back(std::move(word));
    }
    if (result.words.empty()) {
        result.error = CommandWordsError::Empty;
    }
    return result;
}

std::string joinCommandWords(const std::vector<std::string>& words)
{
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) {
            line += ' ';
        }
        bool plain = !word.empty();
        for (char c : word) {
            const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                              (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
                              c == '/' || c == ':' || c == '=' || c == ',' || c == '+' ||
                              c == '@' || c == '%';
            if (!safe) {
                plain = false;
                break;
            }
        }
        if (plain) {
            line += word;
            continue;
        }
        // Single quotes keep everything but a single quote, which is closed, escaped and
        // opened again.
        line += '\'';
        for (char c : word) {
            if (c == '\'') {
                line += "'\\''";
            } else {
                line += c;
            }
        }
        line += '\'';
    }
    return line;
}
