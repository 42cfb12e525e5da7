// The way of live input: every raw record is decoded once and handed to exactly one consumer, the topmost open
// window that takes it. The key/mouse status window sees every event.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/settings.h"
#include "platform/platform.h"
#include "recorder/recorder_input.h"
#include "triggers/input_decoder.h"

namespace quillet {

// What one consumer of live input takes.
enum class InputKinds : uint8_t { Keys = 1, Mouse = 2, Both = 3 };

// A window that takes decoded live input while it is open: the capturing dialogs, the recorder, the main window.
class InputConsumer {
public:
    virtual ~InputConsumer() = default;
    // Which events this consumer takes; the others pass by it to the consumers below.
    virtual InputKinds kinds() const = 0;
    // One event it takes. It may remove itself (or others) from the router here, but must not be destroyed here.
    virtual void OnInput(const InputEvent& e) = 0;
};

// The item dialogs' captures, as the dialogs see them. Each has a consumer below that applies its rule.

// The delay/wait item dialog: key and button events for its colour capture.
class DelayItemInputConsumer {
public:
    virtual ~DelayItemInputConsumer() = default;
    // fromKeyboard: a key rather than a mouse button or wheel code.
    virtual void OnDelayCaptureKey(int code, bool isPress, bool fromKeyboard) = 0;
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

// The way of live input. Consumers are kept on a stack: an opening window pushes itself and is removed when it
// closes; each event goes to the topmost consumer that takes its kind, and to no other. Because the capturing
// dialogs are modal and open over the window that opened them, the order of opening gives the precedence of the
// live-input rules: delay/wait dialog, keyboard or mouse item dialog, condition dialog, macro editor, recorder, main
// window. The key/mouse status window sees every event, whoever consumes it.
class InputRouter {
public:
    explicit InputRouter(platform::InputOutput& io);

    // Puts the consumer on top (a consumer already on the stack moves to the top).
    void Push(InputConsumer& consumer);
    // Takes the consumer off the stack wherever it is; nothing when it is not there.
    void Remove(InputConsumer& consumer);
    bool Contains(const InputConsumer& consumer) const;
    std::size_t depth() const { return stack_.size(); }

    // Set for the life of that window.
    KeyMouseStatusConsumer* keyMouseStatusWindow = nullptr;

    // One raw record from the input monitor. Injected records are dropped.
    void OnRawInput(const platform::RawInputRecord& record);

    // The dispatch of an event already decoded.
    void Dispatch(const InputEvent& e);

    platform::InputOutput& io() { return io_; }

private:
    platform::InputOutput& io_;
    std::vector<InputConsumer*> stack_; // bottom first
    platform::ScreenPoint lastCursor_;
};

// Keeps a consumer on the router's stack for the scope's lifetime.
class ScopedInputConsumer {
public:
    ScopedInputConsumer(InputRouter& router, InputConsumer& consumer) : router_(router), consumer_(consumer) {
        router_.Push(consumer_);
    }
    ~ScopedInputConsumer() { router_.Remove(consumer_); }
    ScopedInputConsumer(const ScopedInputConsumer&) = delete;
    ScopedInputConsumer& operator=(const ScopedInputConsumer&) = delete;

private:
    InputRouter& router_;
    InputConsumer& consumer_;
};

// --- The consumers of the item dialogs and the recorder, each with its rule ---

// Key and button events, both kinds, as they come.
class DelayItemCapture final : public InputConsumer {
public:
    explicit DelayItemCapture(DelayItemInputConsumer& dialog) : dialog_(dialog) {}
    InputKinds kinds() const override { return InputKinds::Both; }
    void OnInput(const InputEvent& e) override { dialog_.OnDelayCaptureKey(e.code, e.isPress, e.fromKeyboard); }

private:
    DelayItemInputConsumer& dialog_;
};

// Keys only; only presses of a known key reach the dialog, releases are swallowed.
class KeyItemCapture final : public InputConsumer {
public:
    explicit KeyItemCapture(KeyItemInputConsumer& dialog) : dialog_(dialog) {}
    InputKinds kinds() const override { return InputKinds::Keys; }
    void OnInput(const InputEvent& e) override {
        if (e.code != 0 && e.isPress) dialog_.OnCapturedKey(e.code);
    }

private:
    KeyItemInputConsumer& dialog_;
};

// Mouse only; every event, movement included, refreshes the position, in absolute units when the dialog asks.
class MouseItemCapture final : public InputConsumer {
public:
    MouseItemCapture(MouseItemInputConsumer& dialog, platform::InputOutput& io) : dialog_(dialog), io_(io) {}
    InputKinds kinds() const override { return InputKinds::Mouse; }
    void OnInput(const InputEvent& e) override;

private:
    MouseItemInputConsumer& dialog_;
    platform::InputOutput& io_;
};

class ConditionCapture final : public InputConsumer {
public:
    explicit ConditionCapture(ConditionInputConsumer& dialog) : dialog_(dialog) {}
    InputKinds kinds() const override { return InputKinds::Both; }
    void OnInput(const InputEvent& e) override { dialog_.OnConditionInputEvent(e.code, e.isPress, e.fromKeyboard); }

private:
    ConditionInputConsumer& dialog_;
};

class EditorCapture final : public InputConsumer {
public:
    explicit EditorCapture(EditorInputConsumer& editor) : editor_(editor) {}
    InputKinds kinds() const override { return InputKinds::Both; }
    void OnInput(const InputEvent& e) override { editor_.OnEditorInputEvent(e.code, e.isPress); }

private:
    EditorInputConsumer& editor_;
};

// The recorder: the record key toggles recording; while recording, keys (when recOptions asks for them) with the
// input method's state sampled per event; every mouse event, recording or not.
class RecorderCapture final : public InputConsumer {
public:
    RecorderCapture(RecorderInputConsumer& recorder, InputRouter& router, const CAppIni& settings,
                    platform::InputMethod& ime)
        : recorder_(recorder), router_(router), settings_(settings), ime_(ime) {}
    InputKinds kinds() const override { return InputKinds::Both; }
    void OnInput(const InputEvent& e) override;

private:
    RecorderInputConsumer& recorder_;
    InputRouter& router_;
    const CAppIni& settings_;
    platform::InputMethod& ime_;
};

} // namespace quillet
