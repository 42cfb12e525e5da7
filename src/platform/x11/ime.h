// Open state of the input method, asked of fcitx5 over the session D-Bus when fcitx5 runs. It is never started:
// the name must already have an owner, and the call carries no auto-start. Without fcitx5 (or without D-Bus support
// in the build) the state is None.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace quillet::platform::x11 {

class Fcitx5InputMethod final : public InputMethod {
public:
    // busAddress empty: the session bus named by DBUS_SESSION_BUS_ADDRESS, or $XDG_RUNTIME_DIR/bus.
    explicit Fcitx5InputMethod(std::string busAddress = {});
    ~Fcitx5InputMethod() override;
    Fcitx5InputMethod(const Fcitx5InputMethod&) = delete;
    Fcitx5InputMethod& operator=(const Fcitx5InputMethod&) = delete;

    ImeState OpenState() override;

    // How long one question may take before the answer counts as None.
    static constexpr int kTimeoutMs = 250;

private:
    struct Bus;
    std::mutex mutex_;
    std::string address_;
    std::unique_ptr<Bus> bus_;
};

// Session-bus address from the environment; empty when there is none that can be used without starting a bus.
std::string SessionBusAddress();

} // namespace quillet::platform::x11
