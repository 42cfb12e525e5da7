// The desktop program end to end under the test's Xvfb: started in a folder of its own with a library and a
// settings file in run mode, driven by a person's keys, typing into a plain X client.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

#include "e2e_support.h"
#include "model/cp949.h"
#include "model/library_file.h"
#include "model/settings.h"

// X headers last: they define None, Status, Screen, KeyRelease, ...
#include "x11_test_support.h"

namespace quillet::e2e {
namespace {

using platform::x11::test::KeycodeOf;
using platform::x11::test::PersonDevice;
using platform::x11::test::TestClient;
using platform::x11::test::XDisplayName;

namespace fs = std::filesystem;

constexpr int VK_RETURN = 0x0D, VK_A = 0x41, VK_B = 0x42;
constexpr int VK_F2 = 0x71, VK_F3 = 0x72, VK_F5 = 0x74, VK_F6 = 0x75, VK_F7 = 0x76, VK_F8 = 0x77, VK_F9 = 0x78;
constexpr int VK_F10 = 0x79, VK_F11 = 0x7A;
constexpr int32_t kRunMode = 0x2, kReleaseOnStop = 0x800;
constexpr auto kStartTimeout = 60s; // a cold start of a Qt program on a loaded machine
const std::string kText = "Hello, world 123!";
const std::string kTyped = kText + "\r"; // what the client reads: the text, then Enter

// "typer" (F2) types the text and Enter once. "looper" (F5, stopped by F6) repeats for ever: A held for 300 ms, let
// go, pressed again at once. "holder" (F8, stopped by F9) holds B until F7 is pressed, which the tests never do.
// "hangul" (F10, stopped by F11) types Hangul for ever, one syllable per tick.
MacroLibrary TestLibrary() {
    Macro typer = MakeNewMacro("typer");
    typer.startKey = VK_F2;
    typer.stopKey = VK_F3;
    typer.items.push_back(MakeStringItem(kText));
    typer.items.push_back(MakeKeyItem(VK_RETURN, ActionPress | ActionRelease));

    Macro looper = MakeNewMacro("looper");
    looper.startKey = VK_F5;
    looper.stopKey = VK_F6;
    looper.setRepeatCount(0);
    looper.items.push_back(MakeKeyItem(VK_A, ActionPress));
    looper.items.push_back(MakeDelayItem(300, DelayTime));
    looper.items.push_back(MakeKeyItem(VK_A, ActionRelease));

    Macro holder = MakeNewMacro("holder");
    holder.startKey = VK_F8;
    holder.stopKey = VK_F9;
    holder.items.push_back(MakeKeyItem(VK_B, ActionPress));
    holder.items.push_back(MakeDelayItem(VK_F7, DelayKey));
    holder.items.push_back(MakeKeyItem(VK_B, ActionRelease));

    Macro hangul = MakeNewMacro("hangul");
    hangul.startKey = VK_F10;
    hangul.stopKey = VK_F11;
    hangul.setRepeatCount(0);
    hangul.items.push_back(MakeStringItem(Utf8ToCp949("가나다라마바사아자차카타파하")));
    return {typer, looper, holder, hangul};
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(XDisplayName().empty()) << "the test's Xvfb did not start";
        ASSERT_FALSE(dir.path().empty());
        library = dir.path() / "macro.m";
        ini = dir.path() / "Quillet.ini";
        ASSERT_TRUE(SaveMacroLibrary(library.string(), TestLibrary()).ok);
        libraryBytes = ReadBytes(library);
        // Only the two keys the test needs: the program writes all of them when it ends.
        CIni settings("Property", ini.string());
        settings.WriteInt("macroOptions", 136 | kRunMode | kReleaseOnStop);
        settings.WriteString("macroFileName", "macro.m");
        ASSERT_FALSE(settings.TakeWriteFailure());
    }

    // A program killed while it holds keys leaves them down in the server: let them go for the next test.
    void TearDown() override {
        app.Kill();
        if (!client) return;
        RestoreInput(client->dpy());
    }

    // Starts the program and waits until its main window is up and its event loop answers; then opens the client
    // that receives the typed text and takes the keyboard focus.
    void StartApp() {
        const fs::path runtime = dir.path() / "runtime";
        ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
        std::string error;
        ASSERT_TRUE(app.Start({QUILLET_APP_PATH}, dir.path(),
                              {"DISPLAY=" + XDisplayName(), "QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY",
                               "XDG_RUNTIME_DIR=" + runtime.string(),
                               // no input method of the session behind the test's display
                               "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir.path() / "no-bus").string()},
                              dir.path() / "quillet.log", error))
            << error;
        watcher = std::make_unique<WindowWatcher>(XDisplayName());
        ASSERT_NE(watcher->dpy(), nullptr);
        window = watcher->WaitForWindow("Quillet V2.3", kStartTimeout, [this] { return !app.Ended(); });
        ASSERT_NE(window, 0u) << "no main window; " << Output();
        ASSERT_TRUE(watcher->Ping(window, kStartTimeout)) << Output();

        client = std::make_unique<TestClient>();
        ASSERT_NE(client->dpy(), nullptr);
        XAutoRepeatOff(client->dpy()); // a key the macro holds must not repeat while the test looks at it
        person = std::make_unique<PersonDevice>(client->dpy(), "Xvfb keyboard");
        ASSERT_TRUE(person->ok());
    }

    // What the program printed and what the client received, for failure messages.
    std::string Output() const {
        std::string keys;
        if (client) {
            for (const auto& k : client->keys) {
                const char* name = XKeysymToString(k.sym);
                keys += std::string(k.press ? " +" : " -") + (name != nullptr ? name : std::to_string(k.keycode));
            }
        }
        return "\nthe client received:" + (keys.empty() ? std::string(" nothing") : keys) + "\nquillet's output:\n" +
               app.Log();
    }

    // A person taps a key; returns once the client has seen the release and the program's event loop has gone round
    // after that (its input monitor hands raw input over as soon as it reads it, before then).
    void Tap(KeySym sym) {
        XSetInputFocus(client->dpy(), client->window(), RevertToParent, CurrentTime);
        const unsigned keycode = KeycodeOf(client->dpy(), sym);
        ASSERT_NE(keycode, 0u);
        const std::size_t from = client->keys.size();
        person->Key(keycode, true);
        person->Key(keycode, false);
        ASSERT_TRUE(client->WaitFor([&] {
            for (std::size_t i = from; i < client->keys.size(); ++i)
                if (!client->keys[i].press && client->keys[i].keycode == keycode) return true;
            return false;
        })) << XKeysymToString(sym)
            << " did not reach the client";
        ASSERT_TRUE(watcher->Ping(window, platform::x11::test::kWait)) << Output();
    }

    std::size_t Count(KeySym sym, bool press) const {
        return static_cast<std::size_t>(std::count_if(client->keys.begin(), client->keys.end(),
                                                      [&](const auto& k) { return k.sym == sym && k.press == press; }));
    }
    bool WaitForCount(KeySym sym, bool press, std::size_t n) {
        return client->WaitFor([&] { return Count(sym, press) >= n; });
    }
    // The typer's Enter has been let go: everything it types has arrived.
    bool WaitForText() { return WaitForCount(XK_Return, false, 1); }

    // SIGTERM, then the exit status.
    int Terminate() {
        EXPECT_TRUE(app.Signal(SIGTERM));
        const std::optional<int> status = app.Wait(platform::x11::test::kWait);
        EXPECT_TRUE(status) << "quillet did not end after SIGTERM; " << Output();
        return status.value_or(-1);
    }

    int32_t StoredMacroOptions() const {
        CIni settings("Property", ini.string());
        return settings.GetInt("macroOptions", -1);
    }

    TempDir dir;
    fs::path library, ini;
    std::string libraryBytes;
    ChildProcess app;
    std::unique_ptr<WindowWatcher> watcher;
    Window window = 0;
    std::unique_ptr<TestClient> client;
    std::unique_ptr<PersonDevice> person;
};

TEST_F(AppTest, StartHotkeyTypesExactlyTheMacroTextIntoTheFocusedClient) {
    ASSERT_NO_FATAL_FAILURE(StartApp());
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F2));
    ASSERT_TRUE(WaitForText()) << "typed so far: \"" << client->Typed() << "\"; " << Output();
    EXPECT_EQ(client->Typed(), kTyped);
    EXPECT_TRUE(NoKeyDown(client->dpy())) << KeysDown(client->dpy());
}

TEST_F(AppTest, StopHotkeyEndsAnEndlessMacroAndReleasesTheKeysItHolds) {
    ASSERT_NO_FATAL_FAILURE(StartApp());
    // The looper runs pass after pass until its stop hotkey; most of the time it holds A.
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F5));
    ASSERT_TRUE(WaitForCount(XK_a, true, 2)) << Output();
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F6));
    ASSERT_TRUE(client->WaitFor([&] { return Count(XK_a, false) == Count(XK_a, true); }))
        << "A stays down after the stop hotkey; " << Output();
    EXPECT_TRUE(NoKeyDown(client->dpy())) << KeysDown(client->dpy());

    // The holder waits for a key that never comes while it holds B: only the stop can let B go.
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F8));
    ASSERT_TRUE(WaitForCount(XK_b, true, 1)) << Output();
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F9));
    ASSERT_TRUE(WaitForCount(XK_b, false, 1)) << "B stays down after the stop hotkey; " << Output();
    EXPECT_TRUE(NoKeyDown(client->dpy())) << KeysDown(client->dpy());

    // Stopped macros stay stopped: the typer's text comes alone.
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F2));
    ASSERT_TRUE(WaitForText()) << Output();
    const std::size_t presses = Count(XK_a, true);
    EXPECT_EQ(client->Typed(), std::string(presses, 'a') + "b" + kTyped) << Output();
    EXPECT_EQ(Count(XK_a, false), presses);
    EXPECT_TRUE(NoKeyDown(client->dpy())) << KeysDown(client->dpy());
}

TEST_F(AppTest, KilledInRunModeItsGuardianReleasesWhatAHotkeyStartedMacroHolds) {
    ASSERT_NO_FATAL_FAILURE(StartApp());
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F8));
    ASSERT_TRUE(WaitForCount(XK_b, true, 1)) << Output();
    ASSERT_FALSE(NoKeyDown(client->dpy()));
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(app.Signal(SIGKILL));
    ASSERT_TRUE(client->WaitFor([&] { return NoKeyDown(client->dpy()); })) << KeysDown(client->dpy()) << Output();
    const auto released = std::chrono::steady_clock::now() - killed;
    EXPECT_LT(released, 500ms) << std::chrono::duration_cast<std::chrono::milliseconds>(released).count() << " ms";
    EXPECT_EQ(Count(XK_b, false), 1u) << Output();
}

TEST_F(AppTest, StopKeyEndsAnEndlessHangulMacroAtOnceWithoutAnInputMethod) {
    ASSERT_NO_FATAL_FAILURE(StartApp());
    // No input method runs behind this display: the syllables are typed as their keys, without the Hangul key and
    // without blocking the program, so the stop key is handled before the next syllable.
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F10));
    ASSERT_TRUE(client->WaitFor([&] { return client->keys.size() > 40; })) << Output();
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F11));
    const unsigned f11 = KeycodeOf(client->dpy(), XK_F11);
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F2));
    ASSERT_TRUE(WaitForText()) << Output();

    std::size_t stop = 0;
    while (stop < client->keys.size() && client->keys[stop].keycode != f11) ++stop;
    std::size_t typer = stop;
    while (typer < client->keys.size() && client->keys[typer].sym != XK_Shift_L) ++typer; // the typer's "H"
    std::size_t late = 0;
    for (std::size_t i = stop; i < typer; ++i)
        if (client->keys[i].press && client->keys[i].keycode != f11) ++late;
    // A syllable being typed when the stop key arrived may finish; nothing after it.
    EXPECT_LE(late, 4u) << Output();
    EXPECT_EQ(Count(XK_Hangul, true), 0u) << "the Hangul key was pressed without an input method";
    const std::string typed = client->Typed();
    ASSERT_GE(typed.size(), kTyped.size());
    EXPECT_EQ(typed.substr(typed.size() - kTyped.size()), kTyped) << Output();
    EXPECT_TRUE(NoKeyDown(client->dpy())) << KeysDown(client->dpy());
}

TEST_F(AppTest, ToggleKeySwitchesToEditModeWhereHotkeysDoNothing) {
    ASSERT_NO_FATAL_FAILURE(StartApp());
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F12)); // to edit mode
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F2));  // ignored
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F12)); // back to run mode
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F2));  // types
    ASSERT_TRUE(WaitForText()) << Output();
    EXPECT_EQ(client->Typed(), kTyped) << "the hotkey acted in edit mode, or not after returning to run mode";

    // Leaving in edit mode: the stored mode bit is cleared, the other bits stay.
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F12));
    const int status = Terminate();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << ChildProcess::DescribeStatus(status) << "; " << Output();
    EXPECT_EQ(StoredMacroOptions(), 136 | kReleaseOnStop);
    EXPECT_EQ(client->Typed(), kTyped);
}

TEST_F(AppTest, TermSignalShutsDownInOrderSavingTheSettingsAndReleasingHeldKeys) {
    ASSERT_NO_FATAL_FAILURE(StartApp());
    ASSERT_NO_FATAL_FAILURE(Tap(XK_F8));
    ASSERT_TRUE(WaitForCount(XK_b, true, 1)) << Output(); // the holder holds B

    const int status = Terminate();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << ChildProcess::DescribeStatus(status) << "; " << Output();
    ASSERT_TRUE(WaitForCount(XK_b, false, 1)) << "B stays down after quillet ended";
    EXPECT_TRUE(NoKeyDown(client->dpy())) << KeysDown(client->dpy());

    // Every setting written (keys already in the file keep their place); run mode is kept for the next start.
    CAppIni expected(ini.string(), false);
    std::vector<std::string> expectedKeys;
    for (const SettingEntry& e : SettingEntries(expected)) expectedKeys.push_back(e.key);
    std::vector<std::string> storedKeys;
    for (const auto& [key, value] : IniKeys(ini, "Property")) storedKeys.push_back(key);
    std::sort(expectedKeys.begin(), expectedKeys.end());
    std::sort(storedKeys.begin(), storedKeys.end());
    EXPECT_EQ(storedKeys, expectedKeys) << ReadBytes(ini);
    EXPECT_EQ(expectedKeys.size(), 24u);
    EXPECT_EQ(StoredMacroOptions(), 136 | kRunMode | kReleaseOnStop);
    EXPECT_EQ(expected.macroFileName, "macro.m");
    // Ending does not save the library.
    EXPECT_EQ(ReadBytes(library), libraryBytes);
}

} // namespace
} // namespace quillet::e2e
