// Owning handle of an X connection and a way to catch the protocol errors of a few requests. Xlib's default error
// handler ends the process; the handler installed here only records errors on our own connections and passes
// every other connection's errors on to whichever handler was there before.
#pragma once

// Before any X header: X.h defines None as a macro.
#include "platform/platform.h"

#include <X11/Xlib.h>

#include <memory>
#include <string>

namespace quillet::platform::x11 {

struct DisplayCloser {
    void operator()(Display* d) const;
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// Opens a connection (name empty = $DISPLAY) and registers it with the error handler; null on failure.
DisplayPtr OpenDisplay(const std::string& name);

// Records the first protocol error on `dpy` from construction until Finish(), which syncs with the server first.
// Only the thread that made the requests may use it (errors are read while that thread syncs).
class ErrorTrap {
public:
    explicit ErrorTrap(Display* dpy);
    ~ErrorTrap();
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;
    // Waits for the server to process every request so far; returns the first error code seen (0 = none).
    int Finish();

private:
    Display* dpy_;
    int error_ = 0;
    ErrorTrap* outer_;
    bool finished_ = false;
    friend int HandleXError(Display*, XErrorEvent*);
};

int HandleXError(Display* dpy, XErrorEvent* ev);

} // namespace quillet::platform::x11
