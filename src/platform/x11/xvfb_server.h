// A private Xvfb server for tests and benchmarks: started on a free display number, ready when Start returns,
// ended when the object goes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>

namespace quillet::platform::x11 {

class XvfbServer {
public:
    // Starts "Xvfb -displayfd ... -screen 0 WxHx24 -nolisten tcp -noreset" and waits (up to timeout) until it accepts
    // connections. Null with a message when Xvfb is missing or does not come up.
    static std::unique_ptr<XvfbServer> Start(int width, int height, std::string& error,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(30));
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N"
    const std::string& display() const { return display_; }

private:
    XvfbServer() = default;
    pid_t pid_ = -1;
    std::string display_;
};

} // namespace quillet::platform::x11
