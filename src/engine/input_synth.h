// The engine's output boundary: keys, mouse, the input-method switch, and the pixel-to-absolute conversion.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/platform.h"

namespace quillet {

// Pixel coordinate to absolute mouse units 0..65535 for a screen extent: (v +- 0.5) * 65536 / extent, truncated.
int32_t ToAbsolute(int32_t v, int32_t extent);

class InputSynth {
public:
    InputSynth(platform::InputOutput& io, platform::InputMethod& ime, platform::Clock& clock)
        : io_(io), ime_(ime), clock_(clock) {}

    // keybd_event / mouse_event with the synthetic tag.
    void SendKey(uint8_t vk, uint8_t scan, uint32_t flags);
    void SendMouse(uint32_t flags, int32_t x, int32_t y, int32_t data);
    uint8_t ScanCodeOf(uint8_t vk);

    // Conversions against the primary screen, read at the time of the call.
    int32_t ToAbsoluteX(int32_t x);
    int32_t ToAbsoluteY(int32_t y);

    // Brings the foreground window's input method into the wanted state: ten rounds of query and, when it
    // differs, a VK_HANGUL press and release with 33 ms pauses. When the state cannot be read at all (no input
    // method runs, or one that cannot be asked) nothing is pressed: toggling blind would only press VK_HANGUL ten
    // times and block for 660 ms per character; the text's keys are typed as they are. The first time that
    // happens, onImeMissing is called.
    void SetImeHangul(bool open);
    std::function<void()> onImeMissing;

    // The typed key pattern: optional left shift down, key down, key up, optional left shift up, all extended
    // unless extended is false.
    void TypeKey(uint8_t vk, bool shifted, bool extended = true);

    platform::InputOutput& io() { return io_; }
    platform::Clock& clock() { return clock_; }

private:
    platform::InputOutput& io_;
    platform::InputMethod& ime_;
    platform::Clock& clock_;
    bool imeMissingReported_ = false;
};

} // namespace quillet
