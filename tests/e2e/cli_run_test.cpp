// quillet-cli run on the real X11 backend: run mode without the window. A person's hotkey starts a macro that types
// into a plain X client, the toggle key switches run mode off and on, and SIGTERM leaves no key down.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

#include "e2e_support.h"
#include "model/library_file.h"

// X headers last: they define None, Status, Screen, KeyRelease, ...
#include "x11_test_support.h"

namespace quillet::e2e {
namespace {

using platform::x11::test::KeycodeOf;
using platform::x11::test::PersonDevice;
using platform::x11::test::TestClient;
using platform::x11::test::XDisplayName;

namespace fs = std::filesystem;

constexpr int VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_A = 0x41, VK_F4 = 0x73, VK_F7 = 0x76;
const std::string kText = "typed in run mode";

class CliRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(XDisplayName().empty()) << "the test's Xvfb did not start";
        ASSERT_FALSE(dir.path().empty());
        // F2 starts it (the editor's default hotkeys).
        Macro typer = MakeNewMacro("typer");
        typer.items.push_back(MakeStringItem(kText));
        typer.items.push_back(MakeKeyItem(VK_RETURN, ActionPress | ActionRelease));
        // F4 starts it: it holds Shift and A until F7, which nobody presses.
        Macro holder = MakeNewMacro("holder");
        holder.startKey = VK_F4;
        holder.items.push_back(MakeKeyItem(VK_SHIFT, ActionPress));
        holder.items.push_back(MakeKeyItem(VK_A, ActionPress));
        holder.items.push_back(MakeDelayItem(VK_F7, DelayKey));
        ASSERT_TRUE(SaveMacroLibrary((dir.path() / "macro.m").string(), {typer, holder}).ok);

        client = std::make_unique<TestClient>();
        ASSERT_NE(client->dpy(), nullptr);
        XAutoRepeatOff(client->dpy()); // a key the macro holds must not repeat while the test looks at it
        person = std::make_unique<PersonDevice>(client->dpy(), "Xvfb keyboard");
        ASSERT_TRUE(person->ok());

        // Without Quillet.ini: the default settings, the library macro.m, the toggle key F12.
        std::string error;
        ASSERT_TRUE(cli.Start({QUILLET_CLI_PATH, "run"}, dir.path(),
                              {"DISPLAY=" + XDisplayName(), "WAYLAND_DISPLAY",
                               "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir.path() / "no-bus").string()},
                              dir.path() / "run.log", error, dir.path() / "run.err"))
            << error;
        ASSERT_TRUE(WaitForLog("watching the keyboard and mouse", 1)) << Output();
    }

    void TearDown() override {
        cli.Kill();
        if (!client) return;
        RestoreInput(client->dpy());
    }

    std::string Output() const {
        std::ifstream in(dir.path() / "run.err");
        const std::string errors((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return "\nquillet-cli run printed:\n" + cli.Log() + "\nand on standard error:\n" + errors +
               "\nthe client got: " + client->Typed();
    }
    std::size_t Occurrences(const std::string& what) const {
        const std::string log = cli.Log();
        std::size_t n = 0;
        for (std::size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
        return n;
    }
    // Waits until the log shows `what` at least n times (it is written into the test's folder).
    bool WaitForLog(const std::string& what, std::size_t n) {
        return WaitForFolderChange(
                   dir.path(), [&] { return Occurrences(what) >= n || cli.Ended(); }, platform::x11::test::kWait) &&
               Occurrences(what) >= n;
    }
    void Tap(KeySym sym) {
        XSetInputFocus(client->dpy(), client->window(), RevertToParent, CurrentTime);
        const unsigned keycode = KeycodeOf(client->dpy(), sym);
        ASSERT_NE(keycode, 0u);
        person->Key(keycode, true);
        person->Key(keycode, false);
        XSync(client->dpy(), False);
    }
    std::size_t Count(KeySym sym, bool press) const {
        return static_cast<std::size_t>(std::count_if(client->keys.begin(), client->keys.end(),
                                                      [&](const auto& k) { return k.sym == sym && k.press == press; }));
    }

    TempDir dir;
    ChildProcess cli;
    std::unique_ptr<TestClient> client;
    std::unique_ptr<PersonDevice> person;
};

TEST_F(CliRunTest, APersonsHotkeyTypesTheMacroAndTheToggleKeySwitchesRunModeOffAndOn) {
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F2));
    ASSERT_TRUE(client->WaitFor([&] { return Count(XK_Return, false) >= 1; })) << Output();
    EXPECT_EQ(client->Typed(), kText + "\r");
    ASSERT_TRUE(WaitForLog("ended 'typer'", 1)) << Output();
    // The run list, the start and the event log with its times ("HH:MM:SS.mmm typer: ...").
    const std::string log = cli.Log();
    EXPECT_NE(log.find("  typer - 시작: F2키,중지: F3키,"), std::string::npos) << log;
    EXPECT_NE(log.find("started 'typer'"), std::string::npos) << log;
    EXPECT_NE(log.find(" typer:     문자열 '" + kText + "'"), std::string::npos) << log;

    ASSERT_NO_FATAL_FAILURE(Tap(XK_F12));
    ASSERT_TRUE(WaitForLog("run mode off", 1)) << Output();
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F12));
    ASSERT_TRUE(WaitForLog("run mode on", 2)) << Output();
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F2));
    ASSERT_TRUE(client->WaitFor([&] { return Count(XK_Return, false) >= 2; })) << Output();
}

TEST_F(CliRunTest, SigtermStopsEveryMacroAndLeavesNoKeyDown) {
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F4));
    ASSERT_TRUE(client->WaitFor([&] { return Count(XK_A, true) >= 1; })) << Output();
    ASSERT_TRUE(cli.Signal(SIGTERM));
    const std::optional<int> status = cli.Wait(platform::x11::test::kWait);
    ASSERT_TRUE(status) << "run did not end after SIGTERM" << Output();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << ChildProcess::DescribeStatus(*status) << Output();
    ASSERT_TRUE(client->WaitFor([&] { return NoKeyDown(client->dpy()); })) << KeysDown(client->dpy());
    EXPECT_EQ(Count(XK_Shift_L, false) + Count(XK_Shift_R, false), 1u) << Output();
}

} // namespace
} // namespace quillet::e2e
