// Time on POSIX systems: CLOCK_MONOTONIC milliseconds, local time, sleeping, and a periodic timer thread that
// waits for absolute deadlines on the monotonic clock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace quillet::platform::x11 {

class PosixPeriodicTimer final : public PeriodicTimer {
public:
    PosixPeriodicTimer() = default;
    ~PosixPeriodicTimer() override;

    // Ticks every periodMs (at least 1) on the timer's own thread, measured from the start on absolute deadlines
    // so that lateness does not add up. A deadline missed by more than a period is skipped, not made up in a burst.
    // resolutionMs is not needed here: the kernel's timers are precise to well below a millisecond.
    //
    // Start, Stop and the destructor may be called by the owner's thread or from onTick itself; never from two
    // threads at once. Called from onTick they touch only the state shared with the timer's thread: Stop asks it
    // to end after this tick; Start keeps the same thread and takes up the new period (from now) and callback once
    // this tick has returned; the destructor asks it to end and lets the thread go (it holds nothing of the
    // object). The owner's thread alone creates, joins and replaces the thread. The first tick waits until Start
    // has returned, so even a 1 ms timer never ticks into a Start still in progress.
    bool Start(uint32_t periodMs, uint32_t resolutionMs, std::function<void()> onTick) override;
    // From the owner: waits for the thread to end (at most one tick in progress).
    void Stop() override;

private:
    // Shared by the owner and the timer's thread; every field under mutex.
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        bool ready = false; // Start has stored the thread: ticking may begin
        bool stop = false;
        bool ended = false; // stopped by the owner: a restart from a tick still running does not undo that
        // A restart from the tick: taken up by the thread once the tick has returned.
        bool restart = false;
        std::chrono::milliseconds restartPeriod{1};
        std::function<void()> restartTick;
    };
    static void Run(std::shared_ptr<State> state, const PosixPeriodicTimer* owner,
                    std::chrono::steady_clock::time_point first, std::chrono::milliseconds period,
                    std::function<void()> onTick);
    // The timer whose tick runs on this thread and its state (null elsewhere): how Start, Stop and the destructor
    // tell a call from their own tick without reading the owner's members.
    static thread_local const PosixPeriodicTimer* tickingTimer_;
    static thread_local State* tickingState_;

    // Owner's thread only.
    std::shared_ptr<State> state_;
    std::thread thread_;
};

class PosixClock final : public Clock {
public:
    uint32_t NowMs() override;
    LocalTime LocalNow() override;
    void Sleep(uint32_t ms) override;
    TimerCaps GetTimerCaps() override { return TimerCaps{1, 1000000}; }
    void BeginPeriod(uint32_t) override {}
    void EndPeriod(uint32_t) override {}
    std::unique_ptr<PeriodicTimer> CreatePeriodicTimer() override { return std::make_unique<PosixPeriodicTimer>(); }
};

} // namespace quillet::platform::x11
