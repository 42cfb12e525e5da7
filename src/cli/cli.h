// quillet-cli: inspecting, checking and playing macro libraries from the command line.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace quillet::cli {

// Runs one command; args excludes the program name. Output is UTF-8. Returns the process exit code.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace quillet::cli
