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

#include "platform/held_input_ledger.h"
#include "platform/x11/input_connection.h"

namespace quillet::platform::x11 {

// MOUSEEVENTF_HWHEEL: not used by the engine, honoured for completeness.
inline constexpr uint32_t MOUSEEVENTF_HWHEEL = 0x1000;

class X11InputOutput final : public InputOutputInterface {
public:
    // Every key and button it presses goes on the ledger (a guardian's shared block, or nothing).
    explicit X11InputOutput(InputConnection& conn, HeldInputLedger ledger = {}) : conn_(conn), ledger_(ledger) {}
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
    // True when the key event must not be sent: the release of a modifier that a person holds on a keyboard of
    // theirs. Such a release is owed and sent once the person has let go (checked at our next key event, which
    // costs a query of the devices' key state while anything is owed). Before the press of a modifier that the
    // XTest device holds though no macro of ours does, releases it there (a query of the XTest devices' state).
    bool HeldBackForPerson(KeyCode kc, bool release);
    // Sends the owed releases of the keys the person no longer holds.
    void SendOwedReleases(const std::bitset<256>& personHeld);
    // Flushes the requests to the server, then takes released keys and buttons off the ledger: a release still
    // in Xlib's buffer when the program dies never reached the server, so it must stay on the ledger until then.
    void SettleAndRecord();
    // Virtual keys marked down (0x80) from the server's key bitmap and the pointer's buttons.
    void DownKeys(bool keys, bool buttons, std::array<uint8_t, 256>& state);

    InputConnection& conn_;
    std::array<KeyCode, 256> pressedKeycode_{}; // by virtual key: the keycode its last press went to
    std::bitset<16> buttonsHeld_;
    std::bitset<256> owedRelease_; // keycodes released by a macro while a person held them, not yet sent
    HeldInputLedger ledger_;
    std::bitset<256> releasedKeycodes_; // released since the last flush
    std::bitset<16> releasedButtons_;
    bool anyReleased_ = false;
    int wheelRemainder_ = 0;
    int hwheelRemainder_ = 0;
};

} // namespace quillet::platform::x11
