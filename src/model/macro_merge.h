// Adding imported macros to a library: what happens to an imported macro whose name a macro of the library already
// has. Used by quillet-cli import and by the main window's import, so both follow the same rules.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "model/macro.h"

namespace quillet {

enum class ClashPolicy {
    Refuse,  // a clash refuses the whole import
    Replace, // the imported macro takes the place of the library's macro of that name (its position is kept)
    Rename,  // the imported macro is appended under "<name> (n)", the smallest n from 2 that is free
};

struct MergePlan {
    struct Entry {
        int replaces = -1; // index in the library of the macro this one replaces; -1: appended
        std::string name;  // the name it gets (CP949)
    };
    std::vector<Entry> entries;       // one per imported macro, in order
    std::vector<std::size_t> clashes; // imported macros whose name the library already had
    bool refused() const { return !clashes.empty() && entries.empty(); }
};

// Only the macros the library holds before the import count as clashes: duplicate names within the imported macros
// stay as they are (a library with two macros of one name exports and imports back unchanged). Under Replace each
// library macro is replaced at most once; a second imported macro of that name is appended. Under Refuse with a
// clash the plan has no entries. New names never exceed 255 bytes and never split a two-byte character.
MergePlan PlanMerge(const MacroLibrary& library, const MacroLibrary& imported, ClashPolicy policy);

// Applies a plan (not a refused one) by moving the imported macros in. Call items of the imported macros that name
// a renamed imported macro follow it to its new name. Returns the library indices of the imported macros, in order.
std::vector<std::size_t> ApplyMerge(MacroLibrary& library, MacroLibrary&& imported, const MergePlan& plan);

} // namespace quillet
