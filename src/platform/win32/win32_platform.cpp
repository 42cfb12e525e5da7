#include "platform/win32/win32_platform.h"

#include "platform/win32/backend.h"

#include <windows.h>

namespace quillet::platform::win32 {
namespace {

// Looks a function up at run time, so the program also starts on systems that lack it.
template <typename Function> Function Lookup(const wchar_t* module, const char* name) {
    HMODULE m = GetModuleHandleW(module);
    if (m == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

void MakeDpiAware() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    using SetAware = BOOL(WINAPI*)();
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2; fails harmlessly when the process has chosen already. The older
    // call is only for systems without it (before Windows 10 1703).
    if (auto set = Lookup<SetContext>(L"user32.dll", "SetProcessDpiAwarenessContext")) {
        set(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4)));
        return;
    }
    if (auto set = Lookup<SetAware>(L"user32.dll", "SetProcessDPIAware")) set();
}

// Windows 11 stops honouring timeBeginPeriod for a process whose windows are all hidden or minimised (as a program
// living in the tray is); this opts out. The structure and values are those of PROCESS_POWER_THROTTLING_STATE.
bool KeepTimerResolution() {
    using SetInformation = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
    auto set = Lookup<SetInformation>(L"kernel32.dll", "SetProcessInformation");
    if (set == nullptr) return false;
    struct {
        ULONG version;
        ULONG controlMask;
        ULONG stateMask;
    } state{1, 0x4 /* IGNORE_TIMER_RESOLUTION */, 0 /* off: keep honouring the requests */};
    constexpr int kProcessPowerThrottling = 4;
    return set(GetCurrentProcess(), kProcessPowerThrottling, &state, sizeof state) != 0;
}

} // namespace

Win32Platform::Win32Platform() = default;

Win32Platform::~Win32Platform() {
    // The monitor's thread posts to the owner; it ends before anything else goes.
    monitor_.reset();
}

std::unique_ptr<Win32Platform> Win32Platform::Open(std::string& error) {
    return Open(Win32Options{}, error);
}

std::unique_ptr<Win32Platform> Win32Platform::Open(const Win32Options& options, std::string& error) {
    if (options.dpiAware) MakeDpiAware();
    if (GetSystemMetrics(SM_CXSCREEN) <= 0 || GetSystemMetrics(SM_CYSCREEN) <= 0) {
        error = "no interactive desktop: the screen has no size";
        return nullptr;
    }
    std::unique_ptr<Win32Platform> p(new Win32Platform());
    if (options.keepTimerResolution) p->timerResolutionKept_ = KeepTimerResolution();
    if (options.guardian) p->guardian_ = StartGuardian(GuardianOptions{}, p->guardianProblem_);
    p->io_ = std::make_unique<Win32InputOutput>(p->guardian_ ? p->guardian_->ledger() : HeldInputLedger{});
    p->ime_ = std::make_unique<Win32InputMethod>();
    p->screen_ = std::make_unique<Win32Screen>();
    p->monitor_ = std::make_unique<Win32InputMonitor>();
    p->clock_ = std::make_unique<Win32Clock>();
    return p;
}

Platform Win32Platform::platform() {
    return Platform{*io_, *ime_, *screen_, *monitor_, *clock_};
}
InputOutput& Win32Platform::io() {
    return *io_;
}
InputMethod& Win32Platform::ime() {
    return *ime_;
}
Screen& Win32Platform::screen() {
    return *screen_;
}
InputMonitor& Win32Platform::monitor() {
    return *monitor_;
}
Clock& Win32Platform::clock() {
    return *clock_;
}

void Win32Platform::SetRawInputWindow(void* hwnd) {
    monitor_->SetTargetWindow(hwnd);
}
bool Win32Platform::HandleRawInput(std::intptr_t lParam) {
    return monitor_->HandleRawInput(lParam);
}

std::unique_ptr<Win32Platform> OpenWin32Platform(std::string& error) {
    return Win32Platform::Open(error);
}

} // namespace quillet::platform::win32
