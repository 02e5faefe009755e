#include "engine/EncodingProbe.h"

#include "platform/Utf16Detector.h"

#include <algorithm>

void EncodingProbe::reset()
{
    m_zeros = 0;
    m_window.clear();
    m_utf16 = false;
    m_bigEndian = false;
    m_markBytes = 0;
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
    m_final = true;
    m_markBytes = 0;
    const std::vector<std::uint8_t>& w = m_window;
    if (m_zeros == 0 && w.size() >= 2 && w[0] == 0xFF && w[1] == 0xFE) {
        m_utf16 = true;
        m_bigEndian = false;
        m_markBytes = 2;
        return;
    }
    if (m_zeros == 0 && w.size() >= 2 && w[0] == 0xFE && w[1] == 0xFF) {
        m_utf16 = true;
        m_bigEndian = true;
        m_markBytes = 2;
        return;
    }
    if (m_zeros == 0 && w.size() >= 3 && w[0] == 0xEF && w[1] == 0xBB && w[2] == 0xBF) {
        m_utf16 = false;
        m_bigEndian = false;
        m_markBytes = 3;
        return;
    }
    const quill::Utf16Guess guess = quill::guessUtf16(w.data(), std::min(w.size(), WindowBytes));
    m_utf16 = guess != quill::Utf16Guess::Narrow;
    m_bigEndian = guess == quill::Utf16Guess::BigEndian;
    m_final = w.size() >= WindowBytes;
}
