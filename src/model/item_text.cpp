#include "model/item_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <mutex>
#include <optional>

#include "model/cp949.h"
#include "model/decimal.h"
#include "model/key_table.h"
#include "model/option_bits.h"
#include "model/text_fill.h"
#include "model/texts.h"

namespace quillet {

namespace {

// Bytes of a string or call name shown in an item line.
constexpr std::size_t kShownNameBytes = 64;

// The texts of the lines in the current language, CP949, made once per language: ItemText runs for every executed
// item (event log). Each is one whole piece of a line with its placeholders, so that English can order its words.
struct Words {
    std::string start = TrCp949("    (시작)");
    std::string keyNoAction = TrCp949("    키보드 %1 ");
    std::string keyPress = TrCp949("    키보드 %1 누르기 ");
    std::string keyRelease = TrCp949("    키보드 %1 떼기 ");
    std::string keyPressRelease = TrCp949("    키보드 %1  ");
    std::string hangul = TrCp949("[한글] ");
    std::string english = TrCp949("[영어] ");
    std::string mouse = TrCp949("    마우스 ");
    std::string absolute = TrCp949("절대위치(%1, %2) ");
    std::string absoluteNormalized = TrCp949("절대위치(%1, %2) *SI");
    std::string relative = TrCp949("상대위치(%1, %2) ");
    std::string relativeNormalized = TrCp949("상대위치(%1, %2) *SI");
    std::string wheel = TrCp949("휠(%1) ");
    // Per button: press, release, click.
    std::string buttons[5][3] = {
        {TrCp949("왼버튼_누르기 "), TrCp949("왼버튼_떼기 "), TrCp949("왼버튼_클릭 ")},
        {TrCp949("오른버튼_누르기 "), TrCp949("오른버튼_떼기 "), TrCp949("오른버튼_클릭 ")},
        {TrCp949("중앙버튼_누르기 "), TrCp949("중앙버튼_떼기 "), TrCp949("중앙버튼_클릭 ")},
        {TrCp949("X1버튼_누르기 "), TrCp949("X1버튼_떼기 "), TrCp949("X1버튼_클릭 ")},
        {TrCp949("X2버튼_누르기 "), TrCp949("X2버튼_떼기 "), TrCp949("X2버튼_클릭 ")},
    };
    std::string timeDelay = TrCp949("    시간지연 %1 초");
    std::string randomDelay = TrCp949(", 랜덤 지연 +- %1% 추가");
    // By clock form: hours, minutes and seconds; minutes and seconds; seconds; none.
    std::string clockHms = TrCp949("    지연시각 %1시 %2분 %3초 까지");
    std::string clockMs = TrCp949("    지연시각 --시 %1분 %2초 까지");
    std::string clockS = TrCp949("    지연시각 --시 --분 %1초 까지");
    std::string clockNone = TrCp949("    지연시각 --시 --분 --초 까지");
    std::string keyWaitPress = TrCp949("    키입력대기 %1 누름");
    std::string keyWaitRelease = TrCp949("    키입력대기 %1 뗌");
    std::string colorWait = TrCp949("    화면색대기(%1, %2, %3) 허용(%4) 위치(%5, %6) ");
    std::string text = TrCp949("    문자열 '%1'");
    std::string callSequential = TrCp949("    매크로 순차 호출 '%1'");
    std::string callParallel = TrCp949("    매크로 병렬 호출 '%1'");
    std::string callStop = TrCp949("    매크로 실행 중단 '%1'");
    std::string exclusiveEnter = TrCp949("< 독점실행구간으로 들어감");
    std::string exclusiveLeave = TrCp949("> 독점실행구간으로부터 나옴");
    std::string loopEnter = TrCp949("[   반복구간으로 들어감 (%1 ~ %2 : %3)  ");
    std::string loopEnterAsk = TrCp949("[   반복구간으로 들어감 (%1 ~ %2 : %3) *");
    std::string loopOutputKeys = TrCp949("    반복 숫자를 키보드 이벤트로 출력");
    std::string loopOutputX = TrCp949("    반복 숫자를 마우스 X 위치로 출력");
    std::string loopOutputY = TrCp949("    반복 숫자를 마우스 Y 위치로 출력");
    std::string loopLeave = TrCp949("]   반복구간에서 나옴");
    std::string conditionStart = TrCp949("시작: ");
    std::string conditionAuto = TrCp949("자동,");
    std::string conditionKey = TrCp949("%1키,");
    std::string conditionTime = TrCp949("시간,");
    std::string conditionColor = TrCp949("색,");
    std::string conditionStop = TrCp949("중지: ");
    std::string macroName = TrCp949("매크로 이름: ");
};

// The words of the current language. The language is set at start-up (tests switch it), so each language's words are
// made the first time they are asked for, while that language is current, and kept.
const Words& W() {
    static std::once_flag made[2];
    static std::optional<Words> words[2];
    const std::size_t i = CurrentLanguage() == Language::English ? 1 : 0;
    std::call_once(made[i], [i] { words[i].emplace(); });
    return *words[i];
}

std::string Number(long long value) {
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, r.ptr);
}

bool IsCp949LeadByte(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x81 && b <= 0xFE;
}

// A string or call name as shown: at most its first 64 bytes, up to an embedded NUL, without a trailing half of a
// two-byte character (which would swallow the closing quote when the line is decoded).
std::string_view ShownName(const std::string& s) {
    return std::string_view(s).substr(0, Cp949HeadLength(s, kShownNameBytes));
}

void AppendKeyItem(BoundedLine& line, const MacroItem& item, int32_t macroOptions) {
    const Words& w = W();
    const std::string_view name = KeyLongName(item.keyCode() & KeyCodeMask);
    const int32_t action = item.keyAction();
    if (action == 0) {
        line.Append(FillText(w.keyNoAction, {name}));
        return;
    }
    switch (action & 3) {
    case 1:
        line.Append(FillText(w.keyPress, {name}));
        break;
    case 2:
        line.Append(FillText(w.keyRelease, {name}));
        break;
    case 3:
        line.Append(FillText(w.keyPressRelease, {name}));
        break;
    default:
        // Neither press nor release: no word, only the space after it.
        line.Append(FillText(w.keyNoAction, {name}));
        line.Append(" ");
        break;
    }
    if (macroOptions & OptionFollowImeState) line.Append((action & ActionHangul) ? w.hangul : w.english);
}

void AppendMouseItem(BoundedLine& line, const MacroItem& item) {
    const Words& w = W();
    const int32_t f = item.mouseFlags();
    line.Append(w.mouse);
    if (f & MouseMove) {
        // In Korean "*SI" ends the piece without a space: the next piece follows directly.
        const bool normalized = (f & MouseNormalized) != 0;
        const std::string& format = (f & MouseAbsolute) ? (normalized ? w.absoluteNormalized : w.absolute)
                                                        : (normalized ? w.relativeNormalized : w.relative);
        line.Append(FillText(format, {Number(item.mouseX()), Number(item.mouseY())}));
    }
    if (f & MouseWheel) line.Append(FillText(w.wheel, {Number(item.mouseData())}));
    // A two-bit press/release field: 1 press, 2 release, 3 click.
    const auto button = [&line, &w](int which, int32_t field) {
        if ((field & 3) == 0) return;
        line.Append(w.buttons[which][(field & 3) - 1]);
    };
    button(0, f >> 1);
    button(1, f >> 3);
    button(2, f >> 5);
    if ((f >> 7) & 3) {
        if (item.mouseData() == 1) button(3, f >> 7);
        if (item.mouseData() == 2) button(4, f >> 7);
    }
}

void AppendDelayItem(BoundedLine& line, const MacroItem& item) {
    const Words& w = W();
    const int32_t v = item.delayValue();
    const int32_t kind = item.delayKind();
    switch (kind & DelayKindMask) {
    case DelayTime:
        line.Append(FillText(w.timeDelay, {FormatFixed(v / 1000.0, 3)}));
        if (item.delayExtra() > 0) line.Append(FillText(w.randomDelay, {Number(std::min(item.delayExtra(), 10) * 10)}));
        break;
    case DelayClock: {
        const std::string h = Number((v / 3600000) % 24), m = Number((v / 60000) % 60), s = Number((v / 1000) % 60);
        switch (item.delayClockForm()) {
        case 3:
            line.Append(FillText(w.clockHms, {h, m, s}));
            break;
        case 2:
            line.Append(FillText(w.clockMs, {m, s}));
            break;
        case 1:
            line.Append(FillText(w.clockS, {s}));
            break;
        default:
            line.Append(w.clockNone);
            break;
        }
        break;
    }
    case DelayKey:
        line.Append(FillText((v & KeyRelease) ? w.keyWaitRelease : w.keyWaitPress, {KeyLongName(v & KeyCodeMask)}));
        if (v & KeyExactModifiers) {
            if (v & KeyCtrl) line.Append(", Ctrl ");
            if (v & KeyAlt) line.Append(", Alt ");
            if (v & KeyShift) line.Append(", Shift ");
        }
        break;
    case DelayColor: {
        const auto c = static_cast<uint32_t>(v);
        line.Append(
            FillText(w.colorWait, {Number(c & 0xFF), Number((c >> 8) & 0xFF), Number((c >> 16) & 0xFF), Number(c >> 24),
                                   Number(PointX(item.delayExtra())), Number(PointY(item.delayExtra()))}));
        break;
    }
    default:
        break;
    }
}

void AppendLoopItem(BoundedLine& line, const MacroItem& item) {
    const Words& w = W();
    switch (item.loopKind() & LoopKindMask) {
    case LoopEnter:
        line.Append(FillText((item.loopKind() & LoopAskUser) ? w.loopEnterAsk : w.loopEnter,
                             {Number(item.loopStart()), Number(item.loopStop()), Number(item.loopStep())}));
        break;
    case LoopOutputKeys:
        line.Append(w.loopOutputKeys);
        break;
    case LoopOutputX:
        line.Append(w.loopOutputX);
        break;
    case LoopOutputY:
        line.Append(w.loopOutputY);
        break;
    case LoopLeave:
        line.Append(w.loopLeave);
        break;
    default:
        break;
    }
}

// "Ctrl Alt Shift <short name>키," with each modifier shown only when the condition demands exact modifiers.
void AppendKeyCondition(BoundedLine& line, int32_t key) {
    std::string keys;
    if (key & KeyExactModifiers) {
        if (key & KeyCtrl) keys += "Ctrl ";
        if (key & KeyAlt) keys += "Alt ";
        if (key & KeyShift) keys += "Shift ";
    }
    keys += KeyShortName(key & KeyCodeMask);
    line.Append(FillText(W().conditionKey, {keys}));
}

std::string_view UpToNul(const std::string& s) {
    const auto nul = s.find('\0');
    return std::string_view(s).substr(0, nul);
}

} // namespace

std::size_t Cp949HeadLength(std::string_view s, std::size_t maxBytes) {
    const std::size_t limit = std::min(s.size(), maxBytes);
    std::size_t i = 0;
    while (i < limit && s[i] != '\0') {
        const std::size_t width = IsCp949LeadByte(s[i]) ? 2 : 1;
        if (i + width > limit) break;
        if (width == 2 && s[i + 1] == '\0') break; // a lead byte cut off by a NUL is no character
        i += width;
    }
    return i;
}

void BoundedLine::Append(std::string_view piece) {
    if (cut_) return;
    std::size_t n = piece.size();
    if (n > kMaxBytes - len_) {
        n = Cp949HeadLength(piece, kMaxBytes - len_);
        cut_ = true;
    }
    std::memcpy(buf_ + len_, piece.data(), n);
    len_ += n;
}

void BoundedLine::AppendInt(long long value) {
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, value);
    Append(std::string_view(digits, static_cast<std::size_t>(r.ptr - digits)));
}

void BoundedLine::AppendFixed3(double value) {
    Append(FormatFixed(value, 3));
}

std::string ItemText(const MacroItem& item, int32_t macroOptions) {
    const Words& w = W();
    BoundedLine line;
    switch (item.type) {
    case ItemStart:
        line.Append(w.start);
        break;
    case ItemKey:
        AppendKeyItem(line, item, macroOptions);
        break;
    case ItemMouse:
        AppendMouseItem(line, item);
        break;
    case ItemDelay:
        AppendDelayItem(line, item);
        break;
    case ItemString:
        if (item.textFlags() & TextComment) {
            line.Append("    # ");
            line.Append(ShownName(item.text()));
        } else {
            line.Append(FillText(w.text, {ShownName(item.text())}));
        }
        break;
    case ItemCall: {
        const int32_t mode = item.callMode() & 3;
        if (mode == 3) break;
        line.Append(FillText(mode == CallSequential ? w.callSequential
                             : mode == CallParallel ? w.callParallel
                                                    : w.callStop,
                             {ShownName(item.calledName())}));
        break;
    }
    case ItemExclusive:
        line.Append((item.sectionEnter() & 1) ? w.exclusiveEnter : w.exclusiveLeave);
        break;
    case ItemLoop:
        AppendLoopItem(line, item);
        break;
    default:
        break;
    }
    return line.str();
}

std::string ConditionSummary(int32_t flags, int32_t startKey, int32_t stopKey) {
    if ((flags & (FlagAutoStart | FlagStartKey | FlagTimeWindow | FlagStartColor)) == 0) return {};
    const Words& w = W();
    BoundedLine line;
    line.Append(w.conditionStart);
    if (flags & FlagAutoStart) line.Append(w.conditionAuto);
    if (flags & FlagStartKey) AppendKeyCondition(line, startKey);
    if (flags & FlagTimeWindow) line.Append(w.conditionTime);
    if (flags & FlagStartColor) line.Append(w.conditionColor);
    if (flags & FlagStopKey) {
        line.Append(w.conditionStop);
        AppendKeyCondition(line, stopKey);
    }
    if (flags & FlagStopColor) line.Append(w.conditionColor);
    return line.str();
}

std::string RunListText(const Macro& macro) {
    std::string text(UpToNul(macro.name));
    const std::string summary = ConditionSummary(macro.flags, macro.startKey, macro.stopKey);
    if (!summary.empty()) {
        text += " - ";
        text += summary;
    }
    return text;
}

std::string ItemRowText(const MacroItem& item, int32_t macroOptions) {
    std::string text = ItemText(item, macroOptions);
    if (text.find_first_of("\r\n\t") == std::string::npos) return text;
    static const std::string lineBreak = Utf8ToCp949("¶");
    static const std::string tab = Utf8ToCp949("→");
    std::string row;
    row.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // CP949 trail bytes are 0x41 and up, so a control byte is always a character of its own.
        if (c == '\r' || c == '\n') {
            row += lineBreak;
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\t') {
            row += tab;
        } else {
            row += c;
        }
    }
    row.resize(Cp949HeadLength(row, BoundedLine::kMaxBytes));
    return row;
}

std::string MacroText(const Macro& macro, int32_t macroOptions) {
    std::string text = W().macroName;
    text += UpToNul(macro.name);
    text += "\r\n\r\n";
    for (const MacroItem& item : macro.items) {
        text += ItemText(item, macroOptions);
        text += "\r\n";
    }
    return text;
}

} // namespace quillet
