#pragma once

// The static tables that name every stored setting: keys (with their parents) and values
// (with key, registry name, type and default). Callers name settings by these ids only.

#include <cstdint>
#include <string_view>

using SettingId = std::uint32_t;

namespace Setting {
// Keys
constexpr SettingId KeyOrix = 1;
constexpr SettingId KeyQuillstream = 100;
constexpr SettingId KeyLogging = 200;
constexpr SettingId KeyGui = 300;
constexpr SettingId KeyKeywords = 400;
constexpr SettingId KeyFilter = 500;

// Values under Software\Orix\Quillstream
constexpr SettingId ShowLastViewedFile = 104;
constexpr SettingId LastFindString = 106;
constexpr SettingId FindMatchCase = 107;
constexpr SettingId FindWholeWord = 108;
constexpr SettingId FindDown = 109;
constexpr SettingId FindRegularExpression = 119;
constexpr SettingId HelpFilePath = 112;
constexpr SettingId HelpFilePrefix = 113;
constexpr SettingId ResourceDllPath = 114;   // stored as "ResorceDLLPath"
constexpr SettingId ResourceDllPrefix = 115; // stored as "ResouceDLLPrefix"
constexpr SettingId LogFileExt = 116;
constexpr SettingId ShowEmptyFileWarning = 117;
constexpr SettingId ShowEmptyFiles = 118;
// ...\Logging
constexpr SettingId LogFileName = 201;
constexpr SettingId LogLevel = 202;
constexpr SettingId MaxLogFileSize = 203;
constexpr SettingId ListLoadedDLLs = 204;
// ...\GUI
constexpr SettingId WindowPosLeft = 301;
constexpr SettingId WindowPosTop = 302;
constexpr SettingId WindowPosRight = 303;
constexpr SettingId WindowPosBottom = 304;
constexpr SettingId IsTextFontSet = 305;
constexpr SettingId TextFont = 306;
constexpr SettingId TextColor = 307;
constexpr SettingId BackgroundColor = 308;
constexpr SettingId TopMost = 309;
constexpr SettingId StatusBar = 310;
constexpr SettingId Toolbar = 311;
constexpr SettingId GuiLanguage = 312;
constexpr SettingId ColumnWidthEnable = 313;
constexpr SettingId ColumnWidthKeyword = 314;
constexpr SettingId ColumnWidthMatchCase = 315;
constexpr SettingId ColumnWidthMatchWord = 316;
// The keyword list's column for "colour only the match".
constexpr SettingId ColumnWidthMatchOnly = 322;
// Reading comfort: show terminal colours (and hide their escape sequences).
constexpr SettingId TerminalColors = 317;
// Reading comfort: wrap lines wider than the view.
constexpr SettingId WrapLongLines = 320;
// Reading comfort: show the carriage returns inside lines instead of applying them.
constexpr SettingId ShowControlCharacters = 321;
// ...\Keywords (401-406 are the names used inside each numbered keyword subkey)
constexpr SettingId SearchString = 401;
constexpr SettingId HighlightTextColor = 402;
constexpr SettingId HighlightBkColor = 403;
constexpr SettingId MatchCase = 404;
constexpr SettingId MatchWord = 405;
constexpr SettingId Enabled = 406;
constexpr SettingId Beep = 407;
constexpr SettingId PlaySound = 408;
constexpr SettingId Sound = 409;
constexpr SettingId SoundFileExt = 410;
// Reading comfort: a keyword that colours its matches only (inside each keyword subkey).
constexpr SettingId ColorMatchOnly = 411;
// ...\Filter (the filter view; its recent filters sit in the subkey "Recent", see
// settings/FilterHistory.h)
constexpr SettingId FilterPaneHeight = 501; // pixels; 0: not chosen yet
// Navigation: the line-number gutter and the overview strip (...\GUI)
constexpr SettingId LineNumbers = 318;
constexpr SettingId OverviewStrip = 319;
constexpr SettingId Timeline = 323;
// The Line Details pane beside the log (...\GUI).
constexpr SettingId LineDetails = 324;
// The short name of each row's file in a merged view (...\GUI).
constexpr SettingId MergedNames = 325;
// Opening a log offers the rotated files beside it (...\GUI).
constexpr SettingId OfferRotated = 327;
} // namespace Setting

enum class SettingType : std::uint32_t {
    Text = 0x100,
    Number = 0x201,
    Flag = 0x202,
    Binary = 0x400,
};

struct SettingsKeyRecord {
    SettingId id;
    SettingId parentId; // 0: no parent
    std::string_view name;
};

struct SettingsValueRecord {
    SettingId id;
    SettingId keyId;
    std::string_view name;
    SettingType type;
    std::string_view textDefault; // text values
    std::uint32_t numberDefault;  // numbers and flags
};

// Linear lookups; nullptr for an id the tables do not hold.
const SettingsKeyRecord* findSettingsKey(SettingId id);
const SettingsValueRecord* findSettingsValue(SettingId id);
