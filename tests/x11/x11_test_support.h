// Shared pieces of the X11 backend tests: the private Xvfb, a plain Xlib client window that records what it
// receives, a poster that runs posted closures on the test thread, and condition waits with time limits.
#pragma once

#include "platform/platform.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace quillet::platform::x11::test {

using namespace std::chrono_literals;
inline constexpr std::chrono::milliseconds kWait = 10s; // upper bound of every condition wait

// Display name of the Xvfb started for this test program (1280 x 1024 x 24); empty when it did not start.
const std::string& XDisplayName();
const std::string& XvfbError();
// For the SetUp of every test that needs the server: ASSERT_TRUE(XvfbRunning()) << XvfbError();
inline bool XvfbRunning() {
    return !XDisplayName().empty();
}
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 1024;

// A window covering the whole screen on a connection of its own, focused, recording keys and buttons.
class TestClient {
public:
    struct Key {
        bool press;
        unsigned keycode;
        KeySym sym; // as the client translates it, modifiers applied
        std::string text;
    };
    struct Button {
        bool press;
        unsigned button;
    };

    TestClient();
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    Display* dpy() const { return dpy_; }
    Window window() const { return window_; }
    // Handles events until `done` holds; false when the time ran out first.
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = kWait);
    // Fills a rectangle of the window with a colour 0x00RRGGBB and waits until the server has drawn it.
    void Fill(int x, int y, int w, int h, unsigned long rgb);

    std::vector<Key> keys;
    std::vector<Button> buttons;
    std::string Typed() const; // text of the key presses, in order

private:
    void Handle(XEvent& ev);
    Display* dpy_ = nullptr;
    Window window_ = 0;
    GC gc_ = nullptr;
    bool mapped_ = false;
};

// Runs posted closures on the thread that calls RunUntil (the "owner's thread" of the monitor).
class PostQueue {
public:
    Poster poster();
    // Runs closures as they arrive until `done` holds; false when the time ran out first.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kWait);
    // Runs what is queued now, without waiting.
    void RunPending();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
};

// A device that XTest can drive through the XInput 1 path ("Xvfb keyboard", "Xvfb mouse"): its events come from a
// real slave device, as a person's would.
class PersonDevice {
public:
    PersonDevice(Display* dpy, const char* name);
    ~PersonDevice();
    PersonDevice(const PersonDevice&) = delete;
    PersonDevice& operator=(const PersonDevice&) = delete;
    void Key(unsigned keycode, bool press);
    void Button(unsigned button, bool press);
    void MoveBy(int dx, int dy);
    bool ok() const { return device_ != nullptr; }

private:
    Display* dpy_;
    XDevice* device_ = nullptr;
};

// Keycode of a keysym in the server's current map (0 when missing), looked up on `dpy`.
unsigned KeycodeOf(Display* dpy, KeySym sym);
// True when some keycode of the current map carries `sym`.
bool KeymapHas(Display* dpy, KeySym sym);

} // namespace quillet::platform::x11::test
