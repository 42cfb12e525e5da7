#include "input/key_mouse_status.h"

#include <charconv>
#include <mutex>
#include <optional>

#include "model/cp949.h"
#include "model/key_table.h"
#include "model/texts.h"

namespace quillet {

namespace {

// The status window's words in the current language, CP949, made once per language: they are written for every
// event of the desktop. The key line's text is kept as the parts around the key name, so that writing it needs no
// allocation beyond the line's own buffer.
struct StatusWords {
    struct AroundName {
        std::string before, after;
    };
    static AroundName Split(const std::string& format) {
        const std::size_t at = format.find("%1");
        if (at == std::string::npos) return {format, {}};
        return {format.substr(0, at), format.substr(at + 2)};
    }
    AroundName pressed = Split(TrCp949("%1 - 누름"));
    AroundName released = Split(TrCp949("%1 - 뗌"));
    std::string hangul = TrCp949("한글");
    std::string english = TrCp949("영어");
};

// The language is set at start-up (tests switch it): each language's words are made while it is current.
const StatusWords& Words() {
    static std::once_flag made[2];
    static std::optional<StatusWords> words[2];
    const std::size_t i = CurrentLanguage() == Language::English ? 1 : 0;
    std::call_once(made[i], [i] { words[i].emplace(); });
    return *words[i];
}

} // namespace

// --- KeyMouseStatus ---

KeyMouseStatus::KeyMouseStatus(platform::InputOutput& io, platform::InputMethod& ime) : io_(io), ime_(ime) {
    keyText_.reserve(64);
    positionText_.reserve(32);
}

void KeyMouseStatus::ShowKeyEvent(int code, bool isPress) {
    const StatusWords::AroundName& text = isPress ? Words().pressed : Words().released;
    keyText_.assign(text.before);
    keyText_ += KeyLongName(code);
    keyText_ += text.after;
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
