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
        if (path.empty() ||
            std::find(state.paths.begin(), state.paths.end(), path) != state.paths.end()) {
            continue;
        }
        if (number == front) {
            state.front = state.paths.size();
        }
        state.paths.push_back(path);
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
    }
    if (front != 0) {
        StoredValue value;
        value.name = FrontValue;
        value.number = front;
        values.push_back(std::move(value));
    }
    m_settings.replaceUserTree(keyPath(), values);
}
