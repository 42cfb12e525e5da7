// quillet-cli play on the real X11 backend: the macro's keys reach a plain X client under the test's Xvfb.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <memory>

#include "e2e_support.h"
#include "model/library_file.h"

// X headers last: they define None, Status, Screen, KeyRelease, ...
#include "x11_test_support.h"

namespace quillet::e2e {
namespace {

using platform::x11::test::TestClient;
using platform::x11::test::XDisplayName;

namespace fs = std::filesystem;

constexpr int VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_A = 0x41, VK_F7 = 0x76;
const std::string kText = "Hello, world 123!";

class CliPlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(XDisplayName().empty()) << "the test's Xvfb did not start";
        ASSERT_FALSE(dir.path().empty());
        Macro typer = MakeNewMacro("typer");
        typer.items.push_back(MakeStringItem(kText));
        typer.items.push_back(MakeKeyItem(VK_RETURN, ActionPress | ActionRelease));
        // Holds Shift and A until a person presses F7.
        Macro holder = MakeNewMacro("holder");
        holder.items.push_back(MakeKeyItem(VK_SHIFT, ActionPress));
        holder.items.push_back(MakeKeyItem(VK_A, ActionPress));
        holder.items.push_back(MakeDelayItem(VK_F7, DelayKey));
        holder.items.push_back(MakeKeyItem(VK_A, ActionRelease));
        holder.items.push_back(MakeKeyItem(VK_SHIFT, ActionRelease));
        // Leaves the typing to the typer, which it starts by a parallel call, and ends at once.
        Macro starter = MakeNewMacro("starter");
        starter.items.push_back(MakeCallItem("typer", CallParallel));
        ASSERT_TRUE(SaveMacroLibrary((dir.path() / "macro.m").string(), {typer, holder, starter}).ok);

        client = std::make_unique<TestClient>();
        ASSERT_NE(client->dpy(), nullptr);
        XAutoRepeatOff(client->dpy());
    }

    void TearDown() override {
        cli.Kill();
        if (!client) return;
        RestoreInput(client->dpy());
    }

    void Play(const std::string& name) {
        std::string error;
        ASSERT_TRUE(cli.Start({QUILLET_CLI_PATH, "play", "macro.m", name}, dir.path(),
                              {"DISPLAY=" + XDisplayName(), "WAYLAND_DISPLAY",
                               "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir.path() / "no-bus").string()},
                              dir.path() / "cli.log", error))
            << error;
    }

    std::size_t Count(KeySym sym, bool press) const {
        return static_cast<std::size_t>(std::count_if(client->keys.begin(), client->keys.end(),
                                                      [&](const auto& k) { return k.sym == sym && k.press == press; }));
    }

    // Plays the macro and expects the typer's text, exactly, in the client.
    void ExpectTyperText(const std::string& name) {
        ASSERT_NO_FATAL_FAILURE(Play(name));
        const std::optional<int> status = cli.Wait(60s);
        ASSERT_TRUE(status) << "play did not end; output:\n" << cli.Log();
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
            << ChildProcess::DescribeStatus(*status) << "; output:\n"
            << cli.Log();
        // Events sent before the program ended are all in the server; the client reads them now.
        ASSERT_TRUE(client->WaitFor([&] { return Count(XK_Return, false) >= 1; })) << client->Typed();
        EXPECT_EQ(client->Typed(), kText + "\r");
        EXPECT_TRUE(NoKeyDown(client->dpy())) << KeysDown(client->dpy());
    }

    TempDir dir;
    ChildProcess cli;
    std::unique_ptr<TestClient> client;
};

TEST_F(CliPlayTest, PlayTypesExactlyTheMacroTextIntoTheFocusedClient) {
    ExpectTyperText("typer");
}

// The play lasts until the macros started by parallel calls have ended too, not just the named one.
TEST_F(CliPlayTest, PlayGoesOnUntilTheMacrosItStartedHaveEnded) {
    ExpectTyperText("starter");
}

TEST_F(CliPlayTest, InterruptedPlayReleasesWhatTheMacroHolds) {
    ASSERT_NO_FATAL_FAILURE(Play("holder"));
    ASSERT_TRUE(client->WaitFor([&] { return Count(XK_A, true) >= 1; })) << "output:\n" << cli.Log();
    ASSERT_TRUE(cli.Signal(SIGINT));
    const std::optional<int> status = cli.Wait(platform::x11::test::kWait);
    ASSERT_TRUE(status) << "play did not end after SIGINT; output:\n" << cli.Log();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 130) << ChildProcess::DescribeStatus(*status);
    ASSERT_TRUE(client->WaitFor([&] { return NoKeyDown(client->dpy()); })) << KeysDown(client->dpy());
    EXPECT_EQ(Count(XK_Shift_L, false) + Count(XK_Shift_R, false), 1u);
}

} // namespace
} // namespace quillet::e2e
