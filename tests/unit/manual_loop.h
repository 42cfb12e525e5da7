// An event loop for session tests: posted closures wait until the test runs them, and window timers run only when
// the test fires them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <utility>

#include "session/event_loop.h"

namespace quillet {

class ManualLoop final : public EventLoop {
public:
    void Post(std::function<void()> fn) override { posted.push_back(std::move(fn)); }
    void StartTimer(int id, uint32_t periodMs, std::function<void()> fn) override { timers[id] = {periodMs, fn}; }
    void StopTimer(int id) override { timers.erase(id); }
    int TimerInterval(int id) const override {
        const auto it = timers.find(id);
        return it == timers.end() ? -1 : static_cast<int>(it->second.first);
    }
    // Runs what is posted, in order, including what that posts.
    void RunPosted() {
        while (!posted.empty()) {
            auto fn = std::move(posted.front());
            posted.pop_front();
            fn();
        }
    }
    // One expiry of a running timer; nothing when it does not run.
    void Fire(int id) {
        if (timers.count(id) != 0) timers[id].second();
    }

    std::deque<std::function<void()>> posted;
    std::map<int, std::pair<uint32_t, std::function<void()>>> timers;
};

} // namespace quillet
