#include "model/text_format.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <optional>
#include <stdexcept>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "model/cp949.h"
#include "model/key_table.h"

namespace quillet {

namespace {

// ---------------------------------------------------------------------------------------------------------------
// Padding: the bytes of the stored form that no field holds

// Where the byte after a name of `size` bytes may differ from zero: after its NUL, or at byte 255 of a name that
// fills the buffer without one.
uint32_t NameTailStart(std::size_t size) {
    return static_cast<uint32_t>(std::min<std::size_t>(size + 1, kNameMax));
}

// Offset ranges [begin, end) of a macro record that no field holds.
std::vector<std::pair<uint32_t, uint32_t>> MacroPaddingRanges(const Macro& m) {
    return {{NameTailStart(m.name.size()), 256}, {296 + NameTailStart(m.imagePath.size()), 552}};
}

// The same for an item record and the bytes that follow it.
std::vector<std::pair<uint32_t, uint32_t>> ItemPaddingRanges(const MacroItem& item) {
    if (item.type == ItemString) return {{4, 8}, {16, 24}};
    if (item.type == ItemCall)
        return {{4, 16}, {20, 24}, {24 + NameTailStart(item.calledName().size()), 24 + kCalledNameSize}};
    return {{4, 8}, {20, 24}};
}

std::size_t ItemStoredSize(const MacroItem& item) {
    if (item.type == ItemString) return kItemRecordSize + item.text().size();
    if (item.type == ItemCall) return kItemRecordSize + kCalledNameSize;
    return kItemRecordSize;
}

bool RunsFit(const std::vector<PaddingRun>& runs, const std::vector<std::pair<uint32_t, uint32_t>>& ranges) {
    for (const PaddingRun& run : runs) {
        for (std::size_t k = 0; k < run.bytes.size(); ++k) {
            const uint64_t at = uint64_t{run.offset} + k;
            const bool inside = std::any_of(ranges.begin(), ranges.end(),
                                            [&](const auto& r) { return at >= r.first && at < r.second; });
            if (!inside) return false;
        }
    }
    return true;
}

// Runs of bytes where actual differs from canonical (both the same size).
std::vector<PaddingRun> DiffRuns(std::string_view actual, std::string_view canonical) {
    std::vector<PaddingRun> runs;
    if (actual == canonical) return runs;
    std::size_t i = 0;
    while (i < actual.size()) {
        if (actual[i] == canonical[i]) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < actual.size() && actual[j] != canonical[j]) ++j;
        runs.push_back({static_cast<uint32_t>(i), std::string(actual.substr(i, j - i))});
        i = j;
    }
    return runs;
}

// ---------------------------------------------------------------------------------------------------------------
// Readable text

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Replaces malformed UTF-8 by U+FFFD (Cp949ToUtf8 gives valid UTF-8; this keeps the text JSON even if it did not).
std::string ValidUtf8(std::string s) {
    std::string out;
    std::size_t i = 0;
    bool changed = false;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80                   ? 1
                        : (c >= 0xC2 && c <= 0xDF) ? 2
                        : (c >= 0xE0 && c <= 0xEF) ? 3
                        : (c >= 0xF0 && c <= 0xF4) ? 4
                                                   : 0;
        bool ok = n > 0 && i + n <= s.size();
        for (std::size_t k = 1; ok && k < n; ++k) ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (ok) {
            out.append(s, i, n);
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
            changed = true;
        }
    }
    return changed ? out : s;
}

// The UTF-8 form of CP949 bytes, and whether it converts back to exactly those bytes.
std::pair<std::string, bool> Readable(std::string_view cp949) {
    if (IsAscii(cp949)) return {std::string(cp949), true};
    std::string utf8 = ValidUtf8(Cp949ToUtf8(cp949));
    const bool exact = Utf8ToCp949(utf8) == cp949;
    return {std::move(utf8), exact};
}

const char kHex[] = "0123456789abcdef";

std::string Hex(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        out += kHex[u >> 4];
        out += kHex[u & 15];
    }
    return out;
}

std::optional<std::string> Unhex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

// ---------------------------------------------------------------------------------------------------------------
// Bit names

struct BitName {
    int bit;
    const char* name;
};

// Macro::flags bits 0..7 and 12..15 (8..11 are the time forms, 16..31 the repeat count).
constexpr uint32_t kMacroFlagMask = 0x0000F0FF;
const std::vector<BitName> kMacroFlagNames = {{1, "autoStart"},     {2, "startKey"},    {3, "timeWindow"},
                                              {4, "startColor"},    {5, "stopKey"},     {6, "stopColor"},
                                              {7, "colorOnChange"}, {12, "startImage"}, {13, "imageOnChange"}};
// KeyCondition bits besides the key code.
constexpr uint32_t kKeyBitsMask = 0xFFFFFF00;
const std::vector<BitName> kKeyBitNames = {
    {16, "release"}, {17, "ctrl"}, {18, "alt"}, {19, "shift"}, {20, "exactModifiers"}};
// imageOptions bits besides the threshold.
constexpr uint32_t kImageFlagMask = 0xFFFF0000;
const std::vector<BitName> kImageFlagNames = {{16, "moveMouse"}};
const std::vector<BitName> kKeyActionNames = {{0, "press"}, {1, "release"}, {4, "hangul"}, {5, "extended"}};
// mouseFlags bits 0..15 (16..31 are mouseData).
constexpr uint32_t kMouseFlagMask = 0x0000FFFF;
const std::vector<BitName> kMouseFlagNames = {{0, "move"},    {1, "leftDown"},   {2, "leftUp"},   {3, "rightDown"},
                                              {4, "rightUp"}, {5, "middleDown"}, {6, "middleUp"}, {7, "xDown"},
                                              {8, "xUp"},     {9, "normalized"}, {11, "wheel"},   {15, "absolute"}};
const std::vector<BitName> kTextFlagNames = {{0, "random"}, {1, "sequence"}, {4, "comment"}};

const char* const kItemTypeNames[] = {"start", "key", "mouse", "delay", "string", "call", "exclusive", "loop"};
const char* const kCallModeNames[] = {"sequential", "parallel", "stop"};
const char* const kLoopKindNames[] = {"enter", "outputKeys", "outputX", "outputY", nullptr, nullptr, nullptr, "leave"};

const char* BitNameOf(const std::vector<BitName>& names, int bit) {
    for (const BitName& b : names)
        if (b.bit == bit) return b.name;
    return nullptr;
}

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
        const int form = (item.delayKind() >> 1) & 3;
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

// ---------------------------------------------------------------------------------------------------------------
// Reading: a refusal names the path of the value it is about; the position is looked up only then.

struct PathStep {
    bool isKey = true;
    std::string key;
    std::size_t index = 0;
};

struct Refusal {
    std::vector<PathStep> path;
    bool atKey = false; // the member's name rather than its value
    std::string message;
};

// The path of the value being read. Names are views (of literals, or of the document's pool) while reading; a
// refusal copies them.
class Reader {
public:
    [[noreturn]] void Refuse(std::string message, bool atKey = false) const {
        Refusal refusal{{}, atKey, std::move(message)};
        for (const Step& step : path_) refusal.path.push_back({step.isKey, std::string(step.key), step.index});
        throw refusal;
    }
    // Runs fn with key/index appended to the path.
    template <typename Fn> auto At(std::string_view key, Fn&& fn) {
        path_.push_back({true, key, 0});
        struct Pop {
            std::vector<Step>& p;
            ~Pop() { p.pop_back(); }
        } pop{path_};
        return fn();
    }
    template <typename Fn> auto At(std::size_t index, Fn&& fn) {
        path_.push_back({false, {}, index});
        struct Pop {
            std::vector<Step>& p;
            ~Pop() { p.pop_back(); }
        } pop{path_};
        return fn();
    }

private:
    struct Step {
        bool isKey;
        std::string_view key;
        std::size_t index;
    };
    std::vector<Step> path_;
};

// The parsed text: nlohmann::json's parser feeds a compact tree (one array of small nodes, the strings in one pool).
// The elements of the root's "macros" list are handed on as soon as each is complete and then dropped, so the tree
// never holds more than the top level and one macro: a large text costs little more memory than its macros.
class Doc {
public:
    enum class Kind : uint8_t { Null, Bool, Int, UInt, Float, String, Array, Object };
    struct Node {
        Kind kind = Kind::Null;
        bool boolean = false;
        uint32_t keyOffset = 0, keyLength = 0; // the member's name, in an object
        union {
            struct {
                uint32_t offset, length; // String, Float: the text; Array, Object: children[offset..offset+length)
            } span;
            int64_t integer;          // Int
            uint64_t unsignedInteger; // UInt
        };
        Node() : span{0, 0} {}
    };
    std::vector<Node> nodes;
    std::vector<uint32_t> children;
    std::string pool;

    std::string_view Text(uint32_t offset, uint32_t length) const {
        return std::string_view(pool).substr(offset, length);
    }
};

class Value;

class DocBuilder final : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit DocBuilder(Doc& doc) : doc_(doc) {}

    // Called with each element of the root's "macros" list (any kind of value) and its index; may throw.
    std::function<void(uint32_t node, std::size_t index)> onMacro;
    std::size_t macrosHandedOn = 0;
    std::optional<uint32_t> formatNode, versionNode; // the root's "format" and "version" once read

    std::string error;         // nlohmann's message, when the text is not JSON
    std::size_t errorByte = 0; // 1-based byte at which it stopped

    bool null() override { return Scalar(Doc::Kind::Null); }
    bool boolean(bool v) override {
        Add(Doc::Kind::Bool).boolean = v;
        return Done();
    }
    bool number_integer(number_integer_t v) override {
        Add(Doc::Kind::Int).integer = v;
        return Done();
    }
    bool number_unsigned(number_unsigned_t v) override {
        Add(Doc::Kind::UInt).unsignedInteger = v;
        return Done();
    }
    bool number_float(number_float_t, const string_t& text) override {
        Doc::Node& n = Add(Doc::Kind::Float);
        Store(text, n.span.offset, n.span.length);
        return Done();
    }
    bool string(string_t& v) override {
        Doc::Node& n = Add(Doc::Kind::String);
        Store(v, n.span.offset, n.span.length);
        return Done();
    }
    bool binary(binary_t&) override { return Scalar(Doc::Kind::Null); }
    bool start_object(std::size_t) override { return Open(Doc::Kind::Object); }
    bool start_array(std::size_t) override { return Open(Doc::Kind::Array); }
    bool key(string_t& k) override {
        Store(k, keyOffset_, keyLength_);
        return true;
    }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) override {
        error = e.what();
        errorByte = position;
        return false;
    }

private:
    std::string_view Key() const { return doc_.Text(keyOffset_, keyLength_); }
    void Store(const std::string& text, uint32_t& offset, uint32_t& length) {
        offset = static_cast<uint32_t>(doc_.pool.size());
        length = static_cast<uint32_t>(text.size());
        doc_.pool += text;
    }
    Doc::Node& Add(Doc::Kind kind) {
        const auto index = static_cast<uint32_t>(doc_.nodes.size());
        if (!open_.empty() && open_.back().first == streamed_) {
            marks_ = {doc_.children.size(), doc_.pool.size()}; // what a macro adds is dropped after it
        }
        Doc::Node& n = doc_.nodes.emplace_back();
        n.kind = kind;
        last_ = index;
        if (!open_.empty()) {
            if (doc_.nodes[open_.back().first].kind == Doc::Kind::Object) {
                n.keyOffset = keyOffset_;
                n.keyLength = keyLength_;
                if (open_.size() == 1 && Key() == "format") formatNode = index;
                if (open_.size() == 1 && Key() == "version") versionNode = index;
            }
            pending_.push_back(index);
        }
        return n;
    }
    bool Scalar(Doc::Kind kind) {
        Add(kind);
        return Done();
    }
    // After a value is complete: an element of the streamed list is handed on and dropped.
    bool Done() {
        if (open_.empty() || open_.back().first != streamed_) return true;
        const uint32_t index = last_;
        if (onMacro) onMacro(index, macrosHandedOn);
        ++macrosHandedOn;
        pending_.pop_back();
        doc_.nodes.resize(index);
        doc_.children.resize(marks_.first);
        doc_.pool.resize(marks_.second);
        return true;
    }
    bool Open(Doc::Kind kind) {
        const bool macros = kind == Doc::Kind::Array && open_.size() == 1 &&
                            doc_.nodes[open_.back().first].kind == Doc::Kind::Object && Key() == "macros";
        Add(kind);
        const auto index = static_cast<uint32_t>(doc_.nodes.size() - 1);
        open_.emplace_back(index, pending_.size());
        if (macros) streamed_ = index;
        return true;
    }
    bool Close() {
        const auto [index, start] = open_.back();
        open_.pop_back();
        Doc::Node& n = doc_.nodes[index];
        n.span.offset = static_cast<uint32_t>(doc_.children.size());
        n.span.length = static_cast<uint32_t>(pending_.size() - start);
        doc_.children.insert(doc_.children.end(), pending_.begin() + static_cast<std::ptrdiff_t>(start),
                             pending_.end());
        pending_.resize(start);
        if (index == streamed_) streamed_ = kNone;
        last_ = index;
        return Done();
    }

    static constexpr uint32_t kNone = 0xFFFFFFFF;
    Doc& doc_;
    std::vector<std::pair<uint32_t, std::size_t>> open_; // open containers and where their children start in pending_
    std::vector<uint32_t> pending_;                      // children of the open containers, in order
    uint32_t keyOffset_ = 0, keyLength_ = 0;
    uint32_t streamed_ = kNone; // the root's "macros" list while it is open
    uint32_t last_ = 0;         // the value completed last
    std::pair<std::size_t, std::size_t> marks_{0, 0};
};

// A value of the document, with the little of nlohmann::json's interface that the reader uses.
class Value {
public:
    Value(const Doc& doc, uint32_t index) : doc_(&doc), index_(index) {}

    Doc::Kind kind() const { return node().kind; }
    bool is_object() const { return kind() == Doc::Kind::Object; }
    bool is_array() const { return kind() == Doc::Kind::Array; }
    bool is_string() const { return kind() == Doc::Kind::String; }
    bool is_boolean() const { return kind() == Doc::Kind::Bool; }
    bool is_number_unsigned() const { return kind() == Doc::Kind::UInt; }
    bool is_number_integer() const { return kind() == Doc::Kind::Int || kind() == Doc::Kind::UInt; }
    template <typename T> T get() const {
        if constexpr (std::is_same_v<T, bool>)
            return node().boolean;
        else if constexpr (std::is_same_v<T, uint64_t>)
            return node().unsignedInteger;
        else
            return kind() == Doc::Kind::UInt ? static_cast<int64_t>(node().unsignedInteger) : node().integer;
    }
    std::string_view text() const { return doc_->Text(node().span.offset, node().span.length); }
    std::size_t size() const { return is_array() || is_object() ? node().span.length : 0; }
    Value operator[](std::size_t k) const { return Value(*doc_, doc_->children[node().span.offset + k]); }
    std::string_view key(std::size_t k) const {
        const Doc::Node& child = doc_->nodes[doc_->children[node().span.offset + k]];
        return doc_->Text(child.keyOffset, child.keyLength);
    }
    std::optional<Value> find(std::string_view name) const {
        for (std::size_t k = 0; k < size(); ++k)
            if (key(k) == name) return (*this)[k];
        return std::nullopt;
    }

private:
    const Doc::Node& node() const { return doc_->nodes[index_]; }
    const Doc* doc_;
    uint32_t index_;
};

using Json = Value;

std::string Quote(std::string_view text) {
    std::string out;
    Writer(out).String(text);
    return out;
}

std::string Describe(const Json& v) {
    switch (v.kind()) {
    case Doc::Kind::Null:
        return "null";
    case Doc::Kind::Bool:
        return v.get<bool>() ? "true" : "false";
    case Doc::Kind::Int:
        return "the number " + std::to_string(v.get<int64_t>());
    case Doc::Kind::UInt:
        return "the number " + std::to_string(v.get<uint64_t>());
    case Doc::Kind::Float:
        return "the number " + std::string(v.text());
    case Doc::Kind::String: {
        std::string s(v.text());
        if (s.size() > 40) s = ValidUtf8(s.substr(0, 40)) + "...";
        return "the string " + Quote(s);
    }
    case Doc::Kind::Array:
        return "a list";
    case Doc::Kind::Object:
        return "an object";
    }
    return "something else";
}

// An object of the schema: its members are checked against the allowed names when it is opened.
class Object {
public:
    Object(Reader& r, const Json& v, const char* what, std::initializer_list<const char*> allowed) : r_(r), v_(v) {
        if (!v.is_object()) r.Refuse(std::string("expected ") + what + " (an object), found " + Describe(v));
        for (std::size_t k = 0; k < v.size(); ++k) {
            const std::string_view key = v.key(k);
            if (std::none_of(allowed.begin(), allowed.end(), [&](const char* a) { return key == a; })) {
                std::string list;
                for (const char* a : allowed) list += (list.empty() ? "" : ", ") + std::string(a);
                r.At(key, [&] {
                    r.Refuse("unknown member \"" + std::string(key) + "\" in " + what + "; expected one of: " + list,
                             true);
                });
            }
        }
    }
    std::optional<Json> Find(const char* key) const { return v_.find(key); }
    bool Has(const char* key) const { return Find(key).has_value(); }
    Json Need(const char* key, const char* what) const {
        const std::optional<Json> v = Find(key);
        if (!v) r_.Refuse(std::string("missing member \"") + key + "\" (" + what + ")");
        return *v;
    }
    Reader& reader() const { return r_; }

private:
    Reader& r_;
    Json v_;
};

int64_t IntIn(Reader& r, const Json& v, int64_t lo, int64_t hi) {
    const auto refuse = [&] {
        r.Refuse("expected an integer from " + std::to_string(lo) + " to " + std::to_string(hi) + ", found " +
                 Describe(v));
    };
    if (v.is_number_unsigned()) {
        const auto x = v.get<uint64_t>();
        if (x > static_cast<uint64_t>(hi)) refuse();
        return static_cast<int64_t>(x);
    }
    if (!v.is_number_integer()) refuse();
    const auto x = v.get<int64_t>();
    if (x < lo || x > hi) refuse();
    return x;
}

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// An optional integer member (default when absent).
int64_t IntMember(const Object& o, const char* key, int64_t lo, int64_t hi, int64_t def = 0) {
    const std::optional<Json> v = o.Find(key);
    if (!v) return def;
    return o.reader().At(key, [&] { return IntIn(o.reader(), *v, lo, hi); });
}
int32_t Int32Member(const Object& o, const char* key, int32_t def = 0) {
    return static_cast<int32_t>(IntMember(o, key, kInt32Min, kInt32Max, def));
}

std::string StringIn(Reader& r, const Json& v, const char* what) {
    if (!v.is_string()) r.Refuse(std::string("expected ") + what + " (a string), found " + Describe(v));
    return std::string(v.text());
}

std::string NamesOf(const std::vector<BitName>& names, uint32_t mask) {
    std::string list;
    for (const BitName& b : names)
        if ((mask & (uint32_t{1} << b.bit)) != 0) list += (list.empty() ? "" : ", ") + std::string(b.name);
    return list;
}

// A list of bit names (or "bitN") within mask.
uint32_t BitsMember(const Object& o, const char* key, uint32_t mask, const std::vector<BitName>& names) {
    const std::optional<Json> v = o.Find(key);
    if (!v) return 0;
    Reader& r = o.reader();
    return r.At(key, [&] {
        if (!v->is_array()) r.Refuse("expected a list of bit names, found " + Describe(*v));
        uint32_t bits = 0;
        for (std::size_t i = 0; i < v->size(); ++i) {
            r.At(i, [&] {
                const std::string& name = StringIn(r, (*v)[i], "a bit name");
                int bit = -1;
                for (const BitName& b : names)
                    if ((mask & (uint32_t{1} << b.bit)) != 0 && name == b.name) bit = b.bit;
                if (bit < 0 && name.size() > 3 && name.compare(0, 3, "bit") == 0) {
                    int n = -1;
                    const auto res = std::from_chars(name.data() + 3, name.data() + name.size(), n);
                    if (res.ec == std::errc() && res.ptr == name.data() + name.size() && n >= 0 && n < 32 &&
                        (mask & (uint32_t{1} << n)) != 0 && name == "bit" + std::to_string(n))
                        bit = n;
                }
                if (bit < 0) {
                    const std::string known = NamesOf(names, mask);
                    r.Refuse("unknown bit \"" + name + "\"; expected " + (known.empty() ? "" : known + ", or ") +
                             "bitN for another bit of this field");
                }
                bits |= uint32_t{1} << bit;
            });
        }
        return bits;
    });
}

// CP949 bytes of a readable text member, or of its raw "Bytes" twin when present (which wins).
std::string TextMember(const Object& o, const char* key, const char* bytesKey, std::size_t maxBytes, bool required,
                       const char* what) {
    Reader& r = o.reader();
    const std::optional<Json> readable = o.Find(key);
    const std::optional<Json> raw = o.Find(bytesKey);
    if (!readable && !raw) {
        if (required) o.Need(key, what);
        return {};
    }
    std::string bytes;
    if (readable) {
        r.At(key, [&] {
            const std::string& utf8 = StringIn(r, *readable, what);
            if (raw) return; // the raw bytes win; the readable text only shows them
            if (IsAscii(utf8)) {
                bytes = utf8;
            } else {
                bytes = Utf8ToCp949(utf8);
                if (Cp949ToUtf8(bytes) != utf8)
                    r.Refuse("the text has characters that CP949 (the library's encoding) cannot hold; give the bytes "
                             "in \"" +
                             std::string(bytesKey) + "\" instead");
            }
        });
    }
    if (raw) {
        r.At(bytesKey, [&] {
            const std::optional<std::string> decoded = Unhex(StringIn(r, *raw, "hexadecimal bytes"));
            if (!decoded) r.Refuse("expected hexadecimal bytes (two digits per byte)");
            bytes = *decoded;
        });
    }
    const char* sizeKey = raw ? bytesKey : key;
    if (bytes.size() > maxBytes)
        r.At(sizeKey, [&] {
            r.Refuse("at most " + std::to_string(maxBytes) + " bytes in CP949, found " + std::to_string(bytes.size()));
        });
    if (maxBytes == kNameMax && bytes.find('\0') != std::string::npos)
        r.At(sizeKey, [&] { r.Refuse("a name cannot hold a NUL byte"); });
    return bytes;
}

int KeyCodeOfName(const std::string& name) {
    for (int i = 0; i < kKeyRowCount; ++i)
        if (name == kKeyTable[i].longName) return kKeyTable[i].code;
    return -1;
}

// A key object: {"code", "name"} (one of the two, or both agreeing), and "bits" where allowed.
int32_t KeyObject(Reader& r, const Json& v, bool withBits) {
    const Object o =
        withBits ? Object(r, v, "a key condition", {"code", "name", "bits"}) : Object(r, v, "a key", {"code", "name"});
    const std::optional<Json> code = o.Find("code");
    const std::optional<Json> name = o.Find("name");
    if (!code && !name) o.Need("code", "the key's code, or its name");
    int32_t value = code ? static_cast<int32_t>(IntMember(o, "code", 0, 255)) : -1;
    if (name) {
        r.At("name", [&] {
            const std::string& n = StringIn(r, *name, "a key name");
            const int byName = KeyCodeOfName(n);
            if (byName < 0) r.Refuse("unknown key name \"" + n + "\"; give the code for keys without a name");
            if (value >= 0 && value != byName)
                r.Refuse("the name \"" + n + "\" is key code " + std::to_string(byName) + " but \"code\" says " +
                         std::to_string(value) + " (" + KeyLongName(value) + ")");
            value = byName;
        });
    }
    if (withBits) value |= static_cast<int32_t>(BitsMember(o, "bits", kKeyBitsMask, kKeyBitNames));
    return value;
}

int32_t KeyMember(const Object& o, const char* key, bool withBits) {
    const std::optional<Json> v = o.Find(key);
    if (!v) return 0;
    return o.reader().At(key, [&] { return KeyObject(o.reader(), *v, withBits); });
}

int32_t PointMember(const Object& o, const char* key) {
    const std::optional<Json> v = o.Find(key);
    if (!v) return 0;
    Reader& r = o.reader();
    return r.At(key, [&] {
        const Object p(r, *v, "a point", {"x", "y"});
        return PackPoint(static_cast<int32_t>(IntMember(p, "x", -32768, 32767)),
                         static_cast<int32_t>(IntMember(p, "y", -32768, 32767)));
    });
}

// A colour object; otherBits (bits 24..31) only where allowed.
int32_t ColorMember(const Object& o, const char* key, bool withOther) {
    const std::optional<Json> v = o.Find(key);
    if (!v) return 0;
    Reader& r = o.reader();
    return r.At(key, [&] {
        const Object c = withOther ? Object(r, *v, "a colour", {"red", "green", "blue", "otherBits"})
                                   : Object(r, *v, "a colour", {"red", "green", "blue"});
        uint32_t value = static_cast<uint32_t>(MakeColor(static_cast<int>(IntMember(c, "red", 0, 255)),
                                                         static_cast<int>(IntMember(c, "green", 0, 255)),
                                                         static_cast<int>(IntMember(c, "blue", 0, 255))));
        if (withOther) {
            const int64_t other = IntMember(c, "otherBits", 0, 0xFF000000);
            if ((other & 0x00FFFFFF) != 0)
                r.At("otherBits", [&] { r.Refuse("otherBits may hold only bits 24..31 (multiples of 16777216)"); });
            value |= static_cast<uint32_t>(other);
        }
        return static_cast<int32_t>(value);
    });
}

// Parses "SS", "MM:SS" or "HH:MM:SS" (one or two digits each); the form is the number of parts. Nothing when
// malformed or out of range.
std::optional<std::pair<int, int64_t>> ParseClock(const std::string& text) {
    static const int64_t kLimits[] = {24, 60, 60};
    std::vector<int64_t> parts;
    std::size_t i = 0;
    for (;;) {
        std::size_t j = i;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
        if (j == i || j - i > 2 || parts.size() == 3) return std::nullopt;
        parts.push_back(std::stoi(text.substr(i, j - i)));
        if (j == text.size()) break;
        if (text[j] != ':') return std::nullopt;
        i = j + 1;
    }
    const int count = static_cast<int>(parts.size());
    int64_t seconds = 0;
    for (int k = 0; k < count; ++k) {
        if (parts[static_cast<std::size_t>(k)] >= kLimits[3 - count + k]) return std::nullopt;
        seconds = seconds * 60 + parts[static_cast<std::size_t>(k)];
    }
    return std::make_pair(count, seconds);
}

// A time of day with its form: {"form", valueKey, "clock"}; the clock text and the number must agree when both
// are given. scale: 1 for seconds, 1000 for milliseconds.
std::pair<int, int32_t> TimeObject(const Object& o, const char* valueKey, int64_t scale, bool formFromClock) {
    Reader& r = o.reader();
    const std::optional<Json> formV = o.Find("form");
    int form = static_cast<int>(IntMember(o, "form", 0, 3));
    const std::optional<Json> valueV = o.Find(valueKey);
    int64_t value = IntMember(o, valueKey, kInt32Min, kInt32Max);
    if (const std::optional<Json> clockV = o.Find("clock")) {
        r.At("clock", [&] {
            const std::string& text = StringIn(r, *clockV, "a clock time such as \"13:05:09\", \"05:09\" or \"09\"");
            const auto parsed = ParseClock(text);
            if (!parsed)
                r.Refuse("expected a clock time such as \"13:05:09\", \"05:09\" or \"09\", found \"" + text + "\"");
            if (!formV && formFromClock) form = parsed->first;
            if (parsed->first != form)
                r.Refuse("the clock time \"" + text + "\" does not have the " + std::to_string(form) +
                         " parts that form " + std::to_string(form) + " has");
            const int64_t fromClock = parsed->second * scale;
            if (valueV && fromClock != value)
                r.Refuse("the clock time \"" + text + "\" is " + std::to_string(fromClock) + " but \"" + valueKey +
                         "\" says " + std::to_string(value));
            value = fromClock;
        });
    }
    return {form, static_cast<int32_t>(value)};
}

void PaddingMember(const Object& o, std::vector<PaddingRun>& out) {
    const std::optional<Json> v = o.Find("padding");
    if (!v) return;
    Reader& r = o.reader();
    r.At("padding", [&] {
        if (!v->is_object()) r.Refuse("expected padding bytes by offset (an object), found " + Describe(*v));
        for (std::size_t k = 0; k < v->size(); ++k) {
            const std::string key((*v).key(k));
            const Json value = (*v)[k];
            uint32_t offset = 0;
            const auto res = std::from_chars(key.data(), key.data() + key.size(), offset);
            if (res.ec != std::errc() || res.ptr != key.data() + key.size() || key.empty() ||
                (key.size() > 1 && key[0] == '0'))
                r.At(key, [&] { r.Refuse("expected a byte offset (a decimal number) as the member name", true); });
            r.At(key, [&] {
                const std::optional<std::string> bytes = Unhex(StringIn(r, value, "hexadecimal bytes"));
                if (!bytes || bytes->empty()) r.Refuse("expected hexadecimal bytes (two digits per byte)");
                out.push_back({offset, *bytes});
            });
        }
        std::sort(out.begin(), out.end(), [](const PaddingRun& a, const PaddingRun& b) { return a.offset < b.offset; });
    });
}

void CheckPadding(Reader& r, const std::vector<PaddingRun>& runs,
                  const std::vector<std::pair<uint32_t, uint32_t>>& ranges) {
    if (RunsFit(runs, ranges)) return;
    std::string list;
    for (const auto& [b, e] : ranges)
        list += (list.empty() ? "" : ", ") + std::to_string(b) + ".." + std::to_string(e - 1);
    r.At("padding", [&] { r.Refuse("padding may only cover the bytes no field holds: offsets " + list); });
}

int NamedValue(Reader& r, const Json& v, const char* const* names, int count, int64_t lo, int64_t hi,
               const char* what) {
    if (v.is_string()) {
        const std::string s(v.text());
        for (int i = 0; i < count; ++i)
            if (names[i] != nullptr && s == names[i]) return i;
        std::string list;
        for (int i = 0; i < count; ++i)
            if (names[i] != nullptr) list += (list.empty() ? "" : ", ") + std::string(names[i]);
        r.Refuse(std::string("unknown ") + what + " \"" + s + "\"; expected one of: " + list + ", or a number");
    }
    return static_cast<int>(IntIn(r, v, lo, hi));
}

void UnusedWords(const Object& o, MacroItem& item, std::initializer_list<int> words) {
    static const char* const names[] = {"word8", "word12", "word16"};
    for (int w : words) item.param[static_cast<std::size_t>(w)] = Int32Member(o, names[w]);
}

void ReadParams(const Object& o, MacroItem& item) {
    const std::optional<Json> v = o.Find("params");
    if (!v) return;
    Reader& r = o.reader();
    r.At("params", [&] {
        if (!v->is_array() || v->size() != 3)
            r.Refuse("expected the three parameter words (a list of three integers), found " + Describe(*v));
        for (std::size_t i = 0; i < 3; ++i)
            r.At(i, [&] { item.param[i] = static_cast<int32_t>(IntIn(r, (*v)[i], kInt32Min, kInt32Max)); });
    });
}

MacroItem ReadItem(Reader& r, const Json& v, std::vector<PaddingRun>& padding) {
    if (!v.is_object()) r.Refuse("expected an item (an object), found " + Describe(v));
    const std::optional<Json> typeV = v.find("type");
    if (!typeV) {
        const Object any(r, v, "an item", {"type"});
        any.Need("type", "the item's type");
    }
    const int type =
        r.At("type", [&] { return NamedValue(r, *typeV, kItemTypeNames, 8, kInt32Min, kInt32Max, "item type"); });
    MacroItem item;
    item.type = type;
    const auto u = [](int64_t x) { return static_cast<int32_t>(static_cast<uint32_t>(x)); };
    switch (type) {
    case ItemStart: {
        const Object o(r, v, "a start item", {"type", "params", "padding"});
        ReadParams(o, item);
        PaddingMember(o, padding);
        break;
    }
    case ItemKey: {
        const Object o(r, v, "a key item", {"type", "key", "scanCode", "otherBits", "action", "word16", "padding"});
        const int32_t code = KeyMember(o, "key", false);
        const int64_t scan = IntMember(o, "scanCode", 0, 255);
        const int64_t other = IntMember(o, "otherBits", 0, 0xFFFFFFFF);
        if ((other & 0xFFFF) != 0) r.At("otherBits", [&] { r.Refuse("otherBits may hold only bits 16..31"); });
        item.setKeyCode(u(code | (scan << 8) | other));
        item.setKeyAction(u(BitsMember(o, "action", 0xFFFFFFFFu, kKeyActionNames)));
        UnusedWords(o, item, {2});
        PaddingMember(o, padding);
        break;
    }
    case ItemMouse: {
        const Object o(r, v, "a mouse item", {"type", "x", "y", "flags", "data", "padding"});
        item.setMouseX(Int32Member(o, "x"));
        item.setMouseY(Int32Member(o, "y"));
        const uint32_t flags = BitsMember(o, "flags", kMouseFlagMask, kMouseFlagNames);
        const int64_t data = IntMember(o, "data", -32768, 32767);
        item.setMouseFlags(u(flags | (static_cast<uint32_t>(data) << 16)));
        PaddingMember(o, padding);
        break;
    }
    case ItemDelay: {
        const Object o(r, v, "a delay item",
                       {"type", "kind", "form", "otherBits", "ms", "random", "clock", "key", "color", "tolerance",
                        "position", "word8", "word16", "padding"});
        static const char* const kinds[] = {"time", "clock", "key", "color"};
        static const int32_t kindValues[] = {DelayTime, DelayClock, DelayKey, DelayColor};
        const Json kindV = o.Need("kind", "time, clock, key or color");
        const int32_t kind = r.At("kind", [&]() -> int32_t {
            if (kindV.is_string()) return kindValues[NamedValue(r, kindV, kinds, 4, 0, 0, "delay kind")];
            const int32_t k = static_cast<int32_t>(IntIn(r, kindV, 0, 0xF1));
            if ((k & ~DelayKindMask) != 0) r.Refuse("a delay kind number has only the bits of 0xF1 (241)");
            return k;
        });
        const int64_t other = IntMember(o, "otherBits", 0, 0xFFFFFFFF);
        if ((other & 0xF7) != 0)
            r.At("otherBits", [&] { r.Refuse("otherBits may hold only bit 3 and bits 8..31 of the delay kind"); });
        int form = static_cast<int>(IntMember(o, "form", 0, 3));
        switch (kind) {
        case DelayTime:
            item.setDelayValue(Int32Member(o, "ms"));
            item.setDelayExtra(Int32Member(o, "random"));
            break;
        case DelayClock: {
            const auto [f, ms] = TimeObject(o, "ms", 1000, true);
            form = f;
            item.setDelayValue(ms);
            UnusedWords(o, item, {2});
            break;
        }
        case DelayKey:
            item.setDelayValue(KeyMember(o, "key", true));
            UnusedWords(o, item, {2});
            break;
        case DelayColor: {
            const int32_t color = ColorMember(o, "color", false);
            const int64_t tolerance = IntMember(o, "tolerance", 0, 255);
            item.setDelayValue(u(static_cast<uint32_t>(color) | (static_cast<uint32_t>(tolerance) << 24)));
            item.setDelayExtra(PointMember(o, "position"));
            break;
        }
        default:
            UnusedWords(o, item, {0, 2});
        }
        // Members of other kinds are refused rather than dropped.
        const auto onlyFor = [&](const char* key, std::initializer_list<int32_t> kindsOfKey) {
            if (o.Has(key) && std::find(kindsOfKey.begin(), kindsOfKey.end(), kind) == kindsOfKey.end())
                r.At(key,
                     [&] { r.Refuse(std::string("\"") + key + "\" does not belong to this kind of delay", true); });
        };
        onlyFor("ms", {DelayTime, DelayClock});
        onlyFor("random", {DelayTime});
        onlyFor("clock", {DelayClock});
        onlyFor("key", {DelayKey});
        onlyFor("color", {DelayColor});
        onlyFor("tolerance", {DelayColor});
        onlyFor("position", {DelayColor});
        if (kind == DelayTime || kind == DelayColor) onlyFor("word16", {});
        if (kind == DelayTime || kind == DelayClock || kind == DelayKey || kind == DelayColor) onlyFor("word8", {});
        item.setDelayKind(u(kind | (form << 1) | other));
        PaddingMember(o, padding);
        break;
    }
    case ItemString: {
        const Object o(r, v, "a text item", {"type", "text", "textBytes", "flags", "padding"});
        const std::string text =
            TextMember(o, "text", "textBytes", static_cast<std::size_t>(kInt32Max), true, "the text");
        item.setText(text);
        item.setTextFlags(u(BitsMember(o, "flags", 0xFFFFFFFFu, kTextFlagNames)));
        PaddingMember(o, padding);
        break;
    }
    case ItemCall: {
        const Object o(r, v, "a call item", {"type", "macro", "macroBytes", "mode", "padding"});
        item.setCalledName(TextMember(o, "macro", "macroBytes", kNameMax, true, "the called macro's name"));
        const Json modeV = o.Need("mode", "sequential, parallel or stop");
        item.setCallMode(
            r.At("mode", [&] { return NamedValue(r, modeV, kCallModeNames, 3, kInt32Min, kInt32Max, "call mode"); }));
        PaddingMember(o, padding);
        break;
    }
    case ItemExclusive: {
        const Object o(r, v, "an exclusive-section item",
                       {"type", "section", "otherBits", "word12", "word16", "padding"});
        static const char* const sections[] = {"leave", "enter"};
        const Json sectionV = o.Need("section", "enter or leave");
        const int enter = r.At("section", [&] { return NamedValue(r, sectionV, sections, 2, 0, 1, "section"); });
        const int64_t other = IntMember(o, "otherBits", 0, 0xFFFFFFFF);
        if ((other & 1) != 0) r.At("otherBits", [&] { r.Refuse("otherBits may hold only bits 1..31"); });
        item.setSectionEnter(u(enter | other));
        UnusedWords(o, item, {1, 2});
        PaddingMember(o, padding);
        break;
    }
    case ItemLoop: {
        const Object o(r, v, "a loop item",
                       {"type", "kind", "askUser", "otherBits", "step", "start", "stop", "padding"});
        const Json kindV = o.Need("kind", "enter, outputKeys, outputX, outputY or leave");
        const int kind = r.At("kind", [&] { return NamedValue(r, kindV, kLoopKindNames, 8, 0, 7, "loop kind"); });
        bool ask = false;
        if (const std::optional<Json> a = o.Find("askUser")) {
            r.At("askUser", [&] {
                if (!a->is_boolean()) r.Refuse("expected true or false, found " + Describe(*a));
                ask = a->get<bool>();
            });
        }
        const int64_t other = IntMember(o, "otherBits", 0, 0xFFF0);
        if ((other & 0xF) != 0) r.At("otherBits", [&] { r.Refuse("otherBits may hold only bits 4..15"); });
        item.setLoopKind(static_cast<int>(kind | (ask ? LoopAskUser : 0) | other));
        item.setLoopStep(static_cast<int>(IntMember(o, "step", -32768, 32767)));
        item.setLoopStart(Int32Member(o, "start"));
        item.setLoopStop(Int32Member(o, "stop"));
        PaddingMember(o, padding);
        break;
    }
    default: {
        const Object o(r, v, "an item of an unknown type", {"type", "params", "padding"});
        ReadParams(o, item);
        PaddingMember(o, padding);
    }
    }
    CheckPadding(r, padding, ItemPaddingRanges(item));
    return item;
}

Macro ReadMacro(Reader& r, const Json& v, MacroPadding& padding) {
    const Object o(r, v, "a macro",
                   {"name",         "nameBytes", "repeatCount",    "flags",          "startKey",       "stopKey",
                    "startTime",    "stopTime",  "startColor",     "stopColor",      "colorTolerance", "startColorPos",
                    "stopColorPos", "imagePath", "imagePathBytes", "imageThreshold", "imageFlags",     "imageRectStart",
                    "imageRectEnd", "padding",   "items"});
    Macro m;
    m.name = TextMember(o, "name", "nameBytes", kNameMax, true, "the macro's name");
    uint32_t flags = BitsMember(o, "flags", kMacroFlagMask, kMacroFlagNames);
    flags |= static_cast<uint32_t>(IntMember(o, "repeatCount", 0, 65535)) << 16;
    m.startKey = KeyMember(o, "startKey", true);
    m.stopKey = KeyMember(o, "stopKey", true);
    const auto time = [&](const char* key, int shift, int32_t& value) {
        const std::optional<Json> t = o.Find(key);
        if (!t) return;
        r.At(key, [&] {
            const Object to(r, *t, "a time of day", {"form", "seconds", "clock"});
            const auto [form, seconds] = TimeObject(to, "seconds", 1, true);
            value = seconds;
            flags |= static_cast<uint32_t>(form) << shift;
        });
    };
    time("startTime", StartTimeFormShift, m.startTime);
    time("stopTime", StopTimeFormShift, m.stopTime);
    m.flags = static_cast<int32_t>(flags);
    m.startColor = ColorMember(o, "startColor", true);
    m.stopColor = ColorMember(o, "stopColor", true);
    m.colorTolerance = Int32Member(o, "colorTolerance", 10);
    m.startColorPos = PointMember(o, "startColorPos");
    m.stopColorPos = PointMember(o, "stopColorPos");
    m.imagePath = TextMember(o, "imagePath", "imagePathBytes", kNameMax, false, "the image file's path");
    const uint32_t threshold = static_cast<uint32_t>(IntMember(o, "imageThreshold", 0, 65535, 95));
    m.imageOptions = static_cast<int32_t>(threshold | BitsMember(o, "imageFlags", kImageFlagMask, kImageFlagNames));
    m.imageRectStart = PointMember(o, "imageRectStart");
    m.imageRectEnd = PointMember(o, "imageRectEnd");
    PaddingMember(o, padding.record);
    CheckPadding(r, padding.record, MacroPaddingRanges(m));

    const Json items = o.Need("items", "the list of items");
    r.At("items", [&] {
        if (!items.is_array()) r.Refuse("expected the list of items, found " + Describe(items));
        m.items.reserve(items.size());
        std::vector<PaddingRun> runs;
        for (std::size_t i = 0; i < items.size(); ++i) {
            runs.clear();
            m.items.push_back(r.At(i, [&] { return ReadItem(r, items[i], runs); }));
            if (!runs.empty()) padding.items.emplace_back(static_cast<uint32_t>(i), runs);
        }
    });
    return m;
}

// ---------------------------------------------------------------------------------------------------------------
// Positions: a second pass over the text finds where the value of a refusal starts.

// An input iterator over the text that remembers how far the parser has read.
class MarkingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    MarkingIterator(const char* p, const char** mark) : p_(p), mark_(mark) {}
    reference operator*() const {
        if (p_ + 1 > *mark_) *mark_ = p_ + 1;
        return *p_;
    }
    MarkingIterator& operator++() {
        ++p_;
        return *this;
    }
    MarkingIterator operator++(int) {
        MarkingIterator old = *this;
        ++p_;
        return old;
    }
    bool operator==(const MarkingIterator& o) const { return p_ == o.p_; }
    bool operator!=(const MarkingIterator& o) const { return p_ != o.p_; }

private:
    const char* p_;
    const char** mark_;
};

class Locator final : public nlohmann::json_sax<nlohmann::json> {
public:
    Locator(std::string_view text, const char* const* mark, const Refusal& target)
        : text_(text), mark_(mark), target_(target) {}

    std::optional<std::size_t> found;

    bool null() override { return Scalar(); }
    bool boolean(bool) override { return Scalar(); }
    bool number_integer(number_integer_t) override { return Scalar(); }
    bool number_unsigned(number_unsigned_t) override { return Scalar(); }
    bool number_float(number_float_t, const string_t&) override { return Scalar(); }
    bool string(string_t&) override { return Scalar(); }
    bool binary(binary_t&) override { return Scalar(); }
    bool start_object(std::size_t) override { return Open(true); }
    bool start_array(std::size_t) override { return Open(false); }
    bool key(string_t& k) override {
        const std::size_t start = TokenStart();
        if (!stack_.empty()) stack_.back().key = k;
        if (target_.atKey && Matches()) found = start;
        Read();
        return !found;
    }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    struct Frame {
        bool object;
        std::string key;
        std::size_t index = 0;
    };

    std::size_t TokenStart() const {
        std::size_t p = prevEnd_;
        while (p < text_.size() && (text_[p] == ' ' || text_[p] == '\t' || text_[p] == '\n' || text_[p] == '\r' ||
                                    text_[p] == ',' || text_[p] == ':'))
            ++p;
        return p;
    }
    void Read() { prevEnd_ = static_cast<std::size_t>(*mark_ - text_.data()); }
    bool Matches() const {
        if (stack_.size() != target_.path.size()) return false;
        for (std::size_t i = 0; i < stack_.size(); ++i) {
            const PathStep& s = target_.path[i];
            if (stack_[i].object != s.isKey) return false;
            if (s.isKey ? stack_[i].key != s.key : stack_[i].index != s.index) return false;
        }
        return true;
    }
    void Next() {
        if (!stack_.empty() && !stack_.back().object) ++stack_.back().index;
    }
    bool Scalar() {
        const std::size_t start = TokenStart();
        if (!target_.atKey && Matches()) found = start;
        Next();
        Read();
        return !found;
    }
    bool Open(bool object) {
        const std::size_t start = TokenStart();
        if (!target_.atKey && Matches()) found = start;
        stack_.push_back({object, {}, 0});
        Read();
        return !found;
    }
    bool Close() {
        if (!stack_.empty()) stack_.pop_back();
        Next();
        Read();
        return true;
    }

    std::string_view text_;
    const char* const* mark_;
    const Refusal& target_;
    std::vector<Frame> stack_;
    std::size_t prevEnd_ = 0;
};

// Line and column (1-based; the column in UTF-8 characters) of a byte offset.
void LineColumn(std::string_view text, std::size_t offset, TextError& error) {
    offset = std::min(offset, text.size());
    int line = 1;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            lineStart = i + 1;
        }
    }
    int column = 1;
    for (std::size_t i = lineStart; i < offset; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++column;
    error.line = line;
    error.column = column;
}

std::size_t LocateRefusal(std::string_view text, const Refusal& refusal) {
    const char* mark = text.data();
    Locator locator(text, &mark, refusal);
    MarkingIterator first(text.data(), &mark), last(text.data() + text.size(), &mark);
    nlohmann::json::sax_parse(first, last, &locator);
    return locator.found.value_or(0);
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------

LoadResult ParseStoredMacros(std::string_view fileBytes, StoredMacros& out) {
    out.padding.clear();
    LoadResult result = ParseMacroLibrary(fileBytes, out.macros);
    if (!result.ok()) return result;
    // The canonical form has the file's layout and differs from it only in the bytes no field holds: each
    // difference is padding.
    const std::string canonical = SerializeMacroLibrary(out.macros);
    if (canonical == fileBytes) return result;
    std::vector<MacroPadding> padding(out.macros.size());
    std::size_t at = 4;
    for (std::size_t i = 0; i < out.macros.size(); ++i) {
        const Macro& m = out.macros[i];
        MacroPadding& p = padding[i];
        const auto diff = [&](std::size_t from, std::size_t size) {
            return DiffRuns(fileBytes.substr(from, size), std::string_view(canonical).substr(from, size));
        };
        p.record = diff(at, kMacroRecordSize);
        at += kMacroRecordSize;
        for (std::size_t k = 0; k < m.items.size(); ++k) {
            const std::size_t size = ItemStoredSize(m.items[k]);
            std::vector<PaddingRun> runs = diff(at, size);
            if (!runs.empty()) p.items.emplace_back(static_cast<uint32_t>(k), std::move(runs));
            at += size;
        }
    }
    out.padding = std::move(padding);
    return result;
}

std::string SerializeStoredMacros(const StoredMacros& stored) {
    std::string bytes = SerializeMacroLibrary(stored.macros);
    if (stored.padding.empty()) return bytes;
    if (stored.padding.size() != stored.macros.size()) throw std::invalid_argument("padding does not match the macros");
    std::size_t at = 4;
    const auto put = [&](std::size_t base, const std::vector<PaddingRun>& runs) {
        for (const PaddingRun& run : runs)
            std::copy(run.bytes.begin(), run.bytes.end(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(base + run.offset));
    };
    for (std::size_t i = 0; i < stored.macros.size(); ++i) {
        const Macro& m = stored.macros[i];
        const MacroPadding& p = stored.padding[i];
        if (!RunsFit(p.record, MacroPaddingRanges(m))) throw std::invalid_argument("padding covers a field");
        put(at, p.record);
        std::size_t itemAt = at + kMacroRecordSize;
        auto next = p.items.begin();
        for (std::size_t k = 0; k < m.items.size(); ++k) {
            if (next != p.items.end() && next->first == k) {
                if (!RunsFit(next->second, ItemPaddingRanges(m.items[k])))
                    throw std::invalid_argument("padding covers a field");
                put(itemAt, next->second);
                ++next;
            }
            itemAt += ItemStoredSize(m.items[k]);
        }
        at = itemAt;
    }
    return bytes;
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

std::string TextError::Describe() const {
    if (line == 0) return message;
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message;
}

bool TextToMacros(std::string_view text, StoredMacros& out, TextError& error) {
    out.macros.clear();
    out.padding.clear();
    error = {};
    Doc doc;
    DocBuilder builder(doc);
    Reader r;
    StoredMacros result;
    std::vector<MacroPadding> padding;
    bool anyPadding = false;
    const auto checkFormat = [&](const Json& v) {
        const std::string format = r.At("format", [&] { return StringIn(r, v, "the format name"); });
        if (format != kTextFormatName)
            r.At("format",
                 [&] { r.Refuse("expected \"" + std::string(kTextFormatName) + "\", found \"" + format + "\""); });
    };
    const auto checkVersion = [&](const Json& v) {
        r.At("version", [&] {
            const int64_t n = IntIn(r, v, 1, std::numeric_limits<int32_t>::max());
            if (n > kTextFormatVersion)
                r.Refuse("version " + std::to_string(n) + " is newer than this program reads (" +
                         std::to_string(kTextFormatVersion) + ")");
        });
    };
    builder.onMacro = [&](uint32_t node, std::size_t index) {
        // A text of another format or a newer version is refused as such, not by its first macro.
        if (index == 0 && builder.formatNode) checkFormat(Json(doc, *builder.formatNode));
        if (index == 0 && builder.versionNode) checkVersion(Json(doc, *builder.versionNode));
        MacroPadding p;
        result.macros.push_back(
            r.At("macros", [&] { return r.At(index, [&] { return ReadMacro(r, Json(doc, node), p); }); }));
        anyPadding = anyPadding || !p.empty();
        padding.push_back(std::move(p));
    };
    try {
        nlohmann::json::sax_parse(text.begin(), text.end(), &builder);
        if (builder.error.empty() && !doc.nodes.empty()) {
            const Object top(r, Json(doc, 0), "a macro text", {"format", "version", "macros"});
            checkFormat(top.Need("format", kTextFormatName));
            checkVersion(top.Need("version", "the format version"));
            const Json macros = top.Need("macros", "the list of macros");
            if (!macros.is_array())
                r.At("macros", [&] { r.Refuse("expected the list of macros, found " + Describe(macros)); });
        }
    } catch (const Refusal& refusal) {
        error.message = refusal.message;
        LineColumn(text, LocateRefusal(text, refusal), error);
        return false;
    }
    if (!builder.error.empty() || doc.nodes.empty()) {
        // "[json.exception.parse_error.101] parse error at line 1, column 6: <what>": keep what, and count the
        // position ourselves (in characters rather than bytes).
        std::string what = builder.error.empty() ? "no JSON value" : builder.error;
        const std::size_t column = what.find("column ");
        const std::size_t colon = column == std::string::npos ? std::string::npos : what.find(": ", column);
        if (colon != std::string::npos) what = what.substr(colon + 2);
        error.message = ValidUtf8(what);
        LineColumn(text, builder.errorByte > 0 ? builder.errorByte - 1 : 0, error);
        return false;
    }
    if (anyPadding) result.padding = std::move(padding);
    out = std::move(result);
    return true;
}

} // namespace quillet
