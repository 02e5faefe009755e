#include "platform/HiveStore.h"

#include "platform/AtomicFile.h"
#include "platform/ReplacingFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace quill {

namespace {

// How long before a read a file must have last changed for stat alone to vouch for it.
constexpr time_t SettledSeconds = 2;

// Owns a file descriptor for one operation.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

std::string parentFolder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The lock beside the hive. Another program holding it for long (a stuck copy) must not
// hang the user interface for ever, so the wait is bounded and the write then dropped.
Fd acquireLock(const std::string& lockPath)
{
    Fd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
    if (!fd.valid()) {
        return Fd();
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        return Fd();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            return Fd();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return fd;
}

} // namespace

HiveQueryStatus HiveKeyHandle::queryValue(std::u16string_view name, std::uint32_t* type,
                                          std::uint8_t* data, std::uint32_t* size) const
{
    const HiveValue* v = m_key->value(name);
    if (!v) {
        return HiveQueryStatus::NotFound;
    }
    if (type) {
        *type = v->type;
    }
    const auto need = static_cast<std::uint32_t>(v->data.size());
    if (!size) {
        return data ? HiveQueryStatus::NotFound : HiveQueryStatus::Success;
    }
    if (!data) {
        *size = need;
        return HiveQueryStatus::Success;
    }
    if (*size < need) {
        *size = need;
        return HiveQueryStatus::MoreData;
    }
    if (need > 0) {
        std::memcpy(data, v->data.data(), need);
    }
    *size = need;
    return HiveQueryStatus::Success;
}

std::vector<std::u16string> HiveKeyHandle::subkeyNames() const
{
    std::vector<std::u16string> names;
    names.reserve(m_key->subkeys().size());
    for (const auto& [fold, sub] : m_key->subkeys()) {
        names.push_back(sub->name());
    }
    return names;
}

HiveStore::HiveStore(std::string path, HiveRoot root) : m_path(std::move(path)), m_root(root) {}

std::string_view HiveStore::rootName() const
{
    return m_root == HiveRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

HiveStore::ReadStatus HiveStore::readFile(const std::string& path, std::string& bytes,
                                          struct stat* seen) const
{
    bytes.clear();
    // Non-blocking, so a FIFO put in the hive's place cannot hang the program.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid()) {
        return errno == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return ReadStatus::Failed;
    }
    if (seen != nullptr) {
        *seen = st;
    }
    const std::size_t expected =
        std::min<std::size_t>(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)),
                              MaxHiveBytes);
    bytes.resize(expected + 1);
    std::size_t have = 0;
    while (true) {
        if (have == bytes.size()) {
            if (bytes.size() > MaxHiveBytes) {
                bytes.resize(MaxHiveBytes);
                return ReadStatus::TooBig;
            }
            bytes.resize(std::min(bytes.size() * 2, MaxHiveBytes + 1));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + have, bytes.size() - have);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            bytes.clear();
            return ReadStatus::Failed;
        }
        if (n == 0) {
            break;
        }
        have += static_cast<std::size_t>(n);
    }
    bytes.resize(have);
    return ReadStatus::Ok;
}

HiveStore::FileIdentity HiveStore::identityOf(const struct stat& st)
{
    FileIdentity identity;
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    identity.size = st.st_size;
    identity.modified = st.st_mtim;
    identity.changed = st.st_ctim;
    return identity;
}

bool HiveStore::sameIdentity(const FileIdentity& a, const FileIdentity& b)
{
    const auto same = [](const timespec& x, const timespec& y) {
        return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec;
    };
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           same(a.modified, b.modified) && same(a.changed, b.changed);
}

std::shared_ptr<const HiveKey> HiveStore::treeFor(std::string&& bytes,
                                                  const FileIdentity& identity) const
{
    std::lock_guard lock(m_cacheMutex);
    if (!m_cachedTree || bytes != m_cachedBytes) {
        m_cachedTree = parseRegFile(bytes);
        m_cachedBytes = std::move(bytes);
    }
    m_cachedIdentity = identity;
    return m_cachedTree;
}

std::shared_ptr<const HiveKey> HiveStore::load() const
{
    // Settings are read on every paint and every command update: a settled file that stat
    // shows unchanged is not opened and read again.
    struct stat now {};
    if (::stat(m_path.c_str(), &now) == 0) {
        std::lock_guard lock(m_cacheMutex);
        if (m_cachedTree && m_cachedIdentity.settled &&
            sameIdentity(m_cachedIdentity, identityOf(now))) {
            return m_cachedTree;
        }
    }
    timespec readAt{};
    clock_gettime(CLOCK_REALTIME, &readAt);
    std::string bytes;
    struct stat seen {};
    FileIdentity identity;
    const ReadStatus status = readFile(m_path, bytes, &seen);
    if (status != ReadStatus::Ok && status != ReadStatus::TooBig) {
        bytes.clear();
    } else {
        identity = identityOf(seen);
        // Coarse file system clocks lag the real one by a tick; two seconds cover any.
        identity.settled = seen.st_ctim.tv_sec + SettledSeconds < readAt.tv_sec;
    }
    return treeFor(std::move(bytes), identity);
}

std::optional<HiveKeyHandle> HiveStore::openKey(std::u16string_view path) const
{
    std::shared_ptr<const HiveKey> tree = load();
    const HiveKey* key = tree->findPath(path);
    if (!key) {
        return std::nullopt;
    }
    return HiveKeyHandle(std::move(tree), key);
}

std::string HiveStore::writeTarget() const
{
    // A hive that is a symbolic link (a dotfile manager's) is written where it points, so
    // the link survives the rename.
    return replacementTarget(m_path);
}

bool HiveStore::commit(const std::string& target, const std::string& text) const
{
    return replaceFileAtomically(target, text);
}

bool HiveStore::update(const std::function<bool(HiveKey& root)>& change)
{
    const std::string target = writeTarget();
    if (!ensurePrivateFolder(parentFolder(target))) {
        return false;
    }
    const Fd lock = acquireLock(target + ".lock");
    if (!lock.valid()) {
        return false;
    }
    std::string before;
    const ReadStatus status = readFile(target, before);
    if (status == ReadStatus::TooBig || status == ReadStatus::Failed) {
        return false; // rewriting what could not be read whole would lose it
    }
    std::unique_ptr<HiveKey> tree = parseRegFile(before);
    if (!change(*tree)) {
        return false;
    }
    std::string after = writeRegFile(*tree, rootName());
    if (status == ReadStatus::Ok && after == before) {
        return true;
    }
    if (after.size() > MaxHiveBytes || !commit(target, after)) {
        return false;
    }
    std::lock_guard cacheLock(m_cacheMutex);
    m_cachedBytes = std::move(after);
    m_cachedTree = std::move(tree);
    m_cachedIdentity = FileIdentity{}; // just written: not settled
    return true;
}

bool HiveStore::createKey(std::u16string_view path)
{
    return update([&](HiveKey& root) { return root.createPath(path) != nullptr; });
}

bool HiveStore::setValue(std::u16string_view path, std::u16string_view name, std::uint32_t type,
                         const std::uint8_t* data, std::size_t size)
{
    if (!isValidValueName(name) || (size > 0 && !data)) {
        return false;
    }
    return update([&](HiveKey& root) {
        HiveKey* key = root.createPath(path);
        return key && key->setValue(name, type, std::vector<std::uint8_t>(data, data + size));
    });
}

bool HiveStore::deleteTree(std::u16string_view path)
{
    return update([&](HiveKey& root) { return root.removePath(path); });
}

bool HiveStore::deleteValue(std::u16string_view path, std::u16string_view name)
{
    return update([&](HiveKey& root) {
        HiveKey* key = root.findPath(path);
        return key && key->removeValue(name);
    });
}

} // namespace quill
