// Shared set-up of the run-mode and image-condition tests: a fake platform, a view that records what the main window
// would show, and the controller wired as the application wires it.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/mm_timer.h"
#include "platform/fake/fake_platform.h"
#include "triggers/image_trigger.h"
#include "triggers/run_mode.h"
#include "triggers/run_view.h"

namespace quillet::triggertest {

using platform::FakePlatform;

struct Balloon {
    std::string title;
    std::string text;
    int timeoutMs = 0;
};

struct TrayState {
    TrayIcon icon = TrayIcon::Main;
    std::string tooltip;
};

struct ShownImage {
    std::string title;
    cv::Mat image;
};

class RecordingView : public RunView, public WindowTimerControl {
public:
    void SetEditingEnabled(bool enabled) override { editing = enabled; }
    void SetModeRadios(bool runChecked) override { radioRun = runChecked; }
    void ShowRunList(bool show) override { runListShown = show; }
    void SetRunListLines(const std::vector<std::string>& l) override { lines = l; }
    void SetRunningLines(const std::vector<bool>& r) override { running = r; }
    int SelectedEditIndex() const override { return selectedEdit; }
    void HideStatusWindow() override { ++statusHidden; }
    void ShowBalloon(const std::string& title, const std::string& text, int timeoutMs) override {
        balloons.push_back({title, text, timeoutMs});
    }
    void SetTrayIcon(TrayIcon icon, const std::string& tooltip) override { tray.push_back({icon, tooltip}); }
    void RestartColorTimer(uint32_t periodMs) override { colorTimerPeriods.push_back(periodMs); }
    void DrawColorMarkers(const std::vector<platform::MarkerRect>& m) override { markers.push_back(m); }
    void ShowImageResult(const std::string& title, const BgrImageView& image) override {
        const cv::Mat view(image.height, image.width, CV_8UC3, const_cast<uint8_t*>(image.data), image.stride);
        images.push_back({title, view.clone()});
    }

    std::optional<bool> editing; // not yet set
    bool radioRun = false;
    bool runListShown = false;
    std::vector<std::string> lines;
    std::vector<bool> running;
    int selectedEdit = -1;
    int statusHidden = 0;
    std::vector<Balloon> balloons;
    std::vector<TrayState> tray;
    std::vector<uint32_t> colorTimerPeriods;
    std::vector<std::vector<platform::MarkerRect>> markers;
    std::vector<ShownImage> images;
};

class TriggerTest : public ::testing::Test {
protected:
    TriggerTest() { settings.macroOptions = 0; }

    // A macro that stays running (a long delay) unless short, which ends after one scheduler tick.
    std::size_t Add(const std::string& name, int32_t flags, bool shortRun = false) {
        Macro m = MakeNewMacro(name);
        m.flags = flags;
        m.setRepeatCount(1);
        m.items.push_back(shortRun ? MakeKeyItem('Z', ActionPress | ActionRelease) : MakeDelayItem(1000000, DelayTime));
        library.push_back(std::move(m));
        return library.size() - 1;
    }
    Macro& M(std::size_t i) { return library[i]; }
    bool Running(std::size_t i) { return IsRunning(library[i]); }

    void EnterRun() { run.OnRunRadio(); }
    void LeaveRun() { run.OnEditRadio(); }
    void Press(int code) { run.OnMainInputEvent(code, true); }
    void Release(int code) { run.OnMainInputEvent(code, false); }
    void EngineTick() {
        fake.AdvanceMs(33);
        engine.OnMacroTimer();
    }
    void ColorTick() { run.OnWindowTimer(kTimerColor); }
    void ClockTick() { run.OnWindowTimer(kTimerClock); }

    FakePlatform fake;
    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    MacroLibrary library;
    Engine engine{library, settings, fake.platform(), 7u};
    TimerCounter timerCounter;
    CMmTimer engineTimer{fake, timerCounter};
    RecordingView view;
    ImageTrigger image{engine, settings, fake, view};
    RunModeController run{engine, settings, fake, fake, fake, engineTimer, image, view, view};
};

} // namespace quillet::triggertest
