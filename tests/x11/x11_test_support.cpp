#include "x11_test_support.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <poll.h>

#include <cstring>

namespace quillet::platform::x11::test {

TestClient::TestClient() {
    if (!XvfbRunning()) return; // never the session's own display
    dpy_ = XOpenDisplay(XDisplayName().c_str());
    if (dpy_ == nullptr) return;
    const int screen = DefaultScreen(dpy_);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = BlackPixel(dpy_, screen);
    attrs.event_mask =
        KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask | ExposureMask;
    window_ = XCreateWindow(dpy_, RootWindow(dpy_, screen), 0, 0, kScreenWidth, kScreenHeight, 0, CopyFromParent,
                            CopyFromParent, CopyFromParent, CWOverrideRedirect | CWBackPixel | CWEventMask, &attrs);
    gc_ = XCreateGC(dpy_, window_, 0, nullptr);
    XMapRaised(dpy_, window_);
    WaitFor([this] { return mapped_; });
    XSetInputFocus(dpy_, window_, RevertToParent, CurrentTime);
    XSync(dpy_, False);
}

TestClient::~TestClient() {
    if (dpy_ == nullptr) return;
    XFreeGC(dpy_, gc_);
    XDestroyWindow(dpy_, window_);
    XCloseDisplay(dpy_);
}

void TestClient::Handle(XEvent& ev) {
    switch (ev.type) {
    case MapNotify:
        mapped_ = true;
        break;
    case MappingNotify:
        XRefreshKeyboardMapping(&ev.xmapping);
        break;
    case KeyPress:
    case KeyRelease: {
        char buf[16] = {};
        KeySym sym = NoSymbol;
        const int n = XLookupString(&ev.xkey, buf, sizeof buf - 1, &sym, nullptr);
        keys.push_back({ev.type == KeyPress, ev.xkey.keycode, sym, std::string(buf, n > 0 ? n : 0)});
        break;
    }
    case ButtonPress:
    case ButtonRelease:
        buttons.push_back({ev.type == ButtonPress, ev.xbutton.button});
        break;
    default:
        break;
    }
}

bool TestClient::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        while (XPending(dpy_) > 0) {
            XEvent ev;
            XNextEvent(dpy_, &ev);
            Handle(ev);
        }
        if (done()) return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
        poll(&p, 1, static_cast<int>(left.count()));
    }
}

void TestClient::Fill(int x, int y, int w, int h, unsigned long rgb) {
    XSetForeground(dpy_, gc_, rgb); // a 24-bit true-colour screen: the pixel value is 0xRRGGBB
    XFillRectangle(dpy_, window_, gc_, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h));
    XSync(dpy_, False); // drawing requests are done once the server has answered the sync
}

std::string TestClient::Typed() const {
    std::string s;
    for (const Key& k : keys)
        if (k.press) s += k.text;
    return s;
}

Poster PostQueue::poster() {
    return [this](std::function<void()> f) {
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(f));
        }
        cv_.notify_all();
    };
}

bool PostQueue::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        RunPending();
        if (done()) return true;
        std::unique_lock lock(mutex_);
        if (!cv_.wait_until(lock, deadline, [this] { return !queue_.empty(); })) {
            lock.unlock();
            RunPending();
            return done();
        }
    }
}

void PostQueue::RunPending() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(queue_);
    }
    for (auto& f : batch) f();
}

PersonDevice::PersonDevice(Display* dpy, const char* name) : dpy_(dpy) {
    int count = 0;
    XDeviceInfo* list = XListInputDevices(dpy_, &count);
    for (int i = 0; i < count; ++i) {
        if (std::strcmp(list[i].name, name) == 0) device_ = XOpenDevice(dpy_, list[i].id);
    }
    if (list != nullptr) XFreeDeviceList(list);
}

PersonDevice::~PersonDevice() {
    if (device_ != nullptr) XCloseDevice(dpy_, device_);
}

void PersonDevice::Key(unsigned keycode, bool press) {
    XTestFakeDeviceKeyEvent(dpy_, device_, keycode, press ? True : False, nullptr, 0, CurrentTime);
    XFlush(dpy_);
}

void PersonDevice::Button(unsigned button, bool press) {
    XTestFakeDeviceButtonEvent(dpy_, device_, button, press ? True : False, nullptr, 0, CurrentTime);
    XFlush(dpy_);
}

void PersonDevice::MoveBy(int dx, int dy) {
    int axes[2] = {dx, dy};
    XTestFakeDeviceMotionEvent(dpy_, device_, True, 0, axes, 2, CurrentTime);
    XFlush(dpy_);
}

namespace {

template <typename F> void ForEachMapping(Display* dpy, F&& f) {
    int minKc = 0, maxKc = 0;
    XDisplayKeycodes(dpy, &minKc, &maxKc);
    int perKey = 0;
    KeySym* map = XGetKeyboardMapping(dpy, static_cast<KeyCode>(minKc), maxKc - minKc + 1, &perKey);
    if (map == nullptr) return;
    for (int kc = minKc; kc <= maxKc; ++kc)
        for (int i = 0; i < perKey; ++i) f(static_cast<unsigned>(kc), map[(kc - minKc) * perKey + i]);
    XFree(map);
}

} // namespace

unsigned KeycodeOf(Display* dpy, KeySym sym) {
    unsigned found = 0;
    ForEachMapping(dpy, [&](unsigned kc, KeySym s) {
        if (found == 0 && s == sym) found = kc;
    });
    return found;
}

bool KeymapHas(Display* dpy, KeySym sym) {
    return KeycodeOf(dpy, sym) != 0;
}

} // namespace quillet::platform::x11::test
