#include "platform/x11/x_display.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace quillet::platform::x11 {
namespace {

std::mutex gMutex;
std::vector<Display*> gOurDisplays;
XErrorHandler gPreviousHandler = nullptr;
bool gInstalled = false;
thread_local ErrorTrap* tTrap = nullptr;

bool IsOurs(Display* dpy) {
    std::lock_guard lock(gMutex);
    return std::find(gOurDisplays.begin(), gOurDisplays.end(), dpy) != gOurDisplays.end();
}

} // namespace

int HandleXError(Display* dpy, XErrorEvent* ev) {
    for (ErrorTrap* t = tTrap; t != nullptr; t = t->outer_) {
        if (t->dpy_ == dpy) {
            if (t->error_ == 0) t->error_ = ev->error_code;
            return 0;
        }
    }
    // Late errors of our own requests (a fake key with a keycode that just went away, say) change nothing.
    if (IsOurs(dpy)) return 0;
    XErrorHandler previous;
    {
        std::lock_guard lock(gMutex);
        previous = gPreviousHandler;
    }
    return previous != nullptr ? previous(dpy, ev) : 0;
}

void DisplayCloser::operator()(Display* d) const {
    if (d == nullptr) return;
    {
        std::lock_guard lock(gMutex);
        gOurDisplays.erase(std::remove(gOurDisplays.begin(), gOurDisplays.end(), d), gOurDisplays.end());
    }
    XCloseDisplay(d);
}

DisplayPtr OpenDisplay(const std::string& name) {
    Display* d = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (d == nullptr) return nullptr;
    std::lock_guard lock(gMutex);
    gOurDisplays.push_back(d);
    if (!gInstalled) {
        gPreviousHandler = XSetErrorHandler(HandleXError);
        gInstalled = true;
    }
    return DisplayPtr(d);
}

ErrorTrap::ErrorTrap(Display* dpy) : dpy_(dpy), outer_(tTrap) {
    XSync(dpy_, False); // errors of earlier requests are not ours to catch
    error_ = 0;
    tTrap = this;
}

ErrorTrap::~ErrorTrap() {
    if (!finished_) Finish();
    tTrap = outer_;
}

int ErrorTrap::Finish() {
    if (!finished_) {
        XSync(dpy_, False);
        finished_ = true;
    }
    return error_;
}

} // namespace quillet::platform::x11
