#include "settings/TabSession.h"

#include "settings/SettingsStore.h"

#include <algorithm>

namespace {

const std::u16string FrontValue = u"Front";

std::u16string tabValueName(std::size_t number)
{
    const std::string digits = std::to_string(number);
    return u"Tab" + std::u16string(digits.begin(), digits.end());
}

std::u16string extraName(std::size_t number, std::u16string_view what)
{
    return tabValueName(number) + u" " + std::u16string(what);
}

std::u16string mergedName(std::size_t number, std::size_t file)
{
    const std::string digits = std::to_string(file);
    return extraName(number, u"Merged") + std::u16string(digits.begin(), digits.end());
}

} // namespace

TabSession::TabSession(SettingsStore& settings, std::u16string appName)
    : m_settings(settings), m_appName(std::move(appName))
{
}

std::u16string TabSession::keyPath() const
{
    return u"Software\\Local AppWizard-Generated Applications\\" + m_appName + u"\\Open Tabs";
}

TabSessionState TabSession::read() const
{
    TabSessionState state;
    const std::u16string key = keyPath();
    const std::uint32_t front = m_settings.readDwordAt(key, FrontValue, 0);
    for (std::size_t number = 1; number <= MaxTabs; ++number) {
        const std::u16string path = m_settings.readFileNameAt(key, tabValueName(number));
        // A hole left by a damaged entry ends nothing: later tabs still come, in order.
        if (path.empty()) {
            continue;
        }
        TabSessionExtra extra;
        for (std::size_t file = 2; file <= MaxMergedFiles; ++file) {
            const std::u16string other = m_settings.readFileNameAt(key, mergedName(number, file));
            if (!other.empty()) {
                extra.mergedWith.push_back(other);
            }
        }
        extra.rotated = extra.mergedWith.empty() &&
                        m_settings.readDwordAt(key, extraName(number, u"Rotated"), 0) == 1;
        bool seen = false;
        for (std::size_t i = 0; i < state.paths.size() && !seen; ++i) {
            seen = state.paths[i] == path && state.extras[i] == extra;
        }
        if (seen) {
            continue;
        }
        if (number == front) {
            state.front = state.paths.size();
        }
        state.paths.push_back(path);
        state.extras.push_back(std::move(extra));
    }
    return state;
}

void TabSession::write(const TabSessionState& state)
{
    std::vector<StoredValue> values;
    std::size_t number = 0;
    std::uint32_t front = 0;
    for (std::size_t i = 0; i < state.paths.size() && number < MaxTabs; ++i) {
        if (state.paths[i].empty()) {
            continue;
        }
        ++number;
        if (i == state.front) {
            front = static_cast<std::uint32_t>(number);
        }
        StoredValue value;
        value.name = tabValueName(number);
        value.isText = true;
        value.text = state.paths[i];
        values.push_back(std::move(value));
        if (i >= state.extras.size()) {
            continue;
        }
        const TabSessionExtra& extra = state.extras[i];
        for (std::size_t file = 0; file < extra.mergedWith.size() && file + 2 <= MaxMergedFiles;
             ++file) {
            StoredValue other;
            other.name = mergedName(number, file + 2);
            other.isText = true;
            other.text = extra.mergedWith[file];
            values.push_back(std::move(other));
        }
        if (extra.rotated && extra.mergedWith.empty()) {
            StoredValue rotated;
            rotated.name = extraName(number, u"Rotated");
            rotated.number = 1;
            values.push_back(std::move(rotated));
        }
    }
    if (front != 0) {
        StoredValue value;
        value.name = FrontValue;
        value.number = front;
        values.push_back(std::move(value));
    }
    m_settings.replaceUserTree(keyPath(), values);
}
