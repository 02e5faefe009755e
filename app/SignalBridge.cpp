#include "app/SignalBridge.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int s_pipe[2] = {-1, -1};
std::atomic<bool> s_pending{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    s_pending.store(true);
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe means a signal is already pending; dropping this one loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalBridge::SignalBridge(QObject* parent) : QObject(parent)
{
    if (s_pipe[0] >= 0 || ::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    m_notifier = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalBridge::onReadable);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

SignalBridge::~SignalBridge()
{
    if (m_notifier == nullptr) {
        return;
    }
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(s_pipe[0]);
    ::close(s_pipe[1]);
    s_pipe[0] = s_pipe[1] = -1;
}

bool SignalBridge::isPending()
{
    return s_pending.load();
}

void SignalBridge::onReadable()
{
    // Lowered before the bytes are read: a signal arriving meanwhile raises it again, so
    // it is never lost, at worst seen once more.
    s_pending.store(false);
    unsigned char byte = 0;
    while (::read(s_pipe[0], &byte, 1) == 1) {
        emit terminationRequested(byte);
    }
}
