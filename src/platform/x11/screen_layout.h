// Where the monitors are. Program coordinates follow the Windows convention: the primary monitor's top-left corner
// is (0, 0), other monitors may lie at negative coordinates. X root-window coordinates are converted by subtracting
// the primary monitor's origin.
#pragma once

// Before any X header: X.h defines None as a macro.
#include "platform/platform.h"

#include <X11/Xlib.h>

namespace quillet::platform::x11 {

struct ScreenLayout {
    ScreenRect primary; // in root coordinates
    ScreenRect all;     // bounding box of every monitor, in root coordinates
    int32_t rootWidth = 0;
    int32_t rootHeight = 0;

    // Program coordinates <-> root coordinates.
    int32_t ToRootX(int32_t x) const { return x + primary.left; }
    int32_t ToRootY(int32_t y) const { return y + primary.top; }
    int32_t FromRootX(int32_t x) const { return x - primary.left; }
    int32_t FromRootY(int32_t y) const { return y - primary.top; }
    ScreenRect VirtualScreen() const { return {all.left - primary.left, all.top - primary.top, all.width, all.height}; }
};

// Pixel of an absolute mouse coordinate (0..65535 over the primary monitor's extent); the exact inverse of the
// engine's conversion (which rounds half away from zero): the product is truncated toward zero.
int32_t AbsoluteToPixel(int32_t units, int32_t extent);

// Keeps the layout of one connection, asking the server again only after a screen change was announced.
class ScreenLayoutTracker {
public:
    explicit ScreenLayoutTracker(Display* dpy);
    // The layout; events already queued on the connection are looked at first when drainEvents is set (for a
    // connection that nobody else reads events from).
    const ScreenLayout& Current(bool drainEvents);
    // True when the event was a screen change (the layout is then read again at the next Current()).
    bool HandleEvent(XEvent& ev);

private:
    void Query();
    Display* dpy_;
    int randrEventBase_ = -1;
    bool valid_ = false;
    ScreenLayout layout_;
};

} // namespace quillet::platform::x11
