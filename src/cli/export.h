// quillet-cli export and import: macros of a library as readable text (docs/text-format.md) and back.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace quillet::cli {

// export LIBRARY [NAME...] [-o FILE]: the macros (all, or those named, in the order named; every macro of a name
// that several share) as text on standard output or in FILE. Exit 0, or 2 with one line on err (an unreadable or
// damaged library, a name no macro has, FILE not writable); nothing is written then.
int ExportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// import FILE [--into LIBRARY] [--replace|--rename]: adds the macros of the text to LIBRARY (by default the library
// of Quillet.ini's macroFileName; a library that does not exist yet is created). A macro whose name the library
// already has is refused (exit 1, nothing written) unless --replace (it takes that macro's place) or --rename (it
// is added as "NAME (2)", ...). A text that does not fit the schema is refused with its line, column and what was
// expected (exit 2); nothing is written then either. One line per macro added or replaced on out.
int ImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace quillet::cli
