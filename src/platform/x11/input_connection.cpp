#include "platform/x11/input_connection.h"

#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace quillet::platform::x11 {

std::unique_ptr<InputConnection> InputConnection::Open(const std::string& displayName,
                                                       std::chrono::milliseconds spareLinger, std::string& error) {
    // The monitor thread and the caller's thread use Xlib at the same time.
    XInitThreads();
    std::unique_ptr<InputConnection> c(new InputConnection());
    c->dpy_ = OpenDisplay(displayName);
    if (!c->dpy_) {
        error = "cannot connect to the X display \"" +
                std::string(XDisplayName(displayName.empty() ? nullptr : displayName.c_str())) + "\"";
        return nullptr;
    }
    Display* d = c->dpy_.get();
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(d, &eventBase, &errorBase, &major, &minor)) {
        error = "the X server has no XTEST extension (needed to send keys and mouse events)";
        return nullptr;
    }
    if (!XQueryExtension(d, "XInputExtension", &c->xiOpcode_, &eventBase, &errorBase)) {
        error = "the X server has no XInput extension (needed to watch keyboard and mouse input)";
        return nullptr;
    }
    major = 2;
    minor = 2;
    if (XIQueryVersion(d, &major, &minor) != Success || major * 100 + minor < 202) {
        error = "the X server's XInput extension is older than 2.2 (needed to watch keyboard and mouse input)";
        return nullptr;
    }
    // Our fake input keeps flowing while another client grabs the server.
    XTestGrabControl(d, True);
    c->keymap_ = std::make_unique<Keymap>(d);
    c->spare_ = std::make_unique<SpareKeys>(d, *c->keymap_, spareLinger);
    c->layout_ = std::make_unique<ScreenLayoutTracker>(d);
    c->decoder_ = std::make_unique<RawEventDecoder>(d, *c->keymap_, c->filter_);
    if (!XIGetClientPointer(d, None, &c->masterPointer_)) c->masterPointer_ = 2;

    // Device hot-plugging changes which devices are XTEST slaves and how pointers report.
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_HierarchyChanged);
    XIEventMask mask{XIAllDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(d, DefaultRootWindow(d), &mask, 1);

    c->wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (c->wakeFd_ < 0) {
        error = "cannot create an event descriptor";
        return nullptr;
    }
    XSync(d, False);
    return c;
}

InputConnection::~InputConnection() {
    if (dpy_) {
        if (spare_) spare_->ReleaseAll();
        XSync(dpy_.get(), False);
    }
    if (wakeFd_ >= 0) close(wakeFd_);
}

void InputConnection::SetMonitoring(bool on) {
    Display* d = dpy_.get();
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    if (on) {
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        XISetMask(bits, XI_RawButtonPress);
        XISetMask(bits, XI_RawButtonRelease);
        XISetMask(bits, XI_RawMotion);
    }
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(d, DefaultRootWindow(d), &mask, 1);
    filter_.Clear();
    outbox_.clear();
    monitoring_ = on;
    if (on) {
        Window root = 0, child = 0;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned mods = 0;
        XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mods);
        const ScreenLayout& l = layout_->Current(false);
        decoder_->RefreshDevices({rx, ry}, l.rootWidth, l.rootHeight);
    }
    XSync(d, False);
    Pump();
    if (!on) outbox_.clear();
}

void InputConnection::Pump() {
    Display* d = dpy_.get();
    const auto now = std::chrono::steady_clock::now();
    while (XPending(d) > 0) {
        XEvent ev;
        XNextEvent(d, &ev);
        if (keymap_->HandleEvent(ev) || layout_->HandleEvent(ev)) continue;
        if (ev.type != GenericEvent || ev.xcookie.extension != xiOpcode_) continue;
        if (!XGetEventData(d, &ev.xcookie)) continue;
        if (ev.xcookie.evtype == XI_HierarchyChanged) {
            if (monitoring_) {
                Window root = 0, child = 0;
                int rx = 0, ry = 0, wx = 0, wy = 0;
                unsigned mods = 0;
                XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mods);
                const ScreenLayout& l = layout_->Current(false);
                decoder_->RefreshDevices({rx, ry}, l.rootWidth, l.rootHeight);
            }
        } else if (monitoring_) {
            decoder_->Decode(ev.xcookie.evtype, *static_cast<const XIRawEvent*>(ev.xcookie.data), now, outbox_);
        }
        XFreeEventData(d, &ev.xcookie);
    }
}

void InputConnection::Settle() {
    Housekeeping(std::chrono::steady_clock::now());
    XFlush(dpy_.get());
    // The monitor also keeps the time for unbinding spare keycodes.
    if (monitoring_ && (XQLength(dpy_.get()) > 0 || !outbox_.empty() || spare_->boundCount() > 0)) Wake();
}

std::optional<SteadyTime> InputConnection::Housekeeping(SteadyTime now) {
    const std::size_t before = spare_->boundCount();
    std::optional<SteadyTime> next = spare_->Expire(now);
    if (spare_->boundCount() != before) XFlush(dpy_.get());
    return next;
}

std::vector<RawInputRecord> InputConnection::TakeOutbox() {
    std::vector<RawInputRecord> out;
    out.swap(outbox_);
    return out;
}

void InputConnection::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

void InputConnection::DrainWake() {
    uint64_t value = 0;
    [[maybe_unused]] ssize_t n = read(wakeFd_, &value, sizeof value);
}

} // namespace quillet::platform::x11
