// One-line Korean texts of items and start/stop conditions, and the text export of a macro. All results are CP949.
#pragma once

#include <cstdint>
#include <string>

#include "model/macro.h"

namespace quillet {

// macroOptions bit 0 adds the Hangul/English word to key items.
std::string ItemText(const MacroItem& item, int32_t macroOptions);
std::string ConditionSummary(int32_t flags, int32_t startKey, int32_t stopKey);
// "name - summary", or the name alone when the summary is empty (the run-mode list line).
std::string RunListText(const Macro& macro);
// The clipboard export: a header line, an empty line, then one line per item, each ending in CR LF.
std::string MacroText(const Macro& macro, int32_t macroOptions);

} // namespace quillet
