// Macros as readable text: a JSON document (UTF-8) that holds every field of the macro and item records under a
// readable name, and reads back into exactly the records it was made from. docs/text-format.md describes the schema.
//
// Lossless: for every library file that loads without damage, ParseStoredMacros, MacrosToText, TextToMacros and
// SerializeStoredMacros give back the file byte for byte. Fields are written readably (key names beside their codes,
// bit sets as lists of bit names, texts as UTF-8, packed points as x/y, colours as red/green/blue); what cannot be
// shown readably is kept raw beside it: text bytes that CP949 does not decode (or that do not come back the same) as
// hex, bits without a name as "bitN", parameter words an item type does not use, and the bytes of the stored form
// that no field holds (reserved bytes, buffer slots, what follows the NUL of a name buffer) as "padding".
//
// Reading refuses a text that does not fit the schema (syntax, a missing or unknown member, a value of the wrong
// kind or out of range, readable and raw forms that disagree) with the line and column of the offending value and
// what was expected there; nothing of such a text is returned. The JSON itself is parsed by nlohmann::json.
//
// Costs: MacrosToText writes into one string (about 90 bytes per item). TextToMacros reads each macro as soon as
// the parser has it and then drops its parsed form, so it holds the text, the macros and one macro's parse. Both
// take well under a second for 10,000 macros of 50 items (bench/bench_text_format).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/library_file.h"
#include "model/macro.h"

namespace quillet {

inline constexpr const char* kTextFormatName = "quillet-macros";
inline constexpr int kTextFormatVersion = 1;

// Bytes of the stored form that no field of the records holds, where they are not what saving writes (zero):
// offsets are relative to the start of their record (the 568-byte macro record, or an item's record with the bytes
// that follow it).
struct PaddingRun {
    uint32_t offset = 0;
    std::string bytes;
    friend bool operator==(const PaddingRun&, const PaddingRun&) = default;
};
struct MacroPadding {
    std::vector<PaddingRun> record;
    std::vector<std::pair<uint32_t, std::vector<PaddingRun>>> items; // by item index, ascending
    bool empty() const { return record.empty() && items.empty(); }
    friend bool operator==(const MacroPadding&, const MacroPadding&) = default;
};

// Macros together with the padding their file had. padding is empty (none anywhere) or holds one entry per macro.
struct StoredMacros {
    MacroLibrary macros;
    std::vector<MacroPadding> padding;
};

// Reads a library file's bytes as LoadMacroLibrary does, keeping the padding too. On damage, out holds the whole
// macros before it (without padding) and the result says what and where, as for ParseMacroLibrary.
LoadResult ParseStoredMacros(std::string_view fileBytes, StoredMacros& out);
// The stored form with the padding put back: for macros read by ParseStoredMacros, the bytes they were read from.
// Throws std::invalid_argument when a padding run lies outside the bytes that no field holds (TextToMacros never
// returns such padding).
std::string SerializeStoredMacros(const StoredMacros& stored);

// The text of macros (all when which is empty, else those indices in that order). padding is empty or one entry
// per macro of the library.
std::string MacrosToText(const MacroLibrary& library, const std::vector<MacroPadding>& padding = {},
                         const std::vector<std::size_t>& which = {});

struct TextError {
    int line = 0;   // 1-based; 0 when the text as a whole is refused (it is not UTF-8 JSON at all)
    int column = 0; // 1-based, in characters (UTF-8 code points) of the line
    std::string message;
    // "line L, column C: message".
    std::string Describe() const;
};

// Reads a text made by MacrosToText (or written by hand to the same schema). On success out holds the macros in
// text order, as stored (loop leaves keep the values they were written with; nothing is relinked), with their
// padding (empty when no macro has any). On failure returns false, error says where and why, and out is left empty.
bool TextToMacros(std::string_view text, StoredMacros& out, TextError& error);

} // namespace quillet
