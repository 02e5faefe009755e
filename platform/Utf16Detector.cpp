#include "platform/Utf16Detector.h"

#include <algorithm>

namespace quill {

namespace {

// The platform's test looks at the start of the buffer only; a few thousand units are
// plenty to tell text from text and keep the decision cheap on long ranges.
constexpr std::size_t MaxUnits = 4096;

std::uint16_t unitAt(const unsigned char* p, std::size_t i)
{
    return std::uint16_t(p[2 * i] | (p[2 * i + 1] << 8));
}

} // namespace

int IsTextUnicode(const void* bytes, std::size_t size, std::uint32_t* tests)
{
    const std::uint32_t wanted = tests ? *tests : IS_TEXT_UNICODE_UNICODE_MASK;
    std::uint32_t passed = 0;
    if (size < 2 || !bytes) {
        if (tests) {
            *tests = 0;
        }
        return 0;
    }
    const auto* p = static_cast<const unsigned char*>(bytes);
    const std::size_t units = std::min(size / 2, MaxUnits);

    if ((wanted & IS_TEXT_UNICODE_SIGNATURE) && p[0] == 0xFF && p[1] == 0xFE) {
        passed |= IS_TEXT_UNICODE_SIGNATURE;
    }
    bool ascii16 = true;
    std::size_t nonZero = 0;
    std::size_t below256 = 0;
    bool controls = false;
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint16_t u = unitAt(p, i);
        if (u == 0) {
            continue;
        }
        ++nonZero;
        if (u > 0x7F) {
            ascii16 = false;
        }
        if (u < 0x100) {
            ++below256;
        }
        if (u == 0x0D || u == 0x0A || u == 0x09 || u == 0x20 || u == 0x3000) {
            controls = true;
        }
    }
    if ((wanted & IS_TEXT_UNICODE_ASCII16) && ascii16 && nonZero > 0) {
        passed |= IS_TEXT_UNICODE_ASCII16;
    }
    if ((wanted & IS_TEXT_UNICODE_STATISTICS) && below256 > nonZero / 2) {
        passed |= IS_TEXT_UNICODE_STATISTICS;
    }
    if ((wanted & IS_TEXT_UNICODE_CONTROLS) && controls) {
        passed |= IS_TEXT_UNICODE_CONTROLS;
    }
    if (tests) {
        *tests = passed;
    }
    return passed != 0 ? 1 : 0;
}

} // namespace quill
