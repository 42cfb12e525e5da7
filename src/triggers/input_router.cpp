#include "triggers/input_router.h"

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

InputRouter::InputRouter(const CAppIni& settings, platform::InputOutput& io, platform::InputMethod& ime)
    : settings_(settings), io_(io), ime_(ime) {}

void InputRouter::OnRawInput(const platform::RawInputRecord& record) {
    if (record.device == platform::RawInputRecord::Device::Keyboard) {
        if (auto e = DecodeKeyboard(record)) DispatchKeyboard(*e);
    } else {
        if (auto e = DecodeMouse(record, io_, lastCursor_)) DispatchMouse(*e);
    }
}

void InputRouter::DispatchKeyboard(const InputEvent& e) {
    if (keyMouseStatusWindow) keyMouseStatusWindow->ShowKeyEvent(e.code, e.isPress);

    if (openDelayItemDialog) {
        openDelayItemDialog->OnDelayCaptureKey(e.code, e.isPress);
    } else if (openKeyItemDialog) {
        // The dialog takes only presses; releases and unknown messages go nowhere while it is open.
        if (e.code != 0 && e.isPress) openKeyItemDialog->OnCapturedKey(e.code);
    } else if (openConditionDialog) {
        openConditionDialog->OnConditionInputEvent(e.code, e.isPress, true);
    } else if (openMacroEditor) {
        openMacroEditor->OnEditorInputEvent(e.code, e.isPress);
    } else if (openRecorder) {
        if (e.code == settings_.keyMacroRecord && e.isPress)
            openRecorder->ToggleRecording(!openRecorder->IsRecording());
        // Checked after the toggle, so the press that starts a recording is its first item.
        // (The toggle may have made the dialog close itself.)
        if (openRecorder && openRecorder->IsRecording() && e.code != 0 && (settings_.recOptions & RecKeys))
            openRecorder->RecordKeyEvent(e.code, e.scan, RecordedKeyAction(e.isPress, ime_));
    } else if (mainWindow) {
        mainWindow->OnMainInputEvent(e.code, e.isPress);
    }
}

void InputRouter::DispatchMouse(const InputEvent& e) {
    if (keyMouseStatusWindow) keyMouseStatusWindow->ShowMouseEvent(e.code, e.isPress, e.cursor);

    if (openDelayItemDialog) {
        openDelayItemDialog->OnDelayCaptureKey(e.code, e.isPress);
    } else if (openMouseItemDialog) {
        int32_t x = e.cursor.x;
        int32_t y = e.cursor.y;
        if (openMouseItemDialog->NormalizedPositionChecked()) {
            const platform::ScreenSize screen = io_.PrimaryScreenSize();
            x = ToAbsolute(x, screen.width);
            y = ToAbsolute(y, screen.height);
        }
        openMouseItemDialog->OnLivePosition(x, y);
    } else if (openConditionDialog) {
        openConditionDialog->OnConditionInputEvent(e.code, e.isPress, false);
    } else if (openMacroEditor) {
        openMacroEditor->OnEditorInputEvent(e.code, e.isPress);
    } else if (openRecorder) {
        openRecorder->RecordMouseEvent(e.code, e.isPress, e.moved, e.wheelDelta, e.cursor);
    } else if (mainWindow) {
        mainWindow->OnMainInputEvent(e.code, e.isPress);
    }
}

} // namespace quillet
