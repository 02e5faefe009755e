#include "view/CanberraSound.h"

#include "resources/ProductInfo.h"

#include <canberra.h>

#include <QApplication>
#include <QFile>
#include <QString>

#include <condition_variable>
#include <mutex>

namespace {

constexpr std::uint32_t PlayId = 1;

// Shared between the waiting thread and libcanberra's callback thread.
struct Completion {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
};

void onFinished(ca_context*, std::uint32_t, int, void* userdata)
{
    auto* completion = static_cast<Completion*>(userdata);
    std::lock_guard lock(completion->mutex);
    completion->finished = true;
    completion->done.notify_all();
}

} // namespace

CanberraSound::CanberraSound() = default;

CanberraSound::~CanberraSound()
{
    if (m_context != nullptr) {
        ca_context_destroy(m_context);
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

bool CanberraSound::playWarningEvent()
{
    ca_context* ctx = context();
    return ctx != nullptr &&
           ca_context_play(ctx, 0, CA_PROP_EVENT_ID, "dialog-warning", CA_PROP_EVENT_DESCRIPTION,
                           "Keyword alert", nullptr) == CA_SUCCESS;
}

void CanberraSound::PlayFileSync(const std::u16string& path)
{
    ca_context* ctx = context();
    if (ctx == nullptr) {
        QApplication::beep();
        return;
    }
    const QByteArray file =
        QFile::encodeName(QString::fromUtf16(path.data(), static_cast<qsizetype>(path.size())));
    ca_proplist* props = nullptr;
    if (ca_proplist_create(&props) != CA_SUCCESS) {
        QApplication::beep();
        return;
    }
    ca_proplist_sets(props, CA_PROP_MEDIA_FILENAME, file.constData());
    ca_proplist_sets(props, CA_PROP_EVENT_DESCRIPTION, "Keyword alert");
    // Never served from libcanberra's cache: the user may replace the file at any time.
    ca_proplist_sets(props, CA_PROP_CANBERRA_CACHE_CONTROL, "never");

    Completion completion;
    const int result = ca_context_play_full(ctx, PlayId, props, onFinished, &completion);
    ca_proplist_destroy(props);
    if (result != CA_SUCCESS) {
        if (!playWarningEvent()) {
            QApplication::beep();
        }
        return;
    }
    std::unique_lock lock(completion.mutex);
    if (!completion.done.wait_for(lock, MaxPlayTime, [&] { return completion.finished; })) {
        lock.unlock();
        ca_context_cancel(ctx, PlayId);
        // The callback still runs after a cancel and touches completion; wait for it.
        lock.lock();
        completion.done.wait(lock, [&] { return completion.finished; });
    }
}

void CanberraSound::Beep()
{
    if (!playWarningEvent()) {
        QApplication::beep();
    }
}
