// quillet-cli: inspecting, checking and playing macro libraries from the command line.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace quillet::cli {

// Runs one command; args excludes the program name. Output is UTF-8. Returns the process exit code.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// play, run and match: the commands that need the engine, the display or OpenCV. The rest start and end in a few
// milliseconds because the program that runs them loads none of that: on Linux quillet-cli hands these three to
// quillet-cli-display next to it (its RunDisplayCommand replaces the process with that program), which runs them
// in-process (this RunDisplayCommand, in display.cpp).
bool IsDisplayCommand(const std::string& command);
int RunDisplayCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace quillet::cli
