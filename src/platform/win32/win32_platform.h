// The Windows backend of the platform interfaces.
//
//   std::string error;
//   std::unique_ptr<quillet::platform::win32::Win32Platform> w = quillet::platform::win32::OpenWin32Platform(error);
//   quillet::platform::Platform p = w->platform();
//
// Raw input reaches a window. By default the input monitor makes its own: a message-only window on a thread of its
// own, and every record is handed to the Poster given to Start (quillet-cli). An application that has a window of
// its own instead calls SetRawInputWindow(hwnd) before Start and passes every WM_INPUT that window receives to
// HandleRawInput (for example from a native event filter); the sink then runs at once, on that window's thread.
//
// This header does not include <windows.h>: window handles are void* and message parameters std::intptr_t.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/guardian.h"
#include "platform/platform.h"

namespace quillet::platform::win32 {

class Win32InputOutput;
class Win32InputMethod;
class Win32Screen;
class Win32InputMonitor;
class Win32Clock;

struct Win32Options {
    // Ask for per-monitor DPI awareness, so that cursor positions, screen sizes, pixels and screen copies are all
    // in physical pixels on scaled displays. Has no effect when the process already chose (a Qt application has).
    bool dpiAware = true;
    // Keep the raised timer resolution while the program's windows are hidden or minimised (Windows 11 drops it
    // for such processes otherwise).
    bool keepTimerResolution = true;
    // Start a guardian process that releases what macros hold if this program ends abnormally. The program and
    // quillet-cli turn it on.
    bool guardian = false;
};

class Win32Platform {
public:
    static std::unique_ptr<Win32Platform> Open(std::string& error);
    static std::unique_ptr<Win32Platform> Open(const Win32Options& options, std::string& error);
    ~Win32Platform();
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

    Platform platform();
    InputOutput& io();
    InputMethod& ime();
    Screen& screen();
    InputMonitor& monitor();
    Clock& clock();

    // Raw input goes to this window (an HWND) from the next monitor().Start on; null returns to the monitor's own
    // window. Call on the window's thread.
    void SetRawInputWindow(void* hwnd);
    // Handles one WM_INPUT of that window (lParam is the message's): decodes the record and hands it to the sink.
    // True when it was a keyboard or mouse record and the monitor is running. The caller still lets the message
    // go on to its default handling.
    bool HandleRawInput(std::intptr_t lParam);

    // True when the system agreed to keep the timer resolution for this process (false on systems without the
    // setting, which do not lower it either).
    bool timerResolutionKept() const { return timerResolutionKept_; }
    // The running guardian, null when none was asked for or it could not start (guardianProblem() says why).
    const Guardian* guardian() const { return guardian_.get(); }
    const std::string& guardianProblem() const { return guardianProblem_; }

private:
    Win32Platform();
    // Declared first so that it goes last.
    std::unique_ptr<Guardian> guardian_;
    std::string guardianProblem_;
    std::unique_ptr<Win32InputOutput> io_;
    std::unique_ptr<Win32InputMethod> ime_;
    std::unique_ptr<Win32Screen> screen_;
    std::unique_ptr<Win32InputMonitor> monitor_;
    std::unique_ptr<Win32Clock> clock_;
    bool timerResolutionKept_ = false;
};

// The same as Win32Platform::Open(error): null, with error set, when there is no desktop to work on.
std::unique_ptr<Win32Platform> OpenWin32Platform(std::string& error);

// Decodes the raw-input record of one WM_INPUT (its lParam) into the neutral record, with `injected` set when the
// event carries SYNTHETIC_INPUT_TAG in its extra information. False for other devices or when it cannot be read.
bool DecodeRawInput(std::intptr_t lParam, RawInputRecord& out);

} // namespace quillet::platform::win32
