#include <iostream>

#include "cli/cli.h"
#ifdef _WIN32
#include "platform/win32/console.h"
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // Arguments arrive in the ANSI code page and "\n" would become "\r\n"; the commands read and write UTF-8 bytes.
    (void)argc;
    (void)argv;
    std::vector<std::string> args = quillet::platform::win32::Utf8Arguments();
    quillet::platform::win32::UseUtf8ByteOutput();
#else
    std::vector<std::string> args(argv + 1, argv + argc);
#endif
    return quillet::cli::Run(args, std::cout, std::cerr);
}
