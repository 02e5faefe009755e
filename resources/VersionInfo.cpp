#include "resources/VersionInfo.h"

#include <cstdio>
#include <regex>

#ifndef QUILL_VERSION_MAJOR
#error "the project version must be compiled in (QUILL_VERSION_MAJOR ... QUILL_VERSION_TWEAK)"
#endif

namespace {

std::uint32_t pack(unsigned long high, unsigned long low)
{
    return static_cast<std::uint32_t>(((high & 0xFFFFu) << 16) | (low & 0xFFFFu));
}

} // namespace

VersionInfo::VersionInfo()
    : m_hasVersion(true), m_most(pack(QUILL_VERSION_MAJOR, QUILL_VERSION_MINOR)),
      m_least(pack(QUILL_VERSION_PATCH, QUILL_VERSION_TWEAK))
{
}

VersionInfo::VersionInfo(const std::string& modulePath)
{
    const std::string name = modulePath.substr(modulePath.find_last_of('/') + 1);
    static const std::regex versioned(
        R"(\.so\.(\d{1,5})(?:\.(\d{1,5}))?(?:\.(\d{1,5}))?(?:\.(\d{1,5}))?$)");
    std::smatch match;
    if (!std::regex_search(name, match, versioned)) {
        return;
    }
    unsigned long parts[4] = {};
    for (int i = 0; i < 4; ++i) {
        if (match[i + 1].matched) {
            parts[i] = std::stoul(match[i + 1].str());
        }
    }
    m_hasVersion = true;
    m_most = pack(parts[0], parts[1]);
    m_least = pack(parts[2], parts[3]);
}

void VersionInfo::fileVersion(std::uint32_t& most, std::uint32_t& least) const
{
    most = m_most;
    least = m_least;
}

std::u16string formatFileVersion(std::uint32_t most, std::uint32_t least)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%ld.%ld.%ld.%04ld", static_cast<long>(most >> 16),
                  static_cast<long>(most & 0xFFFFu), static_cast<long>(least >> 16),
                  static_cast<long>(least & 0xFFFFu));
    return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
}

std::u16string releaseVersionText()
{
    std::uint32_t most = 0;
    std::uint32_t least = 0;
    VersionInfo().fileVersion(most, least);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%lu.%lu.%lu.%lu", static_cast<unsigned long>(most >> 16),
                  static_cast<unsigned long>(most & 0xFFFFu),
                  static_cast<unsigned long>(least >> 16),
                  static_cast<unsigned long>(least & 0xFFFFu));
    return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
}

std::u16string fileVersionText()
{
    std::uint32_t most = 0;
    std::uint32_t least = 0;
    VersionInfo().fileVersion(most, least);
    return formatFileVersion(most, least);
}
