#include "model/settings.h"

#include <iterator>
#include <string_view>

namespace quillet {

namespace {

constexpr SettingInfo Number(const char* key, SettingKind kind, int32_t CAppIni::*field, int32_t def,
                             const char* description) {
    return {key, kind, field, nullptr, def, nullptr, description};
}

constexpr SettingInfo Text(const char* key, std::string CAppIni::*field, const char* def, const char* description) {
    return {key, SettingKind::Text, nullptr, field, 0, def, description};
}

using K = SettingKind;

// File order is the order of this table: a first save writes the keys so, and existing files keep their own order.
constexpr SettingInfo kSettings[] = {
    Number("macroOptions", K::Bits, &CAppIni::macroOptions, 136,
           "Program options: input-method handling, run mode at exit, window and tray behaviour, colour marks, "
           "release on stop, image-match window"),
    Number("recOptions", K::Bits, &CAppIni::recOptions, 183,
           "Recorder options: which input is recorded and how mouse positions are stored"),
    Number("editOptions", K::Bits, &CAppIni::editOptions, 0,
           "Macro editor's test run: bit 0 obeys the macro's own start/stop hotkeys, bit 1 boxes the selected items "
           "on the mouse trail"),
    Number("hangulKeyboard", K::Number, &CAppIni::hangulKeyboard, 0,
           "Layout used to type Hangul text: 0 2-set, 1 3-set 390, 2 3-set final; any other value types no Hangul"),
    Number("windowSX", K::Number, &CAppIni::windowSX, 100, "Left edge of the main window, in screen pixels"),
    Number("windowSY", K::Number, &CAppIni::windowSY, 100, "Top edge of the main window, in screen pixels"),
    Number("debugSX", K::Number, &CAppIni::debugSX, 200, "Left edge of the run status / event log window"),
    Number("debugSY", K::Number, &CAppIni::debugSY, 200, "Top edge of the run status / event log window"),
    Number("statusSX", K::Number, &CAppIni::statusSX, 300, "Left edge of the key/mouse status window"),
    Number("statusSY", K::Number, &CAppIni::statusSY, 300, "Top edge of the key/mouse status window"),
    Text("macroFileName", &CAppIni::macroFileName, "macro.m",
         "Library opened at start, relative to the working folder unless absolute (CP949, at most 260 bytes)"),
    Text("title", &CAppIni::title, "Quillet V2.3", "Caption of the main window (CP949, at most 260 bytes)"),
    Number("colorDelay", K::Number, &CAppIni::colorDelay, 100,
           "Milliseconds between two checks of the colour and image conditions and of colour waits in run mode"),
    Number("eventDelay", K::Number, &CAppIni::eventDelay, 33,
           "Milliseconds per engine tick (each running macro executes one item per tick); also the cost of one "
           "item in run-time estimates"),
    Number("keyMacroRun", K::KeyCode, &CAppIni::keyMacroRun, 123, "Key that switches between run mode and edit mode"),
    Number("keyMacroRecord", K::KeyCode, &CAppIni::keyMacroRecord, 122,
           "Key that starts and stops recording in the recorder"),
    Number("keyMousePosCapture", K::KeyCode, &CAppIni::keyMousePosCapture, 121,
           "Key that captures the mouse position in the macro editor and the mouse item dialog"),
    Number("keyMacroColorStart", K::KeyCode, &CAppIni::keyMacroColorStart, 120,
           "Key that captures the start colour and its position, the first corner of an image search area and the "
           "colour of a colour wait"),
    Number("keyMacroColorStop", K::KeyCode, &CAppIni::keyMacroColorStop, 119,
           "Key that captures the stop colour and its position and the second corner of an image search area"),
    Number("recMouseDistance", K::Number, &CAppIni::recMouseDistance, 10,
           "Recorder: shortest mouse travel, in pixels, that is recorded as a move"),
    Number("recEventTimeInterval", K::Number, &CAppIni::recEventTimeInterval, 100,
           "Recorder: shortest pause, in milliseconds, that is recorded as a delay item"),
    Number("sequenceStart", K::Number, &CAppIni::sequenceStart, 1000,
           "First number typed for `$` in text items; the counter goes back to it when a library is loaded, run "
           "mode is entered or all macros are stopped"),
    Number("macroSel", K::Number, &CAppIni::macroSel, 0,
           "Macro selected in the main list (from 0; -1 none), stored when the program ends"),
    Number("startTabSel", K::Number, &CAppIni::startTabSel, 0, "Page last shown in the start/stop condition dialog"),
};

constexpr bool WellFormed() {
    for (const SettingInfo& s : kSettings) {
        const bool isText = s.kind == SettingKind::Text;
        if (isText != (s.text != nullptr) || isText == (s.number != nullptr) || isText != (s.defaultText != nullptr))
            return false;
        if (std::string_view(s.description).find('|') != std::string_view::npos) return false;
    }
    return true;
}
static_assert(std::size(kSettings) == 24);
static_assert(WellFormed(), "each setting has exactly one field of its kind and a description fit for a table cell");

} // namespace

std::span<const SettingInfo> SettingTable() {
    return kSettings;
}

std::vector<SettingEntry> SettingEntries(CAppIni& ini) {
    std::vector<SettingEntry> entries;
    entries.reserve(std::size(kSettings));
    for (const SettingInfo& s : kSettings)
        entries.push_back({s.key, s.number ? &(ini.*s.number) : nullptr, s.text ? &(ini.*s.text) : nullptr});
    return entries;
}

} // namespace quillet
