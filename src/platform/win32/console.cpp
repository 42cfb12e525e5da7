#include "platform/win32/console.h"

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>

namespace quillet::platform::win32 {

std::vector<std::string> Utf8Arguments() {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return args;
    for (int i = 1; i < count; ++i) {
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(bytes > 0 ? static_cast<std::size_t>(bytes) : 1, '\0');
        if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), bytes, nullptr, nullptr);
        arg.resize(arg.size() - 1); // the NUL
        args.push_back(std::move(arg));
    }
    LocalFree(wide);
    return args;
}

namespace {
// The console's code page belongs to the console, not to this program: it is given back at exit.
UINT previousOutputCodePage = 0;
void RestoreOutputCodePage() {
    SetConsoleOutputCP(previousOutputCodePage);
}
} // namespace

void UseUtf8ByteOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    previousOutputCodePage = GetConsoleOutputCP(); // 0 without a console
    if (previousOutputCodePage != 0 && previousOutputCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(RestoreOutputCodePage);
}

} // namespace quillet::platform::win32
