#include "cli/system_platform.h"
#include "platform/x11/x11_platform.h"

namespace quillet::cli {

namespace {

class X11SystemPlatform final : public SystemPlatform {
public:
    explicit X11SystemPlatform(std::unique_ptr<platform::x11::X11Platform> backend) : backend_(std::move(backend)) {}
    platform::Platform platform() override { return backend_->platform(); }

private:
    std::unique_ptr<platform::x11::X11Platform> backend_;
};

} // namespace

std::unique_ptr<SystemPlatform> OpenSystemPlatform(std::string& error, std::string& warning) {
    warning = platform::x11::DescribeSessionProblem();
    auto backend = platform::x11::X11Platform::Open(error);
    if (!backend) return nullptr;
    return std::make_unique<X11SystemPlatform>(std::move(backend));
}

} // namespace quillet::cli
