#include "platform/x11/posix_clock.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <utility>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace quillet::platform::x11 {

thread_local const PosixPeriodicTimer* PosixPeriodicTimer::tickingTimer_ = nullptr;
thread_local PosixPeriodicTimer::State* PosixPeriodicTimer::tickingState_ = nullptr;

namespace {

std::chrono::milliseconds PeriodOf(uint32_t periodMs) {
    return std::chrono::milliseconds(periodMs == 0 ? 1 : periodMs);
}

} // namespace

bool PosixPeriodicTimer::Start(uint32_t periodMs, uint32_t /*resolutionMs*/, std::function<void()> onTick) {
    if (!onTick) return false;
    if (tickingTimer_ == this) {
        // Restarted from its own tick: the same thread goes on with the new period and callback after this tick.
        std::lock_guard lock(tickingState_->mutex);
        if (tickingState_->ended) return false;
        tickingState_->stop = false;
        tickingState_->restart = true;
        tickingState_->restartPeriod = PeriodOf(periodMs);
        tickingState_->restartTick = std::move(onTick);
        return true;
    }
    Stop();
    state_ = std::make_shared<State>();
    // Deadlines count from now, not from whenever the new thread gets going.
    const auto period = PeriodOf(periodMs);
    thread_ = std::thread(&PosixPeriodicTimer::Run, state_, this, std::chrono::steady_clock::now() + period, period,
                          std::move(onTick));
    {
        std::lock_guard lock(state_->mutex);
        state_->ready = true;
    }
    state_->wake.notify_all();
    return true;
}

PosixPeriodicTimer::~PosixPeriodicTimer() {
    if (tickingTimer_ == this) {
        // Destroyed from its own tick: the thread ends after the tick and is let go, as nobody is left to join it.
        {
            std::lock_guard lock(tickingState_->mutex);
            tickingState_->stop = true;
            tickingState_->restart = false;
        }
        tickingTimer_ = nullptr; // another object may come to live at this address
        if (thread_.joinable()) thread_.detach();
        return;
    }
    Stop();
}

void PosixPeriodicTimer::Stop() {
    if (tickingTimer_ == this) {
        // From its own tick: the thread ends when the tick returns; the owner's next call joins it.
        std::lock_guard lock(tickingState_->mutex);
        tickingState_->stop = true;
        tickingState_->restart = false;
        return;
    }
    if (!state_) return;
    {
        std::lock_guard lock(state_->mutex);
        state_->stop = true;
        state_->ended = true;
    }
    state_->wake.notify_all();
    if (thread_.joinable()) thread_.join();
    state_.reset();
}

void PosixPeriodicTimer::Run(std::shared_ptr<State> state, const PosixPeriodicTimer* owner,
                             std::chrono::steady_clock::time_point next, std::chrono::milliseconds periodMs,
                             std::function<void()> onTick) {
#ifdef __linux__
    prctl(PR_SET_TIMERSLACK, 1UL); // wake at the deadline, not up to 50 us after it
#endif
    // steady_clock is CLOCK_MONOTONIC; the wait ends on an absolute deadline and can be cut short by Stop.
    using Clock = std::chrono::steady_clock;
    auto period = std::chrono::duration_cast<Clock::duration>(periodMs);
    tickingTimer_ = owner;
    tickingState_ = state.get();
    {
        std::unique_lock lock(state->mutex);
        state->wake.wait(lock, [&] { return state->ready || state->stop; });
    }
    for (;;) {
        {
            std::unique_lock lock(state->mutex);
            if (state->wake.wait_until(lock, next, [&] { return state->stop; })) break;
        }
        onTick();
        std::function<void()> replaced; // the old callback goes outside the lock, once it has returned
        {
            std::lock_guard lock(state->mutex);
            if (state->stop) break;
            if (state->restart) {
                state->restart = false;
                replaced = std::exchange(onTick, std::move(state->restartTick));
                period = std::chrono::duration_cast<Clock::duration>(state->restartPeriod);
                next = Clock::now() + period;
                continue;
            }
        }
        next += period;
        const auto now = Clock::now();
        if (now - next > period) next += (now - next) / period * period;
    }
    tickingTimer_ = nullptr;
    tickingState_ = nullptr;
}

uint32_t PosixClock::NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

LocalTime PosixClock::LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return LocalTime{tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void PosixClock::Sleep(uint32_t ms) {
    timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    timespec remaining{};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &request, &remaining) == EINTR) request = remaining;
}

} // namespace quillet::platform::x11
