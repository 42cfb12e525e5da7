#include "cli/cli.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli_folder.h"
#include "model/cp949.h"
#include "model/library_file.h"
#include "model/texts.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;

class CliTest : public CliFolder {
protected:
    static MacroLibrary SampleLibrary() {
        MacroLibrary lib;
        Macro a = MakeNewMacro("Greeting");
        a.items.push_back(MakeKeyItem(0x41, ActionPress | ActionRelease | ActionHangul));
        a.items.push_back(MakeStringItem(Utf8ToCp949("안녕\r\n")));
        lib.push_back(a);
        Macro b = MakeNewMacro("Caller");
        b.items.push_back(MakeCallItem("Greeting", CallSequential));
        lib.push_back(b);
        return lib;
    }
};

TEST_F(CliTest, DumpPrintsEveryMacroAsUtf8TextWithCrLf) {
    ASSERT_TRUE(SaveMacroLibrary("lib.m", SampleLibrary()).ok);
    EXPECT_EQ(Run({"dump", "lib.m"}), 0);
    EXPECT_EQ(out_.str(), "매크로 이름: Greeting\r\n\r\n"
                          "    (시작)\r\n"
                          "    키보드 A key  \r\n"
                          "    문자열 '안녕\r\n'\r\n"
                          "매크로 이름: Caller\r\n\r\n"
                          "    (시작)\r\n"
                          "    매크로 순차 호출 'Greeting'\r\n");
}

TEST_F(CliTest, DumpHonoursTheImeOptionOfQuilletIni) {
    ASSERT_TRUE(SaveMacroLibrary("lib.m", SampleLibrary()).ok);
    Write("Quillet.ini", "[Property]\nmacroOptions=137\n");
    EXPECT_EQ(Run({"dump", "lib.m"}), 0);
    EXPECT_NE(out_.str().find("    키보드 A key  [한글] \r\n"), std::string::npos) << out_.str();
}

// language=en in Quillet.ini: the item lines printed are English; stored names and text stay as they are, and the
// language of the process is as before once the command has ended.
TEST_F(CliTest, DumpAndPlayFollowTheLanguageOfQuilletIni) {
    ASSERT_TRUE(SaveMacroLibrary("lib.m", SampleLibrary()).ok);
    Write("Quillet.ini", "[Property]\nmacroOptions=137\nlanguage=en\n");
    EXPECT_EQ(Run({"dump", "lib.m"}), 0);
    EXPECT_EQ(out_.str(), "Macro name: Greeting\r\n\r\n"
                          "    (Start)\r\n"
                          "    Press and release A key [Hangul] \r\n"
                          "    Type '안녕\r\n'\r\n"
                          "Macro name: Caller\r\n\r\n"
                          "    (Start)\r\n"
                          "    Call macro 'Greeting'\r\n");
    EXPECT_EQ(CurrentLanguage(), Language::Korean);

    EXPECT_EQ(Run({"play", "lib.m", "Caller", "--dry-run", "--no-ime"}), 0);
    EXPECT_NE(out_.str().find(" log Greeting:     Press and release A key [Hangul] \n"), std::string::npos)
        << out_.str();
    EXPECT_NE(out_.str().find(" log Caller:     Call macro 'Greeting'\n"), std::string::npos) << out_.str();

    EXPECT_EQ(Run({"settings"}), 0);
    EXPECT_TRUE(out_.str().ends_with("startTabSel=0\nlanguage=en\n")) << out_.str();

    // Anything but "en" is Korean.
    Write("Quillet.ini", "[Property]\nlanguage=EN\n");
    EXPECT_EQ(Run({"dump", "lib.m"}), 0);
    EXPECT_EQ(out_.str().rfind("매크로 이름: Greeting\r\n", 0), 0u) << out_.str();
}

TEST_F(CliTest, UnreadableOrDamagedLibrariesExitWithTwo) {
    EXPECT_EQ(Run({"dump", "missing.m"}), 2);
    const std::string err = err_.str();
    EXPECT_NE(err.find("missing.m"), std::string::npos);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);

    std::string bytes = SerializeMacroLibrary(SampleLibrary());
    Write("cut.m", bytes.substr(0, bytes.size() - 3));
    EXPECT_EQ(Run({"dump", "cut.m"}), 2);
    EXPECT_EQ(Run({"check", "cut.m"}), 2);
    EXPECT_EQ(Run({"resave", "cut.m", "out.m"}), 2);
    EXPECT_FALSE(fs::exists("out.m")) << "a damaged input must not produce an output";
}

TEST_F(CliTest, ResaveReproducesWellFormedFilesByteForByte) {
    const std::string bytes = SerializeMacroLibrary(SampleLibrary());
    Write("in.m", bytes);
    EXPECT_EQ(Run({"resave", "in.m", "out.m"}), 0);
    EXPECT_EQ(Read("out.m"), bytes);
}

TEST_F(CliTest, CheckListsEachProblemOnItsOwnLine) {
    MacroLibrary lib = SampleLibrary();
    EXPECT_EQ(Run({"check", (SaveMacroLibrary("good.m", lib), "good.m")}), 0);
    EXPECT_EQ(out_.str(), "");

    lib[1].items.push_back(MakeCallItem("Nobody", CallParallel));
    lib[1].items.push_back(MakeCallItem("Caller", CallSequential));
    lib[1].items.push_back(MakeLoopItem(LoopEnter, 1, 1, 3));
    Macro dup = MakeNewMacro("Greeting");
    lib.push_back(dup);
    ASSERT_TRUE(SaveMacroLibrary("bad.m", lib).ok);
    EXPECT_EQ(Run({"check", "bad.m"}), 1);
    const std::string report = out_.str();
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 4) << report;
    EXPECT_NE(report.find("'Nobody', which does not exist"), std::string::npos);
    EXPECT_NE(report.find("calls its own macro"), std::string::npos);
    EXPECT_NE(report.find("do not open and close"), std::string::npos);
    EXPECT_NE(report.find("same name as macro 1"), std::string::npos);
}

TEST_F(CliTest, SettingsPrintsTheTwentyFourKeysAndWritesOnlyWhenAsked) {
    const std::string ini = "[Property]\ntitle=\"" + Utf8ToCp949(" 제목 ") + "\"\neventDelay=20\n";
    Write("Quillet.ini", ini);
    EXPECT_EQ(Run({"settings"}), 0);
    const std::string text = out_.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 24);
    EXPECT_EQ(text.rfind("macroOptions=136\n", 0), 0u);
    EXPECT_NE(text.find("title= 제목 \n"), std::string::npos);
    EXPECT_NE(text.find("eventDelay=20\n"), std::string::npos);
    EXPECT_EQ(Read("Quillet.ini"), ini) << "printing must not write";

    EXPECT_EQ(Run({"settings", "--write"}), 0);
    EXPECT_NE(Read("Quillet.ini").find("startTabSel=0"), std::string::npos);
}

TEST_F(CliTest, PlayDryRunPrintsEveryEventWithItsTick) {
    MacroLibrary lib;
    Macro m = MakeNewMacro("Play");
    m.items.push_back(MakeStringItem("aB"));
    m.items.push_back(MakeMouseItem(0, 0, MouseMove | MouseAbsolute | MouseLeftDown | MouseLeftUp));
    m.items.push_back(MakeCallItem("Helper", CallSequential));
    lib.push_back(m);
    Macro helper = MakeNewMacro("Helper");
    helper.items.push_back(MakeKeyItem(0x0D, ActionPress));
    lib.push_back(helper);
    ASSERT_TRUE(SaveMacroLibrary("play.m", lib).ok);

    EXPECT_EQ(Run({"play", "play.m", "Play", "--dry-run", "--no-ime", "--screen", "1920x1080"}), 0);
    EXPECT_EQ(out_.str(), "1 key 0x41 down scan=0x1E flags=1\n"
                          "1 key 0x41 up scan=0x1E flags=3\n"
                          "2 key 0xA0 down scan=0x2A flags=1\n"
                          "2 key 0x42 down scan=0x30 flags=1\n"
                          "2 key 0x42 up scan=0x30 flags=3\n"
                          "2 key 0xA0 up scan=0x2A flags=3\n"
                          "3 log Play:     문자열 'aB'\n"
                          "4 mouse flags=0x8003 x=-17 y=-30 data=0\n"
                          "4 mouse flags=0x0004 x=-17 y=-30 data=0\n"
                          "4 log Play:     마우스 절대위치(0, 0) 왼버튼_클릭 \n"
                          "5 key 0x0D down scan=0x1C flags=0\n"
                          "5 log Helper:     키보드 ENTER key 누르기 \n"
                          "6 log Play:     매크로 순차 호출 'Helper'\n"
                          "6 end\n");

    EXPECT_EQ(Run({"play", "play.m", "Play", "--dry-run", "--ticks", "2"}), 0);
    EXPECT_EQ(out_.str().substr(out_.str().rfind('\n', out_.str().size() - 2) + 1), "2 limit\n");
    EXPECT_EQ(Run({"play", "play.m", "Nobody", "--dry-run"}), 2);

    // Random characters repeat with the same seed.
    lib[0].items = {MacroItem(), MakeStringItem("#*?#*?#*?", TextRandom)};
    ASSERT_TRUE(SaveMacroLibrary("random.m", lib).ok);
    EXPECT_EQ(Run({"play", "random.m", "Play", "--dry-run", "--seed", "7"}), 0);
    const std::string first = out_.str();
    EXPECT_EQ(Run({"play", "random.m", "Play", "--dry-run", "--seed", "7"}), 0);
    EXPECT_EQ(out_.str(), first);
    EXPECT_EQ(Run({"play", "random.m", "Play", "--dry-run", "--seed", "8"}), 0);
    EXPECT_NE(out_.str(), first);
    EXPECT_EQ(Run({"play", "play.m", "Play", "--dry-run", "--hangul-keyboard", "7"}), 2);
}

// The play goes on while any macro the played one started runs, directly or through calls of the macros it started:
// a parallel call outlives its caller.
TEST_F(CliTest, PlayGoesOnUntilEveryMacroItStartedHasEnded) {
    Macro starter = MakeNewMacro("Starter");
    starter.items.push_back(MakeCallItem("Worker", CallParallel));
    Macro worker = MakeNewMacro("Worker");
    worker.items.push_back(MakeKeyItem(0x41, ActionPress | ActionRelease));
    worker.items.push_back(MakeCallItem("Last", CallParallel));
    Macro last = MakeNewMacro("Last");
    last.items.push_back(MakeDelayItem(100, DelayTime));
    last.items.push_back(MakeKeyItem(0x42, ActionPress | ActionRelease));
    Macro bystander = MakeNewMacro("Bystander"); // started by nothing: never played
    bystander.items.push_back(MakeKeyItem(0x43, ActionPress | ActionRelease));
    ASSERT_TRUE(SaveMacroLibrary("calls.m", {starter, worker, last, bystander}).ok);

    EXPECT_EQ(Run({"play", "calls.m", "Starter", "--dry-run", "--no-ime"}), 0);
    EXPECT_EQ(out_.str(), "1 log Starter:     매크로 병렬 호출 'Worker'\n"
                          "1 key 0x41 down scan=0x1E flags=0\n"
                          "1 key 0x41 up scan=0x1E flags=2\n"
                          "1 log Worker:     키보드 A key  \n"
                          "2 log Worker:     매크로 병렬 호출 'Last'\n"
                          "6 log Last:     시간지연 0.100 초\n"
                          "7 key 0x42 down scan=0x30 flags=0\n"
                          "7 key 0x42 up scan=0x30 flags=2\n"
                          "7 log Last:     키보드 B key  \n"
                          "7 end\n");

    // The tick limit still ends a play whose macros go on.
    EXPECT_EQ(Run({"play", "calls.m", "Starter", "--dry-run", "--no-ime", "--ticks", "5"}), 0);
    EXPECT_TRUE(out_.str().ends_with("2 log Worker:     매크로 병렬 호출 'Last'\n5 limit\n")) << out_.str();

    EXPECT_EQ(Run({"play", "--help"}), 0);
    EXPECT_NE(out_.str().find("every macro it started"), std::string::npos) << out_.str();
}

TEST_F(CliTest, UnknownCommandsAndMissingArgumentsFail) {
    EXPECT_EQ(Run({}), 2);
    EXPECT_EQ(Run({"frobnicate"}), 2);
    EXPECT_EQ(Run({"dump"}), 2);
    EXPECT_EQ(Run({"resave", "a.m"}), 2);
}

} // namespace
} // namespace quillet
