// The running program without a window: the macro library as a document, the engine with its scheduler timer, the
// input router fed by the platform's input monitor, run mode with its window timers and the image conditions. The
// desktop program's main window, its dialogs and quillet-cli hold a reference to one Session; none of them puts
// that set-up together itself.
//
// Threads: everything here runs on the session's event loop thread. The input monitor and the timers post to it.
// A person's input comes first: input that has arrived is handled before every engine tick, and at most one tick
// waits at a time, so a stop key is never queued behind a backlog of ticks.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/mm_timer.h"
#include "input/input_router.h"
#include "input/key_mouse_status.h"
#include "model/macro.h"
#include "model/settings.h"
#include "platform/platform.h"
#include "session/event_loop.h"
#include "session/library_document.h"
#include "session/session_observer.h"
#include "triggers/run_mode.h"

namespace quillet {

class ImageTrigger;

class Session final : private WindowTimerControl {
public:
    // platform, settings, counter and loop must outlive the session. seed: the engine's random numbers (by default
    // from the clock).
    Session(platform::Platform platform, CAppIni& settings, TimerCounter& counter, EventLoop& loop,
            std::optional<uint32_t> seed = std::nullopt);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // --- Parts ---
    platform::Platform& platform() { return platform_; }
    CAppIni& settings() { return settings_; }
    EventLoop& loop() { return loop_; }
    MacroLibrary& library() { return library_; }
    LibraryDocument& document() { return document_; }
    Engine& engine() { return engine_; }
    InputRouter& router() { return router_; }
    KeyMouseStatus& keyMouseStatus() { return status_; }
    RunModeController& runMode() { return runMode_; }
    CMmtMacros& engineTimer() { return engineTimer_; }
    // The image conditions; null in builds without template matching.
    ImageTrigger* imageTrigger() { return imageTrigger_; }

    TimerCounter& timerCounter() { return timerCounter_; }
    // Handles every person's input event that has arrived (a macro editor's test run does so before each tick).
    void DrainInput();

    // Watchers of what happens (SessionObserver), told in the order they were added. An observer must be removed
    // before it goes; adding one twice adds nothing.
    void AddObserver(SessionObserver& observer);
    void RemoveObserver(SessionObserver& observer);

    // --- The library ---
    // Loads the file as the current library (macroFileName := name) with the engine's state reset (run-mode flag
    // off, exclusive section free, sequence number from the settings). Refused (nothing) while run mode is on.
    std::optional<LibraryDocument::LoadReport> OpenLibrary(const std::string& cp949Name);

    // --- The desktop program's run ---
    // Run mode's share of input at the bottom of the router, the engine ticking, run mode restored when it was on
    // at the last end (macroOptions bit 0x2), with selected as the macro selected in the list of names.
    void BeginRunMode(std::optional<std::size_t> selected);
    // Starts watching the desktop's keyboard and mouse; false when the platform cannot.
    bool StartInputMonitoring();
    // From now on the polling timers of run mode (clock; colour and image) run while they have work.
    void StartWindowTimers();
    // Handles now every input event the system has delivered so far (before a shutdown request, for example).
    void FlushInput();
    // The end: no more input or timer work, every macro stopped (run mode is restored at the next start: bit 0x2
    // stays set), and what macros hold released as held says. Later calls do nothing.
    void End(HeldInput held);
    bool ended() const { return ended_; }

    // --- Playing without run mode (quillet-cli play) ---
    // The engine's state as on entering run mode and its ticks started, without the triggers.
    void StartEngineTicks();

private:
    // WindowTimerControl
    void SetPollTimer(int id, uint32_t periodMs) override;

    // Input posted by the monitor's thread waits here until the loop drains it (or an engine tick does first).
    struct Inbox {
        std::mutex mutex;
        std::deque<std::function<void()>> queue;
        std::atomic<bool> drainPosted{false};
    };
    void PostInput(std::function<void()> fn);
    // Tells every observer; observers added or removed meanwhile take effect at the next event.
    void Tell(const std::function<void(SessionObserver&)>& event);
    // The library index of a library macro; nothing for another macro (the editor's working copy).
    std::optional<std::size_t> IndexOf(const Macro& m) const;
    void OnEngineTick();
    void StartWindowTimer(int id, uint32_t periodMs);

    platform::Platform platform_;
    CAppIni& settings_;
    EventLoop& loop_;
    MacroLibrary library_;
    Engine engine_;
    LibraryDocument document_;
    KeyMouseStatus status_;
    InputRouter router_;
    CMmtMacros engineTimer_;
    ImageTrigger* imageTrigger_ = nullptr;    // set while images_ is made; declared first so it is not reset after
    std::unique_ptr<ImageConditions> images_; // the image trigger, or none without template matching
    RunModeController runMode_;

    std::vector<SessionObserver*> observers_;
    bool logging_ = true; // item lines are told until the end
    TimerCounter& timerCounter_;
    std::shared_ptr<Inbox> inbox_ = std::make_shared<Inbox>();
    bool runModeBegun_ = false;
    bool monitoring_ = false;
    bool windowTimers_ = false;
    bool ended_ = false;
};

} // namespace quillet
