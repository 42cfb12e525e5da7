// One-line texts of items and start/stop conditions, and the text export of a macro, in the program's language
// (model/texts.h): Korean as the program has always written them, or English. Stored names and typed text appear as
// they are, untranslated. All results are CP949.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "model/macro.h"

namespace quillet {

// Length of the longest head of s, at most maxBytes long, that ends before the first NUL and does not end in the
// middle of a CP949 two-byte character.
std::size_t Cp949HeadLength(std::string_view s, std::size_t maxBytes);

// A text line of at most 255 bytes, as the list boxes and the event log hold them. Each piece is appended with the
// room left; a piece that does not fit is cut (never inside a two-byte character) and later pieces are dropped.
class BoundedLine {
public:
    static constexpr std::size_t kMaxBytes = 255;

    void Append(std::string_view piece);
    void AppendInt(long long value); // printf "%d"
    void AppendFixed3(double value); // FormatFixed(value, 3): "1.500" under every locale
    std::string_view view() const { return {buf_, len_}; }
    std::string str() const { return std::string(buf_, len_); }

private:
    char buf_[kMaxBytes];
    std::size_t len_ = 0;
    bool cut_ = false; // a piece was cut: the line is complete
};

// macroOptions bit 0 adds the Hangul/English word to key items.
std::string ItemText(const MacroItem& item, int32_t macroOptions);
// ItemText as a row of an item list shows it: one line whatever the item holds. A line break (CR LF, CR or LF) shows
// as "¶" and a tab as "→", so that a string with line breaks is one row high like every other; at most 255 bytes.
// The stored text, the event log and the clipboard export keep the breaks.
std::string ItemRowText(const MacroItem& item, int32_t macroOptions);
std::string ConditionSummary(int32_t flags, int32_t startKey, int32_t stopKey);
// "name - summary", or the name alone when the summary is empty (the run-mode list line).
std::string RunListText(const Macro& macro);
// The clipboard export: a header line, an empty line, then one line per item, each ending in CR LF.
std::string MacroText(const Macro& macro, int32_t macroOptions);

} // namespace quillet
