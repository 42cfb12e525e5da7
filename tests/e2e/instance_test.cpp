// One Quillet per working folder, end to end: a second program started in the folder of a running one asks it to
// bring its main window forward (above other windows, restored when minimised) and ends with exit code 0. Only when
// the running one does not answer does the second say so in a message box and end with 1 once it is answered; the
// first runs on either way, and after it has ended the folder is free again.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "e2e_support.h"
#include "model/library_file.h"
#include "model/settings.h"
#include "platform/instance_lock.h"

// X headers last: they define None, Status, Screen, KeyRelease, ...
#include "x11_test_support.h"
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace quillet::e2e {
namespace {

using platform::x11::test::kScreenHeight;
using platform::x11::test::kScreenWidth;
using platform::x11::test::kWait;
using platform::x11::test::XDisplayName;

namespace fs = std::filesystem;

constexpr auto kStartTimeout = 60s; // a cold start of a Qt program on a loaded machine
constexpr int32_t kStartMinimised = 0x10;
const std::string kMainTitle = "Quillet V2.3";
const std::string kBoxTitle = "Quillet"; // message boxes carry the application's name

// The child of the root that holds `window`: the window itself, or the frame a window manager put it in.
Window TopLevelOf(Display* dpy, Window window) {
    for (;;) {
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(dpy, window, &root, &parent, &children, &count)) return 0;
        if (children != nullptr) XFree(children);
        if (parent == root || parent == 0) return window;
        window = parent;
    }
}

// Whether `upper` is above `lower` among the root's children (XQueryTree lists them bottom first).
bool StackedAbove(Display* dpy, Window upper, Window lower) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count)) return false;
    const Window* begin = children;
    const Window* end = children + count;
    const Window* up = std::find(begin, end, upper);
    const Window* low = std::find(begin, end, lower);
    const bool above = up != end && low != end && up > low;
    if (children != nullptr) XFree(children);
    return above;
}

// The window's WM_STATE (1 NormalState, 3 IconicState), -1 when it has none.
long WmState(Display* dpy, Window window) {
    const Atom wmState = XInternAtom(dpy, "WM_STATE", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long state = -1;
    if (XGetWindowProperty(dpy, window, wmState, 0, 2, False, wmState, &type, &format, &count, &after, &data) ==
            Success &&
        format == 32 && count >= 1)
        state = reinterpret_cast<long*>(data)[0];
    if (data != nullptr) XFree(data);
    return state;
}

bool Viewable(Display* dpy, Window window) {
    XWindowAttributes attrs;
    return XGetWindowAttributes(dpy, window, &attrs) && attrs.map_state == IsViewable;
}

bool WindowManagerRuns(Display* dpy) {
    const Atom check = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty(dpy, DefaultRootWindow(dpy), check, 0, 1, False, AnyPropertyType, &type,
                                          &format, &count, &after, &data) == Success &&
                       count == 1;
    if (data != nullptr) XFree(data);
    return found;
}

class InstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(XDisplayName().empty()) << "the test's Xvfb did not start";
        ASSERT_FALSE(dir.path().empty());
        runtime = dir.path() / "runtime";
        ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
        watcher = std::make_unique<WindowWatcher>(XDisplayName());
        ASSERT_NE(watcher->dpy(), nullptr);
        // The test's own connection: its cover window, and the root's restacking and property changes to wait on.
        dpy = XOpenDisplay(XDisplayName().c_str());
        ASSERT_NE(dpy, nullptr);
        XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask | PropertyChangeMask);
    }

    void TearDown() override {
        // Asked to end, openbox takes its properties off the root window, so that the next test's waits for a
        // window manager do not see this one.
        if (wm.running() && wm.Signal(SIGTERM)) wm.Wait(kWait);
        if (dpy != nullptr) XCloseDisplay(dpy);
    }

    void Start(ChildProcess& app, const std::string& logName) {
        std::string error;
        ASSERT_TRUE(app.Start({QUILLET_APP_PATH}, dir.path(),
                              {"DISPLAY=" + XDisplayName(), "QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY",
                               "XDG_RUNTIME_DIR=" + runtime.string(),
                               "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir.path() / "no-bus").string()},
                              dir.path() / logName, error))
            << error;
    }

    // Starts a program that is to run, and waits for its main window and event loop.
    XWindow StartRunning(ChildProcess& app, const std::string& logName) {
        Start(app, logName);
        const XWindow window = watcher->WaitForWindow(kMainTitle, kStartTimeout, [&] { return !app.Ended(); });
        EXPECT_NE(window, 0u) << "no main window; quillet's output:\n" << app.Log();
        if (window != 0) {
            EXPECT_TRUE(watcher->Ping(window, kStartTimeout)) << app.Log();
        }
        return window;
    }

    // Starts a second program in the folder and waits for it to end; its wait status, and how long it took.
    std::optional<int> StartSecond(ChildProcess& app, const std::string& logName, std::chrono::milliseconds& took) {
        const auto from = std::chrono::steady_clock::now();
        Start(app, logName);
        const std::optional<int> status = app.Wait(kStartTimeout);
        took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - from);
        return status;
    }

    static bool ExitedWith(const std::optional<int>& status, int code) {
        return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
    }

    // Handles the test connection's events until `done` holds; false when the time ran out first. The conditions
    // change with events the connection has selected; it looks again at least every 100 ms all the same.
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = kWait) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            while (XPending(dpy) > 0) {
                XEvent ev;
                XNextEvent(dpy, &ev);
            }
            if (done()) return true;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{ConnectionNumber(dpy), POLLIN, 0};
            poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 100)));
        }
    }

    // A plain window of the test's own over the whole screen, mapped on top of everything.
    Window Cover() {
        const int screen = DefaultScreen(dpy);
        const Window cover = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, kScreenWidth, kScreenHeight, 0,
                                                 BlackPixel(dpy, screen), WhitePixel(dpy, screen));
        XStoreName(dpy, cover, "cover");
        XMapRaised(dpy, cover);
        XSync(dpy, False);
        return cover;
    }

    // A top-level window with that title, shown or not (a minimised one is unmapped under a window manager).
    Window FindByTitle(const std::string& title) {
        const std::function<Window(Window, int)> search = [&](Window under, int depth) -> Window {
            Window root = 0, parent = 0;
            Window* children = nullptr;
            unsigned count = 0;
            Window found = 0;
            if (!XQueryTree(dpy, under, &root, &parent, &children, &count)) return 0;
            for (unsigned i = 0; i < count && found == 0; ++i) {
                if (watcher->Title(children[i]) == title)
                    found = children[i];
                else if (depth > 1)
                    found = search(children[i], depth - 1);
            }
            if (children != nullptr) XFree(children);
            return found;
        };
        return search(DefaultRootWindow(dpy), 3);
    }

    // Starts openbox and waits until it has taken the screen.
    void StartWindowManager() {
        const std::string openbox = "/usr/bin/openbox";
        ASSERT_TRUE(fs::exists(openbox)) << "openbox is not installed (scripts/install-deps.sh test)";
        std::string error;
        ASSERT_TRUE(wm.Start({openbox}, dir.path(), {"DISPLAY=" + XDisplayName()}, dir.path() / "openbox.log", error))
            << error;
        ASSERT_TRUE(WaitFor([&] { return WindowManagerRuns(dpy); })) << "openbox did not take the screen: " << wm.Log();
    }

    // A person presses Return in the window.
    void PressReturn(XWindow window) {
        Display* d = watcher->dpy();
        XSetInputFocus(d, window, RevertToParent, CurrentTime);
        const KeyCode keycode = XKeysymToKeycode(d, XK_Return);
        XTestFakeKeyEvent(d, keycode, True, CurrentTime);
        XTestFakeKeyEvent(d, keycode, False, CurrentTime);
        XSync(d, False);
    }

    TempDir dir;
    fs::path runtime;
    std::unique_ptr<WindowWatcher> watcher;
    Display* dpy = nullptr;
    ChildProcess wm; // the window manager, for the tests that want one
};

TEST_F(InstanceTest, SecondStartRaisesTheRunningWindowAndEndsWithZero) {
    ChildProcess first;
    const XWindow firstWindow = StartRunning(first, "first.log");
    ASSERT_NE(firstWindow, 0u);
    ASSERT_TRUE(fs::exists(dir.path() / platform::kInstanceLockFileName));

    const Window cover = Cover();
    const Window firstTop = TopLevelOf(dpy, firstWindow);
    ASSERT_TRUE(WaitFor([&] { return StackedAbove(dpy, cover, firstTop); })) << "the cover did not go on top";

    ChildProcess second;
    std::chrono::milliseconds took{};
    const std::optional<int> status = StartSecond(second, "second.log", took);
    ASSERT_TRUE(status) << "the second program did not end:\n" << second.Log();
    EXPECT_TRUE(ExitedWith(status, 0)) << ChildProcess::DescribeStatus(*status) << "\n" << second.Log();
    std::printf("[   info   ] the second start ended after %lld ms\n", static_cast<long long>(took.count()));
    RecordProperty("second_start_ms", static_cast<int>(took.count()));
    const std::string log = second.Log();
    EXPECT_NE(log.find("another Quillet (process " + std::to_string(first.pid()) + ") already runs in this folder"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("brought its window forward"), std::string::npos) << log;
    const Window box = FindByTitle(kBoxTitle);
    EXPECT_FALSE(box != 0 && Viewable(dpy, box)) << "the second start showed a message box";

    EXPECT_TRUE(WaitFor([&] { return StackedAbove(dpy, firstTop, cover); }))
        << "the running window stayed under the test's window\n"
        << first.Log();
    EXPECT_FALSE(first.Ended()) << first.Log();
    EXPECT_TRUE(watcher->Ping(firstWindow, kWait)) << first.Log();
    // The lock stays with the first.
    EXPECT_TRUE(fs::exists(dir.path() / platform::kInstanceLockFileName));

    // Once it has ended, the folder is free for the next one.
    ASSERT_TRUE(first.Signal(SIGTERM));
    const std::optional<int> firstStatus = first.Wait(kWait);
    ASSERT_TRUE(firstStatus) << first.Log();
    EXPECT_TRUE(ExitedWith(firstStatus, 0)) << ChildProcess::DescribeStatus(*firstStatus) << "\n" << first.Log();
    EXPECT_FALSE(fs::exists(dir.path() / platform::kInstanceLockFileName));
    ChildProcess third;
    EXPECT_NE(StartRunning(third, "third.log"), 0u);
}

TEST_F(InstanceTest, WhenTheRunningOneDoesNotAnswerTheSecondSaysSoAndEndsWithOne) {
    ChildProcess first;
    const XWindow firstWindow = StartRunning(first, "first.log");
    ASSERT_NE(firstWindow, 0u);

    // Stuck: its lock is held, its socket takes the connection, but nobody answers.
    ASSERT_TRUE(first.Signal(SIGSTOP));
    const auto from = std::chrono::steady_clock::now();
    ChildProcess second;
    ASSERT_NO_FATAL_FAILURE(Start(second, "second.log"));
    const XWindow box = watcher->WaitForWindow(kBoxTitle, kStartTimeout, [&] { return !second.Ended(); });
    const auto boxAfter =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - from);
    ASSERT_NE(box, 0u) << "no message box; the second program's output:\n" << second.Log();
    std::printf("[   info   ] the message box came after %lld ms\n", static_cast<long long>(boxAfter.count()));
    // It waits for the answer: still running, with its box's event loop going.
    ASSERT_TRUE(watcher->Ping(box, kWait)) << second.Log();
    EXPECT_FALSE(second.Ended());

    PressReturn(box);
    const std::optional<int> status = second.Wait(kWait);
    ASSERT_TRUE(status) << "the second program did not end after its box was answered:\n" << second.Log();
    EXPECT_TRUE(ExitedWith(status, 1)) << ChildProcess::DescribeStatus(*status) << "\n" << second.Log();
    const std::string log = second.Log();
    EXPECT_NE(log.find("another Quillet (process " + std::to_string(first.pid()) +
                       ") already runs in this folder"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("brought its window forward"), std::string::npos) << log;

    // Going again, the first one answers its window's events and the next second start.
    ASSERT_TRUE(first.Signal(SIGCONT));
    EXPECT_TRUE(watcher->Ping(firstWindow, kWait)) << first.Log();
    EXPECT_FALSE(first.Ended()) << first.Log();
    ChildProcess third;
    std::chrono::milliseconds took{};
    const std::optional<int> thirdStatus = StartSecond(third, "third.log", took);
    EXPECT_TRUE(ExitedWith(thirdStatus, 0)) << third.Log() << "\nthe first's output:\n" << first.Log();
}

// Under a window manager a minimised window is unmapped and iconic, and the manager may keep a window from taking
// the focus from the one a person works in: the second start restores the window and brings it above the others.
TEST_F(InstanceTest, SecondStartRestoresAndRaisesTheWindowUnderAWindowManager) {
    ASSERT_NO_FATAL_FAILURE(StartWindowManager());
    // A library of its own: the first start's demo library comes with a notice, and then the window is not
    // started minimised.
    ASSERT_TRUE(SaveMacroLibrary((dir.path() / "macro.m").string(), {MakeNewMacro("one")}).ok);
    {
        CIni settings("Property", (dir.path() / "Quillet.ini").string());
        settings.WriteInt("macroOptions", 136 | kStartMinimised);
        ASSERT_FALSE(settings.TakeWriteFailure());
    }
    ChildProcess first;
    ASSERT_NO_FATAL_FAILURE(Start(first, "first.log"));
    Window firstWindow = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            firstWindow = FindByTitle(kMainTitle);
            return (firstWindow != 0 && WmState(dpy, firstWindow) == IconicState) || first.Ended();
        },
        kStartTimeout))
        << "no minimised main window; quillet's output:\n"
        << first.Log();
    ASSERT_FALSE(first.Ended()) << first.Log();
    EXPECT_FALSE(Viewable(dpy, firstWindow));
    XSelectInput(dpy, firstWindow, PropertyChangeMask | StructureNotifyMask);
    const Window cover = Cover();
    ASSERT_TRUE(WaitFor([&] { return Viewable(dpy, cover); })) << "the cover was not mapped";

    ChildProcess second;
    std::chrono::milliseconds took{};
    const std::optional<int> status = StartSecond(second, "second.log", took);
    ASSERT_TRUE(status) << second.Log();
    EXPECT_TRUE(ExitedWith(status, 0)) << ChildProcess::DescribeStatus(*status) << "\n" << second.Log();
    std::printf("[   info   ] the second start ended after %lld ms\n", static_cast<long long>(took.count()));
    EXPECT_TRUE(WaitFor([&] {
        return WmState(dpy, firstWindow) == NormalState && Viewable(dpy, firstWindow) &&
               StackedAbove(dpy, TopLevelOf(dpy, firstWindow), TopLevelOf(dpy, cover));
    })) << "WM_STATE "
        << WmState(dpy, firstWindow) << "\n"
        << first.Log();

    // Shown but under another window: raised again.
    XRaiseWindow(dpy, cover);
    XSync(dpy, False);
    ASSERT_TRUE(WaitFor([&] { return StackedAbove(dpy, TopLevelOf(dpy, cover), TopLevelOf(dpy, firstWindow)); }));
    ChildProcess third;
    EXPECT_TRUE(ExitedWith(StartSecond(third, "third.log", took), 0)) << third.Log();
    EXPECT_TRUE(WaitFor([&] { return StackedAbove(dpy, TopLevelOf(dpy, firstWindow), TopLevelOf(dpy, cover)); }))
        << "the running window stayed under the test's window\n"
        << first.Log() << "\nopenbox:\n"
        << wm.Log();
    EXPECT_TRUE(watcher->Ping(firstWindow, kWait)) << first.Log();
}

} // namespace
} // namespace quillet::e2e
