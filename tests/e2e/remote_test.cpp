// quillet-cli start/stop/status/mode end to end: against the desktop program (whose window follows the mode), against
// quillet-cli run in another folder, against a folder where nothing runs; and a client that connects and sends
// nothing holds up neither the other requests nor a person's hotkey.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "e2e_support.h"
#include "model/library_file.h"
#include "model/settings.h"
#include "remote/endpoint.h"

// X headers last: they define None, Status, Screen, KeyRelease, ...
#include "x11_test_support.h"

namespace quillet::e2e {
namespace {

using platform::x11::test::KeycodeOf;
using platform::x11::test::kWait;
using platform::x11::test::PersonDevice;
using platform::x11::test::TestClient;
using platform::x11::test::XDisplayName;

namespace fs = std::filesystem;

constexpr int VK_RETURN = 0x0D, VK_F2 = 0x71, VK_F3 = 0x72, VK_F5 = 0x74, VK_F6 = 0x75;
constexpr auto kStartTimeout = 60s;
const std::string kMainWindow = "Quillet V2.3";
const std::string kEditButton = "편집"; // enabled in edit mode only
const std::string kText = "typed by the hotkey";
const std::string kWaiter = "Long wait";

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// "typer" (F2) types the text and Enter; "Long wait" (F5, stopped by F6) waits a second, again and again.
MacroLibrary TestLibrary() {
    Macro typer = MakeNewMacro("typer");
    typer.startKey = VK_F2;
    typer.stopKey = VK_F3;
    typer.items.push_back(MakeStringItem(kText));
    typer.items.push_back(MakeKeyItem(VK_RETURN, ActionPress | ActionRelease));
    Macro waiter = MakeNewMacro(kWaiter);
    waiter.startKey = VK_F5;
    waiter.stopKey = VK_F6;
    waiter.setRepeatCount(0);
    waiter.items.push_back(MakeDelayItem(1000, DelayTime));
    return {typer, waiter};
}

struct CliResult {
    int code = -1; // the exit code; -1 when it did not end on its own in time
    std::string out, err;
};

std::ostream& operator<<(std::ostream& to, const CliResult& r) {
    return to << "exit " << r.code << "\nstdout: " << r.out << "\nstderr: " << r.err;
}

class RemoteTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(XDisplayName().empty()) << "the test's Xvfb did not start";
        ASSERT_FALSE(dir.path().empty());
        appDir = fs::canonical(dir.path()) / "app";
        runDir = fs::canonical(dir.path()) / "run";
        emptyDir = fs::canonical(dir.path()) / "empty";
        for (const fs::path& d : {appDir, runDir, emptyDir}) ASSERT_TRUE(fs::create_directory(d));
        ASSERT_TRUE(SaveMacroLibrary((appDir / "macro.m").string(), TestLibrary()).ok);
        ASSERT_TRUE(SaveMacroLibrary((runDir / "macro.m").string(), TestLibrary()).ok);
        // Edit mode at the start.
        CIni settings("Property", (appDir / "Quillet.ini").string());
        settings.WriteInt("macroOptions", 136);
        settings.WriteString("macroFileName", "macro.m");
        ASSERT_FALSE(settings.TakeWriteFailure());
        // The program's private runtime folder, where its socket is; made by StartProgramOnBus.
        runtime = appDir / "runtime";
    }

    void TearDown() override {
        app.Kill();
        run.Kill();
        if (client) RestoreInput(client->dpy());
    }

    void StartApp() {
        std::string error;
        ASSERT_TRUE(StartProgramOnBus(QUILLET_APP_PATH, XDisplayName(), appDir, bus, app, error)) << error;
        watcher = std::make_unique<WindowWatcher>(XDisplayName());
        ASSERT_NE(watcher->dpy(), nullptr);
        window = watcher->WaitForWindow(kMainWindow, kStartTimeout, [this] { return !app.Ended(); });
        ASSERT_NE(window, 0u) << "no main window:\n" << app.Log();
        // The server is made before the event loop runs: once the loop answers, so does the server.
        ASSERT_TRUE(watcher->Ping(window, kStartTimeout)) << app.Log();
    }

    // quillet-cli with args in cwd, with the program's runtime folder; waits for its end.
    CliResult Cli(const std::vector<std::string>& args, const fs::path& cwd) {
        const std::string n = std::to_string(++calls);
        const fs::path out = dir.path() / ("cli" + n + ".out"), err = dir.path() / ("cli" + n + ".err");
        std::vector<std::string> argv = {QUILLET_CLI_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess cli;
        std::string error;
        CliResult result;
        if (!cli.Start(argv, cwd, {"XDG_RUNTIME_DIR=" + runtime.string(), "DISPLAY"}, out, error, err)) {
            result.err = error;
            return result;
        }
        const std::optional<int> status = cli.Wait(kWait);
        if (status && WIFEXITED(*status)) result.code = WEXITSTATUS(*status);
        result.out = ReadFile(out);
        result.err = ReadFile(err);
        return result;
    }

    ::testing::AssertionResult A11y(const std::vector<std::string>& command) {
        const A11yBus::Result r = bus.Run(command);
        if (r.ok) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << command[0] << ": " << r.error << "\n" << app.Log();
    }

    TempDir dir;
    fs::path appDir, runDir, emptyDir, runtime;
    A11yBus bus;
    ChildProcess app, run;
    std::unique_ptr<WindowWatcher> watcher;
    XWindow window = 0;
    std::unique_ptr<TestClient> client;
    int calls = 0;
};

TEST_F(RemoteTest, CommandsReachTheDesktopProgramAndItsWindowFollowsTheMode) {
    ASSERT_NO_FATAL_FAILURE(StartApp());

    CliResult r = Cli({"status"}, appDir);
    EXPECT_EQ(r.code, 0) << r;
    EXPECT_EQ(r.out, "mode: edit\n") << r;

    r = Cli({"start", kWaiter}, appDir);
    EXPECT_EQ(r.code, 1) << r;
    EXPECT_NE(r.err.find("edit mode"), std::string::npos) << r;

    // From another folder, naming this one.
    r = Cli({"mode", "run", "--folder", appDir.string()}, emptyDir);
    EXPECT_EQ(r.code, 0) << r;
    EXPECT_EQ(r.out, "run mode on\n") << r;
    EXPECT_TRUE(A11y({"wait-disabled", kMainWindow, kEditButton}));

    r = Cli({"start", kWaiter}, appDir);
    EXPECT_EQ(r.code, 0) << r;
    EXPECT_EQ(r.out, "started 'Long wait'\n") << r;
    r = Cli({"status"}, appDir);
    EXPECT_EQ(r.out, "mode: run\nrunning: Long wait\n") << r;

    r = Cli({"stop", kWaiter}, appDir);
    EXPECT_EQ(r.code, 0) << r;
    EXPECT_EQ(r.out, "stopped 'Long wait'\n") << r;
    r = Cli({"status"}, appDir);
    EXPECT_EQ(r.out, "mode: run\n") << r;

    ASSERT_EQ(Cli({"start", kWaiter}, appDir).code, 0);
    r = Cli({"stop-all"}, appDir);
    EXPECT_EQ(r.code, 0) << r;
    EXPECT_EQ(r.out, "stopped 1 macro\n") << r;
    EXPECT_EQ(Cli({"status"}, appDir).out, "mode: run\n");

    r = Cli({"start", "no such macro"}, appDir);
    EXPECT_EQ(r.code, 1) << r;
    EXPECT_NE(r.err.find("no macro named 'no such macro'"), std::string::npos) << r;

    ASSERT_EQ(Cli({"start", kWaiter}, appDir).code, 0);
    r = Cli({"mode", "edit"}, appDir);
    EXPECT_EQ(r.code, 0) << r;
    EXPECT_TRUE(A11y({"wait-enabled", kMainWindow, kEditButton}));
    EXPECT_EQ(Cli({"status"}, appDir).out, "mode: edit\n") << "leaving run mode stops every macro";

    EXPECT_FALSE(app.Ended()) << app.Log();
    EXPECT_EQ(app.Log().find("cannot reach"), std::string::npos) << app.Log();
}

TEST_F(RemoteTest, CommandsReachAHeadlessRunAndNothingRunsElsewhere) {
    ASSERT_TRUE(fs::create_directory(runtime));
    fs::permissions(runtime, fs::perms::owner_all);
    std::string error;
    ASSERT_TRUE(run.Start({QUILLET_CLI_PATH, "run"}, runDir,
                          {"DISPLAY=" + XDisplayName(), "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR=" + runtime.string(),
                           "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir.path() / "no-bus").string()},
                          dir.path() / "run.log", error, dir.path() / "run.err"))
        << error;
    ASSERT_TRUE(WaitForFolderChange(
        dir.path(), [&] { return run.Log().find("watching the keyboard and mouse") != std::string::npos || run.Ended(); },
        kStartTimeout));
    ASSERT_FALSE(run.Ended()) << run.Log() << ReadFile(dir.path() / "run.err");

    CliResult r = Cli({"status"}, runDir);
    EXPECT_EQ(r.code, 0) << r << ReadFile(dir.path() / "run.err");
    EXPECT_EQ(r.out, "mode: run\n") << r;
    r = Cli({"start", kWaiter}, runDir);
    EXPECT_EQ(r.code, 0) << r;
    EXPECT_EQ(Cli({"status"}, runDir).out, "mode: run\nrunning: Long wait\n");
    r = Cli({"stop-all"}, runDir);
    EXPECT_EQ(r.out, "stopped 1 macro\n") << r;
    EXPECT_EQ(Cli({"status"}, runDir).out, "mode: run\n");

    r = Cli({"status"}, emptyDir);
    EXPECT_EQ(r.code, 2) << r;
    EXPECT_NE(r.err.find("no Quillet runs in " + emptyDir.string()), std::string::npos) << r;
    EXPECT_FALSE(run.Ended()) << run.Log();
}

TEST_F(RemoteTest, AClientThatSendsNothingHoldsUpNeitherRequestsNorHotkeys) {
    ASSERT_NO_FATAL_FAILURE(StartApp());
    const std::string socketPath = remote::SocketPathIn(runtime.string(), appDir);
    const int silent = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(silent, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    ASSERT_EQ(connect(silent, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0)
        << socketPath << ": " << std::strerror(errno);

    CliResult r = Cli({"mode", "run"}, appDir);
    EXPECT_EQ(r.code, 0) << r;

    client = std::make_unique<TestClient>();
    ASSERT_NE(client->dpy(), nullptr);
    PersonDevice person(client->dpy(), "Xvfb keyboard");
    ASSERT_TRUE(person.ok());
    XSetInputFocus(client->dpy(), client->window(), RevertToParent, CurrentTime);
    const unsigned f2 = KeycodeOf(client->dpy(), XK_F2);
    person.Key(f2, true);
    person.Key(f2, false);
    XSync(client->dpy(), False);
    EXPECT_TRUE(client->WaitFor([&] { return client->Typed() == kText + "\r"; }))
        << "typed: \"" << client->Typed() << "\"\n"
        << app.Log();

    r = Cli({"status"}, appDir);
    EXPECT_EQ(r.code, 0) << r;
    EXPECT_EQ(r.out, "mode: run\n") << r;
    close(silent);
    EXPECT_FALSE(app.Ended()) << app.Log();
}

} // namespace
} // namespace quillet::e2e
