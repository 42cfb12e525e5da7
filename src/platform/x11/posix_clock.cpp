#include "platform/x11/posix_clock.h"

#include <cerrno>
#include <chrono>
#include <ctime>

namespace quillet::platform::x11 {

bool PosixPeriodicTimer::Start(uint32_t periodMs, uint32_t /*resolutionMs*/, std::function<void()> onTick) {
    if (!onTick) return false;
    Stop();
    if (thread_.joinable()) thread_.detach(); // restarted from its own tick: the old thread ends by itself
    state_ = std::make_shared<State>();
    thread_ = std::thread(&PosixPeriodicTimer::Run, state_, periodMs == 0 ? 1 : periodMs, std::move(onTick));
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

void PosixPeriodicTimer::Run(std::shared_ptr<State> state, uint32_t periodMs, std::function<void()> onTick) {
    using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC; waits end on absolute deadlines
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(periodMs));
    auto next = Clock::now() + period;
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
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
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
