// Translation between Windows virtual keys and X keysyms, and between Linux input event codes (X keycode − 8) and
// PC set-1 scan codes. Pure tables: nothing here talks to the X server.
#pragma once

#include <cstdint>

namespace quillet::platform::x11 {

// Keysym a virtual key is sent as; 0 when X has no key for it. `extended` picks between the twins Windows tells
// apart with KEYEVENTF_EXTENDEDKEY: Return / KP_Enter, left / right Control and Alt. The navigation keys (Home,
// End, the arrows, Insert, Delete, Page Up / Down) are always the dedicated keys, with or without the flag: the
// keypad twins turn into digits while Num Lock is on, which would change what the key means.
uint32_t KeysymForVk(uint8_t vk, bool extended);

// Keysym the key gives with Shift on a US keyboard (the colon for VK_OEM_1, 'A' for VK_A); 0 when Shift does not
// change it. Used for keys bound temporarily, so that the engine's Shift + key still types the intended character.
uint32_t ShiftedKeysymForVk(uint8_t vk);

// Virtual key of a keysym as raw input reports it (generic VK_SHIFT / VK_CONTROL / VK_MENU for either side,
// VK_RETURN for KP_Enter, the navigation keys for the keypad's navigation keysyms); 0 when unknown.
uint8_t VkForKeysym(uint32_t keysym);

// Left / right virtual key of a modifier keysym (VK_LSHIFT .. VK_RMENU); 0 for other keysyms.
uint8_t SidedVkForKeysym(uint32_t keysym);

// Virtual key of the key at a US-layout position, by Linux input event code; used for keysyms VkForKeysym does
// not know (letters of other layouts on the digit row, for instance). 0 when the position has none.
uint8_t VkForEvdevPosition(uint16_t evdevCode);

// Set-1 scan code of a Linux input event code: low byte the make code, flags telling the E0 / E1 prefix.
struct ScanCode {
    uint8_t make = 0;
    bool e0 = false;
    bool e1 = false;
};
ScanCode ScanCodeForEvdev(uint16_t evdevCode);

// Scan code Windows reports for a virtual key on a US keyboard (MapVirtualKey VK_TO_VSC); used when the key is not
// on the X keyboard map. 0 when there is none.
uint8_t DefaultScanCodeForVk(uint8_t vk);

// True for keysyms of the numeric keypad (their level depends on Num Lock).
inline bool IsKeypadKeysym(uint32_t keysym) {
    return keysym >= 0xff80 && keysym <= 0xffbd;
}

} // namespace quillet::platform::x11
