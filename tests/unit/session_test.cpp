// The session without a window: the library document's rules and the way of a person's input past busy ticks, on the
// fake platform with a loop the test runs by hand.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "manual_loop.h"
#include "model/cp949.h"
#include "model/library_file.h"
#include "platform/fake/fake_platform.h"
#include "session/session.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using platform::FakeEvent;
using platform::FakePlatform;
using platform::RawInputRecord;

constexpr uint8_t VK_F3 = 0x72;

// Answers the document's questions from a script and keeps what was asked.
class ScriptedQuestions final : public DocumentQuestions {
public:
    bool AskSaveChanges() override { return Answer("save?"); }
    bool AskOverwriteDamaged(const std::string& name) override { return Answer("overwrite " + name + "?"); }
    bool AskContinueWithoutSaving(const std::string& name, const std::string&) override {
        return Answer("go on without " + name + "?");
    }
    bool Answer(const std::string& question) {
        asked.push_back(question);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << question;
            return false;
        }
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    std::deque<bool> answers;
    std::vector<std::string> asked;
};

class SessionTest : public ::testing::Test {
protected:
    SessionTest() {
        dir = fs::temp_directory_path() /
              ("quillet-session-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        settings.macroOptions = 0;
    }
    ~SessionTest() override { fs::remove_all(dir); }
    std::string Path(const char* name) const { return (dir / name).string(); }
    std::string Bytes(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static MacroLibrary TwoMacros() { return {MakeNewMacro("one"), MakeNewMacro("two")}; }

    fs::path dir;
    FakePlatform fake;
    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    TimerCounter counter;
    ManualLoop loop;
    Session session{fake.platform(), settings, counter, loop, 1u};
    ScriptedQuestions ask;
};

TEST_F(SessionTest, ANameThatDoesNotExistBeginsANewLibraryThatSaveCreates) {
    ASSERT_TRUE(SaveMacroLibrary(Path("old.m"), TwoMacros()).ok);
    ASSERT_TRUE(session.OpenLibrary(Path("old.m")));
    EXPECT_EQ(session.library().size(), 2u);
    session.document().SetModified();

    const auto report = session.OpenLibrary(Path("new.m"));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->kind, LibraryDocument::LoadReport::New);
    EXPECT_TRUE(session.library().empty());
    EXPECT_EQ(settings.macroFileName, Path("new.m"));
    EXPECT_FALSE(session.document().modified());
    EXPECT_TRUE(session.document().protectedFile().empty());
    EXPECT_FALSE(fs::exists(Path("new.m"))) << "opening writes nothing";

    ASSERT_TRUE(session.document().Append(MakeNewMacro("fresh")));
    std::string problem;
    EXPECT_EQ(session.document().Save(ask, problem), LibraryDocument::SaveOutcome::Saved);
    EXPECT_TRUE(ask.asked.empty());
    MacroLibrary back;
    ASSERT_TRUE(LoadMacroLibrary(Path("new.m"), back).ok());
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].name, "fresh");
}

TEST_F(SessionTest, ADamagedFileIsReadAsFarAsItGoesAndWrittenOverOnlyWhenThePersonSaysSo) {
    std::string bytes = SerializeMacroLibrary(TwoMacros());
    bytes.resize(bytes.size() - 3); // the second macro cut short
    { std::ofstream(Path("cut.m"), std::ios::binary) << bytes; }

    const auto report = session.OpenLibrary(Path("cut.m"));
    ASSERT_TRUE(report);
    EXPECT_EQ(report->kind, LibraryDocument::LoadReport::Damaged);
    EXPECT_FALSE(report->problem.empty());
    EXPECT_EQ(session.library().size(), report->macrosRead);
    EXPECT_EQ(session.document().protectedFile(), Path("cut.m"));

    std::string problem;
    ask.answers = {false};
    EXPECT_EQ(session.document().Save(ask, problem), LibraryDocument::SaveOutcome::Declined);
    EXPECT_EQ(Bytes(Path("cut.m")), bytes);
    // The save question at the end: saving is declined at the overwrite question, so the person stays.
    session.document().SetModified();
    ask.answers = {true, false};
    EXPECT_FALSE(session.document().AskToSave(ask));
    EXPECT_EQ(Bytes(Path("cut.m")), bytes);

    ask.answers = {true};
    EXPECT_EQ(session.document().Save(ask, problem), LibraryDocument::SaveOutcome::Saved);
    EXPECT_NE(Bytes(Path("cut.m")), bytes);
    EXPECT_TRUE(session.document().protectedFile().empty());
    EXPECT_EQ(session.document().Save(ask, problem), LibraryDocument::SaveOutcome::Saved) << "asked only once";
    EXPECT_THAT(ask.asked,
                ::testing::ElementsAre("overwrite " + Path("cut.m") + "?", "save?", "overwrite " + Path("cut.m") + "?",
                                       "overwrite " + Path("cut.m") + "?"));

    // A file that exists but cannot be read leaves an empty, protected library.
    fs::create_directories(Path("folder.m"));
    const auto unreadable = session.OpenLibrary(Path("folder.m"));
    EXPECT_EQ(unreadable->kind, LibraryDocument::LoadReport::Unopenable);
    EXPECT_TRUE(session.library().empty());
    EXPECT_EQ(session.document().protectedFile(), Path("folder.m"));
}

TEST_F(SessionTest, TheSaveQuestionsAnswers) {
    ASSERT_TRUE(session.OpenLibrary(Path("lib.m")));
    // Unmodified: nothing is asked.
    EXPECT_TRUE(session.document().AskToSave(ask));
    EXPECT_TRUE(ask.asked.empty());

    // No: the command goes on and nothing is written.
    ASSERT_TRUE(session.document().Append(MakeNewMacro("a")));
    ask.answers = {false};
    EXPECT_TRUE(session.document().AskToSave(ask));
    EXPECT_FALSE(fs::exists(Path("lib.m")));
    EXPECT_TRUE(session.document().modified());

    // Yes: written, unmodified.
    ask.answers = {true};
    EXPECT_TRUE(session.document().AskToSave(ask));
    EXPECT_TRUE(fs::exists(Path("lib.m")));
    EXPECT_FALSE(session.document().modified());

    // Yes, but the file cannot be written: the person decides whether to go on and lose the changes.
    settings.macroFileName = Path("no-such-folder/lib.m");
    session.document().SetModified();
    ask.answers = {true, false};
    EXPECT_FALSE(session.document().AskToSave(ask));
    EXPECT_TRUE(session.document().modified()) << "the changes are not on disk";
    ask.answers = {true, true};
    EXPECT_TRUE(session.document().AskToSave(ask));
    EXPECT_EQ(ask.asked.back(), "go on without " + Path("no-such-folder/lib.m") + "?");
}

TEST_F(SessionTest, NothingInTheLibraryChangesWhileRunModeIsOn) {
    session.library() = TwoMacros();
    session.engine().runMode = true;
    LibraryDocument& d = session.document();
    EXPECT_FALSE(d.Editable());
    EXPECT_FALSE(d.Copy(0));
    EXPECT_FALSE(d.Delete(0));
    EXPECT_FALSE(d.MoveDown(0));
    EXPECT_FALSE(d.MoveUp(1));
    EXPECT_FALSE(d.Append(MakeNewMacro("x")));
    EXPECT_FALSE(d.Replace(0, MakeNewMacro("x")));
    EXPECT_FALSE(session.OpenLibrary(Path("other.m")));
    EXPECT_EQ(session.library().size(), 2u);
    EXPECT_FALSE(d.modified());

    session.engine().runMode = false;
    EXPECT_TRUE(d.MoveDown(0));
    EXPECT_EQ(session.library()[0].name, "two");
    EXPECT_FALSE(d.MoveDown(1)) << "already last";
    EXPECT_FALSE(d.Delete(2)) << "out of range";
    EXPECT_TRUE(d.Copy(1));
    EXPECT_EQ(session.library().size(), 3u);
    EXPECT_TRUE(d.modified());
}

TEST_F(SessionTest, APersonsStopKeyGoesBeforeTheWaitingTickAndTicksDoNotPileUp) {
    Macro typer = MakeNewMacro("typer");
    typer.flags |= FlagStartKey | FlagStopKey;
    typer.startKey = VK_F3;
    typer.stopKey = VK_F3 | KeyRelease;
    typer.setRepeatCount(0); // endless
    typer.items.push_back(MakeStringItem("abcdefgh"));
    session.library().push_back(typer);
    settings.macroOptions = OptionRunModeOn;
    session.BeginRunMode(std::nullopt);
    ASSERT_TRUE(session.engine().runMode);
    ASSERT_TRUE(session.StartInputMonitoring());
    session.StartWindowTimers();
    EXPECT_EQ(loop.TimerInterval(kTimerColor), -1) << "nothing to poll while no macro runs";

    RawInputRecord key;
    key.vkey = VK_F3;
    key.message = platform::WM_KEYDOWN;
    fake.PushRaw(key);
    loop.RunPosted();
    ASSERT_TRUE(IsRunning(session.library()[0]));
    EXPECT_EQ(loop.TimerInterval(kTimerColor), 100) << "the running macro's colour waits";

    // The UI thread is busy: many timer events, one waiting tick.
    for (int i = 0; i < 5; ++i) {
        fake.AdvanceMs(33);
        fake.FireTimers();
    }
    EXPECT_EQ(loop.posted.size(), 1u);
    // The person lets go of the stop key while the tick waits; the tick handles it first and types nothing more.
    key.message = platform::WM_KEYUP;
    fake.PushRaw(key);
    fake.ClearEvents();
    loop.RunPosted();
    EXPECT_FALSE(IsRunning(session.library()[0]));
    EXPECT_TRUE(fake.events().empty());

    // The end: no more input reaches anyone, and the window timers are gone.
    session.End(HeldInput::Release);
    EXPECT_EQ(loop.TimerInterval(kTimerColor), -1);
    key.message = platform::WM_KEYDOWN;
    fake.PushRaw(key);
    loop.RunPosted();
    EXPECT_FALSE(IsRunning(session.library()[0]));
}

// Records what the session tells, one line an event.
class EventLog final : public SessionObserver {
public:
    void RunModeChanged(bool on) override { lines.push_back(on ? "run on" : "run off"); }
    void MacroStarted(std::size_t index, Point) override { lines.push_back("start " + std::to_string(index)); }
    void MacroEnded(std::size_t index, bool finished) override {
        lines.push_back((finished ? "finish " : "stop ") + std::to_string(index));
    }
    void ItemLogged(const std::string& line) override { lines.push_back("log " + line.substr(0, line.find(':'))); }
    std::vector<std::string> lines;
};

TEST_F(SessionTest, ObserversAreToldEveryStartAndEndOnceInOrderAmongTheLogLines) {
    Macro tap = MakeNewMacro("tap"); // one key: it starts and ends within one tick
    tap.flags |= FlagStartKey;
    tap.startKey = VK_F3;
    tap.items.push_back(MakeKeyItem('A', ActionPress | ActionRelease));
    Macro auto_ = MakeNewMacro("auto");
    auto_.flags = (auto_.flags | FlagAutoStart) & ~(FlagStartKey | FlagStopKey);
    auto_.setRepeatCount(0);
    auto_.items.push_back(MakeDelayItem(100000, DelayTime));
    session.library() = {tap, auto_};
    EventLog log, second;
    session.AddObserver(log);
    session.AddObserver(log); // once only
    session.AddObserver(second);
    session.RemoveObserver(second);
    settings.macroOptions = OptionRunModeOn;
    session.BeginRunMode(std::nullopt);
    ASSERT_TRUE(session.StartInputMonitoring());

    RawInputRecord key;
    key.vkey = VK_F3;
    for (int i = 0; i < 3; ++i) {
        key.message = platform::WM_KEYDOWN;
        fake.PushRaw(key);
        key.message = platform::WM_KEYUP;
        fake.PushRaw(key);
        loop.RunPosted();
        fake.AdvanceMs(33);
        fake.FireTimers();
        loop.RunPosted();
    }
    session.End(HeldInput::Release);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"run on", "start 1", "start 0", "log tap", "finish 0", "start 0",
                                                   "log tap", "finish 0", "start 0", "log tap", "finish 0", "stop 1"}));
    EXPECT_TRUE(second.lines.empty());
    session.RemoveObserver(log);
}

TEST_F(SessionTest, TheEndReleasesWhatMacrosHoldWhateverTheReleaseSetting) {
    Macro holder = MakeNewMacro("holder");
    holder.items.push_back(MakeKeyItem(0x10, ActionPress)); // Shift down
    holder.items.push_back(MakeDelayItem(100000, DelayTime));
    session.library().push_back(holder);
    session.StartEngineTicks();
    session.engine().StartMacro(session.library()[0], 1);
    fake.AdvanceMs(33);
    fake.FireTimers();
    loop.RunPosted();
    ASSERT_EQ(fake.events().size(), 1u);
    fake.ClearEvents();
    session.End(HeldInput::Release);
    ASSERT_EQ(fake.events().size(), 1u);
    EXPECT_EQ(fake.events()[0].vk, 0x10);
    EXPECT_EQ(fake.events()[0].flags, platform::KEYEVENTF_EXTENDEDKEY | platform::KEYEVENTF_KEYUP);
    EXPECT_EQ(settings.macroOptions & OptionReleaseHeldOnStop, 0);
    session.End(HeldInput::Release); // once only
    EXPECT_EQ(fake.events().size(), 1u);
}

} // namespace
} // namespace quillet
