#include "model/settings.h"

namespace quillet {

std::vector<SettingEntry> SettingEntries(CAppIni& s) {
    return {
        {"macroOptions", &s.macroOptions, nullptr},
        {"recOptions", &s.recOptions, nullptr},
        {"editOptions", &s.editOptions, nullptr},
        {"hangulKeyboard", &s.hangulKeyboard, nullptr},
        {"windowSX", &s.windowSX, nullptr},
        {"windowSY", &s.windowSY, nullptr},
        {"debugSX", &s.debugSX, nullptr},
        {"debugSY", &s.debugSY, nullptr},
        {"statusSX", &s.statusSX, nullptr},
        {"statusSY", &s.statusSY, nullptr},
        {"macroFileName", nullptr, &s.macroFileName},
        {"title", nullptr, &s.title},
        {"colorDelay", &s.colorDelay, nullptr},
        {"eventDelay", &s.eventDelay, nullptr},
        {"keyMacroRun", &s.keyMacroRun, nullptr},
        {"keyMacroRecord", &s.keyMacroRecord, nullptr},
        {"keyMousePosCapture", &s.keyMousePosCapture, nullptr},
        {"keyMacroColorStart", &s.keyMacroColorStart, nullptr},
        {"keyMacroColorStop", &s.keyMacroColorStop, nullptr},
        {"recMouseDistance", &s.recMouseDistance, nullptr},
        {"recEventTimeInterval", &s.recEventTimeInterval, nullptr},
        {"sequenceStart", &s.sequenceStart, nullptr},
        {"macroSel", &s.macroSel, nullptr},
        {"startTabSel", &s.startTabSel, nullptr},
    };
}

} // namespace quillet
