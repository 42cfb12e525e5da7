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
    bool Start(uint32_t periodMs, uint32_t resolutionMs, std::function<void()> onTick) override;
    // Waits for the thread to end (at most one tick in progress). Called from onTick itself it only asks the
    // thread to end after this tick; a later Stop, Start or the destructor joins it.
    void Stop() override;

private:
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        bool stop = false;
    };
    static void Run(std::shared_ptr<State> state, std::chrono::steady_clock::time_point first,
                    std::chrono::milliseconds period, std::function<void()> onTick);
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
