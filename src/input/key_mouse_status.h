// The key/mouse status window's model: the last key or button event, the cursor, the modifiers held and the input
// method's state, fed by the input router with every event whoever consumes it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "input/input_router.h"
#include "model/macro.h"
#include "platform/platform.h"

namespace quillet {

// What the key/mouse status window shows. The window paints it; texts are CP949.
class KeyMouseStatus final : public KeyMouseStatusConsumer {
public:
    enum Button { Left, Middle, Right, X1, X2, ButtonCount };

    KeyMouseStatus(platform::InputOutput& io, platform::InputMethod& ime);

    // From the router, also while the window is hidden.
    void ShowKeyEvent(int code, bool isPress) override;
    void ShowMouseEvent(int code, bool isPress, platform::ScreenPoint cursor) override;
    // The window's 100 ms timer: samples the modifiers and the input method, only while visible. True when a
    // shown value changed.
    bool Tick(bool visible);

    const std::string& keyText() const { return keyText_; }           // "<long name> - 누름/뗌"
    const std::string& positionText() const { return positionText_; } // "x, y"
    const std::string& imeText() const { return imeText_; } // "한글" / "영어"; empty before the first tick
    bool ctrlDown() const { return (modifiers_ & KeyCtrl) != 0; }
    bool altDown() const { return (modifiers_ & KeyAlt) != 0; }
    bool shiftDown() const { return (modifiers_ & KeyShift) != 0; }
    bool buttonDown(Button b) const { return buttons_[b]; }

    // Called after every change of a shown value (the window repaints).
    std::function<void()> onChanged;

private:
    void Changed() {
        if (onChanged) onChanged();
    }

    platform::InputOutput& io_;
    platform::InputMethod& ime_;
    std::string keyText_;
    std::string positionText_;
    std::string imeText_;
    int32_t modifiers_ = 0; // the set shown
    int imeShown_ = -1;     // -1 unknown, 0 English, 1 Hangul
    std::array<bool, ButtonCount> buttons_{};
};

} // namespace quillet
