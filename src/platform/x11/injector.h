// Sending keys and mouse events with XTest, and reading the keyboard and pointer state.
#pragma once

// Before any X header: X.h defines None and InputOutput as macros.
#include "platform/platform.h"

namespace quillet::platform::x11 {
using InputOutputInterface = InputOutput;
}

#include <X11/Xlib.h>

#include <array>
#include <bitset>

#include "platform/x11/input_connection.h"

namespace quillet::platform::x11 {

// MOUSEEVENTF_HWHEEL: not used by the engine, honoured for completeness.
inline constexpr uint32_t MOUSEEVENTF_HWHEEL = 0x1000;

class X11InputOutput final : public InputOutputInterface {
public:
    explicit X11InputOutput(InputConnection& conn) : conn_(conn) {}
    // Releases every key and button still held through this object: XTest keys stay down after we are gone.
    ~X11InputOutput() override;

    void SendKeyEvent(uint8_t vk, uint8_t scan, uint32_t flags) override;
    void SendMouseEvent(uint32_t flags, int32_t x, int32_t y, int32_t data) override;
    uint8_t ScanCodeOf(uint8_t vk) override;
    bool CursorPos(ScreenPoint& out) override;
    ScreenSize PrimaryScreenSize() override;
    ScreenRect VirtualScreen() override;
    bool IsKeyDown(uint8_t vk) override;
    std::array<uint8_t, 256> KeyboardState() override;

    // Largest number of wheel notches one event turns; a larger delta is cut there.
    static constexpr int kMaxNotchesPerEvent = 1000;

private:
    void FakeKey(KeyCode kc, bool press);
    void FakeButton(unsigned button, bool press);
    void Wheel(int32_t data, int& remainder, unsigned positiveButton, unsigned negativeButton);
    // Virtual keys marked down (0x80) from the server's key bitmap and the pointer's buttons.
    void DownKeys(bool keys, bool buttons, std::array<uint8_t, 256>& state);

    InputConnection& conn_;
    std::array<KeyCode, 256> pressedKeycode_{}; // by virtual key: the keycode its last press went to
    std::bitset<16> buttonsHeld_;
    int wheelRemainder_ = 0;
    int hwheelRemainder_ = 0;
};

} // namespace quillet::platform::x11
