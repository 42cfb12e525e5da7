// The thread a session lives on. Everything that changes the session's state runs there: posted closures (input,
// engine ticks, results of other threads) and the repeating window timers. The desktop program implements it with
// Qt's event loop; quillet-cli and the benchmarks use ThreadEventLoop; tests may drive their own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace quillet {

class EventLoop {
public:
    virtual ~EventLoop() = default;
    // Runs fn on the loop's thread after everything posted before it. Callable from any thread; closures still
    // queued when the loop goes away are dropped.
    virtual void Post(std::function<void()> fn) = 0;
    // Loop's thread: starts the repeating timer id (a running one is restarted with the new period); fn runs on the
    // loop's thread at every expiry.
    virtual void StartTimer(int id, uint32_t periodMs, std::function<void()> fn) = 0;
    virtual void StopTimer(int id) = 0;
    // The period of a running timer, -1 when it does not run.
    virtual int TimerInterval(int id) const = 0;
};

// A loop run by the thread that calls RunUntil: posted closures in order, then the timers that are due. Timers that
// fall behind are not run twice to catch up.
class ThreadEventLoop final : public EventLoop {
public:
    void Post(std::function<void()> fn) override;
    void StartTimer(int id, uint32_t periodMs, std::function<void()> fn) override;
    void StopTimer(int id) override;
    int TimerInterval(int id) const override;

    // Runs posted closures and due timers until done() is true; done is checked after each piece of work and at
    // least every pollMs (for flags set by signal handlers).
    void RunUntil(const std::function<bool()>& done, std::chrono::milliseconds pollMs = std::chrono::milliseconds(50));

private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        std::chrono::milliseconds period;
        Clock::time_point due;
        std::function<void()> fn;
    };

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
    std::map<int, Timer> timers_; // loop's thread only
};

} // namespace quillet
