// Run and edit mode of the main window and the start/stop conditions of the macros: hotkeys per input event, clock
// windows and colours (and, through ImageTrigger, images) polled by the main window's timers, and what the window
// shows of it (the running lines, the tray balloon and blinking, the colour markers).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/mm_timer.h"
#include "model/macro.h"
#include "model/option_bits.h"
#include "model/settings.h"
#include "platform/platform.h"
#include "triggers/input_decoder.h"
#include "triggers/input_router.h"
#include "triggers/run_view.h"

namespace quillet {

// The main window's timers. The GUI creates them at the end of its initialisation and calls OnWindowTimer(id).
inline constexpr int kTimerRunningDisplay = 1000; // 33 ms: RefreshRunningDisplay
inline constexpr int kTimerTray = 1001;           // 500 ms: UpdateTrayBlink, DrawColorMarkers
inline constexpr int kTimerClock = 1002;          // 100 ms: EvaluateClockTriggers
inline constexpr int kTimerColor = 1003;          // colorDelay: EvaluateColorTriggers, EvaluateImageTriggers
struct WindowTimerPeriod {
    int id;
    uint32_t periodMs; // 0 for kTimerColor: its period is the setting colorDelay (see ColorTimerPeriod)
};
inline constexpr std::array<WindowTimerPeriod, 4> kWindowTimers = {
    {{kTimerRunningDisplay, 33}, {kTimerTray, 500}, {kTimerClock, 100}, {kTimerColor, 0}}};

// Balloon of the running macros.
inline constexpr int kBalloonTimeoutMs = 1000;
inline constexpr std::size_t kBalloonTextMax = 255; // the balloon's 256-byte text field
inline constexpr std::size_t kRunListLineMax = 256;
// A colour marker is the rectangle from (x - 4, y - 4) to (x + 4, y + 4), right and bottom exclusive.
inline constexpr int32_t kMarkerHalf = 4;
inline constexpr uint32_t kMarkerStartColor = 0x0000FF; // red
inline constexpr uint32_t kMarkerStopColor = 0xFF0000;  // blue

// The clock window rule on values of ClockValue: it wraps when startTime is not below stopTime (equal bounds: always
// inside).
bool InClockWindow(int32_t startTime, int32_t stopTime, int32_t v);

// The image start conditions, evaluated at the colour period after the colour conditions.
class ImageConditions {
public:
    virtual ~ImageConditions() = default;
    virtual void EvaluateImageTriggers() = 0;
    // Run mode ends: work in flight is dropped and never applied.
    virtual void Cancel() {}
};

// Builds without template matching have no image conditions.
class NoImageConditions final : public ImageConditions {
public:
    void EvaluateImageTriggers() override {}
};

// Whoever runs the main window's timers: timer kTimerColor is created again with a new period.
class WindowTimerControl {
public:
    virtual ~WindowTimerControl() = default;
    virtual void RestartColorTimer(uint32_t periodMs) = 0;
};

// The main window's share of live input (the bottom of the input router's stack): the run/edit toggle key, the
// hotkeys and the key waits.
class RunModeController final : public InputConsumer {
public:
    // engineTimer is the scheduler timer (CMmtMacros); image evaluates the image conditions.
    RunModeController(Engine& engine, CAppIni& settings, platform::InputOutput& io, platform::Screen& screen,
                      platform::Clock& clock, CMmTimer& engineTimer, ImageConditions& image, RunView& view,
                      WindowTimerControl& timers);
    RunModeController(const RunModeController&) = delete;
    RunModeController& operator=(const RunModeController&) = delete;

    // Start-up, once the library is loaded and the edit list filled: the radios from macroOptions bit 0x2, the
    // edit-mode display, then EnterRunMode (which enters run mode only when that bit was set).
    void Initialise();
    // The radio buttons: check the clicked one, then enter or leave run mode.
    void OnRunRadio();
    void OnEditRadio();
    // The main window is destroyed: in run mode every macro is stopped and the engine timer stopped; bit 0x2 stays
    // set so that the next start returns to run mode.
    void OnMainWindowDestroyed();

    void EnterRunMode();
    void LeaveRunMode();

    // The main window's share of a decoded input event: the run/edit toggle key, then the hotkeys and key waits.
    void OnMainInputEvent(int code, bool isPress);
    InputKinds kinds() const override { return InputKinds::Both; }
    void OnInput(const InputEvent& e) override { OnMainInputEvent(e.code, e.isPress); }
    void EvaluateHotkeys(int32_t keyEventCode);

    // Timer work.
    void OnWindowTimer(int id);
    void EvaluateClockTriggers();
    void EvaluateColorTriggers(); // with the colour waits
    void RefreshRunningDisplay();
    void UpdateTrayBlink();
    void DrawColorMarkers();
    // Period of window timer 1003: the setting colorDelay, at least 1 ms.
    uint32_t ColorTimerPeriod() const;

    // Told when run mode is entered (before its auto-start macros start) and left (before its macros stop).
    void SetRunModeSink(std::function<void(bool on)> sink) { runModeSink_ = std::move(sink); }

    bool runMode() const { return engine_.runMode; }
    bool runRadioChecked() const { return runRadio_; }
    int trayBlinkCount() const { return trayBlinkCount_; }
    uint32_t balloonMask() const { return balloonMask_; }

private:
    void SetRadios(bool run);
    void ShowEditState();

    Engine& engine_;
    MacroLibrary& library_;
    CAppIni& settings_;
    platform::InputOutput& io_;
    platform::Screen& screen_;
    platform::Clock& clock_;
    CMmTimer& engineTimer_;
    ImageConditions& image_;
    RunView& view_;
    std::function<void(bool)> runModeSink_;
    WindowTimerControl& timers_;

    bool runRadio_ = false;                          // radio 1014 checked (1015 otherwise)
    std::vector<platform::ScreenPoint> batchPoints_; // reused by every colour poll
    int trayBlinkCount_ = 0;
    uint32_t balloonMask_ = 0;
    bool trayShowsRun_ = false; // the tray shows the run-mode icon or tooltip
    std::vector<bool> running_; // reused by RefreshRunningDisplay
    std::string idleTooltip_;
    std::string runTooltip_;
};

} // namespace quillet
