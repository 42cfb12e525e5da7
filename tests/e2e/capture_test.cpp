// The colour captures of the desktop program end to end: a person points at a window of another program and presses
// the colour capture key in the delay/wait dialog and on the colour page of the start/stop condition dialog. What
// was captured is read back from the saved library, and a start colour captured this way starts its macro in run
// mode. Buttons and fields go over the accessibility bus; keys, check boxes and radios are a person's keyboard.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "e2e_support.h"
#include "model/cp949.h"
#include "model/item_text.h"
#include "model/library_file.h"
#include "model/settings.h"

// X headers last: they define None, Status, Screen, KeyRelease, ...
#include "x11_test_support.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

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
// The colour capture key, moved off its default (F9), so that a capture proves the setting is read.
constexpr int VK_F7 = 0x76;
constexpr KeySym kColorKey = XK_F7;
constexpr auto kStartTimeout = 60s; // a cold start of a Qt program on a loaded machine

const std::string kMainWindow = "Quillet V2.3";
const std::string kEditWindow = "매크로 편집";
const std::string kDelayWindow = "대기/시간지연 추가";
const std::string kConditionWindow = "매크로 시작/중지 조건 설정";

// Windows of another program: plain X windows in one colour each, in the screen's bottom-right corner, clear of the
// program's windows. The pointer rests on the first, away from its edges, when the capture key is pressed.
struct Patch {
    int x, y, width, height;
};
constexpr Patch kPatch{1120, 880, 140, 120};
constexpr int kCaptureX = 1187, kCaptureY = 941;
constexpr unsigned long kPatchRgb = 0x3C7AB4;            // the server's pixel value on a 24-bit screen: 0xRRGGBB
const int32_t kPatchColor = MakeColor(0x3C, 0x7A, 0xB4); // as the program stores it: 0x00BBGGRR
constexpr Patch kProbePatch{1120, 780, 140, 60};
constexpr int kProbeX = 1190, kProbeY = 810;
constexpr unsigned long kProbeRgb = 0xE0C020;
const int32_t kProbeColor = MakeColor(0xE0, 0xC0, 0x20);
constexpr unsigned long kOtherRgb = 0x102030; // matches neither

// "typer" types a short text once. "probe" types "z" at every colour check that finds it idle while its colour is at
// its point (which no window shows at first): each "z" tells the test that one more check has been made.
const std::string kText = "Hi 42";
Macro Typer() {
    Macro typer = MakeNewMacro("typer");
    typer.items.push_back(MakeStringItem(kText));
    return typer;
}
Macro Probe() {
    Macro probe = MakeNewMacro("probe");
    probe.flags = (probe.flags & ~(FlagStartKey | FlagStopKey)) | FlagStartColor;
    probe.startColor = kProbeColor;
    probe.startColorPos = PackPoint(kProbeX, kProbeY);
    probe.items.push_back(MakeStringItem("z"));
    return probe;
}
MacroLibrary TestLibrary() {
    return {Typer(), Probe()};
}

// The macro as text, for failure messages.
std::string Describe(const Macro& m) {
    return Cp949ToUtf8(MacroText(m, kMacroOptions));
}

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(XDisplayName().empty()) << "the test's Xvfb did not start";
        ASSERT_FALSE(dir.path().empty());
        library = dir.path() / "macro.m";
        ASSERT_TRUE(SaveMacroLibrary(library.string(), TestLibrary()).ok);
        CIni settings("Property", (dir.path() / "Quillet.ini").string());
        settings.WriteInt("macroOptions", kMacroOptions);
        settings.WriteString("macroFileName", "macro.m");
        settings.WriteInt("macroSel", 0);
        settings.WriteInt("keyMacroColorStart", VK_F7);
        ASSERT_FALSE(settings.TakeWriteFailure());
    }

    // The program first (it may hold keys), then whatever it left down in the server.
    void TearDown() override {
        app.Kill();
        if (!client) return;
        for (Window w : {patch, probePatch})
            if (w != 0) XDestroyWindow(client->dpy(), w);
        RestoreInput(client->dpy());
    }

    // The accessibility bus, the program on it with its main window shown there, then the plain client that takes
    // the typed text, the coloured window above it, and a person's keyboard.
    void StartApp() {
        std::string error;
        ASSERT_TRUE(StartProgramOnBus(QUILLET_APP_PATH, XDisplayName(), dir.path(), a11y, app, error)) << error;
        watcher = std::make_unique<WindowWatcher>(XDisplayName());
        ASSERT_NE(watcher->dpy(), nullptr);
        mainWindow = watcher->WaitForWindow(kMainWindow, kStartTimeout, [this] { return !app.Ended(); });
        ASSERT_NE(mainWindow, 0u) << "no main window; " << Output();
        ASSERT_TRUE(A11y({"wait-window", kMainWindow}, kStartTimeout));

        client = std::make_unique<TestClient>();
        ASSERT_NE(client->dpy(), nullptr);
        XAutoRepeatOff(client->dpy()); // a key held while the machine is slow must not repeat
        person = std::make_unique<PersonDevice>(client->dpy(), "Xvfb keyboard");
        ASSERT_TRUE(person->ok());

        patch = ShowPatch(kPatch, kPatchRgb);
        probePatch = ShowPatch(kProbePatch, kOtherRgb);
        ASSERT_EQ(RootPixel(kCaptureX, kCaptureY), kPatchRgb) << "the coloured window is not shown";
        ASSERT_EQ(RootPixel(kProbeX, kProbeY), kOtherRgb) << "the probe's window is not shown";
    }

    // The server paints a window's background itself whenever it is uncovered: the colour stays whatever opens
    // over it and closes again.
    Window ShowPatch(const Patch& p, unsigned long rgb) {
        Display* d = client->dpy();
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;
        attrs.background_pixel = rgb;
        const Window w = XCreateWindow(d, DefaultRootWindow(d), p.x, p.y, static_cast<unsigned>(p.width),
                                       static_cast<unsigned>(p.height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                       CWOverrideRedirect | CWBackPixel, &attrs);
        XMapRaised(d, w);
        XSync(d, False);
        return w;
    }

    // The pixel value of the screen at (x, y), as the server has it now.
    unsigned long RootPixel(int x, int y) const {
        Display* d = client->dpy();
        XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, 1, 1, AllPlanes, ZPixmap);
        if (image == nullptr) return ~0ul;
        const unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
        XDestroyImage(image);
        return pixel;
    }

    // Paints a coloured window anew in another colour.
    void Repaint(Window w, unsigned long rgb) {
        XSetWindowBackground(client->dpy(), w, rgb);
        XClearWindow(client->dpy(), w);
        XSync(client->dpy(), False);
    }

    // A person presses and lets go a key, typing into the window with the keyboard focus.
    void Tap(KeySym sym) {
        const unsigned keycode = KeycodeOf(client->dpy(), sym);
        ASSERT_NE(keycode, 0u) << XKeysymToString(sym);
        person->Key(keycode, true);
        person->Key(keycode, false);
        XSync(client->dpy(), False);
    }

    // The same, with the keyboard focus on the client; returns once the client has seen the key let go and the
    // program's event loop has gone round after that (the program reads a person's input as soon as it arrives).
    void TapInClient(KeySym sym) {
        FocusClient();
        const unsigned keycode = KeycodeOf(client->dpy(), sym);
        const std::size_t from = client->keys.size();
        ASSERT_NO_FATAL_FAILURE(Tap(sym));
        ASSERT_TRUE(client->WaitFor([&] {
            for (std::size_t i = from; i < client->keys.size(); ++i)
                if (!client->keys[i].press && client->keys[i].keycode == keycode) return true;
            return false;
        })) << XKeysymToString(sym)
            << " did not reach the client" << Output();
        ASSERT_TRUE(watcher->Ping(mainWindow, kWait)) << Output();
    }

    void FocusClient() {
        XSetInputFocus(client->dpy(), client->window(), RevertToParent, CurrentTime);
        XSync(client->dpy(), False);
    }

    // A person ticks a check box or chooses a radio: the focus to it in its window, then Space.
    void Toggle(const std::string& title, const std::string& name) {
        const Window w = watcher->WaitForWindow(title, kWait, [this] { return !app.Ended(); });
        ASSERT_NE(w, 0u) << "no window " << title << Output();
        XSetInputFocus(watcher->dpy(), w, RevertToParent, CurrentTime);
        XSync(watcher->dpy(), False);
        ASSERT_TRUE(A11y({"focus", title, name}));
        ASSERT_NO_FATAL_FAILURE(Tap(XK_space));
    }

    // The pointer moves onto the coloured window, where the person presses the colour capture key.
    void CaptureOverPatch() {
        Display* d = client->dpy();
        XTestFakeMotionEvent(d, -1, kCaptureX, kCaptureY, CurrentTime);
        XSync(d, False);
        Window root = 0, child = 0;
        int x = 0, y = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        ASSERT_TRUE(XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &wx, &wy, &mask));
        ASSERT_EQ(x, kCaptureX);
        ASSERT_EQ(y, kCaptureY);
        ASSERT_EQ(child, patch) << "a window of the program lies over the coloured window";
        ASSERT_NO_FATAL_FAILURE(TapInClient(kColorKey));
    }

    // The capture is in before the dialog's OK: its position field shows where the pointer was (the colour and the
    // position are filled together).
    void WaitForCapture(const std::string& title) {
        ASSERT_TRUE(A11y({"wait-text", title, "Y:", std::to_string(kCaptureY)}));
    }

    // Presses OK in the editor, then Save in the main window; the library as saved once `done` holds.
    MacroLibrary CloseEditorAndSave(const std::function<bool(const MacroLibrary&)>& done) {
        MacroLibrary saved;
        EXPECT_TRUE(A11y({"press", kEditWindow, "OK"}));
        EXPECT_TRUE(A11y({"wait-gone", kEditWindow}));
        EXPECT_TRUE(A11y({"press", kMainWindow, "저장"}));
        WaitForFolderChange(
            dir.path(),
            [&] {
                saved.clear();
                return LoadMacroLibrary(library.string(), saved).ok() && done(saved);
            },
            kWait);
        return saved;
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
    std::unique_ptr<WindowWatcher> watcher;
    Window mainWindow = 0;
    std::unique_ptr<TestClient> client;
    std::unique_ptr<PersonDevice> person;
    Window patch = 0, probePatch = 0;
};

TEST_F(CaptureTest, ColourWaitCapturesThePixelAndPositionUnderThePointerIntoTheSavedDelayItem) {
    ASSERT_NO_FATAL_FAILURE(StartApp());
    ASSERT_TRUE(A11y({"press", kMainWindow, "편집"}));
    ASSERT_TRUE(A11y({"wait-window", kEditWindow}));
    ASSERT_TRUE(A11y({"press", kEditWindow, "지연 추가"}));
    ASSERT_TRUE(A11y({"wait-window", kDelayWindow}));

    // A new delay starts as a time delay; the colour wait's fields open with its radio.
    ASSERT_NO_FATAL_FAILURE(Toggle(kDelayWindow, "화면 색 대기:"));
    ASSERT_TRUE(A11y({"wait-enabled", kDelayWindow, "..."})) << "the colour wait was not chosen";
    ASSERT_NO_FATAL_FAILURE(CaptureOverPatch());
    ASSERT_NO_FATAL_FAILURE(WaitForCapture(kDelayWindow));
    ASSERT_TRUE(A11y({"press", kDelayWindow, "OK"}));
    ASSERT_TRUE(A11y({"wait-gone", kDelayWindow}));

    const auto isColorWait = [](const MacroItem& item) {
        return item.type == ItemDelay && (item.delayKind() & DelayKindMask) == DelayColor;
    };
    const MacroLibrary saved = CloseEditorAndSave([&](const MacroLibrary& l) {
        return l.size() == 2 && std::any_of(l[0].items.begin(), l[0].items.end(), isColorWait);
    });
    ASSERT_EQ(saved.size(), 2u) << Output();
    Macro macro = saved[0];
    const auto wait = std::find_if(macro.items.begin(), macro.items.end(), isColorWait);
    ASSERT_NE(wait, macro.items.end()) << "no colour wait was saved:\n" << Describe(macro) << Output();
    EXPECT_EQ(wait->delayValue() & 0xFFFFFF, kPatchColor) << std::hex << wait->delayValue();
    EXPECT_EQ(PointX(wait->delayExtra()), kCaptureX);
    EXPECT_EQ(PointY(wait->delayExtra()), kCaptureY);
    // Nothing else of the library changed.
    macro.items.erase(wait);
    EXPECT_TRUE(macro.SameContent(Typer())) << Describe(saved[0]);
    EXPECT_TRUE(saved[1].SameContent(Probe())) << Describe(saved[1]);
}

TEST_F(CaptureTest, StartColourCapturedOnTheConditionPageStartsTheMacroInRunModeOncePerChange) {
    ASSERT_NO_FATAL_FAILURE(StartApp());
    ASSERT_TRUE(A11y({"press", kMainWindow, "편집"}));
    ASSERT_TRUE(A11y({"wait-window", kEditWindow}));
    ASSERT_TRUE(A11y({"press", kEditWindow, "시작/중지 조건"}));
    ASSERT_TRUE(A11y({"wait-window", kConditionWindow}));
    ASSERT_TRUE(A11y({"press", kConditionWindow, "색인식"}));

    // The start colour's fields open with its check box; the capture key fills them from under the pointer.
    ASSERT_NO_FATAL_FAILURE(Toggle(kConditionWindow, "시작 색"));
    ASSERT_TRUE(A11y({"wait-enabled", kConditionWindow, "..."})) << "the start colour was not ticked";
    ASSERT_NO_FATAL_FAILURE(Toggle(kConditionWindow, "바뀔 때 한 번만 적용"));
    ASSERT_NO_FATAL_FAILURE(CaptureOverPatch());
    ASSERT_NO_FATAL_FAILURE(WaitForCapture(kConditionWindow));
    ASSERT_TRUE(A11y({"press", kConditionWindow, "OK"}));
    ASSERT_TRUE(A11y({"wait-gone", kConditionWindow}));

    const MacroLibrary saved =
        CloseEditorAndSave([](const MacroLibrary& l) { return l.size() == 2 && (l[0].flags & FlagStartColor) != 0; });
    ASSERT_EQ(saved.size(), 2u) << Output();
    // The start colour and the change-only rule, and nothing else of the library changed.
    Macro expected = Typer();
    expected.flags |= FlagStartColor | FlagColorOnChange;
    expected.startColor = kPatchColor;
    expected.startColorPos = PackPoint(kCaptureX, kCaptureY);
    EXPECT_EQ(saved[0].flags, expected.flags) << std::hex << saved[0].flags;
    EXPECT_EQ(saved[0].startColor, kPatchColor) << std::hex << saved[0].startColor;
    EXPECT_EQ(PointX(saved[0].startColorPos), kCaptureX);
    EXPECT_EQ(PointY(saved[0].startColorPos), kCaptureY);
    EXPECT_TRUE(saved[0].SameContent(expected)) << Describe(saved[0]);
    EXPECT_TRUE(saved[1].SameContent(Probe())) << Describe(saved[1]);

    // Run mode with another colour there: the macro waits for its colour, which then starts it.
    Repaint(patch, kOtherRgb);
    ASSERT_NO_FATAL_FAILURE(TapInClient(XK_F12));
    client->WaitFor([] { return true; });
    EXPECT_EQ(client->Typed(), "") << "a macro started without its colour" << Output();
    Repaint(patch, kPatchRgb);
    ASSERT_TRUE(client->WaitFor([&] { return client->Typed().size() >= kText.size(); }))
        << "the captured colour did not start the macro" << Output();

    // The colour stays while the checks go on. The probe's colour starts the probe in two of them at least, the
    // second one well after "typer" ended: there "typer" (checked first) would start again, and type before the
    // probe, if the change-only rule were lost.
    Repaint(probePatch, kProbeRgb);
    const auto probes = [&] {
        const std::string typed = client->Typed();
        return std::count(typed.begin(), typed.end(), 'z');
    };
    ASSERT_TRUE(client->WaitFor([&] { return probes() >= 2; })) << "the probe did not start twice" << Output();
    ASSERT_NO_FATAL_FAILURE(TapInClient(XK_F12)); // edit mode
    XSync(client->dpy(), False);
    client->WaitFor([] { return true; });
    EXPECT_EQ(client->Typed(), kText + std::string(static_cast<std::size_t>(probes()), 'z'))
        << "the start colour started the macro more than once" << Output();
    EXPECT_TRUE(NoKeyDown(client->dpy())) << KeysDown(client->dpy());
}

} // namespace
} // namespace quillet::e2e
