#include "engine/input_synth.h"

#include <cmath>
#include <limits>

namespace quillet {

int32_t ToAbsolute(int32_t v, int32_t extent) {
    // A screen of no size has no absolute units; avoid the division by zero.
    if (extent <= 0) return 0;
    const double a = v > 0 ? v + 0.5 : v - 0.5;
    const double units = std::trunc(a * 65536.0 / extent);
    // Far-off coordinates saturate instead of overflowing the conversion.
    if (units >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (units <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(units);
}

void InputSynth::SendKey(uint8_t vk, uint8_t scan, uint32_t flags) {
    io_.SendKeyEvent(vk, scan, flags);
}

void InputSynth::SendMouse(uint32_t flags, int32_t x, int32_t y, int32_t data) {
    io_.SendMouseEvent(flags, x, y, data);
}

uint8_t InputSynth::ScanCodeOf(uint8_t vk) {
    return io_.ScanCodeOf(vk);
}

int32_t InputSynth::ToAbsoluteX(int32_t x) {
    return ToAbsolute(x, io_.PrimaryScreenSize().width);
}

int32_t InputSynth::ToAbsoluteY(int32_t y) {
    return ToAbsolute(y, io_.PrimaryScreenSize().height);
}

void InputSynth::SetImeHangul(bool open) {
    // The state is read again every round so that a toggle that has taken effect stops further toggles.
    for (int round = 0; round < 10; ++round) {
        const platform::ImeState state = ime_.OpenState();
        if (state == platform::ImeState::None) {
            if (open && !imeMissingReported_) {
                imeMissingReported_ = true;
                if (onImeMissing) onImeMissing();
            }
            return;
        }
        const bool isOpen = state == platform::ImeState::Open;
        if (isOpen == open) continue;
        const uint8_t scan = ScanCodeOf(platform::VK_HANGUL);
        SendKey(platform::VK_HANGUL, scan, platform::KEYEVENTF_EXTENDEDKEY);
        clock_.Sleep(33);
        SendKey(platform::VK_HANGUL, scan, platform::KEYEVENTF_EXTENDEDKEY | platform::KEYEVENTF_KEYUP);
        clock_.Sleep(33);
    }
}

void InputSynth::TypeKey(uint8_t vk, bool shifted, bool extended) {
    const uint32_t down = extended ? platform::KEYEVENTF_EXTENDEDKEY : 0;
    const uint32_t up = down | platform::KEYEVENTF_KEYUP;
    const uint8_t scan = ScanCodeOf(vk);
    const uint8_t shiftScan = shifted ? ScanCodeOf(platform::VK_LSHIFT) : 0;
    if (shifted) SendKey(platform::VK_LSHIFT, shiftScan, down);
    SendKey(vk, scan, down);
    SendKey(vk, scan, up);
    if (shifted) SendKey(platform::VK_LSHIFT, shiftScan, up);
}

} // namespace quillet
