// Feeds arbitrary bytes to the hive parser. Beyond not crashing, the written form must be a
// fixed point (what the store writes, it reads back unchanged), and every key and value
// must be found again by its own name.

#include "platform/RegFileFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void checkLookups(const quill::HiveKey& key)
{
    for (const quill::HiveValue& v : key.values()) {
        if (key.value(v.name) != &v) {
            __builtin_trap();
        }
    }
    for (const auto& [fold, sub] : key.subkeys()) {
        if (key.subkey(sub->name()) != sub.get()) {
            __builtin_trap();
        }
        checkLookups(*sub);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto tree = quill::parseRegFile(bytes);
    checkLookups(*tree);
    const std::string text = quill::writeRegFile(*tree, "HKEY_CURRENT_USER");
    const auto again = quill::parseRegFile(text);
    if (quill::writeRegFile(*again, "HKEY_CURRENT_USER") != text) {
        __builtin_trap();
    }
    return 0;
}
