#include "app/system_backend.h"
#include "platform/x11/x11_platform.h"

namespace quillet::app {

namespace {

class X11Backend final : public SystemBackend {
public:
    explicit X11Backend(std::unique_ptr<platform::x11::X11Platform> x11) : x11_(std::move(x11)) {}
    platform::Platform platform() override { return x11_->platform(); }

private:
    std::unique_ptr<platform::x11::X11Platform> x11_;
};

} // namespace

std::unique_ptr<SystemBackend> OpenSystemBackend(std::string& error, std::string& warning) {
    warning = platform::x11::DescribeSessionProblem();
    auto x11 = platform::x11::X11Platform::Open(error);
    if (!x11) return nullptr;
    return std::make_unique<X11Backend>(std::move(x11));
}

} // namespace quillet::app
