#include "settings/SettingsStore.h"

#include "platform/HiveStore.h"
#include "platform/NarrowCodec.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>

using quill::HiveKey;
using quill::HiveQueryStatus;
using quill::HiveStore;
namespace RegType = quill::RegType;

namespace {

constexpr std::size_t MaxPathChars = 259; // a 260-character buffer with its terminator
constexpr std::uint32_t BinaryStep = 260;
constexpr std::uint32_t BinaryLimit = 2600;

std::atomic<SettingsStore*> s_override{nullptr};

std::u16string fromAscii(std::string_view s)
{
    return std::u16string(s.begin(), s.end());
}

// Text leaves the store as the narrow character set can carry it, as every other text
// the program reads from outside does.
std::u16string throughNarrow(const std::u16string& text)
{
    return quill::narrowToUtf16(quill::utf16ToNarrow(text));
}

std::vector<std::uint8_t> dwordBytes(std::uint32_t v)
{
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

std::optional<std::uint32_t> dwordOf(const quill::HiveKeyHandle* key, const std::u16string& name)
{
    if (!key) {
        return std::nullopt;
    }
    std::uint8_t buf[4] = {};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof buf;
    if (key->queryValue(name, &type, buf, &size) != HiveQueryStatus::Success ||
        type != RegType::Dword) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(buf[0] | (buf[1] << 8) | (buf[2] << 16)) |
           (static_cast<std::uint32_t>(buf[3]) << 24);
}

std::optional<std::uint32_t> queryDword(const HiveStore& hive, const std::u16string& path,
                                        const std::u16string& name)
{
    const auto key = hive.openKey(path);
    return dwordOf(key ? &*key : nullptr, name);
}

// Text of any stored length is accepted: a long sound-file path or search text must not
// silently turn into the default.
std::optional<std::u16string> textOf(const quill::HiveKeyHandle* key, const std::u16string& name)
{
    if (!key) {
        return std::nullopt;
    }
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (key->queryValue(name, &type, nullptr, &size) != HiveQueryStatus::Success ||
        type != RegType::Sz) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> buf(size);
    if (key->queryValue(name, &type, buf.data(), &size) != HiveQueryStatus::Success) {
        return std::nullopt;
    }
    std::u16string text;
    text.reserve(size / 2);
    for (std::uint32_t i = 0; i + 1 < size; i += 2) {
        const char16_t c = static_cast<char16_t>(buf[i] | (buf[i + 1] << 8));
        if (c == 0) {
            break; // the terminator, or the end of the text as a C string would see it
        }
        text += c;
    }
    return text;
}

std::optional<std::u16string> queryStoredText(const HiveStore& hive, const std::u16string& path,
                                              const std::u16string& name)
{
    const auto key = hive.openKey(path);
    return textOf(key ? &*key : nullptr, name);
}

std::optional<std::u16string> queryText(const HiveStore& hive, const std::u16string& path,
                                        const std::u16string& name)
{
    auto text = queryStoredText(hive, path, name);
    return text ? std::optional(throughNarrow(*text)) : std::nullopt;
}

std::optional<ByteBlock> queryBinary(const HiveStore& hive, const std::u16string& path,
                                     const std::u16string& name)
{
    const auto key = hive.openKey(path);
    if (!key) {
        return std::nullopt;
    }
    ByteBlock buf(BinaryStep);
    while (true) {
        std::uint32_t size = static_cast<std::uint32_t>(buf.size());
        switch (key->queryValue(name, nullptr, buf.data(), &size)) {
        case HiveQueryStatus::Success:
            buf.resize(size);
            return buf;
        case HiveQueryStatus::MoreData:
            if (buf.size() >= BinaryLimit) {
                return std::nullopt;
            }
            buf.resize(buf.size() + BinaryStep);
            break;
        case HiveQueryStatus::NotFound:
            return std::nullopt;
        }
    }
}

// Digits only: the keyword subkeys the store writes itself.
bool isNumericName(const std::u16string& name)
{
    return !name.empty() &&
           std::all_of(name.begin(), name.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

bool numericLess(const std::u16string& a, const std::u16string& b)
{
    const auto strip = [](const std::u16string& s) {
        const std::size_t first = s.find_first_not_of(u'0');
        return first == std::u16string::npos ? std::u16string() : s.substr(first);
    };
    const std::u16string x = strip(a);
    const std::u16string y = strip(b);
    return x.size() != y.size() ? x.size() < y.size() : x < y;
}

std::string xdgUserHive()
{
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (configHome && configHome[0] == '/') {
        base = configHome;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* pw = ::getpwuid(::geteuid());
            home = pw ? pw->pw_dir : "/";
        }
        base = std::string(home) + "/.config";
    }
    return base + "/quillstream/user.reg";
}

std::string xdgMachineHive()
{
    constexpr std::string_view Tail = "/quillstream/machine.reg";
    std::string first;
    if (const char* dirs = std::getenv("XDG_CONFIG_DIRS")) {
        // The first absolute entry that holds a hive (a desktop often puts a folder of its
        // own before /etc/xdg, where the package installs it), else the first absolute
        // entry; relative ones are to be ignored.
        std::string_view rest(dirs);
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            const std::string_view entry = rest.substr(0, colon);
            if (!entry.empty() && entry.front() == '/') {
                std::string path = std::string(entry) + std::string(Tail);
                struct stat info {};
                if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
                    return path;
                }
                if (first.empty()) {
                    first = std::move(path);
                }
            }
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    return first.empty() ? "/etc/xdg" + std::string(Tail) : first;
}

} // namespace

struct SettingsStore::Private {
    Private(std::string userPath, std::string machinePath)
        : user(std::move(userPath), quill::HiveRoot::CurrentUser),
          machine(std::move(machinePath), quill::HiveRoot::LocalMachine)
    {
    }

    // First the user scope, then the machine scope; nullopt when neither has a usable value.
    template <typename Query>
    auto read(const std::u16string& path, const std::u16string& name, Query query) const
    {
        auto found = query(user, path, name);
        return found ? found : query(machine, path, name);
    }

    HiveStore user;
    HiveStore machine; // never written
};

SettingsStore::SettingsStore() : SettingsStore(xdgUserHive(), xdgMachineHive()) {}

SettingsStore::SettingsStore(std::string userHivePath, std::string machineHivePath)
    : d(std::make_unique<Private>(std::move(userHivePath), std::move(machineHivePath)))
{
}

SettingsStore::~SettingsStore() = default;

SettingsStore& SettingsStore::instance()
{
    if (SettingsStore* store = s_override.load()) {
        return *store;
    }
    static SettingsStore store;
    return store;
}

void SettingsStore::overrideInstance(SettingsStore* store)
{
    s_override.store(store);
}

std::string SettingsStore::defaultUserHivePath()
{
    return xdgUserHive();
}

std::string SettingsStore::defaultMachineHivePath()
{
    return xdgMachineHive();
}

const std::string& SettingsStore::userHivePath() const
{
    return d->user.path();
}

const std::string& SettingsStore::machineHivePath() const
{
    return d->machine.path();
}

std::u16string SettingsStore::keyPath(SettingId id) const
{
    if (const SettingsValueRecord* value = findSettingsValue(id)) {
        return keyPath(value->keyId);
    }
    const SettingsKeyRecord* key = findSettingsKey(id);
    if (!key) {
        return {};
    }
    std::u16string path = key->parentId != 0 ? keyPath(key->parentId) : std::u16string();
    if (!path.empty()) {
        path += u'\\';
    }
    path += fromAscii(key->name);
    if (path.size() > MaxPathChars) {
        path.resize(MaxPathChars);
    }
    return path;
}

std::u16string SettingsStore::valueName(SettingId id) const
{
    const SettingsValueRecord* value = findSettingsValue(id);
    return value ? fromAscii(value->name) : std::u16string();
}

bool SettingsStore::boolValue(SettingId id) const
{
    const SettingsValueRecord* value = findSettingsValue(id);
    if (!value) {
        return false;
    }
    return d->read(keyPath(id), valueName(id), queryDword).value_or(value->numberDefault) != 0;
}

void SettingsStore::setBool(SettingId id, bool value)
{
    setDword(id, value ? 1 : 0);
}

std::uint32_t SettingsStore::dword(SettingId id) const
{
    const SettingsValueRecord* value = findSettingsValue(id);
    if (!value) {
        return 0;
    }
    return d->read(keyPath(id), valueName(id), queryDword).value_or(value->numberDefault);
}

void SettingsStore::setDword(SettingId id, std::uint32_t value)
{
    if (findSettingsValue(id)) {
        const auto bytes = dwordBytes(value);
        d->user.setValue(keyPath(id), valueName(id), RegType::Dword, bytes.data(), bytes.size());
    }
}

std::u16string SettingsStore::string(SettingId id) const
{
    const SettingsValueRecord* value = findSettingsValue(id);
    if (!value) {
        return {};
    }
    if (auto text = d->read(keyPath(id), valueName(id), queryText)) {
        return std::move(*text);
    }
    return throughNarrow(fromAscii(value->textDefault));
}

void SettingsStore::setString(SettingId id, const std::u16string& value)
{
    if (findSettingsValue(id)) {
        const auto bytes = quill::szData(value);
        d->user.setValue(keyPath(id), valueName(id), RegType::Sz, bytes.data(), bytes.size());
    }
}

std::optional<ByteBlock> SettingsStore::binary(SettingId id) const
{
    if (!findSettingsValue(id)) {
        return std::nullopt;
    }
    return d->read(keyPath(id), valueName(id), queryBinary);
}

void SettingsStore::setBinary(SettingId id, const std::uint8_t* bytes, std::uint32_t length)
{
    if (findSettingsValue(id) && (bytes || length == 0)) {
        d->user.setValue(keyPath(id), valueName(id), RegType::Binary, bytes, length);
    }
}

std::optional<ByteBlock> SettingsStore::font(SettingId id) const
{
    return binary(id);
}

void SettingsStore::setFont(SettingId id, const LogFontRecord& font)
{
    setBinary(id, reinterpret_cast<const std::uint8_t*>(&font), sizeof font);
}

void SettingsStore::enumSubkeyNames(SettingId keyId, std::vector<std::u16string>& names) const
{
    const std::u16string path = keyPath(keyId);
    if (path.empty()) {
        return;
    }
    if (const auto key = d->user.openKey(path)) {
        for (const std::u16string& name : key->subkeyNames()) {
            names.push_back(throughNarrow(name));
        }
    }
}

bool SettingsStore::deleteUserTree(const std::u16string& path)
{
    return d->user.deleteTree(path);
}

std::uint32_t SettingsStore::readDwordAt(const std::u16string& path, const std::u16string& name,
                                         std::uint32_t defaultValue) const
{
    return d->read(path, name, queryDword).value_or(defaultValue);
}

std::u16string SettingsStore::readStringAt(const std::u16string& path, const std::u16string& name,
                                           const std::u16string& defaultValue) const
{
    auto text = d->read(path, name, queryText);
    if (text) {
        return std::move(*text);
    }
    return defaultValue;
}

std::u16string SettingsStore::readFileNameAt(const std::u16string& path,
                                             const std::u16string& name) const
{
    return d->read(path, name, queryStoredText).value_or(std::u16string());
}

void SettingsStore::writeDwordAt(const std::u16string& path, const std::u16string& name,
                                 std::uint32_t value)
{
    const auto bytes = dwordBytes(value);
    d->user.setValue(path, name, RegType::Dword, bytes.data(), bytes.size());
}

void SettingsStore::writeStringAt(const std::u16string& path, const std::u16string& name,
                                  const std::u16string& value)
{
    const auto bytes = quill::szData(value);
    d->user.setValue(path, name, RegType::Sz, bytes.data(), bytes.size());
}

bool SettingsStore::deleteUserValueAt(const std::u16string& path, const std::u16string& name)
{
    return d->user.deleteValue(path, name);
}

void SettingsStore::replaceUserTree(const std::u16string& path,
                                    const std::vector<StoredValue>& values)
{
    d->user.update([&](HiveKey& root) {
        root.removePath(path);
        for (const StoredValue& value : values) {
            HiveKey* key =
                root.createPath(value.subkey.empty() ? path : path + u'\\' + value.subkey);
            if (!key) {
                return false;
            }
            if (value.isText) {
                key->setValue(value.name, RegType::Sz, quill::szData(value.text));
            } else {
                key->setValue(value.name, RegType::Dword, dwordBytes(value.number));
            }
        }
        return true;
    });
}

void SettingsStore::loadKeywords(std::vector<Keyword>& keywords) const
{
    // One snapshot of each hive for the whole list: asking the store value by value would
    // read and compare the whole file for each of them, which grows with the square of the
    // number of keywords.
    const std::u16string base = keyPath(Setting::KeyKeywords);
    const std::shared_ptr<const HiveKey> userTree = d->user.load();
    const std::shared_ptr<const HiveKey> machineTree = d->machine.load();
    const HiveKey* userBase = userTree->findPath(base);
    const HiveKey* machineBase = machineTree->findPath(base);
    // The machine-wide list (what an installation ships, so that a first start already
    // colours errors and warnings) holds until the user stores a list of their own, even
    // an empty one: then the user's list is the whole list.
    const HiveKey* listBase = userBase ? userBase : machineBase;
    if (!listBase) {
        return;
    }
    std::vector<std::u16string> names;
    names.reserve(listBase->subkeys().size());
    for (const auto& [fold, sub] : listBase->subkeys()) {
        names.push_back(throughNarrow(sub->name()));
    }
    // Numeric order keeps the saved priority of ten or more keywords ("10" after "9");
    // hand-made names follow in the hive's own order.
    std::stable_partition(names.begin(), names.end(), isNumericName);
    const auto firstOther = std::find_if_not(names.begin(), names.end(), isNumericName);
    std::stable_sort(names.begin(), firstOther, numericLess);

    const std::u16string searchString = valueName(Setting::SearchString);
    const std::u16string textColor = valueName(Setting::HighlightTextColor);
    const std::u16string bkColor = valueName(Setting::HighlightBkColor);
    const std::u16string matchCase = valueName(Setting::MatchCase);
    const std::u16string matchWord = valueName(Setting::MatchWord);
    const std::u16string enabled = valueName(Setting::Enabled);
    const std::u16string matchOnly = valueName(Setting::ColorMatchOnly);
    keywords.reserve(keywords.size() + names.size());
    for (const std::u16string& name : names) {
        std::optional<quill::HiveKeyHandle> user;
        std::optional<quill::HiveKeyHandle> machine;
        if (const HiveKey* key = userBase ? userBase->subkey(name) : nullptr) {
            user.emplace(userTree, key);
        }
        if (const HiveKey* key = machineBase ? machineBase->subkey(name) : nullptr) {
            machine.emplace(machineTree, key);
        }
        const quill::HiveKeyHandle* u = user ? &*user : nullptr;
        const quill::HiveKeyHandle* m = machine ? &*machine : nullptr;
        auto dword = [&](const std::u16string& value, std::uint32_t fallback) {
            auto found = dwordOf(u, value);
            return (found ? found : dwordOf(m, value)).value_or(fallback);
        };
        // Keyword texts stay Unicode whatever the locale: a round trip through an 8-bit set
        // would rewrite them for good the next time the list is stored.
        auto found = textOf(u, searchString);
        const std::u16string text =
            found ? std::move(*found) : textOf(m, searchString).value_or(u"");
        keywords.emplace_back(text, dword(textColor, 0), dword(bkColor, 0),
                              dword(matchCase, 1) != 0, dword(matchWord, 1) != 0,
                              dword(enabled, 1) != 0);
        keywords.back().matchOnly = dword(matchOnly, 0) != 0;
    }
}

void SettingsStore::saveKeywords(const std::vector<Keyword>& keywords)
{
    const std::u16string base = keyPath(Setting::KeyKeywords);
    const std::u16string names[] = {
        valueName(Setting::SearchString),     valueName(Setting::HighlightTextColor),
        valueName(Setting::HighlightBkColor), valueName(Setting::MatchCase),
        valueName(Setting::MatchWord),        valueName(Setting::Enabled),
        valueName(Setting::ColorMatchOnly)};
    // One write for the whole list: another running copy never sees half a list, and a
    // failed write leaves the old list whole.
    const std::u16string extName = valueName(Setting::SoundFileExt);
    d->user.update([&](HiveKey& root) {
        // The sound chooser's patterns sit under the same key but belong to no keyword and
        // to no page that rewrites them: a user's own list must survive a new keyword list.
        std::optional<quill::HiveValue> soundFileExt;
        if (const HiveKey* old = root.findPath(base)) {
            if (const quill::HiveValue* value = old->value(extName)) {
                soundFileExt = *value;
            }
        }
        root.removePath(base);
        // The key stays even for an empty list: it is what says that the user's own list,
        // not the machine-wide one, holds.
        HiveKey* listKey = root.createPath(base);
        if (!listKey) {
            return false;
        }
        if (soundFileExt) {
            listKey->setValue(extName, soundFileExt->type, std::move(soundFileExt->data));
        }
        int n = 1;
        for (const Keyword& keyword : keywords) {
            HiveKey* key = root.createPath(base + u'\\' + quill::utf8ToUtf16(std::to_string(n++)));
            if (!key) {
                return false;
            }
            key->setValue(names[0], RegType::Sz, quill::szData(keyword.text));
            key->setValue(names[1], RegType::Dword, dwordBytes(keyword.textColor));
            key->setValue(names[2], RegType::Dword, dwordBytes(keyword.backgroundColor));
            key->setValue(names[3], RegType::Dword, dwordBytes(keyword.matchCase ? 1 : 0));
            key->setValue(names[4], RegType::Dword, dwordBytes(keyword.matchWord ? 1 : 0));
            key->setValue(names[5], RegType::Dword, dwordBytes(keyword.enabled ? 1 : 0));
            // Written only when set: a list without such keywords stays byte for byte what
            // older versions wrote and read.
            if (keyword.matchOnly) {
                key->setValue(names[6], RegType::Dword, dwordBytes(1));
            }
        }
        return true;
    });
}
