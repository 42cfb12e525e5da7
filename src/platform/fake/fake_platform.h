// An in-memory platform for tests and dry runs. It records every key, mouse and sleep event sent through it, keeps a
// virtual clock that only moves when told to (or when something sleeps), and lets a test set the cursor, the
// screen, key states and the input method, push raw input records and fire periodic timers by hand.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quillet::platform {

// One event the code under test sent.
struct FakeEvent {
    enum class Kind : uint8_t { Key, Mouse, Sleep };
    Kind kind = Kind::Key;
    uint64_t tick = 0; // the fake's tick counter when the event was sent (see FakePlatform::SetTick)
    // Key events: vk, scan and the KEYEVENTF_* flags. Mouse events: the MOUSEEVENTF_* flags in `flags`, x, y, data.
    uint8_t vk = 0;
    uint8_t scan = 0;
    uint32_t flags = 0;
    int32_t x = 0;
    int32_t y = 0;
    int32_t data = 0;
    uint32_t sleepMs = 0; // Sleep events

    static FakeEvent Key(uint8_t vk, uint8_t scan, uint32_t flags, uint64_t tick = 0);
    static FakeEvent Mouse(uint32_t flags, int32_t x, int32_t y, int32_t data, uint64_t tick = 0);
    static FakeEvent Sleep(uint32_t ms, uint64_t tick = 0);

    friend bool operator==(const FakeEvent&, const FakeEvent&) = default;
};

// Short readable form for test failure messages: "key 41/1E/1 @3", "mouse 8001 (100,200) 0 @0", "sleep 33 @0".
std::string Describe(const FakeEvent& e);
void PrintTo(const FakeEvent& e, std::ostream* os);

// How the fake input method behaves.
enum class FakeIme {
    Closed, // an input method in English mode; every VK_HANGUL key-down flips it between Closed and Open
    None,   // no foreground window or no input method: OpenState() is None and VK_HANGUL changes nothing
};

// State of one periodic timer created through CreatePeriodicTimer, kept after the timer object is destroyed.
struct FakeTimerState {
    bool running = false;
    bool destroyed = false;
    uint32_t periodMs = 0;
    uint32_t resolutionMs = 0;
    int startCount = 0;
    int stopCount = 0;
    std::function<void()> onTick;
};

class FakePlatform final : public InputOutput, public InputMethod, public Screen, public InputMonitor, public Clock {
public:
    explicit FakePlatform(FakeIme ime = FakeIme::Closed);
    ~FakePlatform() override;
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    Platform platform() { return Platform{*this, *this, *this, *this, *this}; }

    // --- Recorded events ---
    const std::vector<FakeEvent>& events() const { return events_; }
    std::vector<FakeEvent> KeyEvents() const;   // only the key events
    std::vector<FakeEvent> MouseEvents() const; // only the mouse events
    void ClearEvents() { events_.clear(); }
    // Tick stamped on every event from now on; the test or driver sets it (e.g. the scheduler pass number).
    void SetTick(uint64_t tick) { tick_ = tick; }
    uint64_t tick() const { return tick_; }

    // --- InputOutput ---
    void SendKeyEvent(uint8_t vk, uint8_t scan, uint32_t flags) override;
    void SendMouseEvent(uint32_t flags, int32_t x, int32_t y, int32_t data) override;
    uint8_t ScanCodeOf(uint8_t vk) override { return scanCodes_[vk]; }
    bool CursorPos(ScreenPoint& out) override;
    ScreenSize PrimaryScreenSize() override { return primary_; }
    ScreenRect VirtualScreen() override { return virtual_; }
    bool IsKeyDown(uint8_t vk) override { return (keyState_[vk] & 0x80) != 0; }
    std::array<uint8_t, 256> KeyboardState() override { return keyState_; }

    // Scan codes start as a US-English keyboard's MapVirtualKeyA(vk, MAPVK_VK_TO_VSC); a test may override one.
    void SetScanCode(uint8_t vk, uint8_t scan) { scanCodes_[vk] = scan; }
    void SetCursor(int32_t x, int32_t y) { cursor_ = {x, y}; }
    ScreenPoint cursor() const { return cursor_; }
    void SetCursorReadable(bool readable) { cursorReadable_ = readable; }
    void SetKeyDown(uint8_t vk, bool down);
    void SetKeyToggled(uint8_t vk, bool toggled);
    void SetKeyboardState(const std::array<uint8_t, 256>& state) { keyState_ = state; }

    // --- InputMethod ---
    ImeState OpenState() override { return ime_; }
    void SetImeState(ImeState state) { ime_ = state; }
    int hangulToggles() const { return hangulToggles_; } // how often VK_HANGUL flipped the input method

    // --- Screen ---
    // The screen image covers the virtual screen; pixels never set are black.
    uint32_t Pixel(int32_t x, int32_t y) override;
    bool Capture(const ScreenRect& rect, BgraImage& out) override;

    // One monitor of this size at (0, 0): also sets the virtual screen to it and clears the screen image.
    void SetPrimaryScreenSize(int32_t width, int32_t height);
    // Several monitors: the bounding rectangle (the primary keeps its size). Clears the screen image.
    void SetVirtualScreen(const ScreenRect& rect);
    // Colours are 0x00BBGGRR; points outside the virtual screen are ignored.
    void SetPixel(int32_t x, int32_t y, uint32_t color);
    void FillRect(const ScreenRect& rect, uint32_t color);
    void SetCaptureFails(bool fails) { captureFails_ = fails; }
    // Change stamps as a backend with change tracking gives them: a counter that every change of the screen image
    // moves (anywhere: the fake does not narrow it down to rectangles). Off by default: no stamps.
    std::optional<uint64_t> ChangeStamp(const ScreenRect& rect) override;
    void SetTracksChanges(bool on) { tracksChanges_ = on; }
    int captures() const { return captures_; }

    // --- InputMonitor ---
    bool Start(Poster post, std::function<void(const RawInputRecord&)> sink) override;
    void Stop() override;
    bool monitoring() const { return static_cast<bool>(sink_); }
    void SetMonitorStartFails(bool fails) { monitorStartFails_ = fails; }
    // Delivers a record as if a person typed (or, with injected set, as if this program sent it): through the
    // poster given to Start, or straight to the sink when the poster is null. False when nothing is monitoring.
    bool PushRaw(const RawInputRecord& record);

    // --- Clock ---
    uint32_t NowMs() override { return nowMs_; }
    LocalTime LocalNow() override;
    // Records a Sleep event and advances the virtual clock by ms; never blocks.
    void Sleep(uint32_t ms) override;
    TimerCaps GetTimerCaps() override { return caps_; }
    void BeginPeriod(uint32_t ms) override { beginPeriods_.push_back(ms); }
    void EndPeriod(uint32_t ms) override { endPeriods_.push_back(ms); }
    std::unique_ptr<PeriodicTimer> CreatePeriodicTimer() override;

    // Advances the virtual clock (NowMs, wrapping at 2^32) and the local time together.
    void AdvanceMs(uint32_t ms);
    // Sets NowMs without moving the local time.
    void SetNowMs(uint32_t ms) { nowMs_ = ms; }
    // Sets the local time of day; it then runs on with the virtual clock.
    void SetLocalTime(int hour, int minute, int second);
    void SetTimerCaps(TimerCaps caps) { caps_ = caps; }
    const std::vector<uint32_t>& beginPeriods() const { return beginPeriods_; }
    const std::vector<uint32_t>& endPeriods() const { return endPeriods_; }

    // Every timer created so far, in creation order (also destroyed ones).
    const std::vector<std::shared_ptr<FakeTimerState>>& timers() const { return timers_; }
    // Calls onTick of every running timer once, on the calling thread. Returns how many fired.
    int FireTimers();
    void SetTimerStartFails(bool fails) { *timerStartFails_ = fails; }

private:
    void MoveCursorBy(int64_t dx, int64_t dy);
    void ClampCursor();
    void EnsureImage();

    std::vector<FakeEvent> events_;
    uint64_t tick_ = 0;

    std::array<uint8_t, 256> scanCodes_{};
    std::array<uint8_t, 256> keyState_{};
    ScreenPoint cursor_;
    bool cursorReadable_ = true;

    ImeState ime_;
    int hangulToggles_ = 0;

    bool tracksChanges_ = false;
    uint64_t changes_ = 0;
    int captures_ = 0;
    ScreenSize primary_{1920, 1080};
    ScreenRect virtual_{0, 0, 1920, 1080};
    std::vector<uint32_t> image_; // virtual_.width * virtual_.height colours, allocated on the first write
    bool captureFails_ = false;

    Poster post_;
    std::function<void(const RawInputRecord&)> sink_;
    bool monitorStartFails_ = false;

    uint32_t nowMs_ = 0;
    uint64_t elapsedMs_ = 0;        // virtual milliseconds advanced since construction
    uint64_t localSetAtMs_ = 0;     // elapsedMs_ when the local time was set
    uint32_t localBaseMsOfDay_ = 0; // local time of day then, in ms
    TimerCaps caps_;
    std::vector<uint32_t> beginPeriods_;
    std::vector<uint32_t> endPeriods_;
    std::vector<std::shared_ptr<FakeTimerState>> timers_;
    std::shared_ptr<bool> timerStartFails_ = std::make_shared<bool>(false); // shared with the timers
};

} // namespace quillet::platform
