#include "platform/x11/x11_platform.h"

#include <cstdlib>
#include <cstring>

#include "platform/x11/ime.h"
#include "platform/x11/injector.h"
#include "platform/x11/input_connection.h"
#include "platform/x11/monitor.h"
#include "platform/x11/posix_clock.h"
#include "platform/x11/screen.h"

namespace quillet::platform::x11 {

X11Platform::X11Platform() = default;

X11Platform::~X11Platform() {
    // The monitor thread reads the connection and the injector releases held keys through it: both go first.
    monitor_.reset();
    io_.reset();
    conn_.reset();
}

std::unique_ptr<X11Platform> X11Platform::Open(std::string& error) {
    return Open(X11Options{}, error);
}

std::unique_ptr<X11Platform> X11Platform::Open(const X11Options& options, std::string& error) {
    const char* env = std::getenv("DISPLAY");
    if (options.display.empty() && (env == nullptr || *env == '\0')) {
        error = "DISPLAY is not set: no X display to connect to";
        return nullptr;
    }
    std::unique_ptr<X11Platform> p(new X11Platform());
    p->conn_ = InputConnection::Open(options.display, options.spareKeyLinger, error);
    if (!p->conn_) return nullptr;
    p->screen_ = X11Screen::Open(options.display, options.useShm, error);
    if (!p->screen_) return nullptr;
    if (options.guardian) {
        GuardianOptions g;
        g.executable = options.guardianExecutable;
        g.display = options.display;
        g.awaitReady = options.guardianAwaitReady;
        p->guardian_ = StartGuardian(g, p->guardianProblem_);
    }
    p->io_ = std::make_unique<X11InputOutput>(*p->conn_, p->guardian_ ? p->guardian_->ledger() : HeldInputLedger{});
    p->monitor_ = std::make_unique<X11InputMonitor>(*p->conn_);
    p->ime_ = std::make_unique<Fcitx5InputMethod>(options.imeBusAddress);
    p->clock_ = std::make_unique<PosixClock>();
    return p;
}

bool X11Platform::FinishGuardianStart() {
    if (!guardian_) return false;
    return guardian_->AwaitReady(guardianProblem_);
}

Platform X11Platform::platform() {
    return Platform{*io_, *ime_, *screen_, *monitor_, *clock_};
}
InputOutputInterface& X11Platform::io() {
    return *io_;
}
InputMethod& X11Platform::ime() {
    return *ime_;
}
Screen& X11Platform::screen() {
    return *screen_;
}
InputMonitor& X11Platform::monitor() {
    return *monitor_;
}
Clock& X11Platform::clock() {
    return *clock_;
}
bool X11Platform::usingShm() const {
    return screen_->usingShm();
}

std::string DescribeSessionProblem(const char* waylandDisplay, const char* sessionType) {
    const bool wayland = (waylandDisplay != nullptr && *waylandDisplay != '\0') ||
                         (sessionType != nullptr && std::strcmp(sessionType, "wayland") == 0);
    if (!wayland) return {};
    return "This is a Wayland session. Keys and mouse events reach only X programs (those running through "
           "XWayland), the screen can be read only where XWayland shows it, and keyboard and mouse input to other "
           "programs cannot be watched, so hotkeys and recording work only while an X program has the focus.";
}

std::string DescribeSessionProblem() {
    return DescribeSessionProblem(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"));
}

} // namespace quillet::platform::x11
