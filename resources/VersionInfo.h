#pragma once

// The file version of the program or of a module, as the four 16-bit numbers
// major.minor.patch.build packed into two 32-bit halves.
//
// The program's own version is the project version compiled in. A shared object carries
// its version only in its file name ("libfoo.so.1.2.3" gives 1.2.3.0); a name without one
// gives no version, and both halves then read 0xFFFFFFFF. Plain C++ without Qt, so any layer
// can show the version; any thread.

#include <cstdint>
#include <string>

class VersionInfo {
  public:
    // The running program.
    VersionInfo();
    // The module at path (only its file name is looked at).
    explicit VersionInfo(const std::string& modulePath);

    bool hasVersion() const { return m_hasVersion; }
    // most = major << 16 | minor, least = patch << 16 | build; all bits set without one.
    void fileVersion(std::uint32_t& most, std::uint32_t& least) const;

  private:
    bool m_hasVersion = false;
    std::uint32_t m_most = 0xFFFFFFFFu;
    std::uint32_t m_least = 0xFFFFFFFFu;
};

// "%ld.%ld.%ld.%04ld" of the four numbers: version 2.1.0.15 gives "2.1.0.0015".
std::u16string formatFileVersion(std::uint32_t most, std::uint32_t least);
// The program's own version text; "65535.65535.65535.65535" when it has none.
std::u16string fileVersionText();
// The program's version as the package, the manual page and the metainfo carry it: the four
// numbers without padding (1.0.0.1, where fileVersionText gives 1.0.0.0001). What
// --version prints, so that it matches what dpkg and a software centre show.
std::u16string releaseVersionText();
