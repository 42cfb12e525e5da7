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
    std::string problem;        // for Damaged/Unopenable: what is wrong, in English, one line
    int64_t offset = 0;         // for Damaged: byte offset at which the damage was found
    std::size_t macrosRead = 0; // whole macros read (for Damaged: those before the damage)
    bool ok() const { return status == LoadStatus::Ok; }
};

struct SaveResult {
    bool ok = true;
    std::string problem; // when !ok: what failed, in English, one line
};

// Sizes of the stored form.
inline constexpr std::size_t kItemRecordSize = 24;
inline constexpr std::size_t kMacroRecordSize = 568; // a macro record without its items, itemCount included
inline constexpr std::size_t kCalledNameSize = 256;
// Files larger than this are not read at all (reported as Damaged, library emptied).
inline constexpr std::uint64_t kMaxLibraryFileSize = std::uint64_t{1} << 30;

// Replaces the content of library with the file's macros. On Unopenable the library is left as it was; on Damaged
// it holds the whole macros read before the damage, and the caller must not save it over the file unasked.
//
// Damage is any of: a negative macroCount, itemCount or textLength; a count or length the bytes left in the file
// cannot hold (each macro needs at least 568 bytes, each item 24, a text textLength bytes, a call 256); a file that
// ends inside a record; bytes after the last macro (a foreign file). The first damage found ends the load; problem
// names it and its offset, offset and macrosRead are set. A Damaged library may be empty: it is never passed off as
// a successfully loaded empty library, so the caller decides what to show and whether to keep the file's name.
// A macroCount larger than the file can hold is reported where the macros run out, so a cut file keeps every whole
// macro it still has; with bytes after the last macro, every macro is kept.
// A name, path or called name without a NUL in its 256 bytes is cut at 255 bytes; that is not damage.
//
// Only regular files (or links to them) are read: anything else, a FIFO, a device or a directory, is Unopenable at
// once, without waiting for a FIFO's writer.
//
// Memory: no allocation is made before the bytes that back it have been found in the file, so the library takes at
// most about 2x the file size (items are 24 bytes stored, 48 in memory). LoadMacroLibrary reads the file through a
// 64 KiB window, so a load needs the library's own memory plus that window.
LoadResult LoadMacroLibrary(const std::string& fileName, MacroLibrary& library);

// A CP949 library name as the file functions want it: unchanged on Windows (the ANSI code page), UTF-8 elsewhere.
std::string LibraryFileSystemName(const std::string& cp949Name);
// The same on bytes in memory (never Unopenable).
LoadResult ParseMacroLibrary(std::string_view bytes, MacroLibrary& library);

// Writes the library's stored form as the whole content of fileName, by WriteWholeFile (model/file_write.h): through
// symbolic links, never to a file this process may not write (problem then says it is read-only), normally by a
// complete temporary file renamed over the old one, and in place, with the old content put back on a failure,
// where the folder takes no new file. A failed save leaves the previous file as it was wherever that can be done.
SaveResult SaveMacroLibrary(const std::string& fileName, const MacroLibrary& library);
// The stored form in memory.
std::string SerializeMacroLibrary(const MacroLibrary& library);
// Writes bytes to fileName the way SaveMacroLibrary writes a library; for a stored form made otherwise and for other
// files of the program.
SaveResult SaveFileBytes(const std::string& fileName, std::string_view bytes);

// List operations (deep copies; moved and replaced entries get their run state reset).
void AppendMacro(MacroLibrary& library, const Macro& macro);
void ReplaceMacro(MacroLibrary& library, int index, const Macro& macro);
void CopyMacro(MacroLibrary& library, int index); // appends a copy named "Macro Copy %d"
void DeleteMacro(MacroLibrary& library, int index);
bool MoveMacroUp(MacroLibrary& library, int index);   // false at the top or out of range
bool MoveMacroDown(MacroLibrary& library, int index); // false at the bottom or out of range

} // namespace quillet
