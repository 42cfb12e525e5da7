#include "platform/x11/keysym_table.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <array>
#include <unordered_map>

namespace quillet::platform::x11 {
namespace {

struct VkRow {
    uint8_t vk;
    uint32_t keysym;
    uint32_t extendedKeysym; // 0 = the same key with or without the extended flag
    uint8_t scan;            // Windows' scan code on a US keyboard
};

// Every virtual key X has a keysym for. Rows with the same keysym: the first one wins for the reverse lookup
// unless ReverseOverride says otherwise.
constexpr VkRow kRows[] = {
    {0x03, XK_Break, 0, 0x46},
    {0x08, XK_BackSpace, 0, 0x0E},
    {0x09, XK_Tab, 0, 0x0F},
    {0x0C, XK_Clear, 0, 0x4C},
    {0x0D, XK_Return, XK_KP_Enter, 0x1C},
    {0x10, XK_Shift_L, 0, 0x2A}, // Windows' right Shift is not an extended key
    {0x11, XK_Control_L, XK_Control_R, 0x1D},
    {0x12, XK_Alt_L, XK_Alt_R, 0x38},
    {0x13, XK_Pause, 0, 0x45},
    {0x14, XK_Caps_Lock, 0, 0x3A},
    {0x15, XK_Hangul, 0, 0x72},
    {0x17, XK_Hangul_Jeonja, 0, 0},
    {0x19, XK_Hangul_Hanja, 0, 0x71},
    {0x1B, XK_Escape, 0, 0x01},
    {0x1C, XK_Henkan_Mode, 0, 0x79},
    {0x1D, XK_Muhenkan, 0, 0x7B},
    {0x1F, XK_Mode_switch, 0, 0},
    {0x20, XK_space, 0, 0x39},
    {0x21, XK_Prior, 0, 0x49},
    {0x22, XK_Next, 0, 0x51},
    {0x23, XK_End, 0, 0x4F},
    {0x24, XK_Home, 0, 0x47},
    {0x25, XK_Left, 0, 0x4B},
    {0x26, XK_Up, 0, 0x48},
    {0x27, XK_Right, 0, 0x4D},
    {0x28, XK_Down, 0, 0x50},
    {0x29, XK_Select, 0, 0},
    {0x2C, XK_Print, 0, 0x54},
    {0x2A, XK_Print, 0, 0},
    {0x2B, XK_Execute, 0, 0},
    {0x2D, XK_Insert, 0, 0x52},
    {0x2E, XK_Delete, 0, 0x53},
    {0x2F, XK_Help, 0, 0x63},
    {0x30, XK_0, 0, 0x0B},
    {0x31, XK_1, 0, 0x02},
    {0x32, XK_2, 0, 0x03},
    {0x33, XK_3, 0, 0x04},
    {0x34, XK_4, 0, 0x05},
    {0x35, XK_5, 0, 0x06},
    {0x36, XK_6, 0, 0x07},
    {0x37, XK_7, 0, 0x08},
    {0x38, XK_8, 0, 0x09},
    {0x39, XK_9, 0, 0x0A},
    {0x41, XK_a, 0, 0x1E},
    {0x42, XK_b, 0, 0x30},
    {0x43, XK_c, 0, 0x2E},
    {0x44, XK_d, 0, 0x20},
    {0x45, XK_e, 0, 0x12},
    {0x46, XK_f, 0, 0x21},
    {0x47, XK_g, 0, 0x22},
    {0x48, XK_h, 0, 0x23},
    {0x49, XK_i, 0, 0x17},
    {0x4A, XK_j, 0, 0x24},
    {0x4B, XK_k, 0, 0x25},
    {0x4C, XK_l, 0, 0x26},
    {0x4D, XK_m, 0, 0x32},
    {0x4E, XK_n, 0, 0x31},
    {0x4F, XK_o, 0, 0x18},
    {0x50, XK_p, 0, 0x19},
    {0x51, XK_q, 0, 0x10},
    {0x52, XK_r, 0, 0x13},
    {0x53, XK_s, 0, 0x1F},
    {0x54, XK_t, 0, 0x14},
    {0x55, XK_u, 0, 0x16},
    {0x56, XK_v, 0, 0x2F},
    {0x57, XK_w, 0, 0x11},
    {0x58, XK_x, 0, 0x2D},
    {0x59, XK_y, 0, 0x15},
    {0x5A, XK_z, 0, 0x2C},
    {0x5B, XK_Super_L, 0, 0x5B},
    {0x5C, XK_Super_R, 0, 0x5C},
    {0x5D, XK_Menu, 0, 0x5D},
    {0x5F, XF86XK_Sleep, 0, 0x5F},
    {0x60, XK_KP_0, 0, 0x52},
    {0x61, XK_KP_1, 0, 0x4F},
    {0x62, XK_KP_2, 0, 0x50},
    {0x63, XK_KP_3, 0, 0x51},
    {0x64, XK_KP_4, 0, 0x4B},
    {0x65, XK_KP_5, 0, 0x4C},
    {0x66, XK_KP_6, 0, 0x4D},
    {0x67, XK_KP_7, 0, 0x47},
    {0x68, XK_KP_8, 0, 0x48},
    {0x69, XK_KP_9, 0, 0x49},
    {0x6A, XK_KP_Multiply, 0, 0x37},
    {0x6B, XK_KP_Add, 0, 0x4E},
    {0x6C, XK_KP_Separator, 0, 0},
    {0x6D, XK_KP_Subtract, 0, 0x4A},
    {0x6E, XK_KP_Decimal, 0, 0x53},
    {0x6F, XK_KP_Divide, 0, 0x35},
    {0x70, XK_F1, 0, 0x3B},
    {0x71, XK_F2, 0, 0x3C},
    {0x72, XK_F3, 0, 0x3D},
    {0x73, XK_F4, 0, 0x3E},
    {0x74, XK_F5, 0, 0x3F},
    {0x75, XK_F6, 0, 0x40},
    {0x76, XK_F7, 0, 0x41},
    {0x77, XK_F8, 0, 0x42},
    {0x78, XK_F9, 0, 0x43},
    {0x79, XK_F10, 0, 0x44},
    {0x7A, XK_F11, 0, 0x57},
    {0x7B, XK_F12, 0, 0x58},
    {0x7C, XK_F13, 0, 0x64},
    {0x7D, XK_F14, 0, 0x65},
    {0x7E, XK_F15, 0, 0x66},
    {0x7F, XK_F16, 0, 0x67},
    {0x80, XK_F17, 0, 0x68},
    {0x81, XK_F18, 0, 0x69},
    {0x82, XK_F19, 0, 0x6A},
    {0x83, XK_F20, 0, 0x6B},
    {0x84, XK_F21, 0, 0x6C},
    {0x85, XK_F22, 0, 0x6D},
    {0x86, XK_F23, 0, 0x6E},
    {0x87, XK_F24, 0, 0x76},
    {0x90, XK_Num_Lock, 0, 0x45},
    {0x91, XK_Scroll_Lock, 0, 0x46},
    {0xA0, XK_Shift_L, 0, 0x2A},
    {0xA1, XK_Shift_R, 0, 0x36},
    {0xA2, XK_Control_L, 0, 0x1D},
    {0xA3, XK_Control_R, 0, 0x1D},
    {0xA4, XK_Alt_L, 0, 0x38},
    {0xA5, XK_Alt_R, 0, 0x38},
    {0xA6, XF86XK_Back, 0, 0x6A},
    {0xA7, XF86XK_Forward, 0, 0x69},
    {0xA8, XF86XK_Refresh, 0, 0x67},
    {0xA9, XF86XK_Stop, 0, 0x68},
    {0xAA, XF86XK_Search, 0, 0x65},
    {0xAB, XF86XK_Favorites, 0, 0x66},
    {0xAC, XF86XK_HomePage, 0, 0x32},
    {0xAD, XF86XK_AudioMute, 0, 0x20},
    {0xAE, XF86XK_AudioLowerVolume, 0, 0x2E},
    {0xAF, XF86XK_AudioRaiseVolume, 0, 0x30},
    {0xB0, XF86XK_AudioNext, 0, 0x19},
    {0xB1, XF86XK_AudioPrev, 0, 0x10},
    {0xB2, XF86XK_AudioStop, 0, 0x24},
    {0xB3, XF86XK_AudioPlay, 0, 0x22},
    {0xB4, XF86XK_Mail, 0, 0x6C},
    {0xB5, XF86XK_AudioMedia, 0, 0x6D},
    {0xB6, XF86XK_MyComputer, 0, 0x6B},
    {0xB7, XF86XK_Calculator, 0, 0x21},
    {0xBA, XK_semicolon, 0, 0x27},
    {0xBB, XK_equal, 0, 0x0D},
    {0xBC, XK_comma, 0, 0x33},
    {0xBD, XK_minus, 0, 0x0C},
    {0xBE, XK_period, 0, 0x34},
    {0xBF, XK_slash, 0, 0x35},
    {0xC0, XK_grave, 0, 0x29},
    {0xDB, XK_bracketleft, 0, 0x1A},
    {0xDC, XK_backslash, 0, 0x2B},
    {0xDD, XK_bracketright, 0, 0x1B},
    {0xDE, XK_apostrophe, 0, 0x28},
    {0xE2, XK_less, 0, 0x56},
};

struct ByVk {
    std::array<const VkRow*, 256> rows{};
    ByVk() {
        for (const VkRow& r : kRows)
            if (rows[r.vk] == nullptr) rows[r.vk] = &r;
    }
};

const ByVk& RowsByVk() {
    static const ByVk table;
    return table;
}

// Keysyms raw input reports with another key than the table's first row for them, and keysyms that have no row.
constexpr std::pair<uint32_t, uint8_t> kReverseExtra[] = {
    {XK_Shift_L, 0x10},        {XK_Shift_R, 0x10},      {XK_Control_L, 0x11},
    {XK_Control_R, 0x11},      {XK_Alt_L, 0x12},        {XK_Alt_R, 0x12},
    {XK_Meta_L, 0x12},         {XK_Meta_R, 0x12},       {XK_ISO_Level3_Shift, 0x12},
    {XK_KP_Enter, 0x0D},       {XK_Print, 0x2C},        {XK_Sys_Req, 0x2C},
    {XK_KP_Home, 0x24},        {XK_KP_End, 0x23},       {XK_KP_Prior, 0x21},
    {XK_KP_Next, 0x22},        {XK_KP_Left, 0x25},      {XK_KP_Up, 0x26},
    {XK_KP_Right, 0x27},       {XK_KP_Down, 0x28},      {XK_KP_Insert, 0x2D},
    {XK_KP_Delete, 0x2E},      {XK_KP_Begin, 0x0C},     {XK_KP_Space, 0x20},
    {XK_KP_Tab, 0x09},         {XK_KP_Equal, 0xBB},     {XK_ISO_Left_Tab, 0x09},
    {XK_Henkan, 0x1C},         {XK_Hangul_Hanja, 0x19}, {XF86XK_Reload, 0xA8},
    {XF86XK_AudioPause, 0xB3}, {XF86XK_Tools, 0x7C},
};

struct ByKeysym {
    std::unordered_map<uint32_t, uint8_t> vk;
    ByKeysym() {
        for (const auto& [sym, v] : kReverseExtra) vk.emplace(sym, v);
        for (const VkRow& r : kRows) {
            vk.emplace(r.keysym, r.vk);
            if (r.keysym >= XK_a && r.keysym <= XK_z) vk.emplace(r.keysym - XK_a + XK_A, r.vk);
        }
    }
};

} // namespace

uint32_t KeysymForVk(uint8_t vk, bool extended) {
    const VkRow* row = RowsByVk().rows[vk];
    if (row == nullptr) return 0;
    return extended && row->extendedKeysym != 0 ? row->extendedKeysym : row->keysym;
}

uint32_t ShiftedKeysymForVk(uint8_t vk) {
    if (vk >= 'A' && vk <= 'Z') return XK_A + (vk - 'A');
    switch (vk) {
    case '1':
        return XK_exclam;
    case '2':
        return XK_at;
    case '3':
        return XK_numbersign;
    case '4':
        return XK_dollar;
    case '5':
        return XK_percent;
    case '6':
        return XK_asciicircum;
    case '7':
        return XK_ampersand;
    case '8':
        return XK_asterisk;
    case '9':
        return XK_parenleft;
    case '0':
        return XK_parenright;
    case 0xBA:
        return XK_colon;
    case 0xBB:
        return XK_plus;
    case 0xBC:
        return XK_less;
    case 0xBD:
        return XK_underscore;
    case 0xBE:
        return XK_greater;
    case 0xBF:
        return XK_question;
    case 0xC0:
        return XK_asciitilde;
    case 0xDB:
        return XK_braceleft;
    case 0xDC:
        return XK_bar;
    case 0xDD:
        return XK_braceright;
    case 0xDE:
        return XK_quotedbl;
    case 0xE2:
        return XK_greater;
    default:
        return 0;
    }
}

uint8_t VkForKeysym(uint32_t keysym) {
    static const ByKeysym table;
    auto it = table.vk.find(keysym);
    return it == table.vk.end() ? 0 : it->second;
}

uint8_t SidedVkForKeysym(uint32_t keysym) {
    switch (keysym) {
    case XK_Shift_L:
        return 0xA0;
    case XK_Shift_R:
        return 0xA1;
    case XK_Control_L:
        return 0xA2;
    case XK_Control_R:
        return 0xA3;
    case XK_Alt_L:
    case XK_Meta_L:
        return 0xA4;
    case XK_Alt_R:
    case XK_Meta_R:
    case XK_ISO_Level3_Shift:
        return 0xA5;
    default:
        return 0;
    }
}

uint8_t VkForEvdevPosition(uint16_t code) {
    // Rows of the main block on a US keyboard, left to right.
    static constexpr char kDigits[] = "1234567890"; // codes 2..11
    static constexpr char kTop[] = "QWERTYUIOP";    // 16..25
    static constexpr char kHome[] = "ASDFGHJKL";    // 30..38
    static constexpr char kBottom[] = "ZXCVBNM";    // 44..50
    if (code >= 2 && code <= 11) return static_cast<uint8_t>(kDigits[code - 2]);
    if (code >= 16 && code <= 25) return static_cast<uint8_t>(kTop[code - 16]);
    if (code >= 30 && code <= 38) return static_cast<uint8_t>(kHome[code - 30]);
    if (code >= 44 && code <= 50) return static_cast<uint8_t>(kBottom[code - 44]);
    switch (code) {
    case 12:
        return 0xBD;
    case 13:
        return 0xBB;
    case 26:
        return 0xDB;
    case 27:
        return 0xDD;
    case 39:
        return 0xBA;
    case 40:
        return 0xDE;
    case 41:
        return 0xC0;
    case 43:
        return 0xDC;
    case 51:
        return 0xBC;
    case 52:
        return 0xBE;
    case 53:
        return 0xBF;
    case 86:
        return 0xE2;
    default:
        return 0;
    }
}

ScanCode ScanCodeForEvdev(uint16_t code) {
    // Codes 1..88 are the set-1 make codes themselves (Escape .. F12, including the keypad).
    if (code >= 1 && code <= 88) return {static_cast<uint8_t>(code), false, false};
    constexpr bool E0 = true;
    switch (code) {
    case 85:
        return {0x76, false, false}; // Zenkaku/Hankaku
    case 89:
        return {0x73, false, false}; // Ro
    case 90:
        return {0x78, false, false}; // Katakana
    case 91:
        return {0x77, false, false}; // Hiragana
    case 92:
        return {0x79, false, false}; // Henkan
    case 93:
        return {0x70, false, false}; // Katakana/Hiragana
    case 94:
        return {0x7B, false, false}; // Muhenkan
    case 95:
        return {0x5C, false, false}; // keypad JP comma
    case 96:
        return {0x1C, E0, false}; // keypad Enter
    case 97:
        return {0x1D, E0, false}; // right Control
    case 98:
        return {0x35, E0, false}; // keypad /
    case 99:
        return {0x37, E0, false}; // Print Screen / SysRq
    case 100:
        return {0x38, E0, false}; // right Alt
    case 102:
        return {0x47, E0, false}; // Home
    case 103:
        return {0x48, E0, false}; // Up
    case 104:
        return {0x49, E0, false}; // Page Up
    case 105:
        return {0x4B, E0, false}; // Left
    case 106:
        return {0x4D, E0, false}; // Right
    case 107:
        return {0x4F, E0, false}; // End
    case 108:
        return {0x50, E0, false}; // Down
    case 109:
        return {0x51, E0, false}; // Page Down
    case 110:
        return {0x52, E0, false}; // Insert
    case 111:
        return {0x53, E0, false}; // Delete
    case 113:
        return {0x20, E0, false}; // Mute
    case 114:
        return {0x2E, E0, false}; // Volume Down
    case 115:
        return {0x30, E0, false}; // Volume Up
    case 116:
        return {0x5E, E0, false}; // Power
    case 117:
        return {0x59, false, false}; // keypad =
    case 119:
        return {0x45, false, true}; // Pause (E1 1D 45)
    case 121:
        return {0x7E, false, false}; // keypad comma
    case 122:
        return {0x72, false, false}; // Hangul
    case 123:
        return {0x71, false, false}; // Hanja
    case 124:
        return {0x7D, false, false}; // Yen
    case 125:
        return {0x5B, E0, false}; // left Windows
    case 126:
        return {0x5C, E0, false}; // right Windows
    case 127:
        return {0x5D, E0, false}; // Menu
    case 128:
        return {0x68, E0, false}; // Browser Stop
    case 140:
        return {0x21, E0, false}; // Calculator
    case 142:
        return {0x5F, E0, false}; // Sleep
    case 143:
        return {0x63, E0, false}; // Wake
    case 155:
        return {0x6C, E0, false}; // Mail
    case 156:
        return {0x66, E0, false}; // Favorites
    case 157:
        return {0x6B, E0, false}; // My Computer
    case 158:
        return {0x6A, E0, false}; // Browser Back
    case 159:
        return {0x69, E0, false}; // Browser Forward
    case 163:
        return {0x19, E0, false}; // Next Track
    case 164:
        return {0x22, E0, false}; // Play/Pause
    case 165:
        return {0x10, E0, false}; // Previous Track
    case 166:
        return {0x24, E0, false}; // Stop Media
    case 172:
        return {0x32, E0, false}; // Browser Home
    case 173:
        return {0x67, E0, false}; // Browser Refresh
    case 183:
        return {0x64, false, false}; // F13
    case 184:
        return {0x65, false, false};
    case 185:
        return {0x66, false, false};
    case 186:
        return {0x67, false, false};
    case 187:
        return {0x68, false, false};
    case 188:
        return {0x69, false, false};
    case 189:
        return {0x6A, false, false};
    case 190:
        return {0x6B, false, false};
    case 191:
        return {0x6C, false, false};
    case 192:
        return {0x6D, false, false};
    case 193:
        return {0x6E, false, false};
    case 194:
        return {0x76, false, false}; // F24
    case 217:
        return {0x65, E0, false}; // Browser Search
    case 226:
        return {0x6D, E0, false}; // Select Media
    default:
        return {};
    }
}

uint8_t DefaultScanCodeForVk(uint8_t vk) {
    const VkRow* row = RowsByVk().rows[vk];
    return row == nullptr ? 0 : row->scan;
}

} // namespace quillet::platform::x11
