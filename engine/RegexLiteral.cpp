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

} // namespace

std::string RequiredLiteral(std::u16string_view p, bool caseless)
{
    std::string best;
    std::string run;
    int depth = 0;
    auto endRun = [&] {
        if (run.size() > best.size()) {
            best = run;
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
        if (c >= 0x80 || c < 0x20) {
            endRun();
            return;
        }
        if (caseless) {
            if (c >= u'A' && c <= u'Z') {
                c = char16_t(c + 32);
            }
            if (c == u'k' || c == u's') {
                endRun();
                return;
            }
        }
        if (depth == 0) {
            run += char(c);
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
            // A class: skipped to its end ("[]" and "[^]" take the ']' as a member).
            std::size_t k = i + 1;
            if (k < p.size() && p[k] == u'^') {
                ++k;
            }
            if (k < p.size() && p[k] == u']') {
                ++k;
            }
            while (k < p.size() && p[k] != u']') {
                if (p[k] == u'[') {
                    return {}; // "[:alpha:]" and the like
                }
                if (p[k] == u'\\') {
                    ++k;
                }
                ++k;
            }
            if (k >= p.size()) {
                return {};
            }
            endRun();
            i = k;
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
            while (close < p.size() &&
                   ((p[close] >= u'0' && p[close] <= u'9') || p[close] == u',' || p[close] == u' ')) {
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
