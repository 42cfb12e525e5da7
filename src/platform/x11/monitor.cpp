#include "platform/x11/monitor.h"

#include <poll.h>

#include <cerrno>

namespace quillet::platform::x11 {

bool X11InputMonitor::Start(Poster post, std::function<void(const RawInputRecord&)> sink) {
    if (!post || !sink) return false;
    Stop();
    delivery_ = std::make_shared<Delivery>();
    delivery_->sink = std::move(sink);
    {
        std::lock_guard lock(conn_.mutex);
        conn_.SetMonitoring(true);
    }
    stopping_ = false;
    post_ = post;
    thread_ = std::thread(&X11InputMonitor::Run, this, std::move(post), delivery_);
    return true;
}

void X11InputMonitor::Stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    conn_.Wake();
    thread_.join();
    delivery_->active = false;
    delivery_.reset();
    std::lock_guard lock(conn_.mutex);
    conn_.SetMonitoring(false);
}

void X11InputMonitor::Flush() {
    if (!thread_.joinable() || !delivery_) return;
    std::lock_guard lock(conn_.mutex);
    // The round trip brings in every event the server sent before it. The monitor thread takes and posts its
    // batches under this same lock, so nothing it read earlier can arrive after these.
    XSync(conn_.dpy(), False);
    conn_.Pump();
    std::vector<RawInputRecord> batch = conn_.TakeOutbox();
    if (!batch.empty()) PostBatch(post_, delivery_, std::move(batch));
}

void X11InputMonitor::PostBatch(const Poster& post, const std::shared_ptr<Delivery>& delivery,
                                std::vector<RawInputRecord> batch) {
    post([delivery, batch = std::move(batch)] {
        for (const RawInputRecord& r : batch) {
            if (!delivery->active) return;
            delivery->sink(r);
        }
    });
}

void X11InputMonitor::Run(Poster post, std::shared_ptr<Delivery> delivery) {
    pollfd fds[2] = {{conn_.socketFd(), POLLIN, 0}, {conn_.wakeFd(), POLLIN, 0}};
    int timeoutMs = -1;
    while (!stopping_) {
        const int n = poll(fds, 2, timeoutMs);
        if (n < 0 && errno != EINTR) break;
        if (stopping_) break;
        if ((fds[0].revents & (POLLERR | POLLHUP)) != 0) break; // the server went away
        conn_.DrainWake();
        {
            std::vector<RawInputRecord> batch;
            std::lock_guard lock(conn_.mutex);
            conn_.Pump();
            const auto now = std::chrono::steady_clock::now();
            const std::optional<SteadyTime> next = conn_.Housekeeping(now);
            timeoutMs = -1;
            if (next) {
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
                timeoutMs = static_cast<int>(wait < 1 ? 1 : wait);
            }
            batch = conn_.TakeOutbox();
            // Posted under the lock, so that a Flush from the owner's thread cannot overtake this batch.
            if (!batch.empty()) PostBatch(post, delivery, std::move(batch));
        }
    }
}

} // namespace quillet::platform::x11
