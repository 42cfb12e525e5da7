// Lateness of the real periodic timer: 600 ticks of 33 ms (about 20 s). Each tick is compared with its ideal time,
// start + k * period; prints p50, p99 and the maximum.
//   build/bench/bench_timer [ticks] [periodMs]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/x11/posix_clock.h"

int main(int argc, char** argv) {
    const int ticks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 600;
    const int periodMs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 33;
    using Clock = std::chrono::steady_clock;

    std::vector<Clock::time_point> at;
    at.reserve(static_cast<std::size_t>(ticks));
    std::mutex mutex;
    std::condition_variable done;

    quillet::platform::x11::PosixClock clock;
    auto timer = clock.CreatePeriodicTimer();
    const Clock::time_point start = Clock::now();
    timer->Start(static_cast<uint32_t>(periodMs), 1, [&] {
        const Clock::time_point now = Clock::now();
        std::lock_guard lock(mutex);
        if (static_cast<int>(at.size()) < ticks) at.push_back(now);
        if (static_cast<int>(at.size()) == ticks) done.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return static_cast<int>(at.size()) >= ticks; });
    }
    timer->Stop();

    // The timer's first deadline is one period after Start returned, a little after `start`.
    std::vector<double> lateMs;
    for (int k = 0; k < ticks; ++k) {
        const auto ideal = start + std::chrono::milliseconds(periodMs) * (k + 1);
        lateMs.push_back(std::chrono::duration<double, std::milli>(at[static_cast<std::size_t>(k)] - ideal).count());
    }
    std::sort(lateMs.begin(), lateMs.end());
    auto pct = [&](double p) { return lateMs[static_cast<std::size_t>(p * (lateMs.size() - 1))]; };
    std::printf("periodic timer, %d ticks of %d ms: lateness p50 %.3f ms, p99 %.3f ms, max %.3f ms (min %.3f ms)\n",
                ticks, periodMs, pct(0.5), pct(0.99), lateMs.back(), lateMs.front());
    return 0;
}
