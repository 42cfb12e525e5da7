// One Quillet per working folder, end to end: a second program started in the folder of a running one says so on
// standard error and in a message box, ends with exit code 1 once the box is answered, and leaves the first one
// running; after the first has ended, the folder is free again.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <memory>

#include "e2e_support.h"
#include "platform/instance_lock.h"

// X headers last: they define None, Status, Screen, KeyRelease, ...
#include "x11_test_support.h"
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace quillet::e2e {
namespace {

using platform::x11::test::kWait;
using platform::x11::test::XDisplayName;

namespace fs = std::filesystem;

constexpr auto kStartTimeout = 60s; // a cold start of a Qt program on a loaded machine
const std::string kMainTitle = "Quillet V2.3";
const std::string kBoxTitle = "Quillet"; // message boxes carry the application's name

class InstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(XDisplayName().empty()) << "the test's Xvfb did not start";
        ASSERT_FALSE(dir.path().empty());
        runtime = dir.path() / "runtime";
        ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
        watcher = std::make_unique<WindowWatcher>(XDisplayName());
        ASSERT_NE(watcher->dpy(), nullptr);
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

    // A person presses Return in the window.
    void PressReturn(XWindow window) {
        Display* dpy = watcher->dpy();
        XSetInputFocus(dpy, window, RevertToParent, CurrentTime);
        const KeyCode keycode = XKeysymToKeycode(dpy, XK_Return);
        XTestFakeKeyEvent(dpy, keycode, True, CurrentTime);
        XTestFakeKeyEvent(dpy, keycode, False, CurrentTime);
        XSync(dpy, False);
    }

    TempDir dir;
    fs::path runtime;
    std::unique_ptr<WindowWatcher> watcher;
};

TEST_F(InstanceTest, SecondProgramInTheSameFolderSaysSoAndEndsWhileTheFirstRunsOn) {
    ChildProcess first;
    const XWindow firstWindow = StartRunning(first, "first.log");
    ASSERT_NE(firstWindow, 0u);
    ASSERT_TRUE(fs::exists(dir.path() / platform::kInstanceLockFileName));

    ChildProcess second;
    ASSERT_NO_FATAL_FAILURE(Start(second, "second.log"));
    const XWindow box = watcher->WaitForWindow(kBoxTitle, kStartTimeout, [&] { return !second.Ended(); });
    ASSERT_NE(box, 0u) << "no message box; the second program's output:\n" << second.Log();
    // It waits for the answer: still running, with its box's event loop going.
    ASSERT_TRUE(watcher->Ping(box, kWait)) << second.Log();
    EXPECT_FALSE(second.Ended());

    PressReturn(box);
    const std::optional<int> status = second.Wait(kWait);
    ASSERT_TRUE(status) << "the second program did not end after its box was answered:\n" << second.Log();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 1) << ChildProcess::DescribeStatus(*status) << "\n"
                                                                 << second.Log();
    const std::string log = second.Log();
    EXPECT_NE(log.find("another Quillet (process " + std::to_string(first.pid()) + ") already runs in this folder"),
              std::string::npos)
        << log;

    // The first one is unaffected and still answers.
    EXPECT_FALSE(first.Ended()) << first.Log();
    EXPECT_TRUE(watcher->Ping(firstWindow, kWait)) << first.Log();

    // Once it has ended, the folder is free for the next one.
    ASSERT_TRUE(first.Signal(SIGTERM));
    const std::optional<int> firstStatus = first.Wait(kWait);
    ASSERT_TRUE(firstStatus) << first.Log();
    EXPECT_TRUE(WIFEXITED(*firstStatus) && WEXITSTATUS(*firstStatus) == 0)
        << ChildProcess::DescribeStatus(*firstStatus) << "\n"
        << first.Log();
    EXPECT_FALSE(fs::exists(dir.path() / platform::kInstanceLockFileName));
    ChildProcess third;
    EXPECT_NE(StartRunning(third, "third.log"), 0u);
}

} // namespace
} // namespace quillet::e2e
