#include "cli/system_platform.h"
#include "platform/win32/win32_platform.h"

namespace quillet::cli {

namespace {

class Win32SystemPlatform final : public SystemPlatform {
public:
    explicit Win32SystemPlatform(std::unique_ptr<platform::win32::Win32Platform> backend)
        : backend_(std::move(backend)) {}
    platform::Platform platform() override { return backend_->platform(); }

private:
    std::unique_ptr<platform::win32::Win32Platform> backend_;
};

} // namespace

std::unique_ptr<SystemPlatform> OpenSystemPlatform(std::string& error, std::string& warning) {
    warning.clear();
    auto backend = platform::win32::OpenWin32Platform(error);
    if (!backend) return nullptr;
    return std::make_unique<Win32SystemPlatform>(std::move(backend));
}

} // namespace quillet::cli
