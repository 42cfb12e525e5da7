// Watching all keyboard and mouse input of the X display through XInput 2 raw events, on a thread of its own.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "platform/platform.h"
#include "platform/x11/input_connection.h"

namespace quillet::platform::x11 {

class X11InputMonitor final : public InputMonitor {
public:
    explicit X11InputMonitor(InputConnection& conn) : conn_(conn) {}
    ~X11InputMonitor() override { Stop(); }

    // Starts (or restarts) the watch. Records are handed to `post` in batches, in the order they happened; each
    // batch runs `sink` once per record on the owner's thread. After Stop no posted batch calls the sink. `post`
    // is called from the monitor's thread until Stop returns.
    bool Start(Poster post, std::function<void(const RawInputRecord&)> sink) override;
    void Stop() override;
    void Flush() override;

private:
    // What posted batches share with the monitor; outlives it when batches are still queued.
    struct Delivery {
        std::atomic<bool> active{true};
        std::function<void(const RawInputRecord&)> sink;
    };
    void Run(Poster post, std::shared_ptr<Delivery> delivery);
    static void PostBatch(const Poster& post, const std::shared_ptr<Delivery>& delivery,
                          std::vector<RawInputRecord> batch);

    InputConnection& conn_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::shared_ptr<Delivery> delivery_;
    Poster post_; // the one given to Start, for Flush
};

} // namespace quillet::platform::x11
