#pragma once

// The in-memory tree of one hive: keys with case-insensitive, case-keeping names and typed
// values, as a registry holds them. Plain data with no locking: one thread at a time per
// tree. The text form is in platform/RegFileFormat.h.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quill {

// Value types as the registry numbers them.
namespace RegType {
constexpr std::uint32_t None = 0;
constexpr std::uint32_t Sz = 1;       // UTF-16LE text with its terminating zero
constexpr std::uint32_t ExpandSz = 2;
constexpr std::uint32_t Binary = 3;
constexpr std::uint32_t Dword = 4;    // 32-bit little-endian
constexpr std::uint32_t MultiSz = 7;
constexpr std::uint32_t Qword = 11;
} // namespace RegType

// The stored bytes of a REG_SZ value: UTF-16LE code units and the terminating zero.
std::vector<std::uint8_t> szData(std::u16string_view text);

struct HiveValue {
    std::u16string name; // empty for the default value ("@")
    std::uint32_t type = RegType::None;
    std::vector<std::uint8_t> data;
};

// The comparison key of a key or value name: names compare without regard to letter case
// (ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters), as the registry does.
std::u16string foldName(std::u16string_view name);

// A name that can be stored: well-formed UTF-16 without line breaks or zero characters,
// and for a key name not empty and without a backslash.
bool isValidKeyName(std::u16string_view name);
bool isValidValueName(std::u16string_view name);

class HiveKey {
public:
    explicit HiveKey(std::u16string name = {});
    HiveKey(const HiveKey&) = delete;
    HiveKey& operator=(const HiveKey&) = delete;

    const std::u16string& name() const { return m_name; }

    // Subkeys in ascending case-insensitive order, keyed by foldName().
    const std::map<std::u16string, std::unique_ptr<HiveKey>>& subkeys() const { return m_subkeys; }
    const HiveKey* subkey(std::u16string_view name) const;
    HiveKey* subkey(std::u16string_view name);
    // The existing subkey of that name (any case), else a new one; nullptr for an invalid name.
    HiveKey* createSubkey(std::u16string_view name);
    bool removeSubkey(std::u16string_view name);

    // Backslash-separated relative paths; empty components are skipped. An empty path is
    // this key itself.
    const HiveKey* findPath(std::u16string_view path) const;
    HiveKey* findPath(std::u16string_view path);
    // Creates missing keys along the path; nullptr when a component is not a valid name or
    // the path has more than MaxKeyDepth components.
    HiveKey* createPath(std::u16string_view path);
    // Removes the key at a non-empty path with everything below it; false when absent.
    bool removePath(std::u16string_view path);

    // Values in the order they were first set.
    const std::vector<HiveValue>& values() const { return m_values; }
    const HiveValue* value(std::u16string_view name) const;
    // False (and nothing stored) for an invalid name.
    bool setValue(std::u16string_view name, std::uint32_t type, std::vector<std::uint8_t> data);
    bool removeValue(std::u16string_view name);

    // Lines of the file under this key that were not values: comments and unreadable lines,
    // each stored as a comment (starting with ';'), without its line end.
    const std::vector<std::string>& notes() const { return m_notes; }
    void addNote(std::string_view line);

private:
    std::u16string m_name;
    std::map<std::u16string, std::unique_ptr<HiveKey>> m_subkeys;
    std::vector<HiveValue> m_values;
    std::unordered_map<std::u16string, std::size_t> m_valueIndex; // foldName -> m_values index
    std::vector<std::string> m_notes;
};

// The deepest key path a hive holds, as in the registry; it also bounds the recursion of
// the writer and of the tree's destruction.
inline constexpr std::size_t MaxKeyDepth = 512;

} // namespace quill
