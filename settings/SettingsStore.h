#pragma once

// The one object through which every persistent setting is read and written. It caches
// nothing: each read goes to the hive files (user hive, then machine hive, then the table
// default) and each write goes to the user hive at once. Failures are silent by design.
// Used from the main (user-interface) thread; calls from other threads are safe too, as each
// is one self-contained read or write of the hive files.

#include "settings/Keyword.h"
#include "settings/SettingsTable.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The platform's logical-font record, stored byte for byte as "TextFont" (92 bytes).
#pragma pack(push, 1)
struct LogFontRecord {
    std::int32_t lfHeight = 0;
    std::int32_t lfWidth = 0;
    std::int32_t lfEscapement = 0;
    std::int32_t lfOrientation = 0;
    std::int32_t lfWeight = 0;
    std::uint8_t lfItalic = 0;
    std::uint8_t lfUnderline = 0;
    std::uint8_t lfStrikeOut = 0;
    std::uint8_t lfCharSet = 0;
    std::uint8_t lfOutPrecision = 0;
    std::uint8_t lfClipPrecision = 0;
    std::uint8_t lfQuality = 0;
    std::uint8_t lfPitchAndFamily = 0;
    char16_t lfFaceName[32] = {};
};
#pragma pack(pop)
static_assert(sizeof(LogFontRecord) == 92, "LOGFONTW is 92 bytes");

using ByteBlock = std::vector<std::uint8_t>;

// One value for SettingsStore::replaceUserTree: a text or a number (dword) under a key
// below the replaced one ("" is that key itself).
struct StoredValue {
    std::u16string subkey;
    std::u16string name;
    bool isText = false;
    std::u16string text;
    std::uint32_t number = 0;
};

class SettingsStore {
  public:
    // Uses $XDG_CONFIG_HOME/quillstream/user.reg (default ~/.config/...) and
    // <first of $XDG_CONFIG_DIRS, default /etc/xdg>/quillstream/machine.reg, resolved now.
    SettingsStore();
    // Explicit hive files (tests, tools).
    SettingsStore(std::string userHivePath, std::string machineHivePath);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // The program's one store, created on first use from the environment.
    static SettingsStore& instance();
    // Makes instance() return another store until called with nullptr (tests only).
    static void overrideInstance(SettingsStore* store);

    // The hive locations the default constructor would resolve from the environment now.
    static std::string defaultUserHivePath();
    static std::string defaultMachineHivePath();

    const std::string& userHivePath() const;
    const std::string& machineHivePath() const;

    std::u16string keyPath(SettingId id) const;
    std::u16string valueName(SettingId id) const;

    bool boolValue(SettingId id) const;
    void setBool(SettingId id, bool value);
    std::uint32_t dword(SettingId id) const;
    void setDword(SettingId id, std::uint32_t value);
    // Text of any stored length; a stored empty text is found (it does not give the default).
    std::u16string string(SettingId id) const;
    void setString(SettingId id, const std::u16string& value);
    // nullopt when found in neither scope (binary values have no default). A scope whose
    // value is larger than 2600 bytes counts as not holding it.
    std::optional<ByteBlock> binary(SettingId id) const;
    void setBinary(SettingId id, const std::uint8_t* bytes, std::uint32_t length);
    // The stored block whatever its length; callers check for 92 bytes before using it.
    std::optional<ByteBlock> font(SettingId id) const;
    void setFont(SettingId id, const LogFontRecord& font);

    // Appends the user-scope subkey names of a key, in enumeration order.
    void enumSubkeyNames(SettingId keyId, std::vector<std::u16string>& names) const;
    // Removes the user-scope key at a relative path with everything below it.
    bool deleteUserTree(const std::u16string& path);

    // Entries outside the table (the keyword subkeys); same user -> machine -> default rule.
    std::uint32_t readDwordAt(const std::u16string& path, const std::u16string& name,
                              std::uint32_t defaultValue) const;
    std::u16string readStringAt(const std::u16string& path, const std::u16string& name,
                                const std::u16string& defaultValue) const;
    // A file name in its escaped form (platform/FileName.h) exactly as stored, empty when
    // absent: a name is bytes, not text, so it does not pass through the narrow set, which
    // would turn the escaped bytes (and in a non-UTF-8 locale whole characters) into '?'.
    std::u16string readFileNameAt(const std::u16string& path, const std::u16string& name) const;
    void writeDwordAt(const std::u16string& path, const std::u16string& name, std::uint32_t value);
    void writeStringAt(const std::u16string& path, const std::u16string& name,
                       const std::u16string& value);
    // Removes one user-scope value (a recent-file entry that is no longer used); false when
    // there was none.
    bool deleteUserValueAt(const std::u16string& path, const std::u16string& name);
    // Replaces the user-scope key at a relative path, with everything below it, by the
    // given values, in one write of the user hive: another running copy never sees half
    // of it, and a failed write leaves the old key whole.
    void replaceUserTree(const std::u16string& path, const std::vector<StoredValue>& values);

    // Appends the stored keywords: numerically named subkeys in numeric order, then any
    // other names in text order.
    void loadKeywords(std::vector<Keyword>& keywords) const;
    // Replaces the stored list in one write of the user hive (also removes Beep, PlaySound
    // and Sound, which sit under the same key; the caller rewrites them). SoundFileExt,
    // which sits there too, is kept.
    void saveKeywords(const std::vector<Keyword>& keywords);

  private:
    struct Private;
    std::unique_ptr<Private> d;
};
