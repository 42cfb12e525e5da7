#include "triggers/input_router.h"

#include <algorithm>
#include <charconv>

#include "engine/input_synth.h"
#include "model/cp949.h"
#include "model/key_table.h"

namespace quillet {

namespace {

// The status window's words, converted to CP949 once: they are written for every event of the desktop.
struct StatusWords {
    std::string pressed = " - " + Utf8ToCp949("누름");
    std::string released = " - " + Utf8ToCp949("뗌");
    std::string hangul = Utf8ToCp949("한글");
    std::string english = Utf8ToCp949("영어");
};

const StatusWords& Words() {
    static const StatusWords words;
    return words;
}

} // namespace

// --- KeyMouseStatus ---

KeyMouseStatus::KeyMouseStatus(platform::InputOutput& io, platform::InputMethod& ime) : io_(io), ime_(ime) {
    keyText_.reserve(64);
    positionText_.reserve(32);
}

void KeyMouseStatus::ShowKeyEvent(int code, bool isPress) {
    keyText_.assign(KeyLongName(code));
    keyText_ += isPress ? Words().pressed : Words().released;
    Changed();
}

void KeyMouseStatus::ShowMouseEvent(int code, bool isPress, platform::ScreenPoint cursor) {
    char buf[32];
    auto r = std::to_chars(buf, buf + 12, cursor.x);
    *r.ptr++ = ',';
    *r.ptr++ = ' ';
    r = std::to_chars(r.ptr, buf + sizeof buf, cursor.y);
    positionText_.assign(buf, r.ptr);
    switch (code) {
    case CodeLeftButton:
        buttons_[Left] = isPress;
        break;
    case CodeMiddleButton:
        buttons_[Middle] = isPress;
        break;
    case CodeRightButton:
        buttons_[Right] = isPress;
        break;
    case CodeX1Button:
        buttons_[X1] = isPress;
        break;
    case CodeX2Button:
        buttons_[X2] = isPress;
        break;
    default:
        break;
    }
    Changed();
}

bool KeyMouseStatus::Tick(bool visible) {
    if (!visible) return false;
    bool changed = false;
    const int32_t m = SampleModifierBits(io_);
    if (m != modifiers_) {
        modifiers_ = m;
        changed = true;
    }
    const int open = ime_.OpenState() == platform::ImeState::Open ? 1 : 0;
    if (open != imeShown_) {
        imeShown_ = open;
        imeText_ = open ? Words().hangul : Words().english;
        changed = true;
    }
    if (changed) Changed();
    return changed;
}

// --- InputRouter ---

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

// --- Consumers ---

void MouseItemCapture::OnInput(const InputEvent& e) {
    int32_t x = e.cursor.x;
    int32_t y = e.cursor.y;
    if (dialog_.NormalizedPositionChecked()) {
        const platform::ScreenSize screen = io_.PrimaryScreenSize();
        x = ToAbsolute(x, screen.width);
        y = ToAbsolute(y, screen.height);
    }
    dialog_.OnLivePosition(x, y);
}

void RecorderCapture::OnInput(const InputEvent& e) {
    if (!e.fromKeyboard) {
        recorder_.RecordMouseEvent(e.code, e.isPress, e.moved, e.wheelDelta, e.cursor);
        return;
    }
    if (e.code == settings_.keyMacroRecord && e.isPress) {
        recorder_.ToggleRecording(!recorder_.IsRecording());
        // The toggle may have made the dialog close itself.
        if (!router_.Contains(*this)) return;
    }
    // Checked after the toggle, so the press that starts a recording is its first item.
    if (recorder_.IsRecording() && e.code != 0 && (settings_.recOptions & RecKeys))
        recorder_.RecordKeyEvent(e.code, e.scan, RecordedKeyAction(e.isPress, ime_));
}

} // namespace quillet
