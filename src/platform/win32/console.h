// Console programs on Windows: the C runtime hands main() its arguments in the ANSI code page and turns "\n" into
// "\r\n" on output; the commands work in UTF-8 bytes.
#pragma once

#include <string>
#include <vector>

namespace quillet::platform::win32 {

// The command-line arguments after the program name, in UTF-8.
std::vector<std::string> Utf8Arguments();
// Standard output and error pass bytes through unchanged, and a console shows them as UTF-8.
void UseUtf8ByteOutput();

} // namespace quillet::platform::win32
