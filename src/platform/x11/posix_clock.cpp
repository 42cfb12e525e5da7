#include "platform/x11/posix_clock.h"

#include <cerrno>
#include <chrono>
#include <ctime>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace quillet::platform::x11 {

bool PosixPeriodicTimer::Start(uint32_t periodMs, uint32_t /*resolutionMs*/, std::function<void()> onTick) {
    if (!onTick) return false;
    Stop();
    if (thread_.joinable()) thread_.detach(); // restarted from its own tick: the old thread ends by itself
    state_ = std::make_shared<State>();
    // Deadlines count from now, not from whenever the new thread gets going.
    const auto period = std::chrono::milliseconds(periodMs == 0 ? 1 : periodMs);
    thread_ = std::thread(&PosixPeriodicTimer::Run, state_, std::chrono::steady_clock::now() + period, period,
                          std::move(onTick));
    return true;
}

PosixPeriodicTimer::~PosixPeriodicTimer() {
    Stop();
    if (thread_.joinable()) thread_.detach(); // destroyed from its own tick
}

void PosixPeriodicTimer::Stop() {
    if (!state_) return;
    {
        std::lock_guard lock(state_->mutex);
        state_->stop = true;
    }
    state_->wake.notify_all();
    if (thread_.joinable()) {
        // From its own tick the thread cannot be joined; it ends when the tick returns and is joined later.
        if (thread_.get_id() == std::this_thread::get_id()) return;
        thread_.join();
    }
    state_.reset();
}

void PosixPeriodicTimer::Run(std::shared_ptr<State> state, std::chrono::steady_clock::time_point next,
                             std::chrono::milliseconds periodMs, std::function<void()> onTick) {
#ifdef __linux__
    prctl(PR_SET_TIMERSLACK, 1UL); // wake at the deadline, not up to 50 us after it
#endif
    // steady_clock is CLOCK_MONOTONIC; the wait ends on an absolute deadline and can be cut short by Stop.
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration>(periodMs);
    for (;;) {
        {
            std::unique_lock lock(state->mutex);
            if (state->wake.wait_until(lock, next, [&] { return state->stop; })) return;
        }
        onTick();
        next += period;
        const auto now = Clock::now();
        if (now - next > period) next += (now - next) / period * period;
    }
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
