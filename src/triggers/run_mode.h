// Run and edit mode and the start/stop conditions of the macros: hotkeys per input event, clock windows and colours
// (and, through ImageTrigger, images) polled by the session's timers. What a window shows of it is the window's
// business: the session tells its observers what happens.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/mm_timer.h"
#include "input/input_decoder.h"
#include "input/input_router.h"
#include "model/macro.h"
#include "model/option_bits.h"
#include "model/settings.h"
#include "platform/platform.h"

namespace quillet {

// The polling timers of run mode, run on the session's loop while they have work (see UpdateTimers); the session
// calls OnWindowTimer(id). (The ids 1000 and 1001 belong to the main window's display.)
inline constexpr int kTimerClock = 1002; // kClockPeriodMs: EvaluateClockTriggers
inline constexpr int kTimerColor = 1003; // colorDelay (ColorTimerPeriod): EvaluateColorTriggers, EvaluateImageTriggers
inline constexpr uint32_t kClockPeriodMs = 100;
inline constexpr std::array<int, 2> kPollTimers = {kTimerClock, kTimerColor};

// The run list: one line per library macro, its name and conditions (RunListText), cut at a character boundary to
// kRunListLineMax bytes.
inline constexpr std::size_t kRunListLineMax = 256;
std::vector<std::string> RunListLines(const MacroLibrary& library);

// An 8-bit BGR picture: rows of stride bytes, top-down. It does not own its pixels.
struct BgrImageView {
    int32_t width = 0;
    int32_t height = 0;
    std::size_t stride = 0;
    const uint8_t* data = nullptr;
};

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

// Whoever runs the polling timers (the session, on its loop).
class WindowTimerControl {
public:
    virtual ~WindowTimerControl() = default;
    // Timer id (kTimerClock or kTimerColor) runs with periodMs, started or restarted when it does not run with
    // that period; 0 stops it.
    virtual void SetPollTimer(int id, uint32_t periodMs) = 0;
};

// Run mode's share of live input (the bottom of the input router's stack): the run/edit toggle key, the hotkeys and
// the key waits.
class RunModeController final : public InputConsumer {
public:
    // engineTimer is the scheduler timer (CMmtMacros); image evaluates the image conditions.
    RunModeController(Engine& engine, CAppIni& settings, platform::InputOutput& io, platform::Screen& screen,
                      platform::Clock& clock, CMmTimer& engineTimer, ImageConditions& image,
                      WindowTimerControl& timers);
    RunModeController(const RunModeController&) = delete;
    RunModeController& operator=(const RunModeController&) = delete;

    // Start-up, once the library is loaded: run mode is entered (with the selected macro) only when macroOptions
    // bit 0x2 says it was on at the last end.
    void Initialise(std::optional<std::size_t> selected);
    // The program's window is destroyed: in run mode every macro is stopped and the engine timer stopped; bit 0x2
    // stays set so that the next start returns to run mode.
    void OnMainWindowDestroyed();

    // Enters run mode (nothing when it is on): bit 0x2 set, the observers told, the auto-start macros started, then
    // the selected macro (the one selected in the list of names, if any) started when macroOptions asks for that.
    void EnterRunMode(std::optional<std::size_t> selected);
    // Leaves run mode (nothing when it is off): bit 0x2 cleared, the observers told, every macro stopped.
    void LeaveRunMode();
    // The macro the toggle key's EnterRunMode starts with; the window tells it whenever the selection changes.
    void SetSelectedMacro(std::optional<std::size_t> selected) { selected_ = selected; }

    // In run mode a timer runs only while it has work, so that an idle program does not wake up: the engine timer
    // while a macro runs (started with a tick at once, so a macro's first item comes no later than on a timer that
    // ran all along), the colour timer while a colour or image condition exists or a macro runs (its colour waits),
    // the clock timer while a clock condition exists. Called after every start and end of a macro and when run
    // mode switches; cheap when nothing changed.
    void UpdateTimers();

    // The main window's share of a decoded input event: the run/edit toggle key, then the hotkeys and key waits.
    void OnMainInputEvent(int code, bool isPress);
    InputKinds kinds() const override { return InputKinds::Both; }
    void OnInput(const InputEvent& e) override { OnMainInputEvent(e.code, e.isPress); }
    void EvaluateHotkeys(int32_t keyEventCode);

    // Timer work.
    void OnWindowTimer(int id);
    void EvaluateClockTriggers();
    void EvaluateColorTriggers(); // with the colour waits
    // Period of window timer 1003: the setting colorDelay, at least 1 ms.
    uint32_t ColorTimerPeriod() const;

    // Told when run mode is entered (before its auto-start macros start) and left (before its macros stop).
    void SetRunModeSink(std::function<void(bool on)> sink) { runModeSink_ = std::move(sink); }

    bool runMode() const { return engine_.runMode; }

private:
    Engine& engine_;
    MacroLibrary& library_;
    CAppIni& settings_;
    platform::InputOutput& io_;
    platform::Screen& screen_;
    platform::Clock& clock_;
    CMmTimer& engineTimer_;
    ImageConditions& image_;
    std::function<void(bool)> runModeSink_;
    WindowTimerControl& timers_;

    std::optional<std::size_t> selected_;
    bool active_ = false; // run mode entered here: the timers are this controller's business
    std::vector<platform::ScreenPoint> batchPoints_; // reused by every colour poll
};

} // namespace quillet
