#include "model/text_format_shared.h"

#include <algorithm>
#include <cstring>

#include "model/cp949.h"

namespace quillet::text_format_detail {

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

} // namespace quillet::text_format_detail
