// The table of the 147 key codes the program knows by name.
#pragma once

namespace quillet {

struct KeyRow {
    int code; // -1 in the terminating row
    const char* shortName;
    const char* longName;
};

inline constexpr int kKeyRowCount = 147;
// 147 rows in ascending code order, then the terminating row (-1, "", "").
extern const KeyRow kKeyTable[kKeyRowCount + 1];

const char* KeyLongName(int code);  // "(Unknown)" for codes not in the table
const char* KeyShortName(int code); // "(Unknown)" for codes not in the table
int KeyCodeAt(int index);           // -1 outside 0..146
int KeyIndexOf(int code);           // -1 for codes not in the table

} // namespace quillet
