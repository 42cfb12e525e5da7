// quillet-cli export and import through the command line, and the run without the window on the fake platform.
#include <gtest/gtest.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cli/cli.h"
#include "cli/run.h"
#include "cli_folder.h"
#include "manual_loop.h"
#include "model/cp949.h"
#include "model/library_file.h"
#include "platform/fake/fake_platform.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;

using CliTextTest = CliFolder;

TEST_F(CliTextTest, ExportThenImportIntoANewLibraryGivesBackTheFileAndClashesNeedAChoice) {
    Macro greeting = MakeNewMacro(Utf8ToCp949("인사"));
    greeting.items.push_back(MakeStringItem(Utf8ToCp949("안녕\r\n")));
    Macro caller = MakeNewMacro("caller");
    caller.items.push_back(MakeCallItem(greeting.name, CallSequential));
    std::string bytes = SerializeMacroLibrary({greeting, caller});
    bytes[4 + 200] = 'x'; // after the NUL of the first name: kept too
    std::ofstream("lib.m", std::ios::binary) << bytes;

    ASSERT_EQ(Run({"export", "lib.m", "-o", "all.json"}), 0) << err_.str();
    ASSERT_EQ(Run({"import", "all.json", "--into", "new.m"}), 0) << err_.str();
    EXPECT_EQ(out_.str(), "added '인사'\nadded 'caller'\n");
    EXPECT_EQ(Read("new.m"), bytes);

    // Named macros to standard output; a name no macro has writes nothing.
    ASSERT_EQ(Run({"export", "lib.m", "인사"}), 0) << err_.str();
    EXPECT_NE(out_.str().find("\"name\": \"인사\""), std::string::npos);
    EXPECT_EQ(out_.str().find("caller"), std::string::npos);
    std::ofstream("one.json") << out_.str();
    EXPECT_EQ(Run({"export", "lib.m", "nobody", "-o", "none.json"}), 2);
    EXPECT_EQ(err_.str(), "quillet-cli: lib.m: no macro is named 'nobody'\n");
    EXPECT_FALSE(fs::exists("none.json"));

    // Into a library that has the name: refused and nothing written, unless replace or rename is chosen.
    EXPECT_EQ(Run({"import", "one.json", "--into", "new.m"}), 1);
    EXPECT_NE(err_.str().find("new.m already has a macro named '인사'"), std::string::npos) << err_.str();
    EXPECT_EQ(Read("new.m"), bytes);
    ASSERT_EQ(Run({"import", "all.json", "--into", "new.m", "--rename"}), 0) << err_.str();
    EXPECT_EQ(out_.str(), "added '인사 (2)' (renamed from '인사')\nadded 'caller (2)' (renamed from 'caller')\n");
    MacroLibrary renamed;
    ASSERT_TRUE(LoadMacroLibrary("new.m", renamed).ok());
    ASSERT_EQ(renamed.size(), 4u);
    EXPECT_EQ(renamed[3].items[1].calledName(), Utf8ToCp949("인사 (2)"))
        << "the imported caller calls the imported macro";
    ASSERT_EQ(Run({"import", "one.json", "--into", "new.m", "--replace"}), 0) << err_.str();
    EXPECT_EQ(out_.str(), "replaced '인사'\n");

    // Without --into: the library of Quillet.ini.
    std::ofstream("Quillet.ini") << "[Property]\nmacroFileName=\"default.m\"\n";
    ASSERT_EQ(Run({"import", "one.json"}), 0) << err_.str();
    EXPECT_TRUE(fs::exists("default.m"));

    // A text that does not fit: its position, exit 2, nothing written.
    std::ofstream("bad.json") << "{\"format\": \"quillet-macros\", \"version\": 1,\n \"macros\": [{\"name\": 5}]}";
    EXPECT_EQ(Run({"import", "bad.json", "--into", "other.m"}), 2);
    EXPECT_EQ(err_.str(), "quillet-cli: bad.json: line 2, column 22: expected the macro's name (a string), found the "
                          "number 5\n");
    EXPECT_FALSE(fs::exists("other.m"));
    EXPECT_EQ(Run({"import", "bad.json", "--replace", "--rename"}), 2);
    EXPECT_EQ(Run({"export"}), 2);
}

// A person presses and lets go a key; the program handles both at once.
void TapKey(platform::FakePlatform& fake, ManualLoop& loop, uint8_t vk) {
    platform::RawInputRecord key;
    key.vkey = vk;
    key.message = platform::WM_KEYDOWN;
    fake.PushRaw(key);
    key.message = platform::WM_KEYUP;
    fake.PushRaw(key);
    loop.RunPosted();
}

// lib.m: "typer" (F2 starts, F3 stops) presses and lets go A; "holder" (F4) presses Shift and waits 100 s.
void SaveTyperAndHolder() {
    Macro typer = MakeNewMacro("typer");
    typer.items.push_back(MakeKeyItem(0x41, ActionPress | ActionRelease));
    Macro holder = MakeNewMacro("holder");
    holder.startKey = 0x73;
    holder.items.push_back(MakeKeyItem(0x10, ActionPress));
    holder.items.push_back(MakeDelayItem(100000, DelayTime));
    ASSERT_TRUE(SaveMacroLibrary("lib.m", {typer, holder}).ok);
}

using HeadlessRunTest = CliFolder;

TEST_F(HeadlessRunTest, RunsTheTriggersAsTheProgramDoesPrintsWhatItWouldShowAndReleasesAllAtTheEnd) {
    constexpr uint8_t VK_SHIFT = 0x10, VK_F2 = 0x71, VK_F4 = 0x73, VK_F12 = 0x7B;
    ASSERT_NO_FATAL_FAILURE(SaveTyperAndHolder());

    platform::FakePlatform fake;
    CAppIni settings("Quillet.ini", false); // run mode was off at the last end: entered all the same
    settings.macroOptions = 0;
    TimerCounter counter;
    ManualLoop loop;
    Session session(fake.platform(), settings, counter, loop, 1u);
    std::ostringstream out, err;
    {
        cli::HeadlessRun run(session, out, [] { return std::string("T"); });
        EXPECT_FALSE(run.Begin("missing.m", err));
        EXPECT_EQ(err.str(), "quillet-cli: missing.m: no such library\n");
        ASSERT_TRUE(run.Begin("lib.m", err)) << err.str();
        EXPECT_TRUE(session.engine().runMode);
        EXPECT_TRUE(fake.monitoring());
        EXPECT_EQ(loop.TimerInterval(kTimerClock), -1) << "no clock condition: the clock is not polled";

        const auto tap = [&](uint8_t vk) { TapKey(fake, loop, vk); };
        const auto tick = [&] {
            fake.AdvanceMs(33);
            fake.FireTimers();
            loop.RunPosted();
        };
        tap(VK_F2);
        tick();
        tick();
        tap(VK_F4);
        tick();
        tap(VK_F12); // run mode off stops the holder, and on again
        tap(VK_F12);
        tap(VK_F4);
        tick();
        EXPECT_TRUE(IsRunning(session.library()[1]));
        fake.ClearEvents();
    }
    // The end released the Shift the holder held, whatever the release setting says.
    ASSERT_FALSE(fake.events().empty());
    EXPECT_EQ(fake.events().back().vk, VK_SHIFT);
    EXPECT_TRUE(session.ended());
    EXPECT_EQ(out.str(), "T library lib.m: 2 macros\n"
                         "T run mode on (F12 key switches it off)\n"
                         "T   typer - 시작: F2키,중지: F3키,\n"
                         "T   holder - 시작: F4키,중지: F3키,\n"
                         "T watching the keyboard and mouse\n"
                         "T started 'typer'\n"
                         "T typer:     키보드 A key  \n"
                         "T ended 'typer'\n"
                         "T started 'holder'\n"
                         "T holder:     키보드 SHIFT key 누르기 \n"
                         "T run mode off (F12 key switches it on)\n"
                         "T ended 'holder'\n"
                         "T run mode on (F12 key switches it off)\n"
                         "T   typer - 시작: F2키,중지: F3키,\n"
                         "T   holder - 시작: F4키,중지: F3키,\n"
                         "T started 'holder'\n"
                         "T holder:     키보드 SHIFT key 누르기 \n"
                         "T ended 'holder'\n"); // stopped by the end of the run
}

TEST_F(HeadlessRunTest, PrintsEveryStartAndEndInItsPlaceAmongTheItemLinesHoweverShortTheRun) {
    constexpr uint8_t VK_F2 = 0x71, VK_F3 = 0x72, VK_F4 = 0x73;
    ASSERT_NO_FATAL_FAILURE(SaveTyperAndHolder());

    platform::FakePlatform fake;
    CAppIni settings("Quillet.ini", false);
    settings.macroOptions = 0;
    TimerCounter counter;
    ManualLoop loop;
    Session session(fake.platform(), settings, counter, loop, 1u);
    std::ostringstream out, err;
    cli::HeadlessRun run(session, out, [] { return std::string("T"); });
    ASSERT_TRUE(run.Begin("lib.m", err)) << err.str();
    out.str("");

    const auto tap = [&](uint8_t vk) { TapKey(fake, loop, vk); };
    const auto engineTick = [&] {
        fake.AdvanceMs(10);
        fake.FireTimers();
        loop.RunPosted();
    };
    // Ten runs of the one-key macro, each started and ended within one engine tick.
    std::string expected;
    for (int i = 0; i < 10; ++i) {
        tap(VK_F2);
        engineTick();
        expected += "T started 'typer'\nT typer:     키보드 A key  \nT ended 'typer'\n";
    }
    // The stop key ends a macro that would run for minutes.
    tap(VK_F4);
    engineTick();
    tap(VK_F3);
    expected += "T started 'holder'\nT holder:     키보드 SHIFT key 누르기 \nT ended 'holder'\n";
    EXPECT_EQ(out.str(), expected);

    // The editor's test run of a copy goes through the same engine but is not a macro of the library.
    Macro copy = session.library()[0];
    session.engine().StartMacro(copy, 1);
    session.engine().StopMacro(copy, HeldInput::AsSettingSays);
    EXPECT_EQ(out.str(), expected);
}

} // namespace
} // namespace quillet
