#include "platform/Utf16Detector.h"

#include <algorithm>

namespace quill {

namespace {

// A byte narrow text holds between its characters: the blanks, BEL, BS, ESC and ASCII
// signs. Two of them side by side make a unit such as U+6F6C, which only looks like CJK.
bool isAsciiTextByte(std::uint8_t b)
{
    return (b >= 0x20 && b <= 0x7E) || (b >= 0x07 && b <= 0x0D) || b == 0x1B;
}

// Blanks, and the controls a terminal's output holds between words (BEL, BS, ESC).
bool isBlankUnit(std::uint16_t u)
{
    return (u >= 0x07 && u <= 0x0D) || u == 0x1B || u == 0x20 || u == 0xA0 || u == 0x3000;
}

// A unit that text does not hold (surrogates are judged by the caller, in pairs).
bool isStrayUnit(std::uint16_t u)
{
    if (u < 0x20) {
        return !(u >= 0x07 && u <= 0x0D) && u != 0x1B;
    }
    return (u >= 0x7F && u <= 0x9F) || (u >= 0xE000 && u <= 0xF8FF) ||
           (u >= 0xFDD0 && u <= 0xFDEF) || u >= 0xFFFE;
}

struct Reading {
    std::size_t units = 0;      // other than zero
    std::size_t lineFeeds = 0;  // the unit 0x000A
    std::size_t stray = 0;      // isStrayUnit, lone surrogates
    std::size_t text = 0;       // neither blank nor stray
    std::size_t latin = 0;      // of those, with a zero high byte
    std::size_t wide = 0;       // a high byte other than zero
    std::size_t asciiPairs = 0; // of those, both bytes isAsciiTextByte
    std::size_t oneBlock = 0;   // of those, the most with one high byte 0x01-0x0F
};

Reading readUnits(const std::uint8_t* p, std::size_t units, bool bigEndian)
{
    const std::size_t lowAt = bigEndian ? 1 : 0;
    Reading r;
    std::size_t perHigh[16] = {};
    auto unitAt = [&](std::size_t i) {
        return std::uint16_t(p[2 * i + lowAt] | (p[2 * i + (1 - lowAt)] << 8));
    };
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint16_t u = unitAt(i);
        if (u == 0) {
            continue;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 == units) {
                break; // its low half is beyond the window
            }
            const std::uint16_t next = unitAt(i + 1);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                r.units += 2;
                r.text += 1;
                r.wide += 2;
                ++i;
                continue;
            }
        }
        ++r.units;
        if ((u >= 0xD800 && u <= 0xDFFF) || isStrayUnit(u)) {
            ++r.stray;
            continue;
        }
        const std::uint8_t high = std::uint8_t(u >> 8);
        if (u == 0x0A) {
            ++r.lineFeeds;
        }
        if (high != 0) {
            ++r.wide;
            // Narrow text has a line feed or a carriage return between two characters
            // every other byte only in lines of one or two characters (as `yes` writes).
            if (high < 16 && high != 0x0A && high != 0x0D) {
                r.oneBlock = std::max(r.oneBlock, ++perHigh[high]);
            }
            if (isAsciiTextByte(high) && isAsciiTextByte(std::uint8_t(u))) {
                ++r.asciiPairs;
            }
        }
        if (!isBlankUnit(u)) {
            ++r.text;
            if (high == 0) {
                ++r.latin;
            }
        }
    }
    return r;
}

// How often the bytes, read as narrow text with its zero padding left out, break UTF-8 or
// hold a control character: each a place where narrow text is the worse explanation.
std::size_t narrowFaults(const std::uint8_t* p, std::size_t n)
{
    std::size_t faults = 0;
    int pending = 0; // continuation bytes the sequence still needs
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = p[i];
        if (b == 0) {
            continue;
        }
        const bool blank = b == '\n' || b == '\t' || b == ' ' || b == '\r';
        if (blank && i + 1 < n && p[i + 1] == 0) {
            continue; // "\n\0" and its kind are padding
        }
        if (pending > 0) {
            if (b >= 0x80 && b <= 0xBF) {
                --pending;
                continue;
            }
            ++faults;
            pending = 0;
        }
        if (b < 0x80) {
            if (!isAsciiTextByte(b)) {
                ++faults;
            }
        } else if (b >= 0xC2 && b <= 0xDF) {
            pending = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            pending = 2;
        } else if (b >= 0xF0 && b <= 0xF4) {
            pending = 3;
        } else {
            ++faults; // a continuation byte alone, or a byte UTF-8 never uses
        }
    }
    return faults; // a sequence cut at the end of the window is no fault
}

bool showsUtf16(const Reading& r, std::size_t faults)
{
    if (r.lineFeeds == 0 || r.stray * 64 > r.units || r.text < MinTextUnits) {
        return false;
    }
    const bool latin = r.latin * 4 >= r.text;
    const bool otherScript = faults >= 2 && faults * 8 >= r.wide && r.asciiPairs * 4 <= r.wide * 3;
    // A script of one block below U+1000 (Devanagari, Tamil): its units read as narrow
    // text are ASCII letters with a control byte between each two.
    const bool oneScriptBlock = r.wide >= 16 && r.oneBlock * 4 >= r.wide * 3;
    return latin || otherScript || oneScriptBlock;
}

} // namespace

Utf16Guess guessUtf16(const void* bytes, std::size_t size)
{
    if (bytes == nullptr || size < 2) {
        return Utf16Guess::Narrow;
    }
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    const std::size_t units = std::min(size / 2, Utf16GuessMaxUnits);
    const std::size_t faults = narrowFaults(p, 2 * units);
    if (showsUtf16(readUnits(p, units, false), faults)) {
        return Utf16Guess::LittleEndian;
    }
    if (showsUtf16(readUnits(p, units, true), faults)) {
        return Utf16Guess::BigEndian;
    }
    return Utf16Guess::Narrow;
}

} // namespace quill
