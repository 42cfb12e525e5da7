#include "platform/x11/screen_layout.h"

#include <algorithm>

#ifdef QUILLET_HAVE_XRANDR
#include <X11/extensions/Xrandr.h>
#endif

namespace quillet::platform::x11 {

int32_t AbsoluteToPixel(int32_t units, int32_t extent) {
    return static_cast<int32_t>(static_cast<int64_t>(units) * extent / 65536);
}

ScreenLayoutTracker::ScreenLayoutTracker(Display* dpy) : dpy_(dpy) {
    XSelectInput(dpy_, DefaultRootWindow(dpy_), StructureNotifyMask);
#ifdef QUILLET_HAVE_XRANDR
    int errorBase = 0;
    if (XRRQueryExtension(dpy_, &randrEventBase_, &errorBase)) {
        XRRSelectInput(dpy_, DefaultRootWindow(dpy_), RRScreenChangeNotifyMask);
    } else {
        randrEventBase_ = -1;
    }
#endif
}

bool ScreenLayoutTracker::HandleEvent(XEvent& ev) {
#ifdef QUILLET_HAVE_XRANDR
    if (randrEventBase_ >= 0 && ev.type == randrEventBase_ + RRScreenChangeNotify) {
        XRRUpdateConfiguration(&ev);
        valid_ = false;
        return true;
    }
#endif
    if (ev.type == ConfigureNotify && ev.xconfigure.window == DefaultRootWindow(dpy_)) {
        valid_ = false;
        return true;
    }
    return false;
}

const ScreenLayout& ScreenLayoutTracker::Current(bool drainEvents) {
    if (drainEvents) {
        while (XPending(dpy_) > 0) {
            XEvent ev;
            XNextEvent(dpy_, &ev);
            HandleEvent(ev);
        }
    }
    if (!valid_) Query();
    return layout_;
}

void ScreenLayoutTracker::Query() {
    Window root = DefaultRootWindow(dpy_);
    Window rootReturn = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    if (XGetGeometry(dpy_, root, &rootReturn, &x, &y, &width, &height, &border, &depth)) {
        layout_.rootWidth = static_cast<int32_t>(width);
        layout_.rootHeight = static_cast<int32_t>(height);
    } else {
        layout_.rootWidth = DisplayWidth(dpy_, DefaultScreen(dpy_));
        layout_.rootHeight = DisplayHeight(dpy_, DefaultScreen(dpy_));
    }
    const ScreenRect whole{0, 0, layout_.rootWidth, layout_.rootHeight};
    layout_.primary = whole;
    layout_.all = whole;
#ifdef QUILLET_HAVE_XRANDR
    if (randrEventBase_ >= 0) {
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(dpy_, root, True, &count);
        if (monitors != nullptr && count > 0) {
            int primary = 0;
            int32_t left = monitors[0].x, top = monitors[0].y;
            int32_t right = left + monitors[0].width, bottom = top + monitors[0].height;
            for (int i = 0; i < count; ++i) {
                const XRRMonitorInfo& m = monitors[i];
                if (m.primary) primary = i;
                left = std::min(left, m.x);
                top = std::min(top, m.y);
                right = std::max(right, m.x + m.width);
                bottom = std::max(bottom, m.y + m.height);
            }
            const XRRMonitorInfo& p = monitors[primary];
            if (p.width > 0 && p.height > 0) {
                layout_.primary = {p.x, p.y, p.width, p.height};
                layout_.all = {left, top, right - left, bottom - top};
            }
        }
        if (monitors != nullptr) XRRFreeMonitors(monitors);
    }
#endif
    valid_ = true;
}

} // namespace quillet::platform::x11
