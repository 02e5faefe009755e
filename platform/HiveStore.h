#pragma once

// One hive file: a registry-like tree of keys and typed values kept in a .reg text file
// (see platform/RegFileFormat.h). It stands in for one registry root: the user hive is
// read and written, the machine hive only read.
//
// Reads always see the file as it is now (the parsed tree is reused only while the file's
// bytes are unchanged). A missing, unreadable or damaged file reads as far as it parses;
// the rest is absent. Each write is one read-modify-write under an flock(2) on "<hive>.lock"
// and replaces the file atomically (temporary file in the same folder, fsync, rename), so
// concurrent writers in several processes never lose each other's values and a crash leaves
// the old hive. The folder is created 0700, files 0600; a symbolic link is never followed
// for the lock or temporary file. Writes report failure by their result only.
// Thread-safe: every member may be called from any thread.

#include "platform/RegFileFormat.h"

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

enum class HiveRoot { CurrentUser, LocalMachine };

// The registry's answer to a value query.
enum class HiveQueryStatus {
    Success,
    NotFound,
    MoreData, // the buffer is too small; the size reports what the value needs
};

// A key opened for reading: a snapshot of the hive taken when the key was opened, kept
// alive as long as the handle. Cheap to copy; any thread.
class HiveKeyHandle {
public:
    HiveKeyHandle(std::shared_ptr<const HiveKey> tree, const HiveKey* key)
        : m_tree(std::move(tree)), m_key(key) {}

    // As RegQueryValueExW: `type` (may be null) receives the value's type; `size` holds the
    // buffer's size on entry and the value's size on return. With a null `data` only the
    // size is asked for and the answer is Success. An empty name is the default value.
    HiveQueryStatus queryValue(std::u16string_view name, std::uint32_t* type, std::uint8_t* data,
                               std::uint32_t* size) const;
    const HiveValue* value(std::u16string_view name) const { return m_key->value(name); }

    // Subkey names in ascending case-insensitive order, in their stored case.
    std::vector<std::u16string> subkeyNames() const;
    const HiveKey& key() const { return *m_key; }

private:
    std::shared_ptr<const HiveKey> m_tree;
    const HiveKey* m_key;
};

class HiveStore {
public:
    // Files larger than this are read only up to it and never rewritten (that would cut
    // them short); the settings of this program take a few kilobytes.
    static constexpr std::size_t MaxHiveBytes = 64u << 20;

    HiveStore(std::string path, HiveRoot root);
    HiveStore(const HiveStore&) = delete;
    HiveStore& operator=(const HiveStore&) = delete;

    const std::string& path() const { return m_path; }
    HiveRoot root() const { return m_root; }
    // "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE", as the file's key headers carry it.
    std::string_view rootName() const;

    // The whole hive as it is on disk now; an empty tree when there is no readable file.
    std::shared_ptr<const HiveKey> load() const;
    // Opens a backslash-separated key path (relative to the root) for reading; nullopt when
    // the key does not exist.
    std::optional<HiveKeyHandle> openKey(std::u16string_view path) const;

    // Writes; false when nothing was changed on disk (a failed write, an invalid name).
    bool createKey(std::u16string_view path);
    bool setValue(std::u16string_view path, std::u16string_view name, std::uint32_t type,
                  const std::uint8_t* data, std::size_t size);
    // Removes the key with all its values and subkeys; false when it did not exist.
    bool deleteTree(std::u16string_view path);
    // Removes one value; false when it did not exist.
    bool deleteValue(std::u16string_view path, std::u16string_view name);
    // Applies several changes as one write: `change` edits the current tree and returns
    // false to abandon it. No other writer runs in between, and readers see all or none.
    // `change` must not call back into this store.
    bool update(const std::function<bool(HiveKey& root)>& change);

private:
    enum class ReadStatus { Ok, Missing, TooBig, Failed };
    // What stat says of the file a cached tree was read from. The tree is taken again
    // without reading the file while all of it is unchanged, but only once the file had
    // last changed well before it was read (settled): a change within the same tick of the
    // file system's clock would leave every field as it was.
    struct FileIdentity {
        bool settled = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        timespec changed{};
    };
    static FileIdentity identityOf(const struct stat& st);
    static bool sameIdentity(const FileIdentity& a, const FileIdentity& b);
    ReadStatus readFile(const std::string& path, std::string& bytes,
                        struct stat* seen = nullptr) const;
    std::shared_ptr<const HiveKey> treeFor(std::string&& bytes,
                                           const FileIdentity& identity) const;
    bool commit(const std::string& target, const std::string& text) const;
    std::string writeTarget() const;

    std::string m_path;
    HiveRoot m_root;
    mutable std::mutex m_cacheMutex;
    mutable std::string m_cachedBytes; // the file content that m_cachedTree was parsed from
    mutable std::shared_ptr<const HiveKey> m_cachedTree;
    mutable FileIdentity m_cachedIdentity;
};

} // namespace quill
