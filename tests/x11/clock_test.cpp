// The periodic timer thread and the clock.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "platform/x11/posix_clock.h"

namespace quillet::platform::x11 {
namespace {

using namespace std::chrono_literals;

// Counts ticks and lets the test wait for a number of them.
struct TickCounter {
    std::mutex mutex;
    std::condition_variable cv;
    int ticks = 0;
    void Tick() {
        {
            std::lock_guard lock(mutex);
            ++ticks;
        }
        cv.notify_all();
    }
    bool WaitFor(int n) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, 10s, [&] { return ticks >= n; });
    }
    int Count() {
        std::lock_guard lock(mutex);
        return ticks;
    }
};

TEST(PeriodicTimer, TicksUntilStopped) {
    PosixClock clock;
    auto timer = clock.CreatePeriodicTimer();
    TickCounter counter;
    ASSERT_TRUE(timer->Start(2, 1, [&] { counter.Tick(); }));
    EXPECT_TRUE(counter.WaitFor(10));
    timer->Stop();
    const int stopped = counter.Count();
    timer->Stop();                       // twice is harmless
    EXPECT_EQ(counter.Count(), stopped); // Stop joined the thread: no tick can follow

    // Restarted with another callback: only the new one ticks.
    TickCounter second;
    ASSERT_TRUE(timer->Start(1, 1, [&] { second.Tick(); }));
    EXPECT_TRUE(second.WaitFor(5));
    timer.reset(); // destruction stops it
    EXPECT_EQ(counter.Count(), stopped);
}

// A 1 ms timer's first tick comes while Start may still be returning: stopping, restarting and destroying the
// timer from its own tick must not touch what the owner's thread is writing. Many rounds, so that the thread
// sanitizer sees every interleaving it can.
TEST(PeriodicTimer, CanBeStoppedRestartedAndDestroyedFromItsOwnTick) {
    PosixClock clock;
    for (int round = 0; round < 200; ++round) {
        auto timer = clock.CreatePeriodicTimer();
        TickCounter counter;
        ASSERT_TRUE(timer->Start(1, 1, [&] {
            timer->Stop();
            counter.Tick();
        }));
        ASSERT_TRUE(counter.WaitFor(1));
        timer->Stop(); // joins the thread that stopped itself
        ASSERT_EQ(counter.Count(), 1) << round;

        // Restarted from its first tick with another callback: the new one goes on ticking.
        TickCounter first, second;
        ASSERT_TRUE(timer->Start(1, 1, [&] {
            first.Tick();
            EXPECT_TRUE(timer->Start(1, 1, [&] { second.Tick(); }));
        }));
        ASSERT_TRUE(second.WaitFor(3)) << round;
        timer->Stop();
        ASSERT_EQ(first.Count(), 1) << round;
        const int after = second.Count();
        timer->Stop();
        ASSERT_EQ(second.Count(), after) << "no tick after the owner's stop";

        // Destroyed from its own first tick: nothing is left to join, the thread ends by itself.
        TickCounter last;
        std::unique_ptr<PeriodicTimer> doomed = clock.CreatePeriodicTimer();
        ASSERT_TRUE(doomed->Start(1, 1, [&] {
            doomed.reset();
            last.Tick();
        }));
        ASSERT_TRUE(last.WaitFor(1)) << round;
    }
}

TEST(PeriodicTimer, RefusesAnEmptyCallback) {
    PosixClock clock;
    auto timer = clock.CreatePeriodicTimer();
    EXPECT_FALSE(timer->Start(10, 1, nullptr));
}

TEST(Clock, CapsAndLocalTime) {
    PosixClock clock;
    EXPECT_EQ(clock.GetTimerCaps().periodMin, 1u);
    EXPECT_EQ(clock.GetTimerCaps().periodMax, 1000000u);
    const LocalTime t = clock.LocalNow();
    EXPECT_TRUE(t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second <= 60);
    const uint32_t before = clock.NowMs();
    clock.Sleep(2);
    EXPECT_GE(clock.NowMs() - before, 2u);
}

} // namespace
} // namespace quillet::platform::x11
