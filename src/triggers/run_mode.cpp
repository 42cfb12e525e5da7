#include "triggers/run_mode.h"

#include <algorithm>
#include <limits>

#include "model/cp949.h"
#include "model/ini_file.h"
#include "model/item_text.h"
#include "triggers/pixel_batch.h"

namespace quillet {

namespace {

constexpr std::size_t kBalloonMacros = 32; // the balloon and its mask cover the first 32 macros

} // namespace

bool InClockWindow(int32_t startTime, int32_t stopTime, int32_t v) {
    if (startTime < stopTime) return startTime <= v && v <= stopTime;
    return v >= startTime || v <= stopTime;
}

RunModeController::RunModeController(Engine& engine, CAppIni& settings, platform::InputOutput& io,
                                     platform::Screen& screen, platform::Clock& clock, CMmTimer& engineTimer,
                                     ImageConditions& image, RunView& view, WindowTimerControl& timers)
    : engine_(engine), library_(engine.library()), settings_(settings), io_(io), screen_(screen), clock_(clock),
      engineTimer_(engineTimer), image_(image), view_(view), timers_(timers),
      idleTooltip_(Utf8ToCp949("Quillet 프로그램 - 더블클릭 하세요.")),
      runTooltip_(Utf8ToCp949("Quillet 프로그램 - 매크로 실행 중입니다.")) {}

// --- Mode -------------------------------------------------------------------------------------------------------

void RunModeController::SetRadios(bool run) {
    runRadio_ = run;
    view_.SetModeRadios(run);
}

void RunModeController::ShowEditState() {
    view_.SetEditingEnabled(true);
    view_.ShowRunList(false);
}

void RunModeController::Initialise() {
    SetRadios((settings_.macroOptions & OptionRunModeOn) != 0);
    ShowEditState();
    EnterRunMode();
}

void RunModeController::OnRunRadio() {
    SetRadios(true);
    EnterRunMode();
}

void RunModeController::OnEditRadio() {
    SetRadios(false);
    LeaveRunMode();
}

void RunModeController::OnMainWindowDestroyed() {
    if (!engine_.runMode) return;
    image_.Cancel();
    engine_.StopAllMacros(HeldInput::AsSettingSays);
    engineTimer_.Stop();
}

uint32_t RunModeController::ColorTimerPeriod() const {
    return static_cast<uint32_t>(std::max(settings_.colorDelay, 1));
}

void RunModeController::EnterRunMode() {
    if (engine_.runMode || !runRadio_) return;
    settings_.macroOptions |= OptionRunModeOn;
    engine_.StartRunMode(); // sequence number, run-mode flag, exclusive section
    if (runModeSink_) runModeSink_(true);
    for (Macro& m : library_)
        if ((m.flags & FlagAutoStart) != 0) engine_.StartMacro(m, 1);

    view_.SetEditingEnabled(false);
    std::vector<std::string> lines;
    lines.reserve(library_.size());
    for (const Macro& m : library_) {
        std::string line = RunListText(m);
        line.resize(CutCp949(line, kRunListLineMax).size());
        lines.push_back(std::move(line));
    }
    view_.SetRunListLines(lines);
    view_.ShowRunList(true);
    timers_.RestartColorTimer(ColorTimerPeriod());

    // A period of 0 or less (a hand-edited settings file) would ask the system for a timer it refuses.
    engineTimer_.period = settings_.TickPeriodMs();
    engineTimer_.Start();

    if ((settings_.macroOptions & OptionStartSelected) != 0) {
        const int sel = view_.SelectedEditIndex();
        if (sel >= 0 && static_cast<std::size_t>(sel) < library_.size()) {
            Macro& m = library_[static_cast<std::size_t>(sel)];
            if (!IsRunning(m)) engine_.StartMacro(m, 1);
        }
    }
}

void RunModeController::LeaveRunMode() {
    if (!engine_.runMode || runRadio_) return;
    settings_.macroOptions &= ~OptionRunModeOn;
    if (runModeSink_) runModeSink_(false);
    image_.Cancel();
    // Also clears the run-mode flag, the sequence number and the exclusive section.
    engine_.StopAllMacros(HeldInput::AsSettingSays);
    ShowEditState();
    view_.HideStatusWindow();
    engineTimer_.Stop();
}

// --- Input --------------------------------------------------------------------------------------------------------

void RunModeController::OnMainInputEvent(int code, bool isPress) {
    // The toggle key works in both modes and looks at the key code only.
    if (isPress && code == settings_.keyMacroRun) {
        if (!runRadio_) {
            SetRadios(true);
            EnterRunMode();
        } else {
            SetRadios(false);
            LeaveRunMode();
        }
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
    case kTimerRunningDisplay:
        RefreshRunningDisplay();
        break;
    case kTimerTray:
        if ((settings_.macroOptions & OptionTrayBlink) != 0) UpdateTrayBlink();
        if (engine_.runMode && (settings_.macroOptions & OptionMarkColors) != 0) DrawColorMarkers();
        break;
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

// --- Display --------------------------------------------------------------------------------------------------------

void RunModeController::RefreshRunningDisplay() {
    running_.assign(library_.size(), false);
    uint32_t mask = 0;
    for (std::size_t i = 0; i < library_.size(); ++i) {
        if (!IsRunning(library_[i])) continue;
        running_[i] = true;
        if (i < kBalloonMacros) mask |= uint32_t{1} << i;
    }
    view_.SetRunningLines(running_);

    if ((settings_.macroOptions & OptionTrayBlink) == 0 || mask == balloonMask_) return;
    std::string text;
    for (std::size_t i = 0; i < library_.size() && i < kBalloonMacros; ++i) {
        if (!running_[i]) continue;
        text += library_[i].name;
        text += '\n';
        if (text.size() > kBalloonTextMax) break;
    }
    if (text.empty()) text = "(none)\n";
    text.resize(CutCp949(text, kBalloonTextMax).size());
    view_.ShowBalloon("Running Macros", text, kBalloonTimeoutMs);
    balloonMask_ = mask;
}

void RunModeController::UpdateTrayBlink() {
    if (engine_.runMode) {
        trayBlinkCount_ = trayBlinkCount_ == std::numeric_limits<int>::max() ? 0 : trayBlinkCount_ + 1;
        view_.SetTrayIcon((trayBlinkCount_ % 2) != 0 ? TrayIcon::Blink : TrayIcon::Main, runTooltip_);
        trayShowsRun_ = true;
    } else if (trayShowsRun_) {
        view_.SetTrayIcon(TrayIcon::Main, idleTooltip_);
        trayShowsRun_ = false;
    }
}

void RunModeController::DrawColorMarkers() {
    std::vector<platform::MarkerRect> markers;
    const auto around = [](int32_t packed, uint32_t color) {
        return platform::MarkerRect{
            {PointX(packed) - kMarkerHalf, PointY(packed) - kMarkerHalf, 2 * kMarkerHalf, 2 * kMarkerHalf}, color};
    };
    for (const Macro& m : library_) {
        if ((m.flags & FlagStopColor) != 0) markers.push_back(around(m.stopColorPos, kMarkerStopColor));
        if ((m.flags & FlagStartColor) != 0) markers.push_back(around(m.startColorPos, kMarkerStartColor));
    }
    if (!markers.empty()) view_.DrawColorMarkers(markers);
}

} // namespace quillet
