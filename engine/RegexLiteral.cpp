#include "engine/RegexLiteral.h"

namespace {

bool isAsciiAlnum(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Escapes of one letter that stand for a class or an assertion and take nothing after them.
bool isSimpleEscape(char16_t c)
{
    return std::u16string_view(u"dDwWsSbBhHvVRAzZG").find(c) != std::u16string_view::npos;
}

// The byte a character is in the searched text, or -1 where a run cannot hold it:
// beyond ASCII, a control character, or, caseless, k and s.
int runByte(char16_t c, bool caseless)
{
    if (c >= 0x80 || c < 0x20) {
        return -1;
    }
    if (caseless) {
        if (c >= u'A' && c <= u'Z') {
            c = char16_t(c + 32);
        }
        if (c == u'k' || c == u's') {
            return -1;
        }
    }
    return int(c);
}

// The class that opens at p[open]: where its ']' is (npos: unclosed, or a "[:alpha:]" the
// reading does not know, so nothing is read), and its bytes in `members`, left empty where
// the run cannot hold it (negated, an escape of a letter, too many bytes, a byte runByte
// refuses).
std::size_t readClass(std::u16string_view p, std::size_t open, bool caseless, std::string& members)
{
    members.clear();
    std::size_t k = open + 1;
    bool usable = true;
    if (k < p.size() && p[k] == u'^') {
        usable = false;
        ++k;
    }
    std::u16string chars; // the members as written, ranges with a '-' between (marked 0)
    for (bool first = true; k < p.size() && (p[k] != u']' || first); ++k, first = false) {
        char16_t c = p[k];
        if (c == u'[') {
            return std::u16string_view::npos; // "[:alpha:]" and the like
        }
        if (c == u'\\') {
            if (++k >= p.size()) {
                return std::u16string_view::npos;
            }
            c = p[k];
            usable = usable && !isAsciiAlnum(c);
        } else if (c == u'-' && !chars.empty() && k + 1 < p.size() && p[k + 1] != u']') {
            c = 0; // a range between the members around it
        }
        chars += c;
    }
    if (k >= p.size()) {
        return std::u16string_view::npos;
    }
    for (std::size_t m = 0; usable && m < chars.size(); ++m) {
        char16_t low = chars[m];
        char16_t high = low;
        if (m + 2 < chars.size() && chars[m + 1] == 0) {
            high = chars[m + 2];
            m += 2;
        }
        usable = low != 0 && high != 0 && low <= high && std::size_t(high - low) < MaxClassBytes;
        for (char16_t c = low; usable && c <= high; ++c) {
            const int b = runByte(c, caseless);
            usable = b >= 0;
            if (usable && members.find(char(b)) == std::string::npos) {
                members += char(b);
            }
        }
        usable = usable && members.size() <= MaxClassBytes;
    }
    if (!usable) {
        members.clear();
    }
    return k;
}

} // namespace

std::size_t requiredWeight(const RequiredText& text)
{
    std::size_t weight = 0;
    for (const std::string& place : text) {
        weight += place.size() == 1 ? 2 : 1;
    }
    return weight;
}

RequiredText requiredLiteral(std::u16string_view p, bool caseless)
{
    RequiredText best;
    std::size_t bestWeight = 0;
    RequiredText run;
    int depth = 0;
    auto endRun = [&] {
        if (const std::size_t weight = requiredWeight(run); weight > bestWeight) {
            best = run;
            bestWeight = weight;
        }
        run.clear();
    };
    // The character before an optional repeat is not required.
    auto dropLast = [&] {
        if (!run.empty()) {
            run.pop_back();
        }
        endRun();
    };
    auto take = [&](char16_t c) {
        const int b = runByte(c, caseless);
        if (b < 0) {
            endRun();
        } else if (depth == 0) {
            run.emplace_back(1, char(b));
        }
    };
    for (std::size_t i = 0; i < p.size(); ++i) {
        const char16_t c = p[i];
        switch (c) {
        case u'\\': {
            if (i + 1 >= p.size()) {
                return {};
            }
            const char16_t e = p[++i];
            if (isAsciiAlnum(e)) {
                if (!isSimpleEscape(e)) {
                    return {}; // \x41, \Q, \p{..}, back references: not read here
                }
                endRun();
            } else {
                take(e);
            }
            break;
        }
        case u'[': {
            std::string members;
            const std::size_t close = readClass(p, i, caseless, members);
            if (close == std::u16string_view::npos) {
                return {};
            }
            if (members.empty()) {
                endRun();
            } else if (depth == 0) {
                run.push_back(std::move(members));
            }
            i = close;
            break;
        }
        case u'(':
            if (i + 1 < p.size() && (p[i + 1] == u'?' || p[i + 1] == u'*')) {
                return {}; // options, lookaround, verbs
            }
            endRun();
            ++depth;
            break;
        case u')':
            endRun();
            if (--depth < 0) {
                return {};
            }
            break;
        case u'|':
            if (depth == 0) {
                return {};
            }
            endRun();
            break;
        case u'*':
        case u'?':
            dropLast();
            break;
        case u'+':
            endRun();
            break;
        case u'{': {
            // Digits, commas and blanks to a closing brace may be a counted repeat (versions
            // of PCRE2 differ in the forms they take): read as one. Anything else makes the
            // brace itself, left out of the runs.
            std::size_t close = i + 1;
            while (close < p.size() && ((p[close] >= u'0' && p[close] <= u'9') ||
                                        p[close] == u',' || p[close] == u' ')) {
                ++close;
            }
            if (close < p.size() && p[close] == u'}') {
                dropLast();
                i = close;
            } else {
                endRun();
            }
            break;
        }
        case u'.':
        case u'^':
        case u'$':
            endRun();
            break;
        default:
            take(c);
            break;
        }
    }
    if (depth != 0) {
        return {};
    }
    endRun();
    return best;
}
