// The way of live input: every raw record is decoded once and handed to exactly one consumer, the first open one of
// the capturing windows, then the recorder, then the main window. The key/mouse status window sees every event.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "model/settings.h"
#include "platform/platform.h"
#include "recorder/recorder_input.h"
#include "triggers/input_decoder.h"

namespace quillet {

// The delay/wait item dialog: key and button events for its colour capture.
class DelayItemInputConsumer {
public:
    virtual ~DelayItemInputConsumer() = default;
    virtual void OnDelayCaptureKey(int code, bool isPress) = 0;
};

// The keyboard item dialog: a pressed key (code != 0) to store and take up in its 30 ms timer.
class KeyItemInputConsumer {
public:
    virtual ~KeyItemInputConsumer() = default;
    virtual void OnCapturedKey(int code) = 0;
};

// The mouse item dialog: the live cursor position for its fields, converted to absolute units when asked.
class MouseItemInputConsumer {
public:
    virtual ~MouseItemInputConsumer() = default;
    // The "resolution-independent position" check box.
    virtual bool NormalizedPositionChecked() const = 0;
    virtual void OnLivePosition(int32_t x, int32_t y) = 0;
};

class ConditionInputConsumer {
public:
    virtual ~ConditionInputConsumer() = default;
    virtual void OnConditionInputEvent(int code, bool isPress, bool fromKeyboard) = 0;
};

class EditorInputConsumer {
public:
    virtual ~EditorInputConsumer() = default;
    virtual void OnEditorInputEvent(int code, bool isPress) = 0;
};

// The main window's share: the run/edit toggle key, hotkeys and key waits.
class MainInputConsumer {
public:
    virtual ~MainInputConsumer() = default;
    virtual void OnMainInputEvent(int code, bool isPress) = 0;
};

class KeyMouseStatusConsumer {
public:
    virtual ~KeyMouseStatusConsumer() = default;
    virtual void ShowKeyEvent(int code, bool isPress) = 0;
    virtual void ShowMouseEvent(int code, bool isPress, platform::ScreenPoint cursor) = 0;
};

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

class InputRouter {
public:
    InputRouter(const CAppIni& settings, platform::InputOutput& io, platform::InputMethod& ime);

    // Set by whoever opens the window, cleared when it closes (see ScopedConsumer).
    DelayItemInputConsumer* openDelayItemDialog = nullptr;
    KeyItemInputConsumer* openKeyItemDialog = nullptr;
    MouseItemInputConsumer* openMouseItemDialog = nullptr;
    ConditionInputConsumer* openConditionDialog = nullptr;
    EditorInputConsumer* openMacroEditor = nullptr;
    RecorderInputConsumer* openRecorder = nullptr;
    // Set for the life of these windows.
    MainInputConsumer* mainWindow = nullptr;
    KeyMouseStatusConsumer* keyMouseStatusWindow = nullptr;

    // One raw record from the input monitor. Injected records are dropped.
    void OnRawInput(const platform::RawInputRecord& record);

    // The dispatch of an event already decoded.
    void DispatchKeyboard(const InputEvent& e);
    void DispatchMouse(const InputEvent& e);

private:
    const CAppIni& settings_;
    platform::InputOutput& io_;
    platform::InputMethod& ime_;
    platform::ScreenPoint lastCursor_;
};

// Publishes a window in one of the router's slots for the scope's lifetime.
template <class T> class ScopedConsumer {
public:
    ScopedConsumer(T*& slot, T* window) : slot_(slot) { slot_ = window; }
    ~ScopedConsumer() { slot_ = nullptr; }
    ScopedConsumer(const ScopedConsumer&) = delete;
    ScopedConsumer& operator=(const ScopedConsumer&) = delete;

private:
    T*& slot_;
};

} // namespace quillet
