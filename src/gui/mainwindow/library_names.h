// File names of the macro library as the main window handles them: the name kept in the settings is CP949 text,
// the file system wants its own encoding, and a chosen path becomes relative to the current directory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include <QString>

#include "session/library_document.h"

namespace quillet::gui {

using quillet::kLibraryNameMax;

// The name to keep for a path chosen in the open dialog: the part after currentDir and its separator when the path
// lies inside currentDir (letter case ignored only where the file system ignores it), the path itself otherwise;
// ".m" appended when the last component has no extension. Separators are '/'.
QString LibraryNameForChosenPath(const QString& chosen, const QString& currentDir);

// The CP949 form of a library name for macroFileName, or nothing when CP949 cannot hold it exactly or it is longer
// than kLibraryNameMax bytes: a name changed on the way would point at another file.
std::optional<std::string> LibraryNameToCp949(const QString& name);

} // namespace quillet::gui
