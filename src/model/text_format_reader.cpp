// The reader of the macro text: the schema checked member by member, a refusal placed by line and column.
#include "model/text_format.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <initializer_list>
#include <limits>
#include <optional>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "model/cp949.h"
#include "model/key_table.h"
#include "model/text_format_shared.h"

namespace quillet {

using namespace text_format_detail;

namespace {

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
    return JsonQuoted(text);
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
