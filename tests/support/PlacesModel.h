#pragma once

// A text given place by place, each place the bytes it may be there (an expression's
// required text, engine/RegexLiteral.h): the tests' own model of where it occurs, and how
// a failing test prints it.

#include <string>
#include <vector>

namespace quilltest {

// Some place of line starts a run where every byte is among its place's bytes; an empty
// text is everywhere.
inline bool holdsPlaces(const std::string& line, const std::vector<std::string>& places)
{
    for (std::size_t at = 0; at + places.size() <= line.size(); ++at) {
        std::size_t k = 0;
        while (k < places.size() && places[k].find(line[at + k]) != std::string::npos) {
            ++k;
        }
        if (k == places.size()) {
            return true;
        }
    }
    return places.empty();
}

// A place of several bytes as "[...]", one of a single byte as that byte.
inline std::string writtenPlaces(const std::vector<std::string>& places)
{
    std::string out;
    for (const std::string& place : places) {
        out += place.size() == 1 ? place : "[" + place + "]";
    }
    return out;
}

} // namespace quilltest
