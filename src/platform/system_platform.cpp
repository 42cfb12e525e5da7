#include "platform/system_platform.h"

#if defined(QUILLET_HAVE_X11)
#include "platform/x11/x11_platform.h"
#elif defined(QUILLET_HAVE_WIN32)
#include "platform/win32/win32_platform.h"
#endif

namespace quillet::platform {

namespace {

// Owns a backend object and hands out its interfaces.
template <typename Backend> class OwnedPlatform final : public SystemPlatform {
public:
    explicit OwnedPlatform(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {}
    Platform platform() override { return backend_->platform(); }
    std::string FinishStart() override {
        if constexpr (requires(Backend& b) { b.FinishGuardianStart(); }) {
            if (deferred_ && !backend_->FinishGuardianStart()) {
                deferred_ = false;
                return "no guardian (" + backend_->guardianProblem() +
                       "): keys and buttons a macro holds stay down if this program is killed";
            }
        }
        deferred_ = false;
        return {};
    }
    bool deferred_ = false;

private:
    std::unique_ptr<Backend> backend_;
};

template <typename Backend>
std::unique_ptr<SystemPlatform> Own(std::unique_ptr<Backend> backend, bool deferred = false) {
    if (!backend) return nullptr;
    auto owned = std::make_unique<OwnedPlatform<Backend>>(std::move(backend));
    owned->deferred_ = deferred;
    return owned;
}

[[maybe_unused]] void AddGuardianWarning(std::string& warning, const std::string& problem) {
    if (!warning.empty()) warning += "\n";
    warning += "no guardian (" + problem + "): keys and buttons a macro holds stay down if this program is killed";
}

} // namespace

std::unique_ptr<SystemPlatform> OpenSystemPlatform(std::string& error, std::string& warning,
                                                   [[maybe_unused]] bool deferGuardian) {
#if defined(QUILLET_HAVE_X11)
    warning = x11::DescribeSessionProblem();
    x11::X11Options options;
    options.guardian = true;
    options.guardianAwaitReady = !deferGuardian;
    std::unique_ptr<x11::X11Platform> backend = x11::X11Platform::Open(options, error);
    if (backend && !backend->guardianProblem().empty()) AddGuardianWarning(warning, backend->guardianProblem());
    return Own(std::move(backend), deferGuardian);
#elif defined(QUILLET_HAVE_WIN32)
    warning.clear();
    win32::Win32Options options;
    options.guardian = true;
    std::unique_ptr<win32::Win32Platform> backend = win32::Win32Platform::Open(options, error);
    if (backend && !backend->guardianProblem().empty()) AddGuardianWarning(warning, backend->guardianProblem());
    return Own(std::move(backend));
#else
    warning.clear();
    error = "this build has no input backend for this system";
    return nullptr;
#endif
}

} // namespace quillet::platform
