#include "input/input_decoder.h"
#include "model/macro.h"

namespace quillet {

namespace {

using platform::RawInputRecord;

struct FlagCode {
    uint16_t flag;
    uint8_t code;
    bool isPress;
};

// Tested in this order; the first flag present decides.
constexpr FlagCode kButtonFlags[] = {
    {platform::RI_MOUSE_LEFT_BUTTON_DOWN, CodeLeftButton, true},
    {platform::RI_MOUSE_LEFT_BUTTON_UP, CodeLeftButton, false},
    {platform::RI_MOUSE_RIGHT_BUTTON_DOWN, CodeRightButton, true},
    {platform::RI_MOUSE_RIGHT_BUTTON_UP, CodeRightButton, false},
    {platform::RI_MOUSE_MIDDLE_BUTTON_DOWN, CodeMiddleButton, true},
    {platform::RI_MOUSE_MIDDLE_BUTTON_UP, CodeMiddleButton, false},
    {platform::RI_MOUSE_BUTTON_4_DOWN, CodeX1Button, true},
    {platform::RI_MOUSE_BUTTON_4_UP, CodeX1Button, false},
    {platform::RI_MOUSE_BUTTON_5_DOWN, CodeX2Button, true},
    {platform::RI_MOUSE_BUTTON_5_UP, CodeX2Button, false},
};

constexpr uint8_t VK_LCONTROL = 0xA2;
constexpr uint8_t VK_RCONTROL = 0xA3;
constexpr uint8_t VK_LMENU = 0xA4;
constexpr uint8_t VK_RMENU = 0xA5;
constexpr uint8_t VK_RSHIFT = 0xA1;

} // namespace

MouseCode DecodeMouseButtons(uint16_t buttonFlags, int16_t buttonData) {
    for (const FlagCode& f : kButtonFlags) {
        if (buttonFlags & f.flag) return {f.code, f.isPress};
    }
    if (buttonFlags & platform::RI_MOUSE_WHEEL) return {buttonData > 0 ? CodeWheelUp : CodeWheelDown, true};
    return {};
}

std::optional<InputEvent> DecodeKeyboard(const RawInputRecord& record) {
    if (record.injected) return std::nullopt;
    InputEvent e;
    e.fromKeyboard = true;
    e.scan = static_cast<uint8_t>(record.makeCode & 0xFF);
    switch (record.message) {
    case platform::WM_KEYDOWN:
    case platform::WM_SYSKEYDOWN:
        e.code = static_cast<uint8_t>(record.vkey & 0xFF);
        e.isPress = true;
        break;
    case platform::WM_KEYUP:
    case platform::WM_SYSKEYUP:
        e.code = static_cast<uint8_t>(record.vkey & 0xFF);
        break;
    default:
        break;
    }
    return e;
}

std::optional<InputEvent> DecodeMouse(const RawInputRecord& record, platform::InputOutput& io,
                                      platform::ScreenPoint& lastCursor) {
    if (record.injected) return std::nullopt;
    InputEvent e;
    platform::ScreenPoint p;
    if (io.CursorPos(p)) lastCursor = p;
    e.cursor = lastCursor;
    const MouseCode mc = DecodeMouseButtons(record.buttonFlags, record.buttonData);
    e.code = mc.code;
    e.isPress = mc.isPress;
    e.moved = record.lastX != 0 || record.lastY != 0;
    e.wheelDelta = record.buttonData;
    return e;
}

int32_t SampleModifierBits(platform::InputOutput& io) {
    int32_t bits = 0;
    if (io.IsKeyDown(VK_LCONTROL) || io.IsKeyDown(VK_RCONTROL)) bits |= KeyCtrl;
    if (io.IsKeyDown(VK_LMENU) || io.IsKeyDown(VK_RMENU)) bits |= KeyAlt;
    if (io.IsKeyDown(platform::VK_LSHIFT) || io.IsKeyDown(VK_RSHIFT)) bits |= KeyShift;
    return bits;
}

int32_t MakeKeyEventCode(int code, bool isPress, platform::InputOutput& io) {
    int32_t e = (code & KeyCodeMask) | SampleModifierBits(io);
    if (!isPress) e |= KeyRelease;
    return e;
}

} // namespace quillet
