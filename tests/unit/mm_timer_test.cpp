// The periodic timers: system resolution raised by the first live timer object and restored by the last, start and
// stop over the platform timer, and ticks posted to the owner one by one.
#include "engine/mm_timer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/fake/fake_platform.h"

namespace quillet {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(CMmTimer, FirstAndLastLiveObjectRaiseAndRestoreTheResolution) {
    platform::FakePlatform fake;
    TimerCounter counter;
    fake.SetTimerCaps({5, 1000000});
    {
        auto first = std::make_unique<CMmTimer>(fake, counter);
        EXPECT_EQ(first->resolution, 5u);
        EXPECT_EQ(first->timerId, -1);
        {
            CMmtMacros second(fake, counter, nullptr);
            EXPECT_EQ(counter.live, 2);
        }
        EXPECT_THAT(fake.beginPeriods(), ElementsAre(5u));
        EXPECT_THAT(fake.endPeriods(), IsEmpty());
    }
    EXPECT_THAT(fake.endPeriods(), ElementsAre(5u));
    EXPECT_EQ(counter.live, 0);

    struct Case {
        platform::TimerCaps caps;
        uint32_t resolution;
    };
    for (const Case& c : {Case{{0, 100}, 1}, Case{{3, 2}, 2}, Case{{0, 0}, 0}}) {
        platform::FakePlatform f;
        TimerCounter n;
        f.SetTimerCaps(c.caps);
        {
            CMmTimer t(f, n);
            EXPECT_EQ(t.resolution, c.resolution);
        }
        // A resolution of 0 is neither raised nor restored.
        EXPECT_EQ(f.beginPeriods().size(), c.resolution != 0 ? 1u : 0u);
        EXPECT_EQ(f.endPeriods().size(), c.resolution != 0 ? 1u : 0u);
    }
}

TEST(CMmTimer, StartStopAndRefusedStart) {
    platform::FakePlatform fake;
    TimerCounter counter;
    int ticks = 0;
    struct Counting : CMmTimer {
        Counting(platform::FakePlatform& f, TimerCounter& c, int& n) : CMmTimer(f, c), ticks(n) {}
        ~Counting() override { Stop(); }
        void OnTimer() override { ++ticks; }
        int& ticks;
    } timer(fake, counter, ticks);
    timer.period = 33;
    timer.Start();
    EXPECT_GT(timer.timerId, 0);
    ASSERT_EQ(fake.timers().size(), 1u);
    EXPECT_TRUE(fake.timers()[0]->running);
    EXPECT_EQ(fake.timers()[0]->periodMs, 33u);
    EXPECT_EQ(fake.timers()[0]->resolutionMs, timer.resolution);
    fake.FireTimers();
    fake.FireTimers();
    EXPECT_EQ(ticks, 2);
    timer.Start(); // a restart does not leave a second timer running
    EXPECT_EQ(fake.FireTimers(), 1);
    timer.Stop();
    EXPECT_EQ(timer.timerId, -1);
    EXPECT_EQ(fake.FireTimers(), 0);

    fake.SetTimerStartFails(true);
    timer.Start();
    EXPECT_EQ(timer.timerId, 0); // as timeSetEvent reports a refusal: no ticks, nothing else
    EXPECT_EQ(fake.FireTimers(), 0);
    timer.Stop();
    EXPECT_EQ(timer.timerId, -1);
    EXPECT_EQ(ticks, 3);
}

TEST(CMmtMacros, AtMostOneTickWaitsAndTicksWithoutAnOwnerAreDropped) {
    platform::FakePlatform fake;
    TimerCounter counter;
    std::vector<std::function<void()>> queue;
    auto runQueue = [&] {
        auto pending = std::move(queue);
        queue.clear();
        for (auto& f : pending) f();
    };
    int delivered = 0;
    auto timer =
        std::make_unique<CMmtMacros>(fake, counter, [&](std::function<void()> f) { queue.push_back(std::move(f)); });
    timer->SetOwner([&] { ++delivered; });
    timer->period = 33;
    timer->Start();
    fake.FireTimers();
    fake.FireTimers();
    fake.FireTimers();
    EXPECT_EQ(delivered, 0); // nothing runs on the timer's thread but the post
    // A busy owner thread gets one waiting tick, not a backlog.
    ASSERT_EQ(queue.size(), 1u);
    runQueue();
    EXPECT_EQ(delivered, 1);
    // Once handled, the next timer event posts again; one during a tick posts the next tick.
    timer->SetOwner([&] {
        ++delivered;
        fake.FireTimers();
    });
    fake.FireTimers();
    runQueue();
    EXPECT_EQ(delivered, 2);
    ASSERT_EQ(queue.size(), 1u);
    timer->SetOwner([&] { ++delivered; });
    runQueue();
    EXPECT_EQ(delivered, 3);

    timer->SetOwner(nullptr);
    EXPECT_FALSE(timer->HasOwner());
    fake.FireTimers();
    runQueue();
    EXPECT_EQ(delivered, 3);

    timer->SetOwner([&] { ++delivered; });
    fake.FireTimers();
    timer.reset(); // a tick still queued when the timer goes away finds no owner
    runQueue();
    EXPECT_EQ(delivered, 3);
    EXPECT_EQ(counter.live, 0);
}

TEST(CMmtMacro, DrivesItsOwnOwner) {
    platform::FakePlatform fake;
    TimerCounter counter;
    std::vector<std::function<void()>> queue;
    CMmtMacros main(fake, counter, [&](std::function<void()> f) { queue.push_back(std::move(f)); });
    CMmtMacro editor(fake, counter, [&](std::function<void()> f) { queue.push_back(std::move(f)); });
    int mainTicks = 0, editorTicks = 0;
    main.SetOwner([&] { ++mainTicks; });
    editor.SetOwner([&] { ++editorTicks; });
    editor.period = 33;
    editor.Start();
    fake.FireTimers();
    for (auto& f : queue) f();
    EXPECT_EQ(mainTicks, 0);
    EXPECT_EQ(editorTicks, 1);
    EXPECT_THAT(fake.beginPeriods(), ElementsAre(1u));
}

} // namespace
} // namespace quillet
