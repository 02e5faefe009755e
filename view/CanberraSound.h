#pragma once

// The desktop's sound service through libcanberra, the freedesktop event-sound library.
// The beep is the sound theme's "dialog-warning" event, and the display's bell when no
// sound can be played at all. A file that cannot be played gives the "dialog-warning"
// sound.
//
// Nothing here waits for a sound: playSoundFile and Beep leave a request in a mailbox of one
// slot each and return. A thread of the service's own talks to libcanberra (connecting to
// the sound server and opening the file happen there), so a sound server that is slow to
// answer or a sound of seconds never holds the window. A request that arrives while the
// same kind of sound is still playing is dropped, so alerts never pile up behind each
// other. Only a regular file that could be opened for reading is handed to libcanberra,
// checked without blocking and passed on as the descriptor that was checked: a FIFO or a
// device at the sound's path would otherwise block its reader for good.
//
// The libcanberra context is created on first use, so a run that never sounds an alert
// never connects to the sound server. playSoundFile and Beep: main thread.

#include "engine/AlertRule.h"

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

struct ca_context;

class CanberraSound : public QObject, public SoundService {
    Q_OBJECT
  public:
    // How a request ended, reported by finished() on the main thread.
    enum class Outcome {
        File,    // the file was handed to the sound server
        Warning, // the theme's warning sound played instead (or as the beep)
        Bell,    // nothing could be played; the display's bell rang
        Dropped, // the same kind of sound was still playing
    };
    Q_ENUM(Outcome)

    CanberraSound();
    ~CanberraSound() override;
    CanberraSound(const CanberraSound&) = delete;
    CanberraSound& operator=(const CanberraSound&) = delete;

    void playSoundFile(const std::u16string& path) override;
    void beep() override;

    // Opens the path without blocking and keeps the descriptor when it is a regular file
    // that may be read; -1 otherwise (a FIFO, a device, a folder, missing, unreadable).
    // The caller closes a descriptor it got.
    static int openPlayableFile(const std::u16string& path);

  signals:
    void finished(CanberraSound::Outcome outcome);

  private:
    struct Slots {
        std::optional<std::u16string> file;
        bool beep = false;
        bool stop = false;
    };
    void run();
    // libcanberra's finish callback, on its own thread.
    static void onFinished(ca_context* context, std::uint32_t id, int error, void* userdata);
    ca_context* context();
    Outcome playFile(const std::u16string& path);
    Outcome playWarning();
    void report(Outcome outcome);

    // Owned by the worker thread.
    ca_context* m_context = nullptr;
    bool m_contextFailed = false;

    // Guarded by m_mutex; the finish callbacks come from libcanberra's own thread.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    Slots m_slots;
    bool m_filePlaying = false;
    bool m_warningPlaying = false;
    int m_playingFd = -1;

    std::thread m_worker;
};
