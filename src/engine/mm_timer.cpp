#include "engine/mm_timer.h"

#include <algorithm>
#include <utility>

namespace quillet {

CMmTimer::CMmTimer(platform::Clock& clock, TimerCounter& counter) : clock_(clock), counter_(counter) {
    const platform::TimerCaps caps = clock_.GetTimerCaps();
    resolution = std::min(std::max<uint32_t>(caps.periodMin, 1), caps.periodMax);
    if (counter_.live == 0 && resolution != 0) clock_.BeginPeriod(resolution);
    ++counter_.live;
}

CMmTimer::~CMmTimer() {
    --counter_.live;
    Stop();
    if (counter_.live == 0 && resolution != 0) clock_.EndPeriod(resolution);
}

void CMmTimer::Start() {
    Stop();
    if (!timer_) timer_ = clock_.CreatePeriodicTimer();
    if (timer_ && timer_->Start(period, resolution, [this] { OnTimer(); })) {
        timerId = counter_.nextId++;
        if (counter_.nextId <= 0) counter_.nextId = 1;
    } else {
        timerId = 0;
    }
}

void CMmTimer::Stop() {
    if (timerId == -1) return;
    if (timer_) timer_->Stop();
    timerId = -1;
}

CMmtPostingTimer::CMmtPostingTimer(platform::Clock& clock, TimerCounter& counter, platform::Poster post)
    : CMmTimer(clock, counter), post_(std::move(post)) {}

CMmtPostingTimer::~CMmtPostingTimer() {
    // Stop before this part of the object goes away: the timer thread must not call OnTimer on a half-destroyed
    // object. Ticks still queued find no owner.
    Stop();
    slot_->onTick = nullptr;
}

void CMmtPostingTimer::OnTimer() {
    if (!post_) return;
    if (slot_->pending.exchange(true)) return;
    post_([slot = slot_] {
        // Cleared before the work: a timer event during a long tick posts the one next tick.
        slot->pending = false;
        if (slot->onTick) slot->onTick();
    });
}

} // namespace quillet
