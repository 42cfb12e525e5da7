// The operating-system boundary. Everything the program asks of the system goes through these interfaces; the
// backends (x11, win32, fake) implement them. Values follow the Windows conventions the rest of the program uses:
// virtual-key codes, MOUSEEVENTF_* flags, absolute mouse units 0..65535, colours as 0x00BBGGRR.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillet::platform {

// Extra information carried by every key and mouse event the program synthesises.
inline constexpr uint32_t SYNTHETIC_INPUT_TAG = 0x10000;

// Key event flags.
inline constexpr uint32_t KEYEVENTF_EXTENDEDKEY = 0x1;
inline constexpr uint32_t KEYEVENTF_KEYUP = 0x2;

// Mouse event flags.
inline constexpr uint32_t MOUSEEVENTF_MOVE = 0x0001;
inline constexpr uint32_t MOUSEEVENTF_LEFTDOWN = 0x0002;
inline constexpr uint32_t MOUSEEVENTF_LEFTUP = 0x0004;
inline constexpr uint32_t MOUSEEVENTF_RIGHTDOWN = 0x0008;
inline constexpr uint32_t MOUSEEVENTF_RIGHTUP = 0x0010;
inline constexpr uint32_t MOUSEEVENTF_MIDDLEDOWN = 0x0020;
inline constexpr uint32_t MOUSEEVENTF_MIDDLEUP = 0x0040;
inline constexpr uint32_t MOUSEEVENTF_XDOWN = 0x0080;
inline constexpr uint32_t MOUSEEVENTF_XUP = 0x0100;
inline constexpr uint32_t MOUSEEVENTF_WHEEL = 0x0800;
inline constexpr uint32_t MOUSEEVENTF_ABSOLUTE = 0x8000;
inline constexpr int32_t XBUTTON1 = 1;
inline constexpr int32_t XBUTTON2 = 2;
inline constexpr int32_t WHEEL_DELTA = 120;

// Virtual keys with a fixed role.
inline constexpr uint8_t VK_LSHIFT = 0xA0;
inline constexpr uint8_t VK_HANGUL = 0x15;
inline constexpr uint8_t VK_RETURN = 0x0D;

// Colour value meaning "no pixel there" (outside every screen).
inline constexpr uint32_t CLR_INVALID = 0xFFFFFFFF;

struct ScreenPoint {
    int32_t x = 0;
    int32_t y = 0;
    friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

struct ScreenSize {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const ScreenSize&, const ScreenSize&) = default;
};

struct ScreenRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

// 32-bit top-down image, bytes B, G, R, A per pixel, rows of width * 4 bytes.
struct BgraImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
    uint8_t* row(int32_t y) { return pixels.data() + static_cast<std::size_t>(y) * width * 4; }
    const uint8_t* row(int32_t y) const { return pixels.data() + static_cast<std::size_t>(y) * width * 4; }
};

// Sending input and reading input state.
class InputOutput {
public:
    virtual ~InputOutput() = default;
    // keybd_event(vk, scan, flags, SYNTHETIC_INPUT_TAG)
    virtual void SendKeyEvent(uint8_t vk, uint8_t scan, uint32_t flags) = 0;
    // mouse_event(flags, x, y, data, SYNTHETIC_INPUT_TAG); x, y in absolute units when MOUSEEVENTF_ABSOLUTE is set
    virtual void SendMouseEvent(uint32_t flags, int32_t x, int32_t y, int32_t data) = 0;
    // Scan code of a virtual key (MapVirtualKeyA with MAPVK_VK_TO_VSC), 0 when there is none.
    virtual uint8_t ScanCodeOf(uint8_t vk) = 0;
    // Cursor position in screen pixels; false when it cannot be read.
    virtual bool CursorPos(ScreenPoint& out) = 0;
    virtual ScreenSize PrimaryScreenSize() = 0;
    // Bounding rectangle of all monitors.
    virtual ScreenRect VirtualScreen() = 0;
    // True while the key is physically down (GetAsyncKeyState high bit).
    virtual bool IsKeyDown(uint8_t vk) = 0;
    // Key states as GetKeyboardState reports them: 0x80 down, 0x01 toggled.
    virtual std::array<uint8_t, 256> KeyboardState() = 0;
};

enum class ImeState { Closed, Open, None };

// The input method of the foreground window.
class InputMethod {
public:
    virtual ~InputMethod() = default;
    // Open means Hangul input; None when there is no foreground window or it has no input method.
    virtual ImeState OpenState() = 0;
};

// A rectangle drawn over the screen (colour markers, the editor's trail).
struct MarkerRect {
    ScreenRect rect;
    uint32_t color = 0; // 0x00BBGGRR
};

// Reading (and marking) the screen.
class Screen {
public:
    virtual ~Screen() = default;
    // Colour 0x00BBGGRR of one pixel, CLR_INVALID outside the screen.
    virtual uint32_t Pixel(int32_t x, int32_t y) = 0;
    // Copy of a rectangle; parts outside the screen are black. False when nothing could be read.
    virtual bool Capture(const ScreenRect& rect, BgraImage& out) = 0;
    // A number that changes whenever something inside rect may have changed on the screen: two equal numbers from
    // calls made before two copies of rect mean the second copy would be the same as the first. Nothing when the
    // backend cannot tell (callers then compare pixels). Costs at most one round trip to the display.
    // True when Capture may be called from any thread (the backend serialises it itself), so that a large copy need
    // not hold up the thread that evaluates the conditions.
    virtual bool CaptureFromAnyThread() const { return false; }
    virtual std::optional<uint64_t> ChangeStamp(const ScreenRect& rect) {
        (void)rect;
        return std::nullopt;
    }
};

// One raw input event, mirroring what the Windows raw-input record carries.
struct RawInputRecord {
    enum class Device : uint8_t { Keyboard, Mouse };
    Device device = Device::Keyboard;
    // Keyboard: virtual key, make (scan) code, RI_KEY_* flags and the key message (WM_KEYDOWN 0x100, WM_KEYUP 0x101,
    // WM_SYSKEYDOWN 0x104, WM_SYSKEYUP 0x105).
    uint16_t vkey = 0;
    uint16_t makeCode = 0;
    uint16_t keyFlags = 0;
    uint32_t message = 0;
    // Mouse: RI_MOUSE_* button flags, button data (wheel delta), relative motion.
    uint16_t buttonFlags = 0;
    int16_t buttonData = 0;
    int32_t lastX = 0;
    int32_t lastY = 0;
    // Set when this program injected the event (the tag 0x10000 in the extra information).
    bool injected = false;
};

// RI_MOUSE_* button flags.
inline constexpr uint16_t RI_MOUSE_LEFT_BUTTON_DOWN = 0x1;
inline constexpr uint16_t RI_MOUSE_LEFT_BUTTON_UP = 0x2;
inline constexpr uint16_t RI_MOUSE_RIGHT_BUTTON_DOWN = 0x4;
inline constexpr uint16_t RI_MOUSE_RIGHT_BUTTON_UP = 0x8;
inline constexpr uint16_t RI_MOUSE_MIDDLE_BUTTON_DOWN = 0x10;
inline constexpr uint16_t RI_MOUSE_MIDDLE_BUTTON_UP = 0x20;
inline constexpr uint16_t RI_MOUSE_BUTTON_4_DOWN = 0x40;
inline constexpr uint16_t RI_MOUSE_BUTTON_4_UP = 0x80;
inline constexpr uint16_t RI_MOUSE_BUTTON_5_DOWN = 0x100;
inline constexpr uint16_t RI_MOUSE_BUTTON_5_UP = 0x200;
inline constexpr uint16_t RI_MOUSE_WHEEL = 0x400;
inline constexpr uint16_t RI_MOUSE_HWHEEL = 0x800;
inline constexpr uint32_t WM_KEYDOWN = 0x100;
inline constexpr uint32_t WM_KEYUP = 0x101;
inline constexpr uint32_t WM_SYSKEYDOWN = 0x104;
inline constexpr uint32_t WM_SYSKEYUP = 0x105;

// Runs a closure on the owner's (user-interface) thread. Callable from any thread.
using Poster = std::function<void(std::function<void()>)>;

// Watches all keyboard and mouse input of the desktop, also in the background.
class InputMonitor {
public:
    virtual ~InputMonitor() = default;
    // Starts delivering records; each is handed to sink on the owner's thread through post. False on failure.
    virtual bool Start(Poster post, std::function<void(const RawInputRecord&)> sink) = 0;
    virtual void Stop() = 0;
    // Posts, behind what is already posted, every event the system has delivered to the monitor so far, so that
    // input that happened before a shutdown request is handled before it. Owner's thread.
    virtual void Flush() {}
};

// A periodic high-resolution timer. onTick runs on the timer's own thread and must only post.
class PeriodicTimer {
public:
    virtual ~PeriodicTimer() = default;
    // Starts (or restarts) the timer; false when the system refused it.
    virtual bool Start(uint32_t periodMs, uint32_t resolutionMs, std::function<void()> onTick) = 0;
    virtual void Stop() = 0;
};

struct LocalTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
};

struct TimerCaps {
    uint32_t periodMin = 1;
    uint32_t periodMax = 1000000;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic milliseconds (timeGetTime); wraps at 2^32.
    virtual uint32_t NowMs() = 0;
    // Local wall-clock time, whole seconds.
    virtual LocalTime LocalNow() = 0;
    // Blocks the calling thread.
    virtual void Sleep(uint32_t ms) = 0;
    virtual TimerCaps GetTimerCaps() = 0;
    // Raise and restore the system timer resolution (timeBeginPeriod / timeEndPeriod).
    virtual void BeginPeriod(uint32_t ms) = 0;
    virtual void EndPeriod(uint32_t ms) = 0;
    virtual std::unique_ptr<PeriodicTimer> CreatePeriodicTimer() = 0;
};

// The set of interfaces a backend provides.
struct Platform {
    InputOutput& io;
    InputMethod& ime;
    Screen& screen;
    InputMonitor& monitor;
    Clock& clock;
};

} // namespace quillet::platform
