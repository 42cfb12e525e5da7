// What the reader and the writer of the macro text share: the padding of the stored form (the bytes no field
// holds), readable text and its hexadecimal twin, and the names of bits and kinds. Internal to the text format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/macro.h"
#include "model/text_format.h"

namespace quillet::text_format_detail {

// --- Padding: the bytes of the stored form that no field holds ---

// Where the byte after a name of `size` bytes may differ from zero: after its NUL, or at byte 255 of a name that
// fills the buffer without one.
uint32_t NameTailStart(std::size_t size);
// Offset ranges [begin, end) of a macro record that no field holds.
std::vector<std::pair<uint32_t, uint32_t>> MacroPaddingRanges(const Macro& m);
// The same for an item record and the bytes that follow it.
std::vector<std::pair<uint32_t, uint32_t>> ItemPaddingRanges(const MacroItem& item);
std::size_t ItemStoredSize(const MacroItem& item);
// Whether every run lies inside one of the ranges.
bool RunsFit(const std::vector<PaddingRun>& runs, const std::vector<std::pair<uint32_t, uint32_t>>& ranges);
// Runs of bytes where actual differs from canonical (both the same size).
std::vector<PaddingRun> DiffRuns(std::string_view actual, std::string_view canonical);

// --- Readable text ---

bool IsAscii(std::string_view s);
// Replaces malformed UTF-8 by U+FFFD (Cp949ToUtf8 gives valid UTF-8; this keeps the text JSON even if it did not).
std::string ValidUtf8(std::string s);
// The UTF-8 form of CP949 bytes, and whether it converts back to exactly those bytes.
std::pair<std::string, bool> Readable(std::string_view cp949);
inline constexpr char kHex[] = "0123456789abcdef";
// Lower-case hexadecimal of bytes, and back (nothing for an odd length or a character that is not a digit).
std::string Hex(std::string_view bytes);
std::optional<std::string> Unhex(std::string_view hex);
// A JSON string literal of UTF-8 text, quotes included, escaped as the writer escapes it (for messages).
std::string JsonQuoted(std::string_view utf8);

// --- Bit names ---

struct BitName {
    int bit;
    const char* name;
};

// Macro::flags bits 0..7 and 12..15 (8..11 are the time forms, 16..31 the repeat count).
inline constexpr uint32_t kMacroFlagMask = 0x0000F0FF;
inline const std::vector<BitName> kMacroFlagNames = {{1, "autoStart"},     {2, "startKey"},    {3, "timeWindow"},
                                              {4, "startColor"},    {5, "stopKey"},     {6, "stopColor"},
                                              {7, "colorOnChange"}, {12, "startImage"}, {13, "imageOnChange"}};
// KeyCondition bits besides the key code.
inline constexpr uint32_t kKeyBitsMask = 0xFFFFFF00;
inline const std::vector<BitName> kKeyBitNames = {
    {16, "release"}, {17, "ctrl"}, {18, "alt"}, {19, "shift"}, {20, "exactModifiers"}};
// imageOptions bits besides the threshold.
inline constexpr uint32_t kImageFlagMask = 0xFFFF0000;
inline const std::vector<BitName> kImageFlagNames = {{16, "moveMouse"}};
inline const std::vector<BitName> kKeyActionNames = {{0, "press"}, {1, "release"}, {4, "hangul"}, {5, "extended"}};
// mouseFlags bits 0..15 (16..31 are mouseData).
inline constexpr uint32_t kMouseFlagMask = 0x0000FFFF;
inline const std::vector<BitName> kMouseFlagNames = {{0, "move"},    {1, "leftDown"},   {2, "leftUp"},   {3, "rightDown"},
                                              {4, "rightUp"}, {5, "middleDown"}, {6, "middleUp"}, {7, "xDown"},
                                              {8, "xUp"},     {9, "normalized"}, {11, "wheel"},   {15, "absolute"}};
inline const std::vector<BitName> kTextFlagNames = {{0, "random"}, {1, "sequence"}, {4, "comment"}};

inline const char* const kItemTypeNames[] = {"start", "key", "mouse", "delay", "string", "call", "exclusive", "loop"};
inline const char* const kCallModeNames[] = {"sequential", "parallel", "stop"};
inline const char* const kLoopKindNames[] = {"enter", "outputKeys", "outputX", "outputY", nullptr, nullptr, nullptr, "leave"};

inline const char* BitNameOf(const std::vector<BitName>& names, int bit) {
    for (const BitName& b : names)
        if (b.bit == bit) return b.name;
    return nullptr;
}

} // namespace quillet::text_format_detail
