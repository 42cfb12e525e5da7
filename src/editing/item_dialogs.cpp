#include "editing/item_dialogs.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/input_synth.h"
#include "model/cp949.h"
#include "model/decimal.h"
#include "model/item_text.h"
#include "model/key_table.h"
#include "model/option_bits.h"
#include "model/text_fill.h"
#include "model/texts.h"

namespace quillet {

namespace {

std::string_view Trim(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

std::string Caption(bool isNew, const char* addUtf8, const char* editUtf8) {
    return TrCp949(isNew ? addUtf8 : editUtf8);
}

// formatUtf8 with the name of the key for %1.
std::string WithKeyName(int code, const char* formatUtf8) {
    return FillText(TrCp949(formatUtf8), {KeyLongName(code)});
}

int ActionOf(int32_t field) {
    switch (field & 3) {
    case 3:
        return kActionClick;
    case 1:
        return kActionPress;
    case 2:
        return kActionRelease;
    default:
        return 0;
    }
}

// The three button bits of an action within a field of down/up bits.
int32_t ActionBits(int action, int32_t down, int32_t up) {
    switch (action) {
    case kActionPress:
        return down;
    case kActionRelease:
        return up;
    case kActionClick:
        return down | up;
    default:
        return 0;
    }
}

int Wrap(int64_t v, int64_t n) {
    return static_cast<int>(((v % n) + n) % n);
}

// Lone line feeds become CR LF, the line break the program types and stores.
std::string CrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

} // namespace

namespace {

// The digits of a field after its optional sign; nullopt when anything else is there. Saturates at 2^40.
std::optional<int64_t> FieldDigits(std::string_view text) {
    if (text.empty()) return std::nullopt;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = std::min<int64_t>(v * 10 + (c - '0'), int64_t{1} << 40);
    }
    return v;
}

} // namespace

int32_t ReadSignedField(std::string_view text) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int64_t v = FieldDigits(text).value_or(0);
    if (negative) v = -v;
    return static_cast<int32_t>(
        std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int32_t ReadUnsignedField(std::string_view text, int32_t limit) {
    const std::string_view t = Trim(text);
    if (!t.empty() && t.front() == '-') return 0;
    return std::clamp(ReadSignedField(t), 0, limit);
}

uint32_t ReadUnsigned32Field(std::string_view text) {
    std::string_view t = Trim(text);
    if (!t.empty() && t.front() == '-') return 0;
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    return static_cast<uint32_t>(std::min<int64_t>(FieldDigits(t).value_or(0), std::numeric_limits<uint32_t>::max()));
}

// --- Keyboard ----------------------------------------------------------------------------------------------------

KeyboardItemModel::KeyboardItemModel(MacroItem& item, ItemDialogMemory& memory, const CAppIni& settings)
    : item_(item), memory_(memory) {
    if (item_.type == 0) {
        isNew_ = true;
        item_.type = ItemKey;
        item_.setKeyCode(memory_.keyCode);
        item_.setKeyAction(memory_.keyAction);
    }
    // A recorded key carries its scan code in bits 8..15: the list shows the key alone.
    keyIndex = KeyIndexOf(item_.keyCode() & 0xFF);
    action = ActionOf(item_.keyAction());
    hangul = (item_.keyAction() & ActionHangul) != 0;
    hangulEnabled_ = (settings.macroOptions & OptionFollowImeState) != 0;
}

std::string KeyboardItemModel::Caption() const {
    return quillet::Caption(isNew_, "키보드 이벤트 추가", "키보드 이벤트 편집");
}

void KeyboardItemModel::CaptureKey(int code) {
    // A key the table lacks (the ISO "<>" key, F13) leaves no row selected, so that OK keeps the stored key
    // rather than one the person did not press.
    if (code != 0) keyIndex = KeyIndexOf(code);
}

void KeyboardItemModel::Accept() {
    if (keyIndex >= 0) memory_.keyCode = KeyCodeAt(keyIndex);
    if (action != 0) memory_.keyAction = action;
    if (hangul) memory_.keyAction |= ActionHangul;
    // The scan code is derived when the key is sent.
    item_.setKeyCode(memory_.keyCode & 0xFF);
    item_.setKeyAction(memory_.keyAction);
}

// --- Mouse -------------------------------------------------------------------------------------------------------

MouseItemModel::MouseItemModel(MacroItem& item, ItemDialogMemory& memory, const CAppIni& settings)
    : item_(item), memory_(memory), settings_(settings) {
    if (item_.type == 0) {
        isNew_ = true;
        item_.type = ItemMouse;
        item_.setMouseFlags(memory_.mouseFlags);
        item_.setMouseX(memory_.mouseX);
        item_.setMouseY(memory_.mouseY);
    }
    const int32_t f = item_.mouseFlags();
    position = (f & MouseMove) != 0;
    x = std::to_string(item_.mouseX());
    y = std::to_string(item_.mouseY());
    wheel = (f & MouseWheel) != 0;
    wheelAmount = wheel ? std::to_string(item_.mouseData()) : "0";
    const int32_t left = (f >> 1) & 3, right = (f >> 3) & 3, middle = (f >> 5) & 3, xField = (f >> 7) & 3;
    if (left != 0) {
        button = Left;
        action = ActionOf(left);
    } else if (right != 0) {
        button = Right;
        action = ActionOf(right);
    } else if (middle != 0) {
        button = Middle;
        action = ActionOf(middle);
    } else if (xField != 0) {
        button = item_.mouseData() == 1 ? X1 : item_.mouseData() == 2 ? X2 : NoButton;
        action = ActionOf(xField);
    } else {
        button = NoButton;
        action = kActionClick;
    }
    absolute = (f & MouseAbsolute) != 0;
    normalized = (f & MouseNormalized) != 0;
    SetAbsolute(absolute);
}

std::string MouseItemModel::Caption() const {
    return quillet::Caption(isNew_, "마우스 이벤트 추가", "마우스 이벤트 편집");
}

std::string MouseItemModel::CaptureHint() const {
    return WithKeyName(settings_.keyMousePosCapture, "%1를 눌러 커서 위치를 획득합니다.");
}

std::string MouseItemModel::PositionCaption() const {
    return TrCp949(absolute ? "절대위치:" : "상대위치:");
}

void MouseItemModel::SetAbsolute(bool on) {
    absolute = on;
    if (!absolute) normalized = false;
}

int32_t MouseItemModel::Flags() const {
    int32_t f = 0;
    if (position) f |= MouseMove;
    if (wheel) f |= MouseWheel;
    switch (button) {
    case Left:
        f |= ActionBits(action, MouseLeftDown, MouseLeftUp);
        break;
    case Right:
        f |= ActionBits(action, MouseRightDown, MouseRightUp);
        break;
    case Middle:
        f |= ActionBits(action, MouseMiddleDown, MouseMiddleUp);
        break;
    default:
        break;
    }
    if (wheel) {
        // The amount's low 16 bits, as a signed 16-bit value, in the high half.
        f |= static_cast<int32_t>((static_cast<uint32_t>(ReadSignedField(wheelAmount)) & 0xFFFF) << 16);
    } else if (button == X1 || button == X2) {
        f |= ActionBits(action, MouseXDown, MouseXUp) | (button == X1 ? 0x10000 : 0x20000);
    }
    if (absolute) f |= MouseAbsolute;
    if (normalized) f |= MouseNormalized;
    return f;
}

std::optional<std::string> MouseItemModel::Accept() {
    memory_.mouseX = ReadSignedField(x);
    memory_.mouseY = ReadSignedField(y);
    memory_.mouseFlags = Flags();
    item_.setMouseX(memory_.mouseX);
    item_.setMouseY(memory_.mouseY);
    item_.setMouseFlags(memory_.mouseFlags);
    if ((memory_.mouseFlags & ~(MouseAbsolute | MouseNormalized)) == 0)
        return TrCp949("마우스의 아무런 기능도 선택되지 않았습니다.");
    return std::nullopt;
}

// --- Delay and wait ----------------------------------------------------------------------------------------------

DelayItemModel::DelayItemModel(MacroItem& item, ItemDialogMemory& memory, const CAppIni& settings)
    : item_(item), memory_(memory), settings_(settings) {
    if (item_.type == 0) {
        isNew_ = true;
        item_.type = ItemDelay;
        item_.setDelayValue(memory_.delayValue);
        item_.setDelayKind(memory_.delayKind);
        item_.setDelayExtra(memory_.delayExtra);
    }
    const int32_t v = item_.delayValue();
    const int32_t extra = item_.delayExtra();
    switch (item_.delayKind() & 0xF1) {
    case DelayTime:
        kind = Time;
        break;
    case DelayClock:
        kind = Clock;
        break;
    case DelayKey:
        kind = Key;
        break;
    case DelayColor:
        kind = Color;
        break;
    default:
        kind = NoKind;
        break;
    }

    seconds = FormatFixed(kind == Time ? v / 1000.0 : 1.0, 3);
    randomLevel = kind == Time ? std::clamp(extra, 0, 10) : 0;

    hour = minute = second = 0;
    if (kind == Clock) {
        const int form = item_.delayClockForm();
        if (form == 3) hour = Wrap(v / 3600000, 24) + 1;
        if (form >= 2) minute = Wrap(v / 60000, 60) + 1;
        if (form >= 1) second = Wrap(v / 1000, 60) + 1;
    }

    if (kind == Key) {
        keyIndex = KeyIndexOf(v & 0xFF);
        onPress = (v & KeyRelease) == 0;
        ctrl = (v & KeyCtrl) != 0;
        alt = (v & KeyAlt) != 0;
        shift = (v & KeyShift) != 0;
        modifiersRequired = (v & KeyExactModifiers) != 0;
    } else {
        keyIndex = KeyIndexOf(0x31); // the 1 key
    }

    if (kind == Color) {
        const auto w = static_cast<uint32_t>(v);
        red = std::to_string(w & 0xFF);
        green = std::to_string((w >> 8) & 0xFF);
        blue = std::to_string((w >> 16) & 0xFF);
        posX = std::to_string(PointX(extra));
        posY = std::to_string(PointY(extra));
        tolerance = std::to_string(std::min<uint32_t>(w >> 24, 127));
    } else {
        red = green = blue = "255";
        posX = posY = "0";
        tolerance = "10";
    }
}

std::string DelayItemModel::Caption() const {
    return quillet::Caption(isNew_, "대기/시간지연 추가", "대기/시간지연 편집");
}

std::string DelayItemModel::CaptureHint() const {
    return WithKeyName(settings_.keyMacroColorStart, "%1를 눌러 화면 색과 마우스 위치를 캡쳐합니다.");
}

std::vector<std::string> DelayItemModel::RandomLevels() {
    std::vector<std::string> levels;
    for (int p = 0; p <= 100; p += 10) levels.push_back("+- " + std::to_string(p) + "%");
    return levels;
}

std::string DelayItemModel::PressCaption() const {
    return TrCp949(onPress ? "누를 때" : "뗄 때");
}

uint32_t DelayItemModel::SwatchColor() const {
    const auto channel = [](const std::string& t) {
        return static_cast<uint32_t>(std::clamp(ReadSignedField(t), 0, 255));
    };
    return channel(red) | channel(green) << 8 | channel(blue) << 16;
}

void DelayItemModel::SetColor(uint32_t bgr) {
    red = std::to_string(bgr & 0xFF);
    green = std::to_string((bgr >> 8) & 0xFF);
    blue = std::to_string((bgr >> 16) & 0xFF);
}

void DelayItemModel::CaptureKey(int code) {
    if (code != 0) keyIndex = KeyIndexOf(code);
}

bool DelayItemModel::Capture(int code, bool isPress, platform::InputOutput& io, platform::Screen& screen) {
    if (kind != Color || !isPress || code != settings_.keyMacroColorStart) return false;
    platform::ScreenPoint cursor;
    if (!io.CursorPos(cursor)) return false;
    posX = std::to_string(cursor.x);
    posY = std::to_string(cursor.y);
    // A screen that cannot be read gives the position alone.
    const uint32_t pixel = screen.Pixel(cursor.x, cursor.y);
    if (pixel != platform::CLR_INVALID) SetColor(pixel);
    return true;
}

std::optional<std::string> DelayItemModel::Accept() {
    int32_t value = memory_.delayValue;
    int32_t kindBits = memory_.delayKind;
    int32_t extra = memory_.delayExtra;
    switch (kind) {
    case Time: {
        // At most the field's first 254 bytes, read as a decimal number (a leading number is taken; none is 0).
        // Too small a number is 0 ms, a negative one too, an infinite one the longest delay.
        const double s = ParseDecimal(std::string_view(seconds).substr(0, 254));
        const double ms = std::isnan(s) ? 0.0 : std::trunc(s * 1000.0);
        value = static_cast<int32_t>(std::clamp(ms, 0.0, 86400000.0));
        kindBits = DelayTime;
        extra = randomLevel;
        break;
    }
    case Clock:
        if (second == 0) return TrCp949("지연 시각이 제대로 설정되지 않았습니다.");
        // An hour without minutes is dropped.
        if (minute == 0) {
            value = (second - 1) * 1000;
            kindBits = 0x03;
        } else if (hour == 0) {
            value = (second - 1) * 1000 + (minute - 1) * 60000;
            kindBits = 0x05;
        } else {
            value = (second - 1) * 1000 + (minute - 1) * 60000 + (hour - 1) * 3600000;
            kindBits = 0x07;
        }
        extra = 0;
        break;
    case Key:
        if (keyIndex >= 0) value = KeyCodeAt(keyIndex);
        // The modifier boxes count even while they are disabled.
        if (!onPress) value |= KeyRelease;
        if (ctrl) value |= KeyCtrl;
        if (alt) value |= KeyAlt;
        if (shift) value |= KeyShift;
        if (modifiersRequired) value |= KeyExactModifiers;
        kindBits = DelayKey;
        extra = 0;
        break;
    case Color: {
        const auto channel = [](const std::string& t) { return static_cast<uint32_t>(ReadUnsignedField(t, 255)); };
        value =
            static_cast<int32_t>(channel(red) | channel(green) << 8 | channel(blue) << 16 | channel(tolerance) << 24);
        extra = PackPoint(std::clamp(ReadSignedField(posX), -32768, 32767),
                          std::clamp(ReadSignedField(posY), -32768, 32767));
        kindBits = DelayColor;
        break;
    }
    case NoKind:
        break;
    }
    memory_.delayValue = value;
    memory_.delayKind = kindBits;
    memory_.delayExtra = extra;
    item_.setDelayValue(value);
    item_.setDelayKind(kindBits);
    item_.setDelayExtra(extra);
    return std::nullopt;
}

// --- Text --------------------------------------------------------------------------------------------------------

StringItemModel::StringItemModel(MacroItem& item, ItemDialogMemory& memory) : item_(item), memory_(memory) {
    if (item_.type == 0) {
        isNew_ = true;
        item_.type = ItemString;
        item_.setTextFlags(memory_.textFlags);
        item_.setText("");
    }
    text = item_.text();
    random = (item_.textFlags() & TextRandom) != 0;
    sequence = (item_.textFlags() & TextSequence) != 0;
    comment = (item_.textFlags() & TextComment) != 0;
}

std::string StringItemModel::Caption() const {
    return quillet::Caption(isNew_, "문자열 추가", "문자열 편집");
}

std::optional<std::string> StringItemModel::Accept() {
    if (text.empty()) return TrCp949("문자열이 비어 있습니다.");
    item_.setText(CrLf(text));
    // A box counts even while it is disabled.
    memory_.textFlags = (random ? TextRandom : 0) | (sequence ? TextSequence : 0) | (comment ? TextComment : 0);
    item_.setTextFlags(memory_.textFlags);
    return std::nullopt;
}

// --- Call --------------------------------------------------------------------------------------------------------

CallItemModel::CallItemModel(MacroItem& item, ItemDialogMemory& memory, const MacroLibrary& library, int ownIndex)
    : item_(item), memory_(memory), library_(library), ownIndex_(ownIndex) {
    if (item_.type == 0) {
        isNew_ = true;
        item_.type = ItemCall;
        const bool valid = memory_.callIndex >= 0 && static_cast<std::size_t>(memory_.callIndex) < library_.size();
        item_.setCalledName(valid ? library_[static_cast<std::size_t>(memory_.callIndex)].name : "");
    }
    switch (item_.callMode() & 3) {
    case CallSequential:
        mode = CallSequential;
        break;
    case CallParallel:
        mode = CallParallel;
        break;
    case CallStop:
        mode = CallStop;
        break;
    default:
        mode = -1;
        break;
    }
    // A macro renamed since: no selection, and OK asks for one.
    selection = FindMacroByName(library_, item_.calledName(), -1);
}

std::string CallItemModel::Caption() const {
    return quillet::Caption(isNew_, "매크로 호출 추가", "매크로 호출 편집");
}

std::vector<std::string> CallItemModel::Names() const {
    std::vector<std::string> names;
    names.reserve(library_.size());
    for (const Macro& m : library_) names.push_back(m.name);
    return names;
}

std::optional<std::string> CallItemModel::Accept() {
    if (selection < 0 || static_cast<std::size_t>(selection) >= library_.size())
        return TrCp949("호출할 매크로가 선택되지 않았습니다.");
    if (selection == ownIndex_) return TrCp949("자기 자신을 호출할 수 없습니다.");
    item_.setCallMode(mode < 0 ? CallSequential : mode);
    item_.setCalledName(library_[static_cast<std::size_t>(selection)].name);
    memory_.callIndex = selection;
    return std::nullopt;
}

// --- Exclusive section -------------------------------------------------------------------------------------------

ExclusiveItemModel::ExclusiveItemModel(MacroItem& item, ItemDialogMemory& memory) : item_(item), memory_(memory) {
    if (item_.type == 0) {
        isNew_ = true;
        item_.type = ItemExclusive;
        item_.setSectionEnter(memory_.sectionEnter);
    }
    enter = (item_.sectionEnter() & 1) == 1;
}

std::string ExclusiveItemModel::Caption() const {
    return quillet::Caption(isNew_, "독점실행구간 추가", "독점실행구간 편집");
}

void ExclusiveItemModel::Accept() {
    memory_.sectionEnter = enter ? 1 : 0;
    item_.setSectionEnter(memory_.sectionEnter);
}

// --- Loop --------------------------------------------------------------------------------------------------------

LoopItemModel::LoopItemModel(MacroItem& item, ItemDialogMemory& memory) : item_(item), memory_(memory) {
    if (item_.type == 0) {
        isNew_ = true;
        item_.type = ItemLoop;
        item_.setLoopKind(memory_.loopKind);
        item_.setLoopStart(memory_.loopStart);
        item_.setLoopStop(memory_.loopStop);
        item_.setLoopStep(memory_.loopStep);
    }
    const int k = item_.loopKind() & 7;
    kind = (k <= LoopOutputY || k == LoopLeave) ? k : -1;
    askUser = (item_.loopKind() & LoopAskUser) != 0;
    start = std::to_string(item_.loopStart());
    stop = std::to_string(item_.loopStop());
    step = std::to_string(item_.loopStep());
}

std::string LoopItemModel::Caption() const {
    return quillet::Caption(isNew_, "반복구간 추가", "반복구간 편집");
}

std::optional<std::string> LoopItemModel::Accept() {
    const int k = kind < 0 ? LoopEnter : kind;
    const int32_t s = ReadSignedField(start);
    const int32_t e = ReadSignedField(stop);
    // The step is cut to its low 16 bits, read as a signed number.
    const int st = static_cast<int16_t>(static_cast<uint32_t>(ReadSignedField(step)) & 0xFFFF);
    memory_.loopKind = k;
    memory_.loopStart = s;
    memory_.loopStop = e;
    memory_.loopStep = st;
    if (k == LoopEnter && s != e) {
        if (s < e && st <= 0) return TrCp949("반복구간의 간격이 0보다 커야 합니다.");
        if (s > e && st >= 0) return TrCp949("반복구간의 간격이 0보다 작아야 합니다.");
    }
    // The "ask the user" bit is never stored by the dialog.
    item_.setLoopKind(k);
    item_.setLoopStep(st);
    item_.setLoopStart(s);
    item_.setLoopStop(e);
    return std::nullopt;
}

// --- Live input ---

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

} // namespace quillet
