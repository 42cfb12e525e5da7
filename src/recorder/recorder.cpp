#include "recorder/recorder.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/engine.h"
#include "engine/input_synth.h"
#include "model/cp949.h"
#include "model/decimal.h"
#include "model/item_text.h"
#include "model/key_table.h"
#include "model/text_fill.h"
#include "model/texts.h"

namespace quillet {

namespace {

int32_t Saturate(int64_t v) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// Whole pixels between two points, as recMouseDistance is compared with.
int64_t Distance(int64_t dx, int64_t dy) {
    return static_cast<int64_t>(std::sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy));
}

// MOUSEEVENTF flags of a button press or release; 0 for a code that is no button.
int32_t ButtonFlags(int code, bool isPress) {
    switch (code) {
    case 1:
        return isPress ? MouseLeftDown : MouseLeftUp;
    case 2:
        return isPress ? MouseRightDown : MouseRightUp;
    case 4:
        return isPress ? MouseMiddleDown : MouseMiddleUp;
    case 5:
        return (isPress ? MouseXDown : MouseXUp) | (1 << 16);
    case 6:
        return (isPress ? MouseXDown : MouseXUp) | (2 << 16);
    default:
        return 0;
    }
}

// The press flag a release flag closes, 0 when flags hold no release.
int32_t MatchingPress(int32_t flags) {
    if (flags & MouseLeftUp) return MouseLeftDown;
    if (flags & MouseRightUp) return MouseRightDown;
    if (flags & MouseMiddleUp) return MouseMiddleDown;
    if (flags & MouseXUp) return MouseXDown;
    return 0;
}

} // namespace

MacroRecorder::MacroRecorder(Macro& macro, const MacroLibrary& library, CAppIni& settings, platform::InputOutput& io,
                             platform::Clock& clock, Point& lastRecordedPos)
    : macro_(macro), library_(library), settings_(settings), io_(io), clock_(clock), lastRecordedPos_(lastRecordedPos) {
    if (macro_.name.empty()) {
        macro_.name = UniqueMacroName(library_, "Macro Rec. %d");
        macro_.startKey = 113; // F2
        macro_.stopKey = 114;  // F3
        macro_.flags = FlagStartKey | FlagStopKey | (1 << 16);
        macro_.items.assign(1, MacroItem{});
    }
    mouseDistanceField = settings_.recMouseDistance;
    eventTimeIntervalField = settings_.recEventTimeInterval;
    repeatCountField = macro_.repeatCount();
    recording_ = false;
    lastEventTime_ = 0;
    ToggleRecording(false);
}

void MacroRecorder::StoreFields() {
    settings_.recMouseDistance = mouseDistanceField;
    settings_.recEventTimeInterval = eventTimeIntervalField;
}

void MacroRecorder::StoreOptions() {
    // Only the check boxes are stored; "resolution-independent" exists only with absolute positions.
    int32_t o = settings_.recOptions & RecOptionsMask;
    if (!(o & RecAbsolute)) o &= ~RecNormalized;
    settings_.recOptions = o;
}

void MacroRecorder::SetOption(int32_t bit, bool on) {
    if (recording_) return;
    settings_.recOptions = on ? (settings_.recOptions | bit) : (settings_.recOptions & ~bit);
    StoreOptions();
}

void MacroRecorder::ToggleRecording(bool on) {
    StoreFields();
    if (on) {
        recording_ = true;
        lastEventTime_ = clock_.NowMs();
    } else {
        recording_ = false;
        StoreOptions();
    }
    if (onRecordingChanged) onRecordingChanged();
}

void MacroRecorder::AddPauseItem() {
    if (!(settings_.recOptions & RecPauses)) return;
    const uint32_t now = clock_.NowMs();
    const uint32_t pause = now - lastEventTime_; // the clock wraps at 2^32
    if (static_cast<int64_t>(pause) >= settings_.recEventTimeInterval)
        macro_.items.push_back(MakeDelayItem(Saturate(pause), DelayTime, 0));
    lastEventTime_ = now;
}

void MacroRecorder::RecordKeyEvent(int code, int scan, int32_t action) {
    if (!recording_) return;
    AddPauseItem();
    const int32_t key = (code & 0xFF) | ((scan & 0xFF) << 8);
    if ((settings_.recOptions & RecMerge) && (action & ActionRelease) && !macro_.items.empty()) {
        MacroItem& last = macro_.items.back();
        if (last.type == ItemKey && last.keyCode() == key && (last.keyAction() & 0x3) == ActionPress) {
            last.setKeyAction(last.keyAction() | ActionRelease);
            listLines_ = std::min(listLines_, macro_.itemCount() - 1);
            return;
        }
    }
    macro_.items.push_back(MakeKeyItem(code, action, scan));
}

void MacroRecorder::AddMouseItem(int32_t x, int32_t y, int32_t flags) {
    AddPauseItem();
    const int32_t press = MatchingPress(flags & 0xFFFF);
    if ((settings_.recOptions & RecMerge) && press != 0 && !macro_.items.empty()) {
        MacroItem& last = macro_.items.back();
        // An X button's release closes only the press of the same X button (the button number is in the high
        // word); otherwise releasing X1 right after pressing X2 would turn the X2 press into button "3".
        const bool sameXButton = press != MouseXDown || last.mouseData() == static_cast<int16_t>(flags >> 16);
        if (last.type == ItemMouse && (last.mouseFlags() & press) && sameXButton && last.mouseX() == x &&
            last.mouseY() == y) {
            last.setMouseFlags(last.mouseFlags() | flags);
            listLines_ = std::min(listLines_, macro_.itemCount() - 1);
            return;
        }
    }
    macro_.items.push_back(MakeMouseItem(x, y, flags));
}

Point MacroRecorder::AbsolutePosition(platform::ScreenPoint cursor) {
    if (!(settings_.recOptions & RecNormalized)) return {cursor.x, cursor.y};
    const platform::ScreenSize screen = io_.PrimaryScreenSize();
    return {ToAbsolute(cursor.x, screen.width), ToAbsolute(cursor.y, screen.height)};
}

void MacroRecorder::RecordMouseEvent(int code, bool isPress, bool moved, int16_t wheelDelta,
                                     platform::ScreenPoint cursor) {
    if (code == settings_.keyMacroRecord && isPress) ToggleRecording(!recording_);
    if (!recording_) return;
    const int32_t opts = settings_.recOptions;
    const bool absolute = (opts & RecAbsolute) != 0;
    const bool normalized = absolute && (opts & RecNormalized) != 0;

    const int32_t button = ButtonFlags(code, isPress);
    if ((opts & RecButtons) && button != 0) {
        int32_t f = button;
        if (opts & RecButtonPosition) {
            f |= MouseMove;
            if (absolute) {
                f |= MouseAbsolute;
                if (normalized) f |= MouseNormalized;
                const Point p = AbsolutePosition(cursor);
                AddMouseItem(p.x, p.y, f);
                lastRecordedPos_ = p;
            } else {
                AddMouseItem(Saturate(int64_t{cursor.x} - lastRecordedPos_.x),
                             Saturate(int64_t{cursor.y} - lastRecordedPos_.y), f);
                lastRecordedPos_ = {cursor.x, cursor.y};
            }
        } else {
            // The position is kept but, without the move flag, not used when the macro runs.
            AddMouseItem(cursor.x, cursor.y, f);
        }
    }

    if ((opts & RecMovement) && moved) {
        if (absolute) {
            const int32_t f = MouseMove | MouseAbsolute | (normalized ? MouseNormalized : 0);
            int64_t d = 1000000;
            const MacroItem* last = macro_.items.empty() ? nullptr : &macro_.items.back();
            if (last && last->type == ItemMouse && (last->mouseFlags() & MouseMove)) {
                int64_t lx = last->mouseX();
                int64_t ly = last->mouseY();
                if (last->mouseFlags() & MouseNormalized) {
                    const platform::ScreenSize screen = io_.PrimaryScreenSize();
                    lx = lx * screen.width / 65536;
                    ly = ly * screen.height / 65536;
                }
                d = Distance(cursor.x - lx, cursor.y - ly);
            }
            if (d >= settings_.recMouseDistance) {
                const Point p = AbsolutePosition(cursor);
                AddMouseItem(p.x, p.y, f);
                lastRecordedPos_ = p;
            }
        } else {
            const int64_t dx = int64_t{cursor.x} - lastRecordedPos_.x;
            const int64_t dy = int64_t{cursor.y} - lastRecordedPos_.y;
            if (Distance(dx, dy) >= settings_.recMouseDistance) {
                AddMouseItem(Saturate(dx), Saturate(dy), MouseMove);
                lastRecordedPos_ = {cursor.x, cursor.y};
            }
        }
    }

    if ((opts & RecWheel) && (code == 0x0A || code == 0x0B)) {
        const int32_t f =
            MouseWheel | static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(wheelDelta)) << 16);
        AddMouseItem(cursor.x, cursor.y, f);
    }
}

std::string MacroRecorder::HelpText() const {
    return FillText(TrCp949("%1로 매크로 기록을 시작하거나 중지합니다."), {KeyLongName(settings_.keyMacroRecord)});
}

std::string MacroRecorder::RecordButtonCaption() const {
    return TrCp949(recording_ ? "매크로 기록 중" : "기록 대기 중");
}

std::string MacroRecorder::SummaryText() const {
    int32_t counter = 0;
    const int32_t t = EstimateRunTime(library_, macro_, settings_.eventDelay, counter);
    const std::string n = std::to_string(macro_.itemCount() - 1);
    if (t < kEstimateCycle) return FillText(TrCp949("%1개 항목이 기록됨 (%2 초)"), {n, FormatGeneral(t / 1000.0)});
    return FillText(TrCp949("%1개 항목이 기록됨 (순환호출!)"), {n});
}

std::optional<MacroRecorder::ListUpdate> MacroRecorder::TakeListUpdate() {
    if (listLines_ >= macro_.itemCount()) return std::nullopt;
    ListUpdate u;
    u.keepLines = listLines_;
    for (int i = listLines_; i < macro_.itemCount(); ++i)
        u.newLines.push_back(ItemText(macro_.items[static_cast<std::size_t>(i)], settings_.macroOptions));
    listLines_ = macro_.itemCount();
    return u;
}

void MacroRecorder::Ok() {
    ToggleRecording(false);
    macro_.setRepeatCount(static_cast<int32_t>(std::clamp<int64_t>(repeatCountField, 0, 65535)));
}

void MacroRecorder::Cancel() {
    ToggleRecording(false);
}

} // namespace quillet
