// Shared set-up of the run-mode and image-condition tests: a fake platform, the image results and colour timer
// restarts recorded, and the controller wired as the session wires it.
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

namespace quillet::triggertest {

using platform::FakePlatform;

struct ShownImage {
    std::string title;
    cv::Mat image;
};

// The polling timers as the session would run them: the period of each running one, and every change.
class RecordingTimers : public WindowTimerControl {
public:
    void SetPollTimer(int id, uint32_t periodMs) override {
        const uint32_t now = running.count(id) != 0 ? running[id] : 0;
        if (now == periodMs) return;
        changes.push_back({id, periodMs});
        if (periodMs == 0)
            running.erase(id);
        else
            running[id] = periodMs;
    }
    uint32_t Period(int id) const { return running.count(id) != 0 ? running.at(id) : 0; }
    std::map<int, uint32_t> running;
    std::vector<std::pair<int, uint32_t>> changes;
};

class TriggerTest : public ::testing::Test {
protected:
    TriggerTest() {
        settings.macroOptions = 0;
        image.SetResultSink([this](std::size_t index, const BgrImageView& picture) {
            const cv::Mat shown(picture.height, picture.width, CV_8UC3, const_cast<uint8_t*>(picture.data),
                                picture.stride);
            images.push_back({library[index].name, shown.clone()});
        });
    }

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

    void EnterRun() { run.EnterRunMode(std::nullopt); }
    void LeaveRun() { run.LeaveRunMode(); }
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
    RecordingTimers timers;
    std::vector<ShownImage> images;
    ImageTrigger image{engine, settings, fake};
    RunModeController run{engine, settings, fake, fake, fake, engineTimer, image, timers};
};

} // namespace quillet::triggertest
