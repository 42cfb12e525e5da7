// The other program of the desktop program's check under Wine (run-wine-app.sh), and its way to reach Quillet's
// windows.
//
//   win32_text_target.exe OUT.txt          a window that takes the foreground and appends every character it
//                                          receives (WM_CHAR) to OUT.txt as UTF-8; prints "ready at X,Y" (its
//                                          centre on the screen) once it has the foreground; ends on WM_CLOSE or
//                                          after two minutes
//   win32_text_target.exe --wait TITLE S   waits up to S seconds for a top-level window with this title; exit 0
//                                          when it appeared, 1 otherwise
//   win32_text_target.exe --close TITLE    posts WM_CLOSE to that window, as another program ending it does;
//                                          exit 0 when there was one
//   win32_text_target.exe --sysclose TITLE posts WM_SYSCOMMAND SC_CLOSE to it, as a person's Alt+F4 or click on
//                                          the title bar's close button does; exit 0 when there was one
//
// TITLE is UTF-8.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

namespace {

constexpr wchar_t kTitle[] = L"Quillet text target";
FILE* out = nullptr;

std::wstring Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

void AppendUtf8(wchar_t c) {
    char bytes[8];
    const int n = WideCharToMultiByte(CP_UTF8, 0, &c, 1, bytes, sizeof bytes, nullptr, nullptr);
    std::fwrite(bytes, 1, static_cast<std::size_t>(n), out);
    std::fflush(out);
}

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CHAR:
        AppendUtf8(static_cast<wchar_t>(wParam));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

int RunTarget(const char* path) {
    out = std::fopen(path, "wb");
    if (out == nullptr) {
        std::printf("cannot write %s\n", path);
        return 1;
    }
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuilletTextTarget";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassExW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, kTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 400, 300, 400, 200,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    if (window == nullptr) return 1;
    SetForegroundWindow(window);
    SetFocus(window);
    SetTimer(window, 1, 120000, nullptr);
    bool announced = false;
    MSG msg;
    for (;;) {
        if (!announced && GetForegroundWindow() == window) {
            RECT r{};
            GetWindowRect(window, &r);
            std::printf("ready at %ld,%ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
            announced = true;
        }
        const DWORD wait = MsgWaitForMultipleObjects(0, nullptr, FALSE, announced ? INFINITE : 50, QS_ALLINPUT);
        (void)wait;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                std::fclose(out);
                return 0;
            }
            if (msg.message == WM_TIMER && msg.hwnd == window) {
                DestroyWindow(window);
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 4 && std::string(argv[1]) == "--wait") {
        const std::wstring title = Wide(argv[2]);
        const DWORD end = GetTickCount() + static_cast<DWORD>(std::atoi(argv[3])) * 1000;
        while (FindWindowW(nullptr, title.c_str()) == nullptr) {
            if (static_cast<LONG>(GetTickCount() - end) >= 0) return 1;
            Sleep(100);
        }
        return 0;
    }
    if (argc == 3 && (std::string(argv[1]) == "--close" || std::string(argv[1]) == "--sysclose")) {
        HWND window = FindWindowW(nullptr, Wide(argv[2]).c_str());
        const bool person = std::string(argv[1]) == "--sysclose";
        return window != nullptr && PostMessageW(window, person ? WM_SYSCOMMAND : WM_CLOSE, person ? SC_CLOSE : 0, 0)
                   ? 0
                   : 1;
    }
    if (argc == 2) return RunTarget(argv[1]);
    std::fprintf(stderr,
                 "usage: win32_text_target.exe OUT.txt | --wait TITLE SECONDS | --close TITLE | --sysclose TITLE\n");
    return 2;
}
