// The guardian under the test's Xvfb: whatever way quillet-cli play ends, no key or button its macro held stays
// down, keys a person holds are left alone, and an orderly end sends nothing.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

#include "e2e_support.h"
#include "model/library_file.h"

// X headers last: they define None, Status, Screen, KeyRelease, ...
#include "x11_test_support.h"
#include <X11/extensions/XTest.h>

namespace quillet::e2e {
namespace {

using platform::x11::test::KeycodeOf;
using platform::x11::test::PersonDevice;
using platform::x11::test::TestClient;
using platform::x11::test::XDisplayName;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_F7 = 0x76;

// The guardian watching `parent`: the process named quillet-guardian whose parent it is; 0 when there is none.
pid_t GuardianOf(pid_t parent) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream status(entry.path() / "status");
        std::string line, comm;
        long ppid = -1;
        while (std::getline(status, line)) {
            if (line.rfind("Name:", 0) == 0) comm = line.substr(line.find_first_not_of(" \t", 5));
            if (line.rfind("PPid:", 0) == 0) ppid = std::stol(line.substr(5));
        }
        if (comm.rfind("quillet-guardia", 0) == 0 && ppid == parent) return static_cast<pid_t>(std::stol(name));
    }
    return 0;
}

// True once the process has ended (gone, or a zombie nobody reaps).
bool Gone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const std::size_t close = line.rfind(')');
    return close == std::string::npos || line.compare(close + 2, 1, "Z") == 0;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms); // polling a condition, not waiting for time to pass
    }
    return true;
}

unsigned ButtonsDown(Display* dpy) {
    Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &rx, &ry, &wx, &wy, &mask);
    return mask & (Button1Mask | Button2Mask | Button3Mask | Button4Mask | Button5Mask);
}

bool KeyDown(Display* dpy, KeySym sym) {
    char keys[32] = {};
    XQueryKeymap(dpy, keys);
    const unsigned kc = KeycodeOf(dpy, sym);
    return kc != 0 && (keys[kc / 8] & (1 << (kc % 8))) != 0;
}

class GuardianTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(XDisplayName().empty()) << "the test's Xvfb did not start";
        // "holder" holds Shift, Ctrl and the left button until a person presses F7, which never happens here.
        Macro holder = MakeNewMacro("holder");
        holder.items.push_back(MakeKeyItem(VK_SHIFT, ActionPress));
        holder.items.push_back(MakeKeyItem(VK_CONTROL, ActionPress));
        holder.items.push_back(MakeMouseItem(0, 0, MouseLeftDown));
        holder.items.push_back(MakeDelayItem(VK_F7, DelayKey));
        // "idle" sends nothing at all.
        Macro idle = MakeNewMacro("idle");
        idle.items.push_back(MakeDelayItem(30, DelayTime));
        ASSERT_TRUE(SaveMacroLibrary((dir.path() / "macro.m").string(), {holder, idle}).ok);
        client = std::make_unique<TestClient>();
        ASSERT_NE(client->dpy(), nullptr);
        XAutoRepeatOff(client->dpy());
    }

    void TearDown() override {
        cli.Kill();
        if (!client) return;
        RestoreInput(client->dpy());
    }

    void Start(const std::string& name, const std::string& guardianEnv = "QUILLET_GUARDIAN") {
        std::vector<std::string> env = {"DISPLAY=" + XDisplayName(), "WAYLAND_DISPLAY", guardianEnv,
                                        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir.path() / "no-bus").string()};
        // The play is killed with SIGSEGV on purpose: a sanitizer built into it lets the signal end it, as it would
        // end the program, instead of reporting a crash and exiting.
        for (const char* sanitizer : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            const char* options = std::getenv(sanitizer);
            env.push_back(std::string(sanitizer) + "=" + (options && *options ? std::string(options) + ":" : "") +
                          "handle_segv=0");
        }
        std::string error;
        ASSERT_TRUE(cli.Start({QUILLET_CLI_PATH, "play", "macro.m", name}, dir.path(), env, dir.path() / "cli.log",
                              error))
            << error;
    }

    void Play(const std::string& name) {
        ASSERT_NO_FATAL_FAILURE(Start(name));
        ASSERT_TRUE(WaitUntil([&] { return (guardian = GuardianOf(cli.pid())) != 0 || cli.Ended(); }, 10s))
            << "no guardian; output:\n"
            << cli.Log();
        ASSERT_NE(guardian, 0) << "play ended without a guardian; output:\n" << cli.Log();
    }

    // Plays the holder until the client has seen everything it presses.
    void PlayHolder() {
        ASSERT_NO_FATAL_FAILURE(Play("holder"));
        ASSERT_TRUE(client->WaitFor([&] {
            return !client->buttons.empty() && KeyDown(client->dpy(), XK_Control_L) &&
                   KeyDown(client->dpy(), XK_Shift_L);
        })) << "output:\n"
            << cli.Log();
    }

    TempDir dir;
    ChildProcess cli;
    pid_t guardian = 0;
    std::unique_ptr<TestClient> client;
};

TEST_F(GuardianTest, KillingPlayReleasesEveryKeyAndButtonItsMacroHeld) {
    for (const int sig : {SIGKILL, SIGSEGV}) {
        SCOPED_TRACE("signal " + std::to_string(sig));
        ASSERT_NO_FATAL_FAILURE(PlayHolder());
        const pid_t watcher = guardian;
        const auto killed = Clock::now();
        ASSERT_TRUE(cli.Signal(sig));
        ASSERT_TRUE(WaitUntil([&] { return NoKeyDown(client->dpy()) && ButtonsDown(client->dpy()) == 0; }, 10s))
            << "still down: " << KeysDown(client->dpy()) << ", buttons " << ButtonsDown(client->dpy());
        const auto released = Clock::now() - killed;
        EXPECT_LT(released, 500ms) << std::chrono::duration_cast<std::chrono::milliseconds>(released).count() << " ms";
        EXPECT_TRUE(WaitUntil([&] { return Gone(watcher); }, 10s)) << "the guardian outlived the program";
        const std::optional<int> status = cli.Wait(10s);
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == sig) << ChildProcess::DescribeStatus(*status);
    }
}

TEST_F(GuardianTest, KeysAPersonHoldsStayDownWhenQuilletIsKilled) {
    PersonDevice person(client->dpy(), "Xvfb keyboard");
    ASSERT_TRUE(person.ok());
    const unsigned x = KeycodeOf(client->dpy(), XK_x), shift = KeycodeOf(client->dpy(), XK_Shift_L);
    // The person holds X, and left Shift, which the macro presses too.
    person.Key(x, true);
    person.Key(shift, true);
    XSync(client->dpy(), False);
    ASSERT_NO_FATAL_FAILURE(PlayHolder());
    ASSERT_TRUE(cli.Signal(SIGKILL));
    ASSERT_TRUE(
        WaitUntil([&] { return !KeyDown(client->dpy(), XK_Control_L) && ButtonsDown(client->dpy()) == 0; }, 10s))
        << "still down: " << KeysDown(client->dpy());
    ASSERT_TRUE(WaitUntil([&] { return Gone(guardian); }, 10s));
    EXPECT_TRUE(KeyDown(client->dpy(), XK_x)) << KeysDown(client->dpy());
    EXPECT_TRUE(KeyDown(client->dpy(), XK_Shift_L)) << KeysDown(client->dpy());
    // When the person lets go, nothing is left down.
    person.Key(x, false);
    person.Key(shift, false);
    XSync(client->dpy(), False);
    EXPECT_TRUE(WaitUntil([&] { return NoKeyDown(client->dpy()); }, 10s)) << KeysDown(client->dpy());
}

TEST_F(GuardianTest, AnOrderlyEndWithNothingHeldSendsNoEventAtAll) {
    ASSERT_NO_FATAL_FAILURE(Play("idle"));
    const std::optional<int> status = cli.Wait(30s);
    ASSERT_TRUE(status) << cli.Log();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << ChildProcess::DescribeStatus(*status);
    ASSERT_TRUE(WaitUntil([&] { return Gone(guardian); }, 10s)) << "the guardian outlived the program";
    // A marker key from the test itself: once the client has it, everything sent before it has arrived.
    const unsigned marker = KeycodeOf(client->dpy(), XK_F12);
    XTestFakeKeyEvent(client->dpy(), marker, True, CurrentTime);
    XTestFakeKeyEvent(client->dpy(), marker, False, CurrentTime);
    XSync(client->dpy(), False);
    ASSERT_TRUE(client->WaitFor([&] { return client->keys.size() >= 2 && client->keys.back().keycode == marker; }));
    EXPECT_EQ(client->keys.size(), 2u) << "events other than the marker: " << client->Typed();
    EXPECT_TRUE(client->buttons.empty());
}

TEST_F(GuardianTest, APlayWhoseGuardianCannotStartSaysSoOnceAndStillPlays) {
    Macro typer = MakeNewMacro("typer");
    typer.items.push_back(MakeStringItem("ok"));
    ASSERT_TRUE(SaveMacroLibrary((dir.path() / "macro.m").string(), {typer}).ok);
    ASSERT_NO_FATAL_FAILURE(Start("typer", "QUILLET_GUARDIAN=" + (dir.path() / "missing").string()));
    const std::optional<int> status = cli.Wait(30s);
    ASSERT_TRUE(status) << cli.Log();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << ChildProcess::DescribeStatus(*status);
    ASSERT_TRUE(client->WaitFor([&] { return client->Typed() == "ok"; })) << client->Typed();
    const std::string log = cli.Log();
    const std::size_t first = log.find("no guardian");
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find("no guardian", first + 1), std::string::npos) << log;
}

} // namespace
} // namespace quillet::e2e
