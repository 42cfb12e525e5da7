#include "platform/platform.h"
#include "platform/win32/backend.h"

namespace {
constexpr unsigned long kTag = quillet::platform::SYNTHETIC_INPUT_TAG;
}

#include <windows.h>

namespace quillet::platform::win32 {

void Win32InputOutput::SendKeyEvent(uint8_t vk, uint8_t scan, uint32_t flags) {
    // On the ledger before a press goes out, off it after a release went out.
    const bool release = (flags & KEYEVENTF_KEYUP) != 0;
    if (!release) ledger_.KeyDown(vk, scan, (flags & KEYEVENTF_EXTENDEDKEY) != 0);
    keybd_event(vk, scan, flags, kTag);
    if (release) ledger_.KeyUp(vk);
}

void Win32InputOutput::SendMouseEvent(uint32_t flags, int32_t x, int32_t y, int32_t data) {
    // Ledger numbers: 1 left, 2 right, 3 middle, 4 and 5 the X buttons.
    const bool x1 = (data & XBUTTON1) != 0, x2 = (data & XBUTTON2) != 0;
    const bool xDown = (flags & MOUSEEVENTF_XDOWN) != 0, xUp = (flags & MOUSEEVENTF_XUP) != 0;
    if (ledger_.active()) {
        if ((flags & MOUSEEVENTF_LEFTDOWN) != 0) ledger_.ButtonDown(1);
        if ((flags & MOUSEEVENTF_RIGHTDOWN) != 0) ledger_.ButtonDown(2);
        if ((flags & MOUSEEVENTF_MIDDLEDOWN) != 0) ledger_.ButtonDown(3);
        if (xDown && x1) ledger_.ButtonDown(4);
        if (xDown && x2) ledger_.ButtonDown(5);
    }
    // Relative moves and wheel turns travel as two's complement in the unsigned parameters.
    mouse_event(flags, static_cast<DWORD>(x), static_cast<DWORD>(y), static_cast<DWORD>(data), kTag);
    if (ledger_.active()) {
        if ((flags & MOUSEEVENTF_LEFTUP) != 0) ledger_.ButtonUp(1);
        if ((flags & MOUSEEVENTF_RIGHTUP) != 0) ledger_.ButtonUp(2);
        if ((flags & MOUSEEVENTF_MIDDLEUP) != 0) ledger_.ButtonUp(3);
        if (xUp && x1) ledger_.ButtonUp(4);
        if (xUp && x2) ledger_.ButtonUp(5);
    }
}

uint8_t Win32InputOutput::ScanCodeOf(uint8_t vk) {
    return static_cast<uint8_t>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC) & 0xFF);
}

bool Win32InputOutput::CursorPos(ScreenPoint& out) {
    POINT p{};
    if (!GetCursorPos(&p)) return false;
    out = {static_cast<int32_t>(p.x), static_cast<int32_t>(p.y)};
    return true;
}

ScreenSize Win32InputOutput::PrimaryScreenSize() {
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

ScreenRect Win32InputOutput::VirtualScreen() {
    return {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
            GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

bool Win32InputOutput::IsKeyDown(uint8_t vk) {
    return (GetAsyncKeyState(vk) & 0x8000) != 0;
}

std::array<uint8_t, 256> Win32InputOutput::KeyboardState() {
    std::array<uint8_t, 256> state{};
    // GetKeyState first brings this thread's view of the keyboard up to date.
    GetKeyState(0);
    if (!GetKeyboardState(state.data())) state.fill(0);
    return state;
}

} // namespace quillet::platform::win32
