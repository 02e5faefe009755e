#include "engine/SgrParser.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace {

constexpr ColorRef rgb(unsigned r, unsigned g, unsigned b)
{
    return ColorRef(r) | (ColorRef(g) << 8) | (ColorRef(b) << 16);
}

// xterm's first 16 entries.
constexpr std::array<ColorRef, 16> BasicColors{
    rgb(0, 0, 0),       rgb(205, 0, 0),   rgb(0, 205, 0),   rgb(205, 205, 0),
    rgb(0, 0, 238),     rgb(205, 0, 205), rgb(0, 205, 205), rgb(229, 229, 229),
    rgb(127, 127, 127), rgb(255, 0, 0),   rgb(0, 255, 0),   rgb(255, 255, 0),
    rgb(92, 92, 255),   rgb(255, 0, 255), rgb(0, 255, 255), rgb(255, 255, 255)};

// Plain flags and values, not optionals: GCC at -O3 reports the copies of an optional
// here as reads of uninitialized memory.
struct Style {
    bool hasText = false;
    bool hasBackground = false;
    ColorRef text = 0;
    ColorRef background = 0;
    bool bold = false;
    bool underline = false;
    bool plain() const { return !hasText && !hasBackground && !bold && !underline; }
    void setText(ColorRef color)
    {
        hasText = true;
        text = color;
    }
    void setBackground(ColorRef color)
    {
        hasBackground = true;
        background = color;
    }
};

// The numbers of one sequence: groups split by ';', each with sub-parameters split by ':'.
// A number too large to mean anything saturates (and is then out of every range).
struct Code {
    std::vector<unsigned> parts;
};

unsigned saturatingAppend(unsigned value, char16_t digit)
{
    const unsigned next = value * 10 + unsigned(digit - u'0');
    return value > 100000 ? value : next;
}

std::vector<Code> parseCodes(std::u16string_view params)
{
    std::vector<Code> codes(1);
    codes.back().parts.push_back(0);
    for (const char16_t c : params) {
        if (c == u';') {
            codes.emplace_back();
            codes.back().parts.push_back(0);
        } else if (c == u':') {
            codes.back().parts.push_back(0);
        } else if (c >= u'0' && c <= u'9') {
            codes.back().parts.back() = saturatingAppend(codes.back().parts.back(), c);
        }
    }
    return codes;
}

// Reads an extended colour (after 38 or 48) from sub-parameters or from the following
// codes; k is advanced past what was used. nullopt: malformed.
std::optional<ColorRef> extendedColor(const std::vector<Code>& codes, std::size_t& k)
{
    std::vector<unsigned> args;
    const Code& code = codes[k];
    if (code.parts.size() > 1) {
        args.assign(code.parts.begin() + 1, code.parts.end());
    } else {
        for (std::size_t j = k + 1; j < codes.size() && j <= k + 5; ++j) {
            args.push_back(codes[j].parts.front());
        }
    }
    if (args.empty()) {
        return std::nullopt;
    }
    const bool sub = code.parts.size() > 1;
    if (args[0] == 5) {
        if (args.size() < 2 || args[1] > 255) {
            return std::nullopt;
        }
        k += sub ? 0 : 2;
        return sgrPaletteColor(args[1]);
    }
    if (args[0] == 2) {
        // "38:2::r:g:b" carries a colour space id before the three parts.
        std::size_t first = 1;
        if (sub && args.size() >= 5) {
            first = 2;
        }
        if (args.size() < first + 3) {
            return std::nullopt;
        }
        const unsigned r = args[first];
        const unsigned g = args[first + 1];
        const unsigned b = args[first + 2];
        if (r > 255 || g > 255 || b > 255) {
            return std::nullopt;
        }
        k += sub ? 0 : 4;
        return rgb(r, g, b);
    }
    return std::nullopt;
}

void applySgr(std::u16string_view params, Style& style)
{
    const std::vector<Code> codes = parseCodes(params);
    for (std::size_t k = 0; k < codes.size(); ++k) {
        const unsigned n = codes[k].parts.front();
        if (n == 0) {
            style = Style();
        } else if (n == 1) {
            style.bold = true;
        } else if (n == 22) {
            style.bold = false;
        } else if (n == 4) {
            style.underline = true;
        } else if (n == 24) {
            style.underline = false;
        } else if (n >= 30 && n <= 37) {
            style.setText(BasicColors[n - 30]);
        } else if (n >= 90 && n <= 97) {
            style.setText(BasicColors[n - 90 + 8]);
        } else if (n == 39) {
            style.hasText = false;
        } else if (n >= 40 && n <= 47) {
            style.setBackground(BasicColors[n - 40]);
        } else if (n >= 100 && n <= 107) {
            style.setBackground(BasicColors[n - 100 + 8]);
        } else if (n == 49) {
            style.hasBackground = false;
        } else if (n == 38 || n == 48) {
            const std::optional<ColorRef> color = extendedColor(codes, k);
            if (!color) {
                return;
            }
            if (n == 38) {
                style.setText(*color);
            } else {
                style.setBackground(*color);
            }
        }
    }
}

// The length of the complete sequence at line[i] (which is ESC), or 0; sgr tells a CSI
// whose final is 'm'. Text is UTF-16 or bytes: every byte that decides is ASCII, and what a
// string holds beyond ASCII is taken whatever it decodes to.
template <typename Text> std::size_t sequenceLength(const Text& line, std::size_t i, bool& sgr)
{
    sgr = false;
    const std::size_t n = line.size();
    if (i + 1 >= n) {
        return 0;
    }
    const auto kind = line[i + 1];
    std::size_t k = i + 2;
    if (kind == u'[') {
        while (k < n && line[k] >= 0x30 && line[k] <= 0x3F) {
            ++k;
        }
        while (k < n && line[k] >= 0x20 && line[k] <= 0x2F) {
            ++k;
        }
        if (k < n && line[k] >= 0x40 && line[k] <= 0x7E) {
            sgr = line[k] == u'm';
            return k + 1 - i;
        }
        return 0;
    }
    // 'p' and 'x' (unassigned as escapes of their own) introduce strings as 'P' and 'X'
    // do: a search that ignores case folds the bytes before it takes the sequences out, and
    // must find the same sequences.
    if (kind == u']' || kind == u'P' || kind == u'X' || kind == u'^' || kind == u'_' ||
        kind == u'p' || kind == u'x') {
        // A string up to ST ("ESC \"), an OSC also up to BEL, as xterm's window titles. It
        // never holds another ESC (that one ends it unfinished) nor a line feed, so a block
        // of lines stripped at once loses each line's own strings.
        for (; k < n; ++k) {
            const auto c = line[k];
            if (c == 0x07 && kind == u']') {
                return k + 1 - i;
            }
            if (c == EscapeCharacter) {
                return k + 1 < n && line[k + 1] == u'\\' ? k + 2 - i : 0;
            }
            if (c == u'\n') {
                return 0;
            }
        }
        return 0;
    }
    if (kind >= 0x20 && kind <= 0x2F) {
        // Intermediates then a final: character set designations such as "ESC ( B".
        k = i + 1;
        while (k < n && line[k] >= 0x20 && line[k] <= 0x2F) {
            ++k;
        }
        return k < n && line[k] >= 0x30 && line[k] <= 0x7E ? k + 1 - i : 0;
    }
    // A single character: "ESC 7", "ESC =", "ESC c", ...
    return kind >= 0x30 && kind <= 0x7E ? 2 : 0;
}

} // namespace

ColorRef sgrPaletteColor(unsigned n)
{
    if (n < 16) {
        return BasicColors[n];
    }
    if (n < 232) {
        static constexpr std::array<unsigned, 6> Levels{0, 95, 135, 175, 215, 255};
        const unsigned cube = n - 16;
        return rgb(Levels[cube / 36], Levels[(cube / 6) % 6], Levels[cube % 6]);
    }
    const unsigned gray = 8 + 10 * (std::min(n, 255u) - 232);
    return rgb(gray, gray, gray);
}

void stripSgr(std::u16string_view line, std::u16string& shown, StyleRuns* runs)
{
    std::size_t next = line.find(EscapeCharacter);
    if (next == std::u16string_view::npos) {
        shown.append(line);
        return;
    }
    const std::size_t base = shown.size();
    Style style;
    std::size_t runStart = 0; // in shown, relative to base
    auto closeRun = [&](std::size_t end) {
        if (runs != nullptr && !style.plain() && end > runStart) {
            StyleRun run;
            run.start = runStart;
            run.end = end;
            run.hasText = style.hasText;
            run.hasBackground = style.hasBackground;
            run.text = style.hasText ? style.text : 0;
            run.background = style.hasBackground ? style.background : 0;
            run.bold = style.bold;
            run.underline = style.underline;
            if (!runs->empty() && runs->back().end == run.start && runs->back().sameStyle(run)) {
                runs->back().end = run.end;
            } else {
                runs->push_back(run);
            }
        }
    };
    std::size_t i = 0;
    while (next != std::u16string_view::npos) {
        bool sgr = false;
        const std::size_t length = sequenceLength(line, next, sgr);
        if (length == 0) {
            // Not a sequence: the ESC is shown as a character of the text.
            next = line.find(EscapeCharacter, next + 1);
            continue;
        }
        shown.append(line.substr(i, next - i));
        if (sgr) {
            const std::size_t at = shown.size() - base;
            closeRun(at);
            applySgr(line.substr(next + 2, length - 3), style);
            runStart = at;
        }
        i = next + length;
        next = line.find(EscapeCharacter, i);
    }
    shown.append(line.substr(i));
    closeRun(shown.size() - base);
}

void stripSgrInPlace(std::u16string& text, StyleRuns* runs)
{
    if (runs != nullptr) {
        runs->clear();
    }
    if (text.find(EscapeCharacter) == std::u16string::npos) {
        return;
    }
    std::u16string shown;
    shown.reserve(text.size());
    stripSgr(text, shown, runs);
    text.swap(shown);
}

std::size_t sgrSequenceLength(const std::uint8_t* bytes, std::size_t n, std::size_t at)
{
    bool sgr = false;
    return sequenceLength(std::basic_string_view<std::uint8_t>(bytes, n), at, sgr);
}
