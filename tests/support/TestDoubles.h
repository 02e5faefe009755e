#pragma once

// Small stand-ins shared by tests of several folders.

#include "engine/AlertRule.h"

#include <string>

namespace quilltest {

// ASCII test text as the core's UTF-16.
inline std::u16string u16(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

// A sound service that stays silent (tests that do not look at alerts).
class NullSound : public SoundService {
  public:
    void playSoundFile(const std::u16string&) override {}
    void beep() override {}
};

} // namespace quilltest
