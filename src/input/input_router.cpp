#include "input/input_router.h"

#include <algorithm>

namespace quillet {

InputRouter::InputRouter(platform::InputOutput& io) : io_(io) {}

void InputRouter::Push(InputConsumer& consumer) {
    Remove(consumer);
    stack_.push_back(&consumer);
}

void InputRouter::Remove(InputConsumer& consumer) {
    std::erase(stack_, &consumer);
}

bool InputRouter::Contains(const InputConsumer& consumer) const {
    return std::find(stack_.begin(), stack_.end(), &consumer) != stack_.end();
}

void InputRouter::OnRawInput(const platform::RawInputRecord& record) {
    if (record.device == platform::RawInputRecord::Device::Keyboard) {
        if (auto e = DecodeKeyboard(record)) Dispatch(*e);
    } else {
        if (auto e = DecodeMouse(record, io_, lastCursor_)) Dispatch(*e);
    }
}

void InputRouter::Dispatch(const InputEvent& e) {
    if (keyMouseStatusWindow) {
        if (e.fromKeyboard)
            keyMouseStatusWindow->ShowKeyEvent(e.code, e.isPress);
        else
            keyMouseStatusWindow->ShowMouseEvent(e.code, e.isPress, e.cursor);
    }
    const auto wanted = static_cast<uint8_t>(e.fromKeyboard ? InputKinds::Keys : InputKinds::Mouse);
    for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
        InputConsumer* consumer = *it;
        if ((static_cast<uint8_t>(consumer->kinds()) & wanted) == 0) continue;
        // The consumer may change the stack; nothing here touches it afterwards.
        consumer->OnInput(e);
        return;
    }
}

} // namespace quillet
