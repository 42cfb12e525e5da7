// Recording in the desktop program end to end: a person opens the recorder from the main window, toggles recording
// with the record key while typing into and clicking on a window of another program, keeps the recording and saves
// the library. What was recorded is read back from the library file, and quillet-cli plays it back into that window.
// Buttons go over the accessibility bus; keys and clicks come from the Xvfb keyboard and mouse, as a person's do.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>

#include "e2e_support.h"
#include "model/cp949.h"
#include "model/item_text.h"
#include "model/library_file.h"
#include "model/settings.h"
#include "recorder/recorder_input.h"

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

// Edit mode at start, the editor's test panel hidden.
constexpr int32_t kMacroOptions = 136;
// Keys and buttons with their positions, a press and its release merged, absolute positions; no movement and no
// pauses, which would depend on how fast the machine is.
constexpr int32_t kRecOptions = RecKeys | RecButtons | RecMerge | RecAbsolute | RecButtonPosition;
// The record key, moved off its default (F11), so that a recording proves the setting is read.
constexpr int VK_F6 = 0x75, VK_RETURN = 0x0D;
constexpr KeySym kRecordKey = XK_F6;
constexpr auto kStartTimeout = 60s; // a cold start of a Qt program on a loaded machine

const std::string kMainWindow = "Quillet V2.3";
const std::string kRecorderWindow = "매크로 기록";
const std::string kWaiting = "기록 대기 중";     // the record button while waiting
const std::string kRecording = "매크로 기록 중"; // and while recording

// Where the person clicks: over the client, clear of the program's windows.
constexpr int kClickX = 1203, kClickY = 987;

// A macro under the recorder's first name, so that the recording has to take the next free one.
Macro Existing() {
    Macro m = MakeNewMacro("Macro Rec. 1");
    m.items.push_back(MakeKeyItem(VK_RETURN, ActionPress | ActionRelease));
    return m;
}

// What the recorder makes of the person's input: its new macro's defaults, then the record key's press that
// started the recording (with its release merged in), the word's keys (virtual-key code and the US keyboard's
// scan code, each press merged with its release), and the click with its position. The press of the record key
// that stops the recording, and its release, are not recorded.
const std::string kWord = "hello";
Macro Recorded() {
    Macro m = MakeNewMacro("Macro Rec. 2");
    const int32_t tap = ActionPress | ActionRelease;
    m.items.push_back(MakeKeyItem(VK_F6, tap, 0x40));
    m.items.push_back(MakeKeyItem('H', tap, 0x23));
    m.items.push_back(MakeKeyItem('E', tap, 0x12));
    m.items.push_back(MakeKeyItem('L', tap, 0x26));
    m.items.push_back(MakeKeyItem('L', tap, 0x26));
    m.items.push_back(MakeKeyItem('O', tap, 0x18));
    m.items.push_back(MakeMouseItem(kClickX, kClickY, MouseMove | MouseAbsolute | MouseLeftDown | MouseLeftUp));
    return m;
}

// The macro as text, with each item's stored words (the text shows no scan codes), for failure messages.
std::string Describe(const Macro& m) {
    std::string words;
    char line[64];
    for (const MacroItem& item : m.items) {
        std::snprintf(line, sizeof line, "    %d: %#x %#x %#x\n", item.type, static_cast<unsigned>(item.param[0]),
                      static_cast<unsigned>(item.param[1]), static_cast<unsigned>(item.param[2]));
        words += line;
    }
    return Cp949ToUtf8(MacroText(m, kMacroOptions)) + words;
}

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(XDisplayName().empty()) << "the test's Xvfb did not start";
        ASSERT_FALSE(dir.path().empty());
        library = dir.path() / "macro.m";
        ASSERT_TRUE(SaveMacroLibrary(library.string(), {Existing()}).ok);
        CIni settings("Property", (dir.path() / "Quillet.ini").string());
        settings.WriteInt("macroOptions", kMacroOptions);
        settings.WriteString("macroFileName", "macro.m");
        settings.WriteInt("macroSel", 0);
        settings.WriteInt("recOptions", kRecOptions);
        settings.WriteInt("keyMacroRecord", VK_F6);
        ASSERT_FALSE(settings.TakeWriteFailure());
    }

    // The programs first (they may hold keys), then whatever they left down in the server.
    void TearDown() override {
        app.Kill();
        cli.Kill();
        if (!client) return;
        RestoreInput(client->dpy());
    }

    // The accessibility bus, the program on it with its main window shown there, then the plain client (over the
    // whole screen, under the windows the program opens later) and a person's keyboard and mouse.
    void StartApp() {
        std::string error;
        ASSERT_TRUE(StartProgramOnBus(QUILLET_APP_PATH, XDisplayName(), dir.path(), a11y, app, error)) << error;
        watcher = std::make_unique<WindowWatcher>(XDisplayName());
        ASSERT_NE(watcher->dpy(), nullptr);
        const Window mainWindow = watcher->WaitForWindow(kMainWindow, kStartTimeout, [this] { return !app.Ended(); });
        ASSERT_NE(mainWindow, 0u) << "no main window; " << Output();
        ASSERT_TRUE(A11y({"wait-window", kMainWindow}, kStartTimeout));

        client = std::make_unique<TestClient>();
        ASSERT_NE(client->dpy(), nullptr);
        XAutoRepeatOff(client->dpy()); // a key held while the machine is slow must not repeat
        keyboard = std::make_unique<PersonDevice>(client->dpy(), "Xvfb keyboard");
        ASSERT_TRUE(keyboard->ok());
        mouse = std::make_unique<PersonDevice>(client->dpy(), "Xvfb mouse");
        ASSERT_TRUE(mouse->ok());
    }

    void FocusClient() {
        XSetInputFocus(client->dpy(), client->window(), RevertToParent, CurrentTime);
        XSync(client->dpy(), False);
    }

    // A person presses and lets go a key with the focus on the client; returns once the client has seen it let go.
    void TapInClient(KeySym sym) {
        FocusClient();
        const unsigned keycode = KeycodeOf(client->dpy(), sym);
        ASSERT_NE(keycode, 0u) << XKeysymToString(sym);
        const std::size_t from = client->keys.size();
        keyboard->Key(keycode, true);
        keyboard->Key(keycode, false);
        XSync(client->dpy(), False);
        ASSERT_TRUE(client->WaitFor([&] {
            for (std::size_t i = from; i < client->keys.size(); ++i)
                if (!client->keys[i].press && client->keys[i].keycode == keycode) return true;
            return false;
        })) << XKeysymToString(sym)
            << " did not reach the client" << Output();
    }

    // The pointer onto (x, y), which must be over the client, not over a window of the program.
    void PointAt(int x, int y) {
        Display* d = client->dpy();
        XWarpPointer(d, 0, DefaultRootWindow(d), 0, 0, 0, 0, x, y);
        XSync(d, False);
        Window root = 0, child = 0;
        int px = 0, py = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        ASSERT_TRUE(XQueryPointer(d, DefaultRootWindow(d), &root, &child, &px, &py, &wx, &wy, &mask));
        ASSERT_EQ(px, x);
        ASSERT_EQ(py, y);
        ASSERT_EQ(child, client->window()) << "a window of the program lies under the pointer";
    }

    // A person clicks the left button where the pointer is; returns once the client has seen the button let go.
    void ClickOnClient() {
        const std::size_t from = client->buttons.size();
        mouse->Button(1, true);
        mouse->Button(1, false);
        XSync(client->dpy(), False);
        ASSERT_TRUE(client->WaitFor([&] { return client->buttons.size() >= from + 2; }))
            << "the click did not reach the client" << Output();
    }

    // quillet-cli plays a macro of the library for real, without the program, and ends when it is done.
    void Play(const std::string& name) {
        std::string error;
        ASSERT_TRUE(cli.Start({QUILLET_CLI_PATH, "play", "macro.m", name}, dir.path(),
                              {"DISPLAY=" + XDisplayName(), "WAYLAND_DISPLAY",
                               "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir.path() / "no-bus").string()},
                              dir.path() / "cli.log", error))
            << error;
        const std::optional<int> status = cli.Wait(60s);
        ASSERT_TRUE(status) << "play did not end; output:\n" << cli.Log();
        ASSERT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
            << ChildProcess::DescribeStatus(*status) << "; output:\n"
            << cli.Log();
    }

    // One command of the accessibility driver (see a11y_driver.py).
    ::testing::AssertionResult A11y(const std::vector<std::string>& command, std::chrono::milliseconds timeout = 10s) {
        const A11yBus::Result result = a11y.Run(command, timeout);
        if (result.ok) return ::testing::AssertionSuccess();
        std::string line;
        for (const std::string& part : command) line += " \"" + part + "\"";
        return ::testing::AssertionFailure() << "a11y_driver" << line << " failed:\n" << result.error << Output();
    }

    std::string Output() const {
        const std::string typed = client ? client->Typed() : std::string();
        return "\nthe client received: \"" + typed + "\"\nquillet's output:\n" + app.Log();
    }

    TempDir dir;
    fs::path library;
    A11yBus a11y; // declared before the program, so that it goes after it
    ChildProcess app;
    ChildProcess cli;
    std::unique_ptr<WindowWatcher> watcher;
    std::unique_ptr<TestClient> client;
    std::unique_ptr<PersonDevice> keyboard, mouse;
};

TEST_F(RecorderTest, RecordKeyRecordsTypingAndAClickOverAnotherWindowAndTheSavedMacroPlaysTheWordBack) {
    ASSERT_NO_FATAL_FAILURE(StartApp());
    ASSERT_TRUE(A11y({"press", kMainWindow, "기록"}));
    ASSERT_TRUE(A11y({"wait-window", kRecorderWindow}));
    ASSERT_TRUE(A11y({"wait-enabled", kRecorderWindow, kWaiting}));
    ASSERT_NO_FATAL_FAILURE(PointAt(kClickX, kClickY));

    // The record key starts the recording over any window; the word and the click go to the client meanwhile.
    ASSERT_NO_FATAL_FAILURE(TapInClient(kRecordKey));
    ASSERT_TRUE(A11y({"wait-enabled", kRecorderWindow, kRecording})) << "the record key did not start recording";
    for (const char c : kWord) ASSERT_NO_FATAL_FAILURE(TapInClient(static_cast<KeySym>(c)));
    ASSERT_NO_FATAL_FAILURE(ClickOnClient());
    ASSERT_EQ(client->Typed(), kWord) << Output();
    // The program reads the input in the order the server sent it: once the record key has stopped the
    // recording, everything before it is in.
    ASSERT_NO_FATAL_FAILURE(TapInClient(kRecordKey));
    ASSERT_TRUE(A11y({"wait-enabled", kRecorderWindow, kWaiting})) << "the record key did not stop recording";

    ASSERT_TRUE(A11y({"press", kRecorderWindow, "OK"}));
    ASSERT_TRUE(A11y({"wait-gone", kRecorderWindow}));
    ASSERT_TRUE(A11y({"wait-item", kMainWindow, "Macro Rec. 2"}));
    ASSERT_TRUE(A11y({"press", kMainWindow, "저장"}));

    MacroLibrary saved;
    WaitForFolderChange(
        dir.path(),
        [&] {
            saved.clear();
            return LoadMacroLibrary(library.string(), saved).ok() && saved.size() == 2;
        },
        kWait);
    ASSERT_EQ(saved.size(), 2u) << "the recorded macro was not saved" << Output();
    EXPECT_TRUE(saved[0].SameContent(Existing())) << Describe(saved[0]);
    EXPECT_TRUE(saved[1].SameContent(Recorded())) << "recorded:\n"
                                                  << Describe(saved[1]) << "expected:\n"
                                                  << Describe(Recorded());

    // The program ends; the saved macro is played back into the client, from elsewhere on the screen.
    ASSERT_TRUE(app.Signal(SIGTERM));
    const std::optional<int> status = app.Wait(kWait);
    ASSERT_TRUE(status) << "quillet did not end after SIGTERM" << Output();
    ASSERT_NO_FATAL_FAILURE(PointAt(40, 40));
    FocusClient();
    client->keys.clear();
    client->buttons.clear();
    ASSERT_NO_FATAL_FAILURE(Play(saved[1].name));
    // Events sent before quillet-cli ended are all in the server; the client reads them now.
    ASSERT_TRUE(client->WaitFor([&] { return client->buttons.size() >= 2; }))
        << "the click was not played back" << Output();
    EXPECT_EQ(client->Typed(), kWord) << Output();
    ASSERT_EQ(client->buttons.size(), 2u);
    EXPECT_TRUE(client->buttons[0].press && client->buttons[0].button == 1u);
    EXPECT_TRUE(!client->buttons[1].press && client->buttons[1].button == 1u);
    Window root = 0, child = 0;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    ASSERT_TRUE(XQueryPointer(client->dpy(), DefaultRootWindow(client->dpy()), &root, &child, &x, &y, &wx, &wy, &mask));
    EXPECT_EQ(x, kClickX);
    EXPECT_EQ(y, kClickY);
    EXPECT_TRUE(NoKeyDown(client->dpy())) << KeysDown(client->dpy());
}

} // namespace
} // namespace quillet::e2e
