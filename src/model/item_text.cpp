#include "model/item_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "model/cp949.h"
#include "model/decimal.h"
#include "model/key_table.h"
#include "model/option_bits.h"

namespace quillet {

namespace {

// Bytes of a string or call name shown in an item line.
constexpr std::size_t kShownNameBytes = 64;

// The Korean words of the texts, converted to CP949 once: ItemText runs for every executed item (event log).
struct Words {
    std::string start = Utf8ToCp949("    (시작)");
    std::string keyboard = Utf8ToCp949("    키보드 ");
    std::string press = Utf8ToCp949("누르기");
    std::string release = Utf8ToCp949("떼기");
    std::string click = Utf8ToCp949("클릭");
    std::string hangul = Utf8ToCp949("[한글] ");
    std::string english = Utf8ToCp949("[영어] ");
    std::string mouse = Utf8ToCp949("    마우스 ");
    std::string absolute = Utf8ToCp949("절대위치(");
    std::string relative = Utf8ToCp949("상대위치(");
    std::string wheel = Utf8ToCp949("휠(");
    std::string leftButton = Utf8ToCp949("왼버튼_");
    std::string rightButton = Utf8ToCp949("오른버튼_");
    std::string middleButton = Utf8ToCp949("중앙버튼_");
    std::string x1Button = Utf8ToCp949("X1버튼_");
    std::string x2Button = Utf8ToCp949("X2버튼_");
    std::string timeDelay = Utf8ToCp949("    시간지연 ");
    std::string seconds = Utf8ToCp949(" 초");
    std::string randomDelay = Utf8ToCp949(", 랜덤 지연 +- ");
    std::string percentAdded = Utf8ToCp949("% 추가");
    std::string clockWait = Utf8ToCp949("    지연시각 ");
    std::string hour = Utf8ToCp949("시 ");
    std::string minute = Utf8ToCp949("분 ");
    std::string second = Utf8ToCp949("초");
    std::string noHour = Utf8ToCp949("--시 ");
    std::string noMinute = Utf8ToCp949("--분 ");
    std::string noSecond = Utf8ToCp949("--초");
    std::string until = Utf8ToCp949(" 까지");
    std::string keyWait = Utf8ToCp949("    키입력대기 ");
    std::string pressed = Utf8ToCp949("누름");
    std::string released = Utf8ToCp949("뗌");
    std::string colorWait = Utf8ToCp949("    화면색대기(");
    std::string tolerance = Utf8ToCp949(") 허용(");
    std::string position = Utf8ToCp949(") 위치(");
    std::string comment = Utf8ToCp949("    # ");
    std::string text = Utf8ToCp949("    문자열 '");
    std::string callSequential = Utf8ToCp949("    매크로 순차 호출 '");
    std::string callParallel = Utf8ToCp949("    매크로 병렬 호출 '");
    std::string callStop = Utf8ToCp949("    매크로 실행 중단 '");
    std::string exclusiveEnter = Utf8ToCp949("< 독점실행구간으로 들어감");
    std::string exclusiveLeave = Utf8ToCp949("> 독점실행구간으로부터 나옴");
    std::string loopEnter = Utf8ToCp949("[   반복구간으로 들어감 (");
    std::string loopOutputKeys = Utf8ToCp949("    반복 숫자를 키보드 이벤트로 출력");
    std::string loopOutputX = Utf8ToCp949("    반복 숫자를 마우스 X 위치로 출력");
    std::string loopOutputY = Utf8ToCp949("    반복 숫자를 마우스 Y 위치로 출력");
    std::string loopLeave = Utf8ToCp949("]   반복구간에서 나옴");
    std::string conditionStart = Utf8ToCp949("시작: ");
    std::string conditionAuto = Utf8ToCp949("자동,");
    std::string conditionKey = Utf8ToCp949("키,");
    std::string conditionTime = Utf8ToCp949("시간,");
    std::string conditionColor = Utf8ToCp949("색,");
    std::string conditionStop = Utf8ToCp949("중지: ");
    std::string macroName = Utf8ToCp949("매크로 이름: ");
};

const Words& W() {
    static const Words words;
    return words;
}

bool IsCp949LeadByte(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x81 && b <= 0xFE;
}

// The word of a two-bit press/release field: 1 press, 2 release, 3 click.
const std::string& ButtonWord(int32_t field) {
    const Words& w = W();
    switch (field & 3) {
    case 1:
        return w.press;
    case 2:
        return w.release;
    default:
        return w.click;
    }
}

// A string or call name as shown: at most its first 64 bytes, up to an embedded NUL, without a trailing half of a
// two-byte character (which would swallow the closing quote when the line is decoded).
std::string_view ShownName(const std::string& s) {
    return std::string_view(s).substr(0, Cp949HeadLength(s, kShownNameBytes));
}

void AppendKeyItem(BoundedLine& line, const MacroItem& item, int32_t macroOptions) {
    const Words& w = W();
    line.Append(w.keyboard);
    line.Append(KeyLongName(item.keyCode() & KeyCodeMask));
    line.Append(" ");
    const int32_t action = item.keyAction();
    if (action == 0) return;
    // Press-and-release shows no word, only the space after it.
    switch (action & 3) {
    case 1:
        line.Append(w.press);
        break;
    case 2:
        line.Append(w.release);
        break;
    default:
        break;
    }
    line.Append(" ");
    if (macroOptions & OptionFollowImeState) line.Append((action & ActionHangul) ? w.hangul : w.english);
}

void AppendMouseItem(BoundedLine& line, const MacroItem& item) {
    const Words& w = W();
    const int32_t f = item.mouseFlags();
    line.Append(w.mouse);
    if (f & MouseMove) {
        line.Append((f & MouseAbsolute) ? w.absolute : w.relative);
        line.AppendInt(item.mouseX());
        line.Append(", ");
        line.AppendInt(item.mouseY());
        line.Append(") ");
        if (f & MouseNormalized) line.Append("*SI"); // no space after it: the next piece follows directly
    }
    if (f & MouseWheel) {
        line.Append(w.wheel);
        line.AppendInt(item.mouseData());
        line.Append(") ");
    }
    const auto button = [&line](const std::string& name, int32_t field) {
        if ((field & 3) == 0) return;
        line.Append(name);
        line.Append(ButtonWord(field));
        line.Append(" ");
    };
    button(w.leftButton, f >> 1);
    button(w.rightButton, f >> 3);
    button(w.middleButton, f >> 5);
    if ((f >> 7) & 3) {
        if (item.mouseData() == 1) button(w.x1Button, f >> 7);
        if (item.mouseData() == 2) button(w.x2Button, f >> 7);
    }
}

void AppendDelayItem(BoundedLine& line, const MacroItem& item) {
    const Words& w = W();
    const int32_t v = item.delayValue();
    const int32_t kind = item.delayKind();
    switch (kind & DelayKindMask) {
    case DelayTime:
        line.Append(w.timeDelay);
        line.AppendFixed3(v / 1000.0);
        line.Append(w.seconds);
        if (item.delayExtra() > 0) {
            line.Append(w.randomDelay);
            line.AppendInt(std::min(item.delayExtra(), 10) * 10);
            line.Append(w.percentAdded);
        }
        break;
    case DelayClock: {
        const int form = item.delayClockForm();
        line.Append(w.clockWait);
        if (form >= 3) {
            line.AppendInt((v / 3600000) % 24);
            line.Append(w.hour);
        } else {
            line.Append(w.noHour);
        }
        if (form >= 2) {
            line.AppendInt((v / 60000) % 60);
            line.Append(w.minute);
        } else {
            line.Append(w.noMinute);
        }
        if (form >= 1) {
            line.AppendInt((v / 1000) % 60);
            line.Append(w.second);
        } else {
            line.Append(w.noSecond);
        }
        line.Append(w.until);
        break;
    }
    case DelayKey:
        line.Append(w.keyWait);
        line.Append(KeyLongName(v & KeyCodeMask));
        line.Append(" ");
        line.Append((v & KeyRelease) ? w.released : w.pressed);
        if (v & KeyExactModifiers) {
            if (v & KeyCtrl) line.Append(", Ctrl ");
            if (v & KeyAlt) line.Append(", Alt ");
            if (v & KeyShift) line.Append(", Shift ");
        }
        break;
    case DelayColor: {
        const auto c = static_cast<uint32_t>(v);
        line.Append(w.colorWait);
        line.AppendInt(c & 0xFF);
        line.Append(", ");
        line.AppendInt((c >> 8) & 0xFF);
        line.Append(", ");
        line.AppendInt((c >> 16) & 0xFF);
        line.Append(w.tolerance);
        line.AppendInt(c >> 24);
        line.Append(w.position);
        line.AppendInt(PointX(item.delayExtra()));
        line.Append(", ");
        line.AppendInt(PointY(item.delayExtra()));
        line.Append(") ");
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
        line.Append(w.loopEnter);
        line.AppendInt(item.loopStart());
        line.Append(" ~ ");
        line.AppendInt(item.loopStop());
        line.Append(" : ");
        line.AppendInt(item.loopStep());
        line.Append((item.loopKind() & LoopAskUser) ? ") *" : ")  ");
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
    if (key & KeyExactModifiers) {
        if (key & KeyCtrl) line.Append("Ctrl ");
        if (key & KeyAlt) line.Append("Alt ");
        if (key & KeyShift) line.Append("Shift ");
    }
    line.Append(KeyShortName(key & KeyCodeMask));
    line.Append(W().conditionKey);
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
        line.Append((item.textFlags() & TextComment) ? w.comment : w.text);
        line.Append(ShownName(item.text()));
        if (!(item.textFlags() & TextComment)) line.Append("'");
        break;
    case ItemCall: {
        const int32_t mode = item.callMode() & 3;
        if (mode == 3) break;
        line.Append(mode == CallSequential ? w.callSequential : mode == CallParallel ? w.callParallel : w.callStop);
        line.Append(ShownName(item.calledName()));
        line.Append("'");
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
