// The Windows implementations of the platform interfaces. Kept free of <windows.h>: it defines macros with the
// names of constants in platform.h, so every source file here includes this header (and platform.h) first.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "platform/held_input_ledger.h"
#include "platform/platform.h"

namespace quillet::platform::win32 {

class Win32InputOutput final : public InputOutput {
public:
    // Every key and button it presses goes on the ledger (a guardian's shared block, or nothing).
    explicit Win32InputOutput(HeldInputLedger ledger = {}) : ledger_(ledger) {}
    void SendKeyEvent(uint8_t vk, uint8_t scan, uint32_t flags) override;
    void SendMouseEvent(uint32_t flags, int32_t x, int32_t y, int32_t data) override;
    uint8_t ScanCodeOf(uint8_t vk) override;
    bool CursorPos(ScreenPoint& out) override;
    ScreenSize PrimaryScreenSize() override;
    ScreenRect VirtualScreen() override;
    bool IsKeyDown(uint8_t vk) override;
    std::array<uint8_t, 256> KeyboardState() override;

private:
    HeldInputLedger ledger_;
};

class Win32InputMethod final : public InputMethod {
public:
    ImeState OpenState() override;
    // How long the foreground program may take to answer before the state counts as None.
    static constexpr unsigned kTimeoutMs = 250;
};

class Win32Screen final : public Screen {
public:
    uint32_t Pixel(int32_t x, int32_t y) override;
    // Pixels of the rectangle outside every monitor are black (B, G, R and A all 0).
    bool Capture(const ScreenRect& rect, BgraImage& out) override;
    // Rectangles wider or taller than this, or larger than kMaxPixels, are refused.
    static constexpr int32_t kMaxSide = 16384;
    static constexpr int64_t kMaxPixels = int64_t{64} << 20;
};

// What the monitor shares with its window and with the records it has posted; outlives the monitor while posted
// records are still queued.
struct RawInputDelivery {
    std::atomic<bool> active{true};
    Poster post;
    std::function<void(const RawInputRecord&)> sink;
};

class Win32InputMonitor final : public InputMonitor {
public:
    ~Win32InputMonitor() override { Stop(); }

    // Registers keyboard and mouse raw input (RIDEV_INPUTSINK, so also in the background) for the window set with
    // SetTargetWindow, or for a message-only window on a thread of its own. Records from the own window are handed
    // to `post`, one by one in the order they came; after Stop no posted record reaches the sink.
    bool Start(Poster post, std::function<void(const RawInputRecord&)> sink) override;
    void Stop() override;

    void SetTargetWindow(void* hwnd) { target_ = hwnd; }
    bool HandleRawInput(std::intptr_t lParam);

private:
    void* target_ = nullptr;     // window chosen by the owner
    void* registered_ = nullptr; // the owner's window while raw input is registered for it
    std::shared_ptr<RawInputDelivery> delivery_;
    std::thread thread_; // runs the own message-only window
    unsigned long threadId_ = 0;
};

// A periodic multimedia timer (timeSetEvent). The callback runs on a thread of the timer service.
//
// Start, Stop and the destructor may be called by the owner's thread or from onTick itself, never from two threads
// at once. From the owner, Stop waits for a running callback to return (TIME_KILL_SYNCHRONOUS). From onTick that
// wait could never end: the timer is marked stopped (no tick runs after this one) and a helper thread kills it
// once the tick has returned, holding the shared tick state until then. Ticks that come before Start has stored
// the timer's id are dropped, so a 1 ms timer never ticks into a Start in progress.
class Win32PeriodicTimer final : public PeriodicTimer {
public:
    ~Win32PeriodicTimer() override { Stop(); }
    bool Start(uint32_t periodMs, uint32_t resolutionMs, std::function<void()> onTick) override;
    void Stop() override;

    struct TickState {
        std::function<void()> onTick;
        std::atomic<bool> ready{false};   // Start has returned: ticks may run
        std::atomic<bool> stopped{false}; // stopped from a tick: no more ticks
    };

private:
    unsigned timerId_ = 0;
    std::shared_ptr<TickState> state_; // its address is the timer's user value
};

class Win32Clock final : public Clock {
public:
    uint32_t NowMs() override;
    LocalTime LocalNow() override;
    void Sleep(uint32_t ms) override;
    TimerCaps GetTimerCaps() override;
    void BeginPeriod(uint32_t ms) override;
    void EndPeriod(uint32_t ms) override;
    std::unique_ptr<PeriodicTimer> CreatePeriodicTimer() override { return std::make_unique<Win32PeriodicTimer>(); }
};

} // namespace quillet::platform::win32
