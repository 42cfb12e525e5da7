#include "platform/platform.h"
#include "platform/win32/backend.h"

#include <windows.h>

#include <imm.h>

namespace quillet::platform::win32 {
namespace {
// The WM_IME_CONTROL request for the open state (imm.h declares it only for some targets).
constexpr WPARAM kImcGetOpenStatus = 0x0005;
} // namespace

ImeState Win32InputMethod::OpenState() {
    HWND foreground = GetForegroundWindow();
    if (foreground == nullptr) return ImeState::None;
    HWND ime = ImmGetDefaultIMEWnd(foreground);
    if (ime == nullptr) return ImeState::None;
    // The input-method window belongs to the foreground program: a program that hangs must not hang this one.
    DWORD_PTR open = 0;
    if (SendMessageTimeoutA(ime, WM_IME_CONTROL, kImcGetOpenStatus, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &open) == 0)
        return ImeState::None;
    return open != 0 ? ImeState::Open : ImeState::Closed;
}

} // namespace quillet::platform::win32
