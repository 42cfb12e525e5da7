// Editing the library in the desktop program as a person does who uses a screen reader: buttons pressed and fields
// filled over the accessibility bus, keys and the pointer from the Xvfb devices, and what was saved read back from
// the library file on disk.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "../common/comma_locale.h"
#include "e2e_support.h"
#include "model/cp949.h"
#include "model/item_text.h"
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

constexpr int VK_RETURN = 0x0D, VK_F2 = 0x71, VK_F3 = 0x72, VK_F10 = 0x79;
// Edit mode at start, and the macro editor shows its test panel (the default, 136, hides it).
constexpr int32_t kMacroOptions = 128;
constexpr auto kStartTimeout = 60s; // a cold start of a Qt program on a loaded machine
const std::string kMainWindow = "Quillet V2.3";
const std::string kAddWindow = "매크로 추가";
const std::string kEditWindow = "매크로 편집";
const std::string kNameField = "매크로 이름:";
const std::string kItemList = "매크로 항목";
const std::string kDelayWindow = "대기/시간지연 편집";
const std::string kKeyWindow = "키보드 이벤트 추가";
// Where the pointer is when the capture key is pressed: over the client, clear of the program's windows.
constexpr int kCaptureX = 1203, kCaptureY = 987;

// "enter" presses Enter; "typer" types a short text and nothing else.
const std::string kTyperText = "Hi 42";
MacroLibrary TestLibrary() {
    Macro enter = MakeNewMacro("enter");
    enter.items.push_back(MakeKeyItem(VK_RETURN, ActionPress | ActionRelease));
    Macro typer = MakeNewMacro("typer");
    typer.startKey = VK_F2;
    typer.stopKey = VK_F3;
    typer.items.push_back(MakeStringItem(kTyperText));
    // A key, then a delay of 1.5 s with 30 % spread.
    Macro delays = MakeNewMacro("delays");
    delays.items.push_back(MakeKeyItem(VK_RETURN, ActionPress | ActionRelease));
    delays.items.push_back(MakeDelayItem(1500, DelayTime, 3));
    return {enter, typer, delays};
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every macro of a library file as text, for failure messages.
std::string Describe(const fs::path& file) {
    MacroLibrary library;
    if (!LoadMacroLibrary(file.string(), library).ok()) return "(not a readable library)";
    std::string text;
    for (const Macro& m : library) text += Cp949ToUtf8(MacroText(m, kMacroOptions));
    return text;
}

// Whether a window manager has taken the screen (it announces itself on the root window).
bool WindowManagerRuns(Display* d) {
    const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, AnyPropertyType, &type, &format,
                                          &count, &after, &data) == Success &&
                       count == 1;
    if (data) XFree(data);
    return found;
}

// Whether a popup (an override-redirect window, as a dropped-down list is) other than `except` is shown.
bool PopupShown(Display* d, Window except) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    bool shown = false;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return false;
    for (unsigned i = 0; i < count && !shown; ++i) {
        XWindowAttributes attrs;
        shown = children[i] != except && XGetWindowAttributes(d, children[i], &attrs) && attrs.map_state == IsViewable &&
                attrs.override_redirect && attrs.width > 50 && attrs.height > 50;

    }
    if (children) XFree(children);
    return shown;
}

std::string Names(const MacroLibrary& library) {
    std::string names;
    for (const Macro& m : library) names += (names.empty() ? "" : ", ") + m.name;
    return "[" + names + "]";
}

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(XDisplayName().empty()) << "the test's Xvfb did not start";
        ASSERT_FALSE(dir.path().empty());
        library = dir.path() / "macro.m";
        ini = dir.path() / "Quillet.ini";
        ASSERT_TRUE(SaveMacroLibrary(library.string(), TestLibrary()).ok);
        libraryBytes = ReadBytes(library);
        // Edit mode, "typer" selected in the main list.
        CIni settings("Property", ini.string());
        settings.WriteInt("macroOptions", kMacroOptions);
        settings.WriteString("macroFileName", "macro.m");
        settings.WriteInt("macroSel", 1);
        settings.WriteInt("keyMousePosCapture", VK_F10);
        ASSERT_FALSE(settings.TakeWriteFailure());
    }

    void TearDown() override {
        app.Kill();
        if (!client) return;
        RestoreInput(client->dpy());
    }

    // Starts the accessibility bus and the program on it, and waits until the main window is shown there too.
    void StartApp(const std::vector<std::string>& extraEnv = {}) {
        std::string error;
        ASSERT_TRUE(StartProgramOnBus(QUILLET_APP_PATH, XDisplayName(), dir.path(), a11y, app, error, extraEnv))
            << error;
        watcher = std::make_unique<WindowWatcher>(XDisplayName());
        ASSERT_NE(watcher->dpy(), nullptr);
        window = watcher->WaitForWindow(kMainWindow, kStartTimeout, [this] { return !app.Ended(); });
        ASSERT_NE(window, 0u) << "no main window; " << Output();
        ASSERT_TRUE(A11y({"wait-window", kMainWindow}, kStartTimeout));
    }

    // The plain client that a test run types into and that lies under the pointer, and a person's keyboard.
    void OpenClient() {
        client = std::make_unique<TestClient>();
        ASSERT_NE(client->dpy(), nullptr);
        XAutoRepeatOff(client->dpy()); // a key held while the machine is slow must not repeat
        person = std::make_unique<PersonDevice>(client->dpy(), "Xvfb keyboard");
        ASSERT_TRUE(person->ok());
    }

    // A person presses and lets go a key (with Control held when asked), typing into the window with the focus.
    void Tap(KeySym sym, bool control = false) {
        const unsigned keycode = KeycodeOf(client->dpy(), sym);
        const unsigned ctrl = KeycodeOf(client->dpy(), XK_Control_L);
        ASSERT_NE(keycode, 0u) << XKeysymToString(sym);
        if (control) person->Key(ctrl, true);
        person->Key(keycode, true);
        person->Key(keycode, false);
        if (control) person->Key(ctrl, false);
        XSync(client->dpy(), False);
    }

    // The keyboard focus to a top-level window of the program, found by its title, as a person's click would give it.
    void FocusWindow(const std::string& title) {
        const Window w = watcher->WaitForWindow(title, platform::x11::test::kWait, [this] { return !app.Ended(); });
        ASSERT_NE(w, 0u) << "no window " << title << Output();
        XSetInputFocus(watcher->dpy(), w, RevertToParent, CurrentTime);
        XSync(watcher->dpy(), False);
    }
    void FocusClient() {
        XSetInputFocus(client->dpy(), client->window(), RevertToParent, CurrentTime);
        XSync(client->dpy(), False);
    }

    // Moves the pointer over the client at (kCaptureX, kCaptureY) and presses the capture key there.
    void CaptureOverClient() {
        Display* d = client->dpy();
        XWarpPointer(d, 0, DefaultRootWindow(d), 0, 0, 0, 0, kCaptureX, kCaptureY);
        XSync(d, False);
        Window root = 0, child = 0;
        int x = 0, y = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        ASSERT_TRUE(XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &wx, &wy, &mask));
        ASSERT_EQ(x, kCaptureX);
        ASSERT_EQ(y, kCaptureY);
        ASSERT_EQ(child, client->window()) << "a window of the program lies under the pointer";
        FocusClient();
        ASSERT_NO_FATAL_FAILURE(Tap(XK_F10));
    }

    // The line the editor's item list shows for the item the capture key adds at (kCaptureX, kCaptureY).
    static MacroItem CapturedItem() { return MakeMouseItem(kCaptureX, kCaptureY, MouseMove | MouseAbsolute); }
    static std::string CapturedRow() { return Cp949ToUtf8(ItemText(CapturedItem(), kMacroOptions)); }

    // One command of the accessibility driver (see a11y_driver.py), e.g. {"press", kMainWindow, "저장"}.
    ::testing::AssertionResult A11y(const std::vector<std::string>& command, std::chrono::milliseconds timeout = 10s) {
        last = a11y.Run(command, timeout);
        if (last.ok) return ::testing::AssertionSuccess();
        std::string line;
        for (const std::string& part : command) line += " \"" + part + "\"";
        return ::testing::AssertionFailure() << "a11y_driver" << line << " failed:\n" << last.error << Output();
    }

    // Waits until the library file on disk satisfies `done`; the file as last read.
    MacroLibrary WaitForSavedLibrary(const std::function<bool(const MacroLibrary&)>& done) {
        MacroLibrary saved;
        WaitForFolderChange(
            dir.path(),
            [&] {
                saved.clear();
                return LoadMacroLibrary(library.string(), saved).ok() && done(saved);
            },
            platform::x11::test::kWait);
        return saved;
    }

    // Waits until the program has written the library anew (it renames a complete new file over the old one).
    bool WaitForSave(ino_t before) {
        return WaitForFolderChange(
            dir.path(),
            [&] {
                struct stat st {};
                return stat(library.c_str(), &st) == 0 && st.st_ino != before;
            },
            platform::x11::test::kWait);
    }
    ino_t LibraryInode() const {
        struct stat st {};
        return stat(library.c_str(), &st) == 0 ? st.st_ino : 0;
    }

    std::string Output() const {
        std::string typed = client ? client->Typed() : std::string();
        return "\nthe client received: \"" + typed + "\"\nquillet's output:\n" + app.Log();
    }

    TempDir dir;
    fs::path library, ini;
    std::string libraryBytes;
    A11yBus a11y; // declared before the program, so that it goes after it
    A11yBus::Result last;
    ChildProcess app;
    std::unique_ptr<WindowWatcher> watcher;
    Window window = 0;
    std::unique_ptr<TestClient> client;
    std::unique_ptr<PersonDevice> person;
};

TEST_F(EditorTest, CopyAndSaveFromTheMainWindowWriteTheCopyOfTheSelectedMacro) {
    ASSERT_NO_FATAL_FAILURE(StartApp());
    ASSERT_TRUE(A11y({"press", kMainWindow, "복사"}));
    ASSERT_TRUE(A11y({"wait-item", kMainWindow, "Macro Copy 1"}));
    EXPECT_TRUE(ReadBytes(library) == libraryBytes) << "copying alone wrote the library:\n" << Describe(library);
    ASSERT_TRUE(A11y({"press", kMainWindow, "저장"}));

    const MacroLibrary saved = WaitForSavedLibrary([](const MacroLibrary& l) { return l.size() == 4; });
    ASSERT_EQ(saved.size(), 4u) << "saved: " << Names(saved) << Output();
    const MacroLibrary before = TestLibrary();
    for (std::size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(saved[i].SameContent(before[i])) << i;
    // The copy is the selected macro ("typer", not the first) under the first free copy name.
    Macro expected = before[1];
    expected.name = "Macro Copy 1";
    EXPECT_TRUE(saved[3].SameContent(expected)) << "saved: " << Names(saved);
}

TEST_F(EditorTest, AddCapturesThePointerOverAnotherWindowAndSavesTheNewMacroByItsTypedName) {
    ASSERT_NO_FATAL_FAILURE(StartApp());
    ASSERT_NO_FATAL_FAILURE(OpenClient());
    ASSERT_TRUE(A11y({"press", kMainWindow, "추가"}));
    ASSERT_TRUE(A11y({"wait-window", kAddWindow}));

    // The capture key adds an absolute move to where the pointer is, over a window of another program.
    ASSERT_NO_FATAL_FAILURE(CaptureOverClient());
    ASSERT_TRUE(A11y({"wait-item", kAddWindow, CapturedRow(), kItemList}));

    // The person names the macro in the name field.
    ASSERT_NO_FATAL_FAILURE(FocusWindow(kAddWindow));
    ASSERT_TRUE(A11y({"focus", kAddWindow, kNameField}));
    ASSERT_NO_FATAL_FAILURE(Tap(XK_a, true)); // select the proposed name, to type over it
    for (KeySym sym : {XK_p, XK_o, XK_i, XK_n, XK_t}) ASSERT_NO_FATAL_FAILURE(Tap(sym));
    ASSERT_TRUE(A11y({"wait-text", kAddWindow, kNameField, "point"}));

    ASSERT_TRUE(A11y({"press", kAddWindow, "OK"}));
    ASSERT_TRUE(A11y({"wait-gone", kAddWindow}));
    ASSERT_TRUE(A11y({"wait-item", kMainWindow, "point"}));
    EXPECT_TRUE(ReadBytes(library) == libraryBytes) << "OK in the editor wrote the library:\n" << Describe(library);
    ASSERT_TRUE(A11y({"press", kMainWindow, "저장"}));

    const MacroLibrary saved = WaitForSavedLibrary([](const MacroLibrary& l) { return l.size() == 4; });
    ASSERT_EQ(saved.size(), 4u) << "saved: " << Names(saved) << Output();
    const MacroLibrary before = TestLibrary();
    for (std::size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(saved[i].SameContent(before[i])) << i;
    // A new macro's defaults, with the captured position after its start item.
    Macro expected = MakeNewMacro("point");
    expected.items.push_back(CapturedItem());
    EXPECT_TRUE(saved[3].SameContent(expected)) << "saved: " << Names(saved) << "; the new macro's items:\n"
                                                << Cp949ToUtf8(MacroText(saved[3], kMacroOptions));
}

TEST_F(EditorTest, TestRunTypesExactlyTheMacroTextAndCancelLeavesTheLibraryAsItWas) {
    ASSERT_NO_FATAL_FAILURE(StartApp());
    ASSERT_NO_FATAL_FAILURE(OpenClient());
    // "typer" is selected at start.
    ASSERT_TRUE(A11y({"press", kMainWindow, "편집"}));
    ASSERT_TRUE(A11y({"wait-window", kEditWindow}));
    ASSERT_TRUE(A11y({"wait-text", kEditWindow, kNameField, "typer"}));

    // The test run types into the window with the focus.
    FocusClient();
    ASSERT_TRUE(A11y({"press", kEditWindow, "매크로 시험 실행"}));
    ASSERT_TRUE(client->WaitFor([&] { return client->Typed().size() >= kTyperText.size(); }))
        << "typed so far: \"" << client->Typed() << "\"" << Output();

    ASSERT_TRUE(A11y({"wait-enabled", kEditWindow, "매크로 시험 실행"})) << "the test run did not end";

    // An edit that Cancel must drop: a captured position.
    ASSERT_NO_FATAL_FAILURE(CaptureOverClient());
    ASSERT_TRUE(A11y({"wait-item", kEditWindow, CapturedRow(), kItemList}));
    ASSERT_TRUE(A11y({"press", kEditWindow, "Cancel"}));
    ASSERT_TRUE(A11y({"wait-gone", kEditWindow}));

    // Everything the server sent the client by now is in: exactly the text, once, and no key left down.
    XSync(client->dpy(), False);
    client->WaitFor([] { return true; });
    EXPECT_EQ(client->Typed(), kTyperText) << Output();
    EXPECT_TRUE(NoKeyDown(client->dpy())) << KeysDown(client->dpy());

    // Saving now writes the library exactly as it was read.
    const ino_t before = LibraryInode();
    ASSERT_TRUE(A11y({"press", kMainWindow, "저장"}));
    ASSERT_TRUE(WaitForSave(before)) << "the library was not saved" << Output();
    EXPECT_TRUE(ReadBytes(library) == libraryBytes) << "Cancel kept an edit; saved:\n" << Describe(library);
}

// Under a window manager, a person clicks a key list (it drops down) and presses F6: F6 is chosen and the list
// closes. Both key lists that take pressed keys: the keyboard item's and the condition dialog's start key.
TEST_F(EditorTest, UnderAWindowManagerAKeyPressedWithTheKeyListDroppedDownIsChosen) {
    ASSERT_NO_FATAL_FAILURE(OpenClient());
    // The client covers the screen; here the program's windows are to be clicked, so it is not shown.
    XUnmapWindow(client->dpy(), client->window());
    // The window manager announces itself with a property of the root window: its change wakes the wait.
    XSelectInput(client->dpy(), DefaultRootWindow(client->dpy()), PropertyChangeMask);
    const std::string openbox = "/usr/bin/openbox";
    ASSERT_TRUE(fs::exists(openbox)) << "openbox is not installed (scripts/install-deps.sh test)";
    ChildProcess wm;
    std::string error;
    ASSERT_TRUE(wm.Start({openbox}, dir.path(), {"DISPLAY=" + XDisplayName()}, dir.path() / "openbox.log", error))
        << error;
    ASSERT_TRUE(client->WaitFor([&] { return WindowManagerRuns(client->dpy()); }))
        << "openbox did not take the screen: " << wm.Log();
    ASSERT_NO_FATAL_FAILURE(StartApp());
    PersonDevice pointer(client->dpy(), "Xvfb mouse");
    ASSERT_TRUE(pointer.ok());

    // The person clicks the list (named on the bus by the key it shows) with the Xvfb pointer, and it drops down as
    // a popup window; then F6 on the Xvfb keyboard, and the popup closes.
    XSelectInput(client->dpy(), DefaultRootWindow(client->dpy()), PropertyChangeMask | SubstructureNotifyMask);
    const auto chooseF6 = [&](const std::string& title, const std::string& list) {
        ASSERT_TRUE(A11y({"extents", title, list}));
        int x = 0, y = 0, w = 0, h = 0;
        ASSERT_EQ(std::sscanf(last.output.c_str(), "%d %d %d %d", &x, &y, &w, &h), 4) << last.output;
        XWarpPointer(client->dpy(), 0, DefaultRootWindow(client->dpy()), 0, 0, 0, 0, x + w / 2, y + h / 2);
        pointer.Button(1, true);
        pointer.Button(1, false);
        XSync(client->dpy(), False);
        ASSERT_TRUE(client->WaitFor([&] { return PopupShown(client->dpy(), client->window()); })) << "the click did not open the list";
        ASSERT_NO_FATAL_FAILURE(Tap(XK_F6));
        EXPECT_TRUE(client->WaitFor([&] { return !PopupShown(client->dpy(), client->window()); })) << "the list stayed open";
    };

    ASSERT_TRUE(A11y({"press", kMainWindow, "편집"}));
    ASSERT_TRUE(A11y({"wait-window", kEditWindow}));
    ASSERT_TRUE(A11y({"press", kEditWindow, "키보드 추가"}));
    ASSERT_TRUE(A11y({"wait-window", kKeyWindow}));
    ASSERT_NO_FATAL_FAILURE(chooseF6(kKeyWindow, "0 key"));
    const std::string f6Row = Cp949ToUtf8(ItemText(MakeKeyItem(0x75, ActionPress | ActionRelease), kMacroOptions));
    ASSERT_TRUE(A11y({"press", kKeyWindow, "OK"}));
    ASSERT_TRUE(A11y({"wait-gone", kKeyWindow}));
    EXPECT_TRUE(A11y({"wait-item", kEditWindow, f6Row, kItemList})) << "F6 was not chosen in the keyboard item";

    // The start key of "typer" (F2) becomes F6 the same way.
    const std::string conditions = "매크로 시작/중지 조건 설정";
    ASSERT_TRUE(A11y({"press", kEditWindow, "시작/중지 조건"}));
    ASSERT_TRUE(A11y({"wait-window", conditions}));
    ASSERT_NO_FATAL_FAILURE(chooseF6(conditions, "F2 key"));
    ASSERT_TRUE(A11y({"press", conditions, "OK"}));
    ASSERT_TRUE(A11y({"wait-gone", conditions}));
    ASSERT_TRUE(A11y({"press", kEditWindow, "OK"}));
    ASSERT_TRUE(A11y({"wait-gone", kEditWindow}));
    ASSERT_TRUE(A11y({"press", kMainWindow, "저장"}));
    const MacroLibrary saved = WaitForSavedLibrary([](const MacroLibrary& l) {
        return l.size() == 3 && (l[1].startKey & 0xFF) == 0x75;
    });
    ASSERT_EQ(saved.size(), 3u) << Output();
    EXPECT_EQ(saved[1].startKey & 0xFF, 0x75) << "F6 was not chosen as the start key";
    EXPECT_TRUE(std::any_of(saved[1].items.begin(), saved[1].items.end(),
                            [](const MacroItem& item) { return item.type == ItemKey && item.keyCode() == 0x75; }))
        << Describe(library);
}

// Under a locale that writes decimal commas, a person opens the delay item, sees its seconds with a point, and closes
// it and the editor with OK: the saved library is byte for byte what it was.
TEST_F(EditorTest, UnderACommaLocaleOpeningADelayAndPressingOkChangesNothing) {
    const std::string locpath = testing::CommaLocalePath();
    ASSERT_NE(locpath, "!") << "no " << testing::kCommaLocale << " locale here and localedef cannot make one";
    std::vector<std::string> env = {std::string("LANG=") + testing::kCommaLocale,
                                    std::string("LC_ALL=") + testing::kCommaLocale};
    if (!locpath.empty()) env.push_back("LOCPATH=" + locpath);
    {
        CIni settings("Property", ini.string());
        settings.WriteInt("macroSel", 2); // "delays"
        ASSERT_FALSE(settings.TakeWriteFailure());
    }
    ASSERT_NO_FATAL_FAILURE(StartApp(env));
    ASSERT_NO_FATAL_FAILURE(OpenClient());
    ASSERT_TRUE(A11y({"press", kMainWindow, "편집"}));
    ASSERT_TRUE(A11y({"wait-window", kEditWindow}));
    ASSERT_TRUE(A11y({"wait-text", kEditWindow, kNameField, "delays"}));
    const std::string delayRow = Cp949ToUtf8(ItemText(TestLibrary()[2].items[2], kMacroOptions));
    ASSERT_TRUE(A11y({"wait-item", kEditWindow, delayRow, kItemList}));
    EXPECT_NE(delayRow.find("1.500"), std::string::npos) << delayRow;

    // The person walks down the list, which has the focus, to the delay (the start item is selected at first) and
    // edits it.
    ASSERT_NO_FATAL_FAILURE(FocusWindow(kEditWindow));
    ASSERT_NO_FATAL_FAILURE(Tap(XK_Down));
    ASSERT_NO_FATAL_FAILURE(Tap(XK_Down));
    ASSERT_TRUE(A11y({"press", kEditWindow, "편집"}));
    ASSERT_TRUE(A11y({"wait-window", kDelayWindow}));
    ASSERT_TRUE(A11y({"wait-text", kDelayWindow, "시간 지연:", "1.500"}));
    ASSERT_TRUE(A11y({"press", kDelayWindow, "OK"}));
    ASSERT_TRUE(A11y({"wait-gone", kDelayWindow}));
    ASSERT_TRUE(A11y({"wait-item", kEditWindow, delayRow, kItemList})) << "the delay changed";
    ASSERT_TRUE(A11y({"press", kEditWindow, "OK"}));
    ASSERT_TRUE(A11y({"wait-gone", kEditWindow}));

    const ino_t before = LibraryInode();
    ASSERT_TRUE(A11y({"press", kMainWindow, "저장"}));
    ASSERT_TRUE(WaitForSave(before)) << "the library was not saved" << Output();
    EXPECT_TRUE(ReadBytes(library) == libraryBytes) << "OK changed the macro; saved:\n" << Describe(library);
}

} // namespace
} // namespace quillet::e2e
