#include "settings/SettingsTable.h"

#include <array>

namespace {

using namespace Setting;

constexpr std::array<SettingsKeyRecord, 6> s_keys{{
    {KeyOrix, 0, "Software\\Orix"},
    {KeyQuillstream, KeyOrix, "Quillstream"},
    {KeyLogging, KeyQuillstream, "Logging"},
    {KeyGui, KeyQuillstream, "GUI"},
    {KeyKeywords, KeyQuillstream, "Keywords"},
    {KeyFilter, KeyQuillstream, "Filter"},
}};

constexpr SettingsValueRecord text(SettingId id, SettingId key, std::string_view name,
                                   std::string_view def)
{
    return {id, key, name, SettingType::Text, def, 0};
}

constexpr SettingsValueRecord number(SettingId id, SettingId key, std::string_view name,
                                     std::uint32_t def)
{
    return {id, key, name, SettingType::Number, {}, def};
}

constexpr SettingsValueRecord flag(SettingId id, SettingId key, std::string_view name,
                                   std::uint32_t def)
{
    return {id, key, name, SettingType::Flag, {}, def};
}

constexpr SettingsValueRecord binary(SettingId id, SettingId key, std::string_view name)
{
    return {id, key, name, SettingType::Binary, {}, 0};
}

constexpr std::array<SettingsValueRecord, 55> s_values{{
    flag(ShowLastViewedFile, KeyQuillstream, "ShowLastViewedFile", 0),
    text(LastFindString, KeyQuillstream, "LastFindString", ""),
    flag(FindMatchCase, KeyQuillstream, "FindMatchCase", 0),
    flag(FindWholeWord, KeyQuillstream, "FindWholeWord", 0),
    flag(FindDown, KeyQuillstream, "FindDown", 1),
    flag(FindRegularExpression, KeyQuillstream, "FindRegularExpression", 0),
    text(HelpFilePath, KeyQuillstream, "HelpFilePath", ""),
    text(HelpFilePrefix, KeyQuillstream, "HelpFilePrefix", ""),
    text(ResourceDllPath, KeyQuillstream, "ResorceDLLPath", ""),
    text(ResourceDllPrefix, KeyQuillstream, "ResouceDLLPrefix", ""),
    text(LogFileExt, KeyQuillstream, "LogFileExt", "*.log;*.txt"),
    flag(ShowEmptyFileWarning, KeyQuillstream, "ShowEmptyFileWarning", 1),
    flag(ShowEmptyFiles, KeyQuillstream, "ShowEmptyFiles", 1),

    text(LogFileName, KeyLogging, "LogFileName", "Quillstream.log"),
    number(LogLevel, KeyLogging, "LogLevel", 1),
    number(MaxLogFileSize, KeyLogging, "MaxLogFileSize", 1048576),
    flag(ListLoadedDLLs, KeyLogging, "ListLoadedDLLs", 1),

    number(WindowPosLeft, KeyGui, "WindowPosLeft", 0),
    number(WindowPosTop, KeyGui, "WindowPosTop", 0),
    number(WindowPosRight, KeyGui, "WindowPosRight", 0),
    number(WindowPosBottom, KeyGui, "WindowPosBottom", 0),
    flag(IsTextFontSet, KeyGui, "IsTextFontSet", 0),
    binary(TextFont, KeyGui, "TextFont"),
    number(TextColor, KeyGui, "TextColor", 0x00FF00),
    number(BackgroundColor, KeyGui, "BackgroundColor", 0),
    flag(TopMost, KeyGui, "TopMost", 0),
    flag(StatusBar, KeyGui, "StatusBar", 1),
    flag(Toolbar, KeyGui, "Toolbar", 1),
    text(GuiLanguage, KeyGui, "GUILanguage", ""),
    number(ColumnWidthEnable, KeyGui, "ColumnWidthEnable", 20),
    number(ColumnWidthKeyword, KeyGui, "ColumnWidthKeyword", 134),
    number(ColumnWidthMatchCase, KeyGui, "ColumnWidthMatchCase", 73),
    number(ColumnWidthMatchWord, KeyGui, "ColumnWidthMatchWord", 73),
    number(ColumnWidthMatchOnly, KeyGui, "ColumnWidthMatchOnly", 73),

    text(SearchString, KeyKeywords, "SearchString", ""),
    number(HighlightTextColor, KeyKeywords, "HighlightTextColor", 0),
    number(HighlightBkColor, KeyKeywords, "HighlightBkColor", 0),
    flag(MatchCase, KeyKeywords, "MatchCase", 1),
    flag(MatchWord, KeyKeywords, "MatchWord", 1),
    flag(Enabled, KeyKeywords, "Enabled", 1),
    flag(Beep, KeyKeywords, "Beep", 0),
    flag(PlaySound, KeyKeywords, "PlaySound", 0),
    text(Sound, KeyKeywords, "Sound", ""),
    text(SoundFileExt, KeyKeywords, "SoundFileExt", "*.wav *.oga *.ogg"),

    number(FilterPaneHeight, KeyFilter, "PaneHeight", 0),

    // Navigation
    flag(LineNumbers, KeyGui, "LineNumbers", 0),
    flag(OverviewStrip, KeyGui, "OverviewStrip", 0),
    flag(Timeline, KeyGui, "Timeline", 0),
    flag(MergedNames, KeyGui, "MergedNames", 0),
    flag(LineDetails, KeyGui, "LineDetails", 0),
    flag(OfferRotated, KeyGui, "OfferRotated", 1),

    // Reading comfort.
    flag(ColorMatchOnly, KeyKeywords, "ColorMatchOnly", 0),
    flag(TerminalColors, KeyGui, "TerminalColors", 0),
    flag(WrapLongLines, KeyGui, "WrapLongLines", 0),
    flag(ShowControlCharacters, KeyGui, "ShowControlCharacters", 0),
}};

} // namespace

const SettingsKeyRecord* findSettingsKey(SettingId id)
{
    for (const SettingsKeyRecord& key : s_keys) {
        if (key.id == id) {
            return &key;
        }
    }
    return nullptr;
}

const SettingsValueRecord* findSettingsValue(SettingId id)
{
    for (const SettingsValueRecord& value : s_values) {
        if (value.id == id) {
            return &value;
        }
    }
    return nullptr;
}
