// The macro library file (".m"): a flat little-endian sequence of macro records, and the list operations on the
// library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/macro.h"

namespace quillet {

enum class LoadStatus {
    Ok,         // the whole file was read
    Unopenable, // the file could not be opened; the library is unchanged
    Damaged,    // the file is damaged or foreign; see LoadResult::problem
};

struct LoadResult {
    LoadStatus status = LoadStatus::Ok;
    std::string problem;      // for Damaged/Unopenable: what is wrong, in English, one line
    int64_t offset = 0;       // for Damaged: byte offset at which the damage was found
    std::size_t macrosRead = 0; // whole macros read (for Damaged: those before the damage)
    bool ok() const { return status == LoadStatus::Ok; }
};

struct SaveResult {
    bool ok = true;
    std::string problem; // when !ok: what failed, in English, one line
};

// Replaces the content of library with the file's macros. On Unopenable the library is left as it was; on Damaged
// it holds the whole macros read before the damage, and the caller must not save it over the file unasked.
LoadResult LoadMacroLibrary(const std::string& fileName, MacroLibrary& library);
// The same on bytes in memory.
LoadResult ParseMacroLibrary(std::string_view bytes, MacroLibrary& library);

// Writes the library to a temporary file beside fileName and renames it over fileName only when it is complete,
// so a failed save never destroys the previous file.
SaveResult SaveMacroLibrary(const std::string& fileName, const MacroLibrary& library);
// The stored form in memory.
std::string SerializeMacroLibrary(const MacroLibrary& library);

// List operations (deep copies; moved and replaced entries get their run state reset).
void AppendMacro(MacroLibrary& library, const Macro& macro);
void ReplaceMacro(MacroLibrary& library, int index, const Macro& macro);
void CopyMacro(MacroLibrary& library, int index); // appends a copy named "Macro Copy %d"
void DeleteMacro(MacroLibrary& library, int index);
bool MoveMacroUp(MacroLibrary& library, int index);   // false at the top or out of range
bool MoveMacroDown(MacroLibrary& library, int index); // false at the bottom or out of range

} // namespace quillet
