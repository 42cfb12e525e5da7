// The way of live input: every raw record is decoded once and handed to exactly one consumer, the topmost open
// window that takes it. The key/mouse status window sees every event.
#pragma once

#include <cstdint>
#include <vector>

#include "input/input_decoder.h"
#include "model/settings.h"
#include "platform/platform.h"

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

class KeyMouseStatusConsumer {
public:
    virtual ~KeyMouseStatusConsumer() = default;
    virtual void ShowKeyEvent(int code, bool isPress) = 0;
    virtual void ShowMouseEvent(int code, bool isPress, platform::ScreenPoint cursor) = 0;
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

} // namespace quillet
