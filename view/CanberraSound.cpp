#include "view/CanberraSound.h"

#include "resources/ProductInfo.h"

#include <canberra.h>

#include <QApplication>
#include <QFile>
#include <QString>

#include <chrono>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t FileId = 1;
constexpr std::uint32_t WarningId = 2;
// A sound file playing longer than this is cut off, so that a long file (or a sound
// server that never reports the end) cannot silence every later alert.
constexpr std::chrono::seconds MaxPlayTime{30};

} // namespace

CanberraSound::CanberraSound() : m_worker([this] { run(); }) {}

CanberraSound::~CanberraSound()
{
    {
        std::lock_guard lock(m_mutex);
        m_slots.stop = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

void CanberraSound::playSoundFile(const std::u16string& path)
{
    {
        std::lock_guard lock(m_mutex);
        m_slots.file = path;
    }
    m_wake.notify_all();
}

void CanberraSound::beep()
{
    {
        std::lock_guard lock(m_mutex);
        m_slots.beep = true;
    }
    m_wake.notify_all();
}

int CanberraSound::openPlayableFile(const std::u16string& path)
{
    const QByteArray name =
        QFile::encodeName(QString::fromUtf16(path.data(), static_cast<qsizetype>(path.size())));
    if (name.isEmpty()) {
        return -1;
    }
    // O_NONBLOCK: opening a FIFO without a writer would wait for one.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void CanberraSound::onFinished(ca_context*, std::uint32_t id, int, void* userdata)
{
    auto* self = static_cast<CanberraSound*>(userdata);
    std::lock_guard lock(self->m_mutex);
    if (id == FileId) {
        self->m_filePlaying = false;
        if (self->m_playingFd >= 0) {
            ::close(self->m_playingFd);
            self->m_playingFd = -1;
        }
    } else {
        self->m_warningPlaying = false;
    }
    self->m_wake.notify_all();
}

void CanberraSound::run()
{
    std::chrono::steady_clock::time_point fileStarted;
    for (;;) {
        std::optional<std::u16string> file;
        bool beep = false;
        bool cutOff = false;
        {
            std::unique_lock lock(m_mutex);
            const auto due = [&] { return m_slots.stop || m_slots.file || m_slots.beep; };
            if (m_filePlaying) {
                m_wake.wait_until(lock, fileStarted + MaxPlayTime, due);
                cutOff =
                    m_filePlaying && std::chrono::steady_clock::now() >= fileStarted + MaxPlayTime;
            } else {
                m_wake.wait(lock, due);
            }
            if (m_slots.stop) {
                break;
            }
            file = std::exchange(m_slots.file, std::nullopt);
            beep = std::exchange(m_slots.beep, false);
        }
        if (cutOff && m_context != nullptr) {
            ca_context_cancel(m_context, FileId);
        }
        if (file) {
            bool busy = false;
            {
                std::lock_guard lock(m_mutex);
                busy = m_filePlaying;
            }
            if (busy) {
                report(Outcome::Dropped);
            } else {
                ca_context* ctx = context();
                const int fd = openPlayableFile(*file);
                Outcome outcome = Outcome::Bell;
                if (ctx != nullptr && fd >= 0) {
                    // The descriptor that was checked, not the name: the file at the name
                    // may have been replaced by a FIFO since.
                    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
                    ca_proplist* props = nullptr;
                    if (ca_proplist_create(&props) == CA_SUCCESS) {
                        ca_proplist_sets(props, CA_PROP_MEDIA_FILENAME, proc.c_str());
                        ca_proplist_sets(props, CA_PROP_EVENT_DESCRIPTION, "Keyword alert");
                        // Never served from libcanberra's cache: the user may replace the
                        // file at any time.
                        ca_proplist_sets(props, CA_PROP_CANBERRA_CACHE_CONTROL, "never");
                        {
                            std::lock_guard lock(m_mutex);
                            m_filePlaying = true;
                            m_playingFd = fd;
                        }
                        fileStarted = std::chrono::steady_clock::now();
                        const int result =
                            ca_context_play_full(ctx, FileId, props, onFinished, this);
                        ca_proplist_destroy(props);
                        if (result == CA_SUCCESS) {
                            outcome = Outcome::File;
                        } else {
                            // No callback comes for a play that did not start.
                            std::lock_guard lock(m_mutex);
                            m_filePlaying = false;
                            m_playingFd = -1;
                        }
                    }
                    if (outcome != Outcome::File) {
                        ::close(fd);
                    }
                } else if (fd >= 0) {
                    ::close(fd);
                }
                if (outcome != Outcome::File) {
                    outcome = playWarning();
                }
                report(outcome);
            }
        }
        if (beep) {
            report(playWarning());
        }
    }
    if (m_context != nullptr) {
        // Cancelled first and their ends awaited: a backend whose thread still runs when
        // the context (and with it the backend's module) goes away crashes the process.
        ca_context_cancel(m_context, FileId);
        ca_context_cancel(m_context, WarningId);
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::seconds(2),
                            [&] { return !m_filePlaying && !m_warningPlaying; });
        }
        ca_context_destroy(m_context);
        m_context = nullptr;
    }
    std::lock_guard lock(m_mutex);
    if (m_playingFd >= 0) {
        ::close(m_playingFd);
        m_playingFd = -1;
    }
}

ca_context* CanberraSound::context()
{
    if (m_context == nullptr && !m_contextFailed) {
        if (ca_context_create(&m_context) != CA_SUCCESS) {
            m_context = nullptr;
            m_contextFailed = true;
        } else {
            ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, "Quillstream",
                                    CA_PROP_APPLICATION_ID, Product::DesktopId.data(), nullptr);
        }
    }
    return m_context;
}

CanberraSound::Outcome CanberraSound::playWarning()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_warningPlaying) {
            return Outcome::Dropped;
        }
        m_warningPlaying = true;
    }
    ca_context* ctx = context();
    ca_proplist* props = nullptr;
    bool played = false;
    if (ctx != nullptr && ca_proplist_create(&props) == CA_SUCCESS) {
        ca_proplist_sets(props, CA_PROP_EVENT_ID, "dialog-warning");
        ca_proplist_sets(props, CA_PROP_EVENT_DESCRIPTION, "Keyword alert");
        played = ca_context_play_full(ctx, WarningId, props, onFinished, this) == CA_SUCCESS;
        ca_proplist_destroy(props);
    }
    if (played) {
        return Outcome::Warning;
    }
    {
        std::lock_guard lock(m_mutex);
        m_warningPlaying = false;
    }
    // The display's bell belongs to the user-interface thread.
    QMetaObject::invokeMethod(
        this, [] { QApplication::beep(); }, Qt::QueuedConnection);
    return Outcome::Bell;
}

void CanberraSound::report(Outcome outcome)
{
    QMetaObject::invokeMethod(
        this, [this, outcome] { emit finished(outcome); }, Qt::QueuedConnection);
}
