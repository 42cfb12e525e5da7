// The periodic high-resolution timers that drive the engine. The timer callback runs on the timer's own thread and
// does nothing there but post a tick to the owner's thread. At most one tick waits there at a time: while one is
// posted and not yet handled, further timer events post nothing (the next tick measures the elapsed time itself,
// so delays and clock waits keep their timing). A busy owner thread therefore never builds a backlog of ticks that
// would hold up a person's input queued behind them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/platform.h"

namespace quillet {

// Counts the live timer objects of the process so that the system timer resolution is raised by the first one
// and restored by the last one. Created once by the application (tests make their own) and passed to every timer.
struct TimerCounter {
    int32_t live = 0;
    int32_t nextId = 1; // ids handed out for started timers
};

class CMmTimer {
public:
    CMmTimer(platform::Clock& clock, TimerCounter& counter);
    virtual ~CMmTimer();
    CMmTimer(const CMmTimer&) = delete;
    CMmTimer& operator=(const CMmTimer&) = delete;

    // Starts the periodic timer with the current period (a running one is stopped first). When the system refuses
    // the timer, timerId becomes 0 and no tick arrives.
    void Start();
    // Kills the timer if one was started.
    void Stop();
    // Runs on the timer's thread at every timer event.
    virtual void OnTimer() {}

    uint32_t period = 0;     // ms, set by the owner before Start
    uint32_t resolution = 0; // ms, fixed at construction
    int32_t timerId = -1;    // -1 while no timer was started

private:
    platform::Clock& clock_;
    TimerCounter& counter_;
    std::unique_ptr<platform::PeriodicTimer> timer_;
};

// A timer whose ticks are posted to an owner on the owner's thread. The owner is a callback set on that thread;
// while none is set the posted ticks are dropped there.
class CMmtPostingTimer : public CMmTimer {
public:
    CMmtPostingTimer(platform::Clock& clock, TimerCounter& counter, platform::Poster post);
    ~CMmtPostingTimer() override;

    // Owner's thread only. An empty callback means there is no owner.
    void SetOwner(std::function<void()> onTick) { slot_->onTick = std::move(onTick); }
    bool HasOwner() const { return static_cast<bool>(slot_->onTick); }

    void OnTimer() override;

private:
    struct Slot {
        std::function<void()> onTick;
        std::atomic<bool> pending{false}; // a tick is posted and not yet handled
    };
    platform::Poster post_;
    // Shared with the posted closures, so a tick still queued after this object is gone finds an empty slot.
    std::shared_ptr<Slot> slot_ = std::make_shared<Slot>();
};

// Drives the scheduler of the main window in run mode.
class CMmtMacros : public CMmtPostingTimer {
public:
    using CMmtPostingTimer::CMmtPostingTimer;
};

// Drives the macro editor's test run.
class CMmtMacro : public CMmtPostingTimer {
public:
    using CMmtPostingTimer::CMmtPostingTimer;
};

} // namespace quillet
