#include "session/event_loop.h"

#include <algorithm>

namespace quillet {

void ThreadEventLoop::Post(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(fn));
    }
    ready_.notify_one();
}

void ThreadEventLoop::StartTimer(int id, uint32_t periodMs, std::function<void()> fn) {
    const std::chrono::milliseconds period(std::max<uint32_t>(periodMs, 1));
    timers_[id] = Timer{period, Clock::now() + period, std::move(fn)};
}

void ThreadEventLoop::StopTimer(int id) {
    timers_.erase(id);
}

int ThreadEventLoop::TimerInterval(int id) const {
    const auto it = timers_.find(id);
    return it == timers_.end() ? -1 : static_cast<int>(it->second.period.count());
}

void ThreadEventLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds pollMs) {
    while (!done()) {
        Clock::time_point wake = Clock::now() + pollMs;
        for (const auto& [id, timer] : timers_) wake = std::min(wake, timer.due);
        std::function<void()> work;
        {
            std::unique_lock lock(mutex_);
            ready_.wait_until(lock, wake, [this] { return !queue_.empty(); });
            if (!queue_.empty()) {
                work = std::move(queue_.front());
                queue_.pop_front();
            }
        }
        if (work) {
            work();
            continue;
        }
        // One due timer per round, so that posted work (a person's input) goes between timers.
        const Clock::time_point now = Clock::now();
        for (auto& [id, timer] : timers_) {
            if (timer.due > now) continue;
            timer.due = std::max(timer.due + timer.period, now);
            std::function<void()> fn = timer.fn; // the timer may be stopped or restarted by its own work
            fn();
            break;
        }
    }
}

} // namespace quillet
