// The bits of the three bit-set settings of Quillet.ini (macroOptions, recOptions, editOptions), named once. The
// settings dialog, the recorder, the editor, the engine, the triggers and the windows all use these names.
#pragma once

#include <cstdint>

namespace quillet {

// --- macroOptions (default 0x88) ---
// Key items follow the input method's Hangul/English state ("[한글]"/"[영어]" in their texts, the keyboard item
// dialog's Hangul box enabled); "매크로 실행시 IME의 한/영 전환 상태 감지".
inline constexpr int32_t OptionFollowImeState = 0x1;
inline constexpr int32_t OptionRunModeOn = 0x2;       // run mode was on; restored at the next start
inline constexpr int32_t OptionAlwaysOnTop = 0x4;     // the main window stays on top
inline constexpr int32_t OptionHideEditorTest = 0x8;  // the macro editor hides its test group
inline constexpr int32_t OptionStartMinimised = 0x10; // start minimised to the tray
inline constexpr int32_t OptionTrayBlink = 0x80;      // blink the tray icon and show balloons in run mode
inline constexpr int32_t OptionMarkColors = 0x100;    // mark the colour positions on the screen in run mode
inline constexpr int32_t OptionStartSelected = 0x200; // entering run mode starts the macro selected in the list
inline constexpr int32_t OptionLogPage = 0x400;       // the run status window shows its event log page
inline constexpr int32_t OptionReleaseHeldOnStop = 0x800; // a stopped macro releases what it holds
inline constexpr int32_t OptionImageResultWindow = 0x1000; // show where an image condition matched

// --- recOptions (default 0xB7): the recorder's check boxes ---
inline constexpr int32_t RecKeys = 0x1;
inline constexpr int32_t RecButtons = 0x2;
inline constexpr int32_t RecMovement = 0x4;
inline constexpr int32_t RecWheel = 0x8;
inline constexpr int32_t RecPauses = 0x10;
inline constexpr int32_t RecMerge = 0x20;
inline constexpr int32_t RecNormalized = 0x40; // only together with RecAbsolute
inline constexpr int32_t RecAbsolute = 0x80;
inline constexpr int32_t RecButtonPosition = 0x100;
inline constexpr int32_t RecOptionsMask = 0x1FF;

// --- editOptions: the macro editor's test group ---
inline constexpr int32_t EditTestHotkeys = 0x1; // the test run follows the macro's start/stop hotkeys
inline constexpr int32_t EditBlueBoxes = 0x2;   // the trail marks the selected items with blue boxes

} // namespace quillet
