// The writer of the macro text: every field under a readable name, lossless (padding included).
#include "model/text_format.h"

#include <charconv>
#include <initializer_list>
#include <optional>

#include "model/key_table.h"
#include "model/text_format_shared.h"

namespace quillet {

using namespace text_format_detail;

namespace {

// ---------------------------------------------------------------------------------------------------------------
// Writing

class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}

    void Raw(std::string_view s) { out_ += s; }
    void Int(int64_t v) {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        out_.append(buf, r.ptr);
    }
    void String(std::string_view utf8) {
        out_ += '"';
        std::size_t plain = 0;
        for (std::size_t i = 0; i < utf8.size(); ++i) {
            const auto c = static_cast<unsigned char>(utf8[i]);
            if (c >= 0x20 && c != '"' && c != '\\') continue;
            out_.append(utf8.substr(plain, i - plain));
            plain = i + 1;
            switch (c) {
            case '"':
                out_ += "\\\"";
                break;
            case '\\':
                out_ += "\\\\";
                break;
            case '\n':
                out_ += "\\n";
                break;
            case '\r':
                out_ += "\\r";
                break;
            case '\t':
                out_ += "\\t";
                break;
            default:
                out_ += "\\u00";
                out_ += kHex[c >> 4];
                out_ += kHex[c & 15];
            }
        }
        out_.append(utf8.substr(plain));
        out_ += '"';
    }

    // Members of an object on one line: {"a": 1, "b": 2}.
    void Open() {
        out_ += '{';
        first_.push_back(true);
    }
    void Close() {
        out_ += '}';
        first_.pop_back();
    }
    void Key(const char* key) {
        if (!first_.back()) out_ += ", ";
        first_.back() = false;
        out_ += '"';
        out_ += key;
        out_ += "\": ";
    }
    void Member(const char* key, int64_t v) {
        Key(key);
        Int(v);
    }
    void MemberIfNot0(const char* key, int64_t v) {
        if (v != 0) Member(key, v);
    }
    void Member(const char* key, std::string_view utf8) {
        Key(key);
        String(utf8);
    }

    // "key": readable text, and "keyBytes": hex when the readable text does not give back the bytes.
    void Text(const char* key, const char* bytesKey, std::string_view cp949) {
        const auto [utf8, exact] = Readable(cp949);
        Member(key, utf8);
        if (!exact) Member(bytesKey, Hex(cp949));
    }
    // "key": [names of the bits of value within mask]; nothing when there are none and always is false.
    void Bits(const char* key, uint32_t value, uint32_t mask, const std::vector<BitName>& names, bool always = false) {
        value &= mask;
        if (value == 0 && !always) return;
        Key(key);
        out_ += '[';
        bool first = true;
        for (int bit = 0; bit < 32; ++bit) {
            if ((value & (uint32_t{1} << bit)) == 0) continue;
            if (!first) out_ += ", ";
            first = false;
            if (const char* name = BitNameOf(names, bit)) {
                out_ += '"';
                out_ += name;
                out_ += '"';
            } else {
                out_ += "\"bit";
                Int(bit);
                out_ += '"';
            }
        }
        out_ += ']';
    }
    void KeyCode(const char* key, int code) {
        Key(key);
        Open();
        Member("code", code);
        if (KeyIndexOf(code) >= 0) Member("name", KeyLongName(code));
        Close();
    }
    void KeyCondition(const char* key, int32_t v) {
        Key(key);
        Open();
        const int code = v & 0xFF;
        Member("code", code);
        if (KeyIndexOf(code) >= 0) Member("name", KeyLongName(code));
        Bits("bits", static_cast<uint32_t>(v), kKeyBitsMask, kKeyBitNames);
        Close();
    }
    void PackedPoint(const char* key, int32_t packed) {
        Key(key);
        Open();
        Member("x", PointX(packed));
        Member("y", PointY(packed));
        Close();
    }
    void Color(const char* key, int32_t c, bool withOther) {
        Key(key);
        Open();
        Member("red", ColorRed(c));
        Member("green", ColorGreen(c));
        Member("blue", ColorBlue(c));
        if (withOther) MemberIfNot0("otherBits", static_cast<int64_t>(static_cast<uint32_t>(c) & 0xFF000000u));
        Close();
    }
    void Padding(const std::vector<PaddingRun>& runs) {
        if (runs.empty()) return;
        Key("padding");
        Open();
        for (const PaddingRun& run : runs) Member(std::to_string(run.offset).c_str(), Hex(run.bytes));
        Close();
    }

private:
    std::string& out_;
    std::vector<bool> first_;
};

// The clock text of a time of day in the given form, when value (seconds) is a time of that form.
std::optional<std::string> ClockText(int form, int64_t value) {
    static const int64_t limits[] = {0, 60, 3600, 86400};
    if (form < 1 || form > 3 || value < 0 || value >= limits[form]) return std::nullopt;
    const auto two = [](int64_t v) {
        std::string s = std::to_string(v);
        return s.size() < 2 ? "0" + s : s;
    };
    const std::string s = two(value % 60);
    if (form == 1) return s;
    const std::string ms = two(value / 60 % 60) + ":" + s;
    if (form == 2) return ms;
    return two(value / 3600) + ":" + ms;
}

void WriteTime(Writer& w, const char* key, int form, int32_t seconds) {
    w.Key(key);
    w.Open();
    w.Member("form", form);
    w.Member("seconds", seconds);
    if (const auto clock = ClockText(form, seconds)) w.Member("clock", *clock);
    w.Close();
}

void WriteItem(Writer& w, const MacroItem& item, const std::vector<PaddingRun>* padding) {
    w.Open();
    const int32_t type = item.type;
    const auto u = [](int32_t v) { return static_cast<uint32_t>(v); };
    if (type >= ItemStart && type <= ItemLoop)
        w.Member("type", kItemTypeNames[type]);
    else
        w.Member("type", type);

    // "wordN" for a parameter word the type does not use, when it is not zero.
    const auto unused = [&](int index) {
        static const char* const names[] = {"word8", "word12", "word16"};
        w.MemberIfNot0(names[index], item.param[static_cast<std::size_t>(index)]);
    };
    switch (type) {
    case ItemStart:
        if (item.param != std::array<int32_t, 3>{}) {
            w.Key("params");
            w.Raw("[");
            for (int i = 0; i < 3; ++i) {
                if (i > 0) w.Raw(", ");
                w.Int(item.param[static_cast<std::size_t>(i)]);
            }
            w.Raw("]");
        }
        break;
    case ItemKey:
        w.KeyCode("key", item.keyCode() & 0xFF);
        w.MemberIfNot0("scanCode", (item.keyCode() >> 8) & 0xFF);
        w.MemberIfNot0("otherBits", static_cast<int64_t>(u(item.keyCode()) & 0xFFFF0000u));
        w.Bits("action", u(item.keyAction()), 0xFFFFFFFFu, kKeyActionNames, true);
        unused(2);
        break;
    case ItemMouse:
        w.Member("x", item.mouseX());
        w.Member("y", item.mouseY());
        w.Bits("flags", u(item.mouseFlags()), kMouseFlagMask, kMouseFlagNames, true);
        w.MemberIfNot0("data", item.mouseData());
        break;
    case ItemDelay: {
        const int32_t kind = item.delayKind() & DelayKindMask;
        const int form = item.delayClockForm();
        const int64_t other = u(item.delayKind()) & ~uint32_t{0xF7};
        switch (kind) {
        case DelayTime:
            w.Member("kind", "time");
            break;
        case DelayClock:
            w.Member("kind", "clock");
            break;
        case DelayKey:
            w.Member("kind", "key");
            break;
        case DelayColor:
            w.Member("kind", "color");
            break;
        default:
            w.Member("kind", kind);
        }
        if (kind == DelayClock || form != 0) w.Member("form", form);
        w.MemberIfNot0("otherBits", other);
        switch (kind) {
        case DelayTime:
            w.Member("ms", item.delayValue());
            w.MemberIfNot0("random", item.delayExtra());
            break;
        case DelayClock:
            w.Member("ms", item.delayValue());
            if (item.delayValue() % 1000 == 0) {
                if (const auto clock = ClockText(form, item.delayValue() / 1000)) w.Member("clock", *clock);
            }
            unused(2);
            break;
        case DelayKey:
            w.KeyCondition("key", item.delayValue());
            unused(2);
            break;
        case DelayColor:
            w.Color("color", item.delayValue(), false);
            w.Member("tolerance", (u(item.delayValue()) >> 24) & 0xFF);
            w.PackedPoint("position", item.delayExtra());
            break;
        default:
            unused(0);
            unused(2);
        }
        break;
    }
    case ItemString:
        w.Text("text", "textBytes", item.text());
        w.Bits("flags", u(item.textFlags()), 0xFFFFFFFFu, kTextFlagNames);
        break;
    case ItemCall: {
        w.Text("macro", "macroBytes", item.calledName());
        const int32_t mode = item.callMode();
        if (mode >= CallSequential && mode <= CallStop)
            w.Member("mode", kCallModeNames[mode]);
        else
            w.Member("mode", mode);
        break;
    }
    case ItemExclusive:
        w.Member("section", (item.sectionEnter() & 1) != 0 ? "enter" : "leave");
        w.MemberIfNot0("otherBits", static_cast<int64_t>(u(item.sectionEnter()) & ~uint32_t{1}));
        unused(1);
        unused(2);
        break;
    case ItemLoop: {
        const int kind = item.loopKind() & LoopKindMask;
        if (kLoopKindNames[kind] != nullptr)
            w.Member("kind", kLoopKindNames[kind]);
        else
            w.Member("kind", kind);
        if ((item.loopKind() & LoopAskUser) != 0) {
            w.Key("askUser");
            w.Raw("true");
        }
        w.MemberIfNot0("otherBits", item.loopKind() & 0xFFF0);
        if (kind == LoopEnter || kind == LoopLeave) {
            w.Member("step", item.loopStep());
            w.Member("start", item.loopStart());
            w.Member("stop", item.loopStop());
        } else {
            w.MemberIfNot0("step", item.loopStep());
            w.MemberIfNot0("start", item.loopStart());
            w.MemberIfNot0("stop", item.loopStop());
        }
        break;
    }
    default:
        w.Key("params");
        w.Raw("[");
        for (int i = 0; i < 3; ++i) {
            if (i > 0) w.Raw(", ");
            w.Int(item.param[static_cast<std::size_t>(i)]);
        }
        w.Raw("]");
    }
    if (padding) w.Padding(*padding);
    w.Close();
}

void WriteMacro(std::string& out, const Macro& m, const MacroPadding* padding) {
    Writer w(out);
    const auto u = [](int32_t v) { return static_cast<uint32_t>(v); };
    // One member per line at six spaces, items one per line at ten.
    const auto line = [&](const char* key) {
        out += ",\n      \"";
        out += key;
        out += "\": ";
    };
    out += "    {\n      \"name\": ";
    const auto [name, exactName] = Readable(m.name);
    w.String(name);
    if (!exactName) {
        line("nameBytes");
        w.String(Hex(m.name));
    }
    line("repeatCount");
    w.Int(m.repeatCount());
    // Each remaining member is written through a one-member object so that Writer's helpers can be reused; the
    // braces are cut off again.
    const auto member = [&](auto&& write) {
        std::string one;
        Writer inner(one);
        inner.Open();
        write(inner);
        inner.Close();
        if (one.size() > 2) {
            out += ",\n      ";
            out.append(one, 1, one.size() - 2);
        }
    };
    member([&](Writer& x) { x.Bits("flags", u(m.flags), kMacroFlagMask, kMacroFlagNames, true); });
    member([&](Writer& x) { x.KeyCondition("startKey", m.startKey); });
    member([&](Writer& x) { x.KeyCondition("stopKey", m.stopKey); });
    member([&](Writer& x) { WriteTime(x, "startTime", m.startTimeForm(), m.startTime); });
    member([&](Writer& x) { WriteTime(x, "stopTime", m.stopTimeForm(), m.stopTime); });
    member([&](Writer& x) { x.Color("startColor", m.startColor, true); });
    member([&](Writer& x) { x.Color("stopColor", m.stopColor, true); });
    member([&](Writer& x) { x.Member("colorTolerance", m.colorTolerance); });
    member([&](Writer& x) { x.PackedPoint("startColorPos", m.startColorPos); });
    member([&](Writer& x) { x.PackedPoint("stopColorPos", m.stopColorPos); });
    member([&](Writer& x) { x.Text("imagePath", "imagePathBytes", m.imagePath); });
    member([&](Writer& x) { x.Member("imageThreshold", m.imageOptions & ImageThresholdMask); });
    member([&](Writer& x) { x.Bits("imageFlags", u(m.imageOptions), kImageFlagMask, kImageFlagNames, true); });
    member([&](Writer& x) { x.PackedPoint("imageRectStart", m.imageRectStart); });
    member([&](Writer& x) { x.PackedPoint("imageRectEnd", m.imageRectEnd); });
    if (padding) member([&](Writer& x) { x.Padding(padding->record); });

    line("items");
    out += "[";
    auto itemPadding = padding ? padding->items.begin() : decltype(padding->items.begin()){};
    for (std::size_t i = 0; i < m.items.size(); ++i) {
        out += i == 0 ? "\n        " : ",\n        ";
        const std::vector<PaddingRun>* runs = nullptr;
        if (padding) {
            while (itemPadding != padding->items.end() && itemPadding->first < i) ++itemPadding;
            if (itemPadding != padding->items.end() && itemPadding->first == i) runs = &itemPadding->second;
        }
        WriteItem(w, m.items[i], runs);
    }
    out += m.items.empty() ? "]\n    }" : "\n      ]\n    }";
}

} // namespace

std::string text_format_detail::JsonQuoted(std::string_view utf8) {
    std::string out;
    Writer(out).String(utf8);
    return out;
}

std::string MacrosToText(const MacroLibrary& library, const std::vector<MacroPadding>& padding,
                         const std::vector<std::size_t>& which) {
    std::string out;
    std::size_t items = 0;
    for (const Macro& m : library) items += m.items.size();
    out.reserve(256 + library.size() * 700 + items * 80);
    out += "{\n  \"format\": \"";
    out += kTextFormatName;
    out += "\",\n  \"version\": ";
    out += std::to_string(kTextFormatVersion);
    out += ",\n  \"macros\": [";
    bool first = true;
    const auto write = [&](std::size_t i) {
        if (i >= library.size()) return;
        out += first ? "\n" : ",\n";
        first = false;
        const MacroPadding* p = i < padding.size() && !padding[i].empty() ? &padding[i] : nullptr;
        WriteMacro(out, library[i], p);
    };
    if (which.empty()) {
        for (std::size_t i = 0; i < library.size(); ++i) write(i);
    } else {
        for (std::size_t i : which) write(i);
    }
    out += first ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

} // namespace quillet
