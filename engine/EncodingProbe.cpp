#include "engine/EncodingProbe.h"

#include "platform/Utf16Detector.h"

#include <algorithm>

void EncodingProbe::reset()
{
    m_zeros = 0;
    m_window.clear();
    m_utf16 = false;
    m_bom = false;
    m_final = false;
}

void EncodingProbe::release()
{
    std::vector<std::uint8_t>().swap(m_window);
}

void EncodingProbe::feed(const std::uint8_t* bytes, std::size_t n)
{
    if (m_final || n == 0) {
        return;
    }
    std::size_t i = 0;
    if (m_window.empty()) {
        while (i < n && bytes[i] == 0) {
            ++i;
        }
        m_zeros += i;
        if (i == n) {
            return; // still nothing but zeros: no evidence either way
        }
        if (m_zeros % 2 != 0) {
            // The run ends inside a code unit: that unit belongs to the window.
            --m_zeros;
            m_window.push_back(0);
        }
    }
    const std::size_t take = std::min(n - i, WindowBytes - std::min(WindowBytes, m_window.size()));
    m_window.insert(m_window.end(), bytes + i, bytes + i + take);
    decide();
}

void EncodingProbe::decide()
{
    if (m_zeros == 0 && m_window.size() >= 2 && m_window[0] == 0xFF && m_window[1] == 0xFE) {
        m_utf16 = true;
        m_bom = true;
        m_final = true;
        return;
    }
    const std::size_t size = std::min(m_window.size(), WindowBytes);
    std::uint32_t tests = quill::IS_TEXT_UNICODE_UNICODE_MASK;
    m_utf16 = quill::IsTextUnicode(m_window.data(), size, &tests) == 1;
    m_final = m_window.size() >= WindowBytes;
}
