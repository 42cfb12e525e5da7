// Lateness of the real periodic timer: 600 ticks of 33 ms (about 20 s). Prints p50, p99 and the maximum of how late
// each tick came after its deadline.
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

    // Each tick against its deadline. The deadlines follow the timer's own rule: start + k * period, except that
    // a tick later than a whole period makes the timer skip the deadlines it missed instead of catching up.
    std::vector<double> lateMs;
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(periodMs));
    Clock::time_point deadline = start + period;
    long long skipped = 0;
    for (const Clock::time_point t : at) {
        lateMs.push_back(std::chrono::duration<double, std::milli>(t - deadline).count());
        deadline += period;
        if (t - deadline > period) {
            const auto missed = (t - deadline) / period;
            skipped += missed;
            deadline += missed * period;
        }
    }
    std::sort(lateMs.begin(), lateMs.end());
    auto pct = [&](double p) { return lateMs[static_cast<std::size_t>(p * (lateMs.size() - 1))]; };
    std::printf("periodic timer, %d ticks of %d ms: lateness p50 %.3f ms, p99 %.3f ms, max %.3f ms (min %.3f ms), "
                "%lld deadlines skipped\n",
                ticks, periodMs, pct(0.5), pct(0.99), lateMs.back(), lateMs.front(), skipped);
    return 0;
}
