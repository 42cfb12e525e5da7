#include "platform/platform.h"
#include "platform/win32/backend.h"

#include <algorithm>

namespace {
constexpr uint32_t kNoPixel = quillet::platform::CLR_INVALID;
}

#include <windows.h>

static_assert(kNoPixel == CLR_INVALID);

namespace quillet::platform::win32 {

uint32_t Win32Screen::Pixel(int32_t x, int32_t y) {
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return kNoPixel;
    const COLORREF color = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    return color;
}

bool Win32Screen::Capture(const ScreenRect& rect, BgraImage& out) {
    if (rect.width <= 0 || rect.height <= 0 || rect.width > kMaxSide || rect.height > kMaxSide ||
        int64_t{rect.width} * rect.height > kMaxPixels)
        return false;
    out.width = rect.width;
    out.height = rect.height;
    out.pixels.assign(static_cast<std::size_t>(rect.width) * static_cast<std::size_t>(rect.height) * 4, 0);

    // Only the part on the monitors is copied; the rest keeps its black (a copy from outside every monitor is not
    // defined to be black).
    const int64_t vx = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int64_t vy = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int64_t x0 = std::max<int64_t>(rect.left, vx);
    const int64_t y0 = std::max<int64_t>(rect.top, vy);
    const int64_t x1 = std::min<int64_t>(int64_t{rect.left} + rect.width, vx + GetSystemMetrics(SM_CXVIRTUALSCREEN));
    const int64_t y1 = std::min<int64_t>(int64_t{rect.top} + rect.height, vy + GetSystemMetrics(SM_CYVIRTUALSCREEN));
    if (x1 <= x0 || y1 <= y0) return true;

    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return false;
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = memory != nullptr ? CreateCompatibleBitmap(screen, rect.width, rect.height) : nullptr;
    bool ok = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        PatBlt(memory, 0, 0, rect.width, rect.height, BLACKNESS);
        ok =
            BitBlt(memory, static_cast<int>(x0 - rect.left), static_cast<int>(y0 - rect.top), static_cast<int>(x1 - x0),
                   static_cast<int>(y1 - y0), screen, static_cast<int>(x0), static_cast<int>(y0), SRCCOPY) != 0;
        SelectObject(memory, old); // GetDIBits wants the bitmap out of every device context
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = rect.width;
        info.bmiHeader.biHeight = -rect.height; // top-down rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        ok = ok && GetDIBits(memory, bitmap, 0, static_cast<UINT>(rect.height), out.pixels.data(), &info,
                             DIB_RGB_COLORS) == rect.height;
        DeleteObject(bitmap);
    }
    if (memory != nullptr) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!ok) std::fill(out.pixels.begin(), out.pixels.end(), uint8_t{0});
    return ok;
}

} // namespace quillet::platform::win32
