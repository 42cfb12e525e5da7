// Editing the library in the desktop program as a person does who uses a screen reader: buttons pressed and fields
// filled over the accessibility bus, keys and the pointer from the Xvfb devices, and what was saved read back from
// the library file on disk.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "e2e_support.h"
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

constexpr int VK_RETURN = 0x0D, VK_F2 = 0x71, VK_F3 = 0x72;
constexpr int32_t kEditModeOptions = 136; // the default options: edit mode at start
constexpr auto kStartTimeout = 60s;       // a cold start of a Qt program on a loaded machine
const std::string kMainWindow = "Quillet V2.3";

// "enter" presses Enter; "typer" types a short text and nothing else.
const std::string kTyperText = "Hi 42";
MacroLibrary TestLibrary() {
    Macro enter = MakeNewMacro("enter");
    enter.items.push_back(MakeKeyItem(VK_RETURN, ActionPress | ActionRelease));
    Macro typer = MakeNewMacro("typer");
    typer.startKey = VK_F2;
    typer.stopKey = VK_F3;
    typer.items.push_back(MakeStringItem(kTyperText));
    return {enter, typer};
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
        settings.WriteInt("macroOptions", kEditModeOptions);
        settings.WriteString("macroFileName", "macro.m");
        settings.WriteInt("macroSel", 1);
        ASSERT_FALSE(settings.TakeWriteFailure());
    }

    void TearDown() override {
        app.Kill();
        if (!client) return;
        ReleaseAllKeys(client->dpy());
        XSync(client->dpy(), False);
    }

    // Starts the accessibility bus and the program on it, and waits until the main window is shown there too.
    void StartApp() {
        std::string error;
        ASSERT_TRUE(a11y.Start(dir.path() / "a11y", error)) << error;
        const fs::path runtime = dir.path() / "runtime";
        ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
        std::vector<std::string> env = {"DISPLAY=" + XDisplayName(), "QT_QPA_PLATFORM=xcb", "WAYLAND_DISPLAY",
                                        "XDG_RUNTIME_DIR=" + runtime.string()};
        for (const std::string& e : a11y.AppEnvironment()) env.push_back(e);
        ASSERT_TRUE(app.Start({QUILLET_APP_PATH}, dir.path(), env, dir.path() / "quillet.log", error)) << error;
        watcher = std::make_unique<WindowWatcher>(XDisplayName());
        ASSERT_NE(watcher->dpy(), nullptr);
        window = watcher->WaitForWindow(kMainWindow, kStartTimeout, [this] { return !app.Ended(); });
        ASSERT_NE(window, 0u) << "no main window; " << Output();
        ASSERT_TRUE(A11y({"wait-window", kMainWindow}, kStartTimeout));
    }

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

    std::string Output() const { return "\nquillet's output:\n" + app.Log(); }

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
    EXPECT_EQ(ReadBytes(library), libraryBytes) << "copying alone wrote the library";
    ASSERT_TRUE(A11y({"press", kMainWindow, "저장"}));

    const MacroLibrary saved = WaitForSavedLibrary([](const MacroLibrary& l) { return l.size() == 3; });
    ASSERT_EQ(saved.size(), 3u) << "saved: " << Names(saved) << Output();
    const MacroLibrary before = TestLibrary();
    EXPECT_TRUE(saved[0].SameContent(before[0]));
    EXPECT_TRUE(saved[1].SameContent(before[1]));
    // The copy is the selected macro ("typer", not the first) under the first free copy name.
    Macro expected = before[1];
    expected.name = "Macro Copy 1";
    EXPECT_TRUE(saved[2].SameContent(expected)) << "saved: " << Names(saved);
}

} // namespace
} // namespace quillet::e2e
