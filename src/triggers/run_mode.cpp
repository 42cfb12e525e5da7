#include "triggers/run_mode.h"

#include <algorithm>

#include "model/cp949.h"
#include "model/ini_file.h"
#include "model/item_text.h"
#include "triggers/pixel_batch.h"

namespace quillet {

bool InClockWindow(int32_t startTime, int32_t stopTime, int32_t v) {
    if (startTime < stopTime) return startTime <= v && v <= stopTime;
    return v >= startTime || v <= stopTime;
}

std::vector<std::string> RunListLines(const MacroLibrary& library) {
    std::vector<std::string> lines;
    lines.reserve(library.size());
    for (const Macro& m : library) {
        std::string line = RunListText(m);
        line.resize(CutCp949(line, kRunListLineMax).size());
        lines.push_back(std::move(line));
    }
    return lines;
}

RunModeController::RunModeController(Engine& engine, CAppIni& settings, platform::InputOutput& io,
                                     platform::Screen& screen, platform::Clock& clock, CMmTimer& engineTimer,
                                     ImageConditions& image, WindowTimerControl& timers)
    : engine_(engine), library_(engine.library()), settings_(settings), io_(io), screen_(screen), clock_(clock),
      engineTimer_(engineTimer), image_(image), timers_(timers) {}

// --- Mode -------------------------------------------------------------------------------------------------------

void RunModeController::Initialise(std::optional<std::size_t> selected) {
    if ((settings_.macroOptions & OptionRunModeOn) != 0) EnterRunMode(selected);
}

void RunModeController::OnMainWindowDestroyed() {
    if (!engine_.runMode) return;
    active_ = false;
    image_.Cancel();
    engine_.StopAllMacros(HeldInput::AsSettingSays);
    engineTimer_.Stop();
}

uint32_t RunModeController::ColorTimerPeriod() const {
    return static_cast<uint32_t>(std::max(settings_.colorDelay, 1));
}

void RunModeController::EnterRunMode(std::optional<std::size_t> selected) {
    if (engine_.runMode) return;
    settings_.macroOptions |= OptionRunModeOn;
    engine_.StartRunMode(); // sequence number, run-mode flag, exclusive section
    if (runModeSink_) runModeSink_(true);
    active_ = true;
    for (Macro& m : library_)
        if ((m.flags & FlagAutoStart) != 0) engine_.StartMacro(m, 1);

    if ((settings_.macroOptions & OptionStartSelected) != 0) {
        if (selected && *selected < library_.size()) {
            Macro& m = library_[*selected];
            if (!IsRunning(m)) engine_.StartMacro(m, 1);
        }
    }
    UpdateTimers();
}

void RunModeController::LeaveRunMode() {
    if (!engine_.runMode) return;
    settings_.macroOptions &= ~OptionRunModeOn;
    if (runModeSink_) runModeSink_(false);
    active_ = false;
    image_.Cancel();
    // Also clears the run-mode flag, the sequence number and the exclusive section.
    engine_.StopAllMacros(HeldInput::AsSettingSays);
    engineTimer_.Stop();
    UpdateTimers();
}

void RunModeController::UpdateTimers() {
    bool running = false;
    bool clock = false;
    bool polled = false;
    if (active_)
        for (const Macro& m : library_) {
            running = running || IsRunning(m);
            clock = clock || (m.flags & FlagTimeWindow) != 0;
            polled = polled || (m.flags & (FlagStartColor | FlagStopColor | FlagStartImage)) != 0;
        }
    timers_.SetPollTimer(kTimerClock, clock ? kClockPeriodMs : 0);
    timers_.SetPollTimer(kTimerColor, polled || running ? ColorTimerPeriod() : 0);
    if (!active_) return;

    const bool ticking = engineTimer_.timerId != -1;
    if (running && !ticking) {
        // A period of 0 or less (a hand-edited settings file) would ask the system for a timer it refuses.
        engineTimer_.period = settings_.TickPeriodMs();
        engineTimer_.Start();
        // The first tick comes at once and counts a whole period, as a tick of a timer that ran all along would.
        engine_.lastTickTime = clock_.NowMs() - engineTimer_.period;
        engineTimer_.OnTimer();
    } else if (!running && ticking) {
        engineTimer_.Stop();
    }
}

// --- Input --------------------------------------------------------------------------------------------------------

void RunModeController::OnMainInputEvent(int code, bool isPress) {
    // The toggle key works in both modes and looks at the key code only.
    if (isPress && code == settings_.keyMacroRun) {
        if (!engine_.runMode)
            EnterRunMode(selected_);
        else
            LeaveRunMode();
    }
    EvaluateHotkeys(MakeKeyEventCode(code, isPress, io_));
}

void RunModeController::EvaluateHotkeys(int32_t e) {
    if (!engine_.runMode) return;
    for (Macro& m : library_) {
        bool started = false;
        if ((m.flags & FlagStartKey) != 0 && !IsRunning(m) && KeyConditionMatches(m.startKey, e)) {
            engine_.StartMacro(m, 1);
            started = true;
        }
        // The event that started the macro never stops it, so one key can serve as start and stop.
        if ((m.flags & FlagStopKey) != 0 && IsRunning(m) && !started && KeyConditionMatches(m.stopKey, e))
            engine_.StopMacro(m, HeldInput::AsSettingSays);
        Engine::NoteKeyEvent(m, e);
    }
}

// --- Polled conditions ----------------------------------------------------------------------------------------------

void RunModeController::OnWindowTimer(int id) {
    switch (id) {
    case kTimerClock:
        EvaluateClockTriggers();
        break;
    case kTimerColor:
        EvaluateColorTriggers();
        image_.EvaluateImageTriggers();
        break;
    default:
        break;
    }
}

void RunModeController::EvaluateClockTriggers() {
    if (!engine_.runMode) return;
    const platform::LocalTime now = clock_.LocalNow();
    for (Macro& m : library_) {
        if ((m.flags & FlagTimeWindow) == 0) continue;
        // Both bounds are compared in the start time's form.
        const bool inWindow = InClockWindow(m.startTime, m.stopTime, ClockValue(m.startTimeForm(), now));
        if (!IsRunning(m) && inWindow)
            engine_.StartMacro(m, 1);
        else if (IsRunning(m) && !inWindow)
            engine_.StopMacro(m, HeldInput::AsSettingSays);
    }
}

void RunModeController::EvaluateColorTriggers() {
    if (!engine_.runMode) return;
    // Every pixel this poll may read, taken together where one copy is cheaper.
    batchPoints_.clear();
    for (const Macro& m : library_) {
        if ((m.flags & FlagStartColor) != 0) batchPoints_.push_back({PointX(m.startColorPos), PointY(m.startColorPos)});
        if ((m.flags & FlagStopColor) != 0) batchPoints_.push_back({PointX(m.stopColorPos), PointY(m.stopColorPos)});
        if (IsRunning(m) && m.waitColorPhase == WaitArmed)
            batchPoints_.push_back({PointX(m.waitColorPos), PointY(m.waitColorPos)});
    }
    if (batchPoints_.empty()) return;
    PixelBatch screen(screen_, io_.VirtualScreen(), batchPoints_);
    for (Macro& m : library_) {
        const bool changeOnly = (m.flags & FlagColorOnChange) != 0;
        bool started = false;
        if ((m.flags & FlagStartColor) != 0) {
            const uint32_t p = screen.Pixel(PointX(m.startColorPos), PointY(m.startColorPos));
            const bool match = ColorMatches(p, static_cast<uint32_t>(m.startColor), m.colorTolerance);
            if (!IsRunning(m) && (changeOnly ? match && !m.lastStartColorMatch : match)) {
                engine_.StartMacro(m, 1); // clears both memories first
                started = true;
            }
            m.lastStartColorMatch = match;
        }
        if ((m.flags & FlagStopColor) != 0) {
            const uint32_t p = screen.Pixel(PointX(m.stopColorPos), PointY(m.stopColorPos));
            const bool match = ColorMatches(p, static_cast<uint32_t>(m.stopColor), m.colorTolerance);
            if (IsRunning(m) && !started && (changeOnly ? match && !m.lastStopColorMatch : match))
                engine_.StopMacro(m, HeldInput::AsSettingSays);
            m.lastStopColorMatch = match;
        }
        Engine::ServeColorWait(m, screen);
    }
}

} // namespace quillet
