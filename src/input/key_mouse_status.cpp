#include "input/key_mouse_status.h"

#include <charconv>

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

} // namespace quillet
