// Between the server's thread and the session's event loop: requests go to the handler on the loop, replies come
// back to the server's thread. Shared by the server and the closures it posts, so a closure that runs after the
// server has gone finds it stopped and does nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "remote/protocol.h"
#include "remote/remote_server.h"
#include "session/event_loop.h"

namespace quillet::remote::detail {

class Dispatcher : public std::enable_shared_from_this<Dispatcher> {
public:
    // wake tells the server's thread that a reply waits; it must not block.
    Dispatcher(EventLoop& loop, RemoteServer::Handler handler, std::function<void()> wake)
        : loop_(loop), handler_(std::move(handler)), wake_(std::move(wake)) {}

    // Server's thread: the handler runs for request on the loop's thread; its reply appears in TakeReplies under id.
    void Submit(uint64_t id, Request request) {
        loop_.Post([self = shared_from_this(), id, request = std::move(request)] { self->Run(id, request); });
    }

    // Server's thread: the replies that arrived since the last call.
    std::vector<std::pair<uint64_t, Reply>> TakeReplies() {
        std::lock_guard lock(repliesMutex_);
        return std::exchange(replies_, {});
    }

    // After this returns no handler runs or will run, and wake is not called again.
    void Stop() {
        std::lock_guard lock(runMutex_);
        stopped_ = true;
    }

private:
    void Run(uint64_t id, const Request& request) {
        // Held while the handler runs, so that Stop waits for a handler in progress.
        std::lock_guard run(runMutex_);
        if (stopped_) return;
        Reply reply = handler_(request);
        {
            std::lock_guard lock(repliesMutex_);
            replies_.emplace_back(id, std::move(reply));
        }
        wake_();
    }

    EventLoop& loop_;
    RemoteServer::Handler handler_;
    std::function<void()> wake_;
    std::mutex runMutex_;
    bool stopped_ = false; // under runMutex_
    std::mutex repliesMutex_;
    std::vector<std::pair<uint64_t, Reply>> replies_;
};

} // namespace quillet::remote::detail
