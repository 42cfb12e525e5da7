// Decoding of raw keyboard and mouse records into one key or button code with a press/release flag.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/platform.h"

namespace quillet {

// Mouse codes of the key table.
inline constexpr uint8_t CodeLeftButton = 0x01;
inline constexpr uint8_t CodeRightButton = 0x02;
inline constexpr uint8_t CodeMiddleButton = 0x04;
inline constexpr uint8_t CodeX1Button = 0x05;
inline constexpr uint8_t CodeX2Button = 0x06;
inline constexpr uint8_t CodeWheelUp = 0x0A;   // turned away from the user
inline constexpr uint8_t CodeWheelDown = 0x0B; // turned towards the user

// One decoded input event.
struct InputEvent {
    uint8_t code = 0;     // virtual key, mouse code, or 0 (movement only, unknown message)
    bool isPress = false; // wheel turns are presses
    bool fromKeyboard = false;
    uint8_t scan = 0;             // keyboard: low byte of the make code
    platform::ScreenPoint cursor; // mouse: the cursor when the event was handled
    bool moved = false;           // mouse: the record reports relative motion
    int16_t wheelDelta = 0;       // mouse: the button data
};

struct MouseCode {
    uint8_t code = 0;
    bool isPress = false;
    friend bool operator==(const MouseCode&, const MouseCode&) = default;
};

// Code of the first transition found in the button flags, in the order left, right, middle, X1, X2 (down before
// up), then the vertical wheel; {0, false} when there is none (movement, horizontal wheel).
MouseCode DecodeMouseButtons(uint16_t buttonFlags, int16_t buttonData);

// A keyboard record; nothing for an injected record.
std::optional<InputEvent> DecodeKeyboard(const platform::RawInputRecord& record);

// A mouse record, with the cursor read now from io; when the cursor cannot be read, lastCursor is used. lastCursor
// is updated with every successful read. Nothing for an injected record.
std::optional<InputEvent> DecodeMouse(const platform::RawInputRecord& record, platform::InputOutput& io,
                                      platform::ScreenPoint& lastCursor);

// Ctrl (0x20000), Alt (0x40000) and Shift (0x80000) bits of the keys held now, left or right.
int32_t SampleModifierBits(platform::InputOutput& io);

// The key event code of a decoded event: key code in bits 0..7, the release bit 16, and the Ctrl/Alt/Shift bits
// 17..19 as the keys are down now (left or right).
int32_t MakeKeyEventCode(int code, bool isPress, platform::InputOutput& io);

} // namespace quillet
