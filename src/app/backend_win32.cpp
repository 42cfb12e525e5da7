// Windows: the Win32 backend. Its input monitor receives raw input in a window of its own, so the Qt windows need
// no native event filter.
#include "app/system_backend.h"
#include "platform/win32/win32_platform.h"

namespace quillet::app {

namespace {

class Win32Backend final : public SystemBackend {
public:
    explicit Win32Backend(std::unique_ptr<platform::win32::Win32Platform> win32) : win32_(std::move(win32)) {}
    platform::Platform platform() override { return win32_->platform(); }

private:
    std::unique_ptr<platform::win32::Win32Platform> win32_;
};

} // namespace

std::unique_ptr<SystemBackend> OpenSystemBackend(std::string& error, std::string& warning) {
    warning.clear();
    auto win32 = platform::win32::OpenWin32Platform(error);
    if (!win32) return nullptr;
    return std::make_unique<Win32Backend>(std::move(win32));
}

} // namespace quillet::app
