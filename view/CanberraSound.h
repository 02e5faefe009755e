#pragma once

// The desktop's sound service through libcanberra, the freedesktop event-sound library.
// PlayFileSync plays a file to its end (it waits for libcanberra's finish callback); the
// beep is the sound theme's "dialog-warning" event, and the display's bell when no sound
// can be played at all. A file that cannot be played gives the "dialog-warning" sound.
//
// The libcanberra context is created on first use, so a run that never sounds an alert
// never connects to the sound server. Main thread only.

#include "engine/AlertRule.h"

#include <chrono>
#include <string>

struct ca_context;

class CanberraSound : public SoundService {
  public:
    CanberraSound();
    ~CanberraSound() override;
    CanberraSound(const CanberraSound&) = delete;
    CanberraSound& operator=(const CanberraSound&) = delete;

    void PlayFileSync(const std::u16string& path) override;
    void Beep() override;

    // The longest a file may keep the user-interface thread waiting; a longer sound is cut
    // off, so a sound server that never reports the end cannot freeze the window.
    static constexpr std::chrono::seconds MaxPlayTime{30};

  private:
    ca_context* context();
    // Plays the theme's warning event without waiting; false when nothing could be played.
    bool playWarningEvent();

    ca_context* m_context = nullptr;
    bool m_contextFailed = false;
};
