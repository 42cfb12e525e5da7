// Key and mouse items, release of held inputs, loops, the event log, the editor's tick and the run-time estimate.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "model/cp949.h"
#include "model/item_text.h"

namespace quillet::enginetest {
namespace {

using namespace platform;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

int32_t AbsX(int32_t x) {
    return ToAbsolute(x, 1920);
}
int32_t AbsY(int32_t y) {
    return ToAbsolute(y, 1080);
}
int32_t WithData(int32_t flags, int data) {
    return flags | static_cast<int32_t>(static_cast<uint32_t>(data & 0xFFFF) << 16);
}
MacroItem Loop(int kind, int step = 0, int32_t start = 0, int32_t stop = 0) {
    return MakeLoopItem(kind, step, start, stop);
}

// --- Key items ----------------------------------------------------------------------------------------------------

TEST_F(EngineTest, KeyItemsSendPressAndReleaseAndMarkHeldInputs) {
    const auto a =
        Add("a", {MakeKeyItem('A', ActionPress), MakeKeyItem(0x2D, ActionPress | ActionRelease | ActionExtended),
                  MakeKeyItem('B', ActionPress | ActionRelease, 0x77), MakeKeyItem(1, ActionPress | ActionRelease),
                  MakeKeyItem(5, ActionPress), MakeKeyItem(6, ActionPress | ActionRelease),
                  MakeKeyItem('A', ActionRelease)});
    Start(a);
    Ticks(7);
    EXPECT_THAT(fake.events(),
                ElementsAre(Key('A', 0, 1), Key(0x2D, 1, 2), Key(0x2D, 3, 2), FakeEvent::Key('B', 0x77, 0, 3),
                            FakeEvent::Key('B', 0x77, 2, 3), Mouse(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 4),
                            Mouse(MOUSEEVENTF_LEFTUP, 0, 0, 0, 4), Mouse(MOUSEEVENTF_XDOWN, 0, 0, XBUTTON1, 5),
                            Mouse(MOUSEEVENTF_XDOWN, 0, 0, XBUTTON2, 6), Mouse(MOUSEEVENTF_XUP, 0, 0, XBUTTON2, 6),
                            Key('A', 2, 7)));
    EXPECT_EQ(M(a).heldInputs['A'], 0);
    EXPECT_EQ(M(a).heldInputs[1], 0);
    EXPECT_EQ(M(a).heldInputs[5], 1);
    EXPECT_EQ(M(a).heldInputs[6], 0);
}

TEST_F(EngineTest, KeyItemsFollowTheRecordedImeStateOnlyWhenEnabled) {
    const auto a =
        Add("a", {MakeKeyItem('A', ActionPress | ActionRelease | ActionHangul), MakeKeyItem('B', ActionPress)});
    Start(a);
    Tick();
    EXPECT_EQ(fake.hangulToggles(), 0);
    settings.macroOptions = OptionFollowImeState;
    fake.ClearEvents();
    Start(a);
    Ticks(2);
    const uint8_t hs = fake.ScanCodeOf(VK_HANGUL);
    EXPECT_THAT(fake.events(),
                ElementsAre(FakeEvent::Key(VK_HANGUL, hs, 1, 2), FakeEvent::Sleep(33, 2),
                            FakeEvent::Key(VK_HANGUL, hs, 3, 2), FakeEvent::Sleep(33, 2), Key('A', 0, 2),
                            Key('A', 2, 2), FakeEvent::Key(VK_HANGUL, hs, 1, 3), FakeEvent::Sleep(33, 3),
                            FakeEvent::Key(VK_HANGUL, hs, 3, 3), FakeEvent::Sleep(33, 3), Key('B', 0, 3)));
}

// --- Mouse items --------------------------------------------------------------------------------------------------

TEST_F(EngineTest, AbsoluteMovesResolveTheStartAndOriginPositions) {
    const int32_t move = MouseMove | MouseAbsolute;
    const auto a = Add("a", {MakeMouseItem(100, 200, move), MakeMouseItem(PosStartCursor, PosStartCursor, move),
                             MakeMouseItem(PosImageOrigin, PosImageOrigin, move),
                             MakeMouseItem(PosStartCursor, PosImageOrigin, move),
                             MakeMouseItem(32768, 16384, move | MouseNormalized)});
    fake.SetCursor(300, 400);
    engine.StartMacroWithOrigin(M(a), 1, Point{700, 800}, true); // the image start moves the cursor at once
    EXPECT_EQ(M(a).startPos, (Point{300, 400}));
    EXPECT_EQ(M(a).originPos, (Point{700, 800}));
    Ticks(5);
    const uint32_t f = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    EXPECT_THAT(fake.events(),
                ElementsAre(Mouse(f, AbsX(700), AbsY(800), 0, 0), Mouse(f, AbsX(100), AbsY(200), 0, 1),
                            Mouse(f, AbsX(300), AbsY(400), 0, 2), Mouse(f, AbsX(700), AbsY(800), 0, 3),
                            Mouse(f, AbsX(PosStartCursor), AbsY(PosImageOrigin), 0, 4), Mouse(f, 32768, 16384, 0, 5)));

    // Without an image the origin is the start position, and nothing moves at the start.
    fake.ClearEvents();
    fake.SetCursor(10, 20);
    engine.StartMacroWithOrigin(M(a), 3, std::nullopt, true);
    EXPECT_EQ(M(a).originPos, (Point{10, 20}));
    Tick();
    EXPECT_THAT(fake.events(), ElementsAre(Mouse(f, AbsX(10), AbsY(20), 0, tickNo)));
}

TEST_F(EngineTest, RelativeItemsActFromTheCursorOfTheirTick) {
    const auto a = Add("a", {MakeMouseItem(10, -5, MouseMove), MakeMouseItem(10, -5, MouseMove),
                             MakeMouseItem(PosStartCursor, PosStartCursor, MouseLeftDown | MouseLeftUp)});
    fake.SetCursor(500, 500);
    Start(a);
    Ticks(3);
    const uint32_t f = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    // The click has no move flag: its coordinates are passed on but act nowhere else than at the cursor.
    EXPECT_THAT(fake.events(), ElementsAre(Mouse(f, AbsX(510), AbsY(495), 0, 1), Mouse(f, AbsX(520), AbsY(490), 0, 2),
                                           Mouse(MOUSEEVENTF_LEFTDOWN, AbsX(30520), AbsY(30490), 0, 3),
                                           Mouse(MOUSEEVENTF_LEFTUP, AbsX(30520), AbsY(30490), 0, 3)));
    EXPECT_EQ(fake.cursor(), (ScreenPoint{520, 490}));
    EXPECT_EQ(M(a).heldInputs[1], 1); // a click leaves its button marked
}

TEST_F(EngineTest, WheelAndXButtonItemsCarryTheirDataAndMarks) {
    const auto a =
        Add("a", {MakeMouseItem(0, 0, WithData(MouseWheel, -120)), MakeMouseItem(0, 0, WithData(MouseWheel, 120)),
                  MakeMouseItem(0, 0, WithData(MouseXDown, 2)), MakeMouseItem(0, 0, WithData(MouseXDown, 1)),
                  MakeMouseItem(0, 0, WithData(MouseXUp, 2)),
                  MakeMouseItem(0, 0, WithData(MouseRightDown, 77))}); // data only for wheel and X
    fake.SetCursor(0, 0);
    Start(a);
    Ticks(3);
    EXPECT_EQ(M(a).heldInputs[11], 1);
    EXPECT_EQ(M(a).heldInputs[10], 1);
    EXPECT_EQ(M(a).heldInputs[6], 1);
    Ticks(3);
    EXPECT_EQ(M(a).heldInputs[5], 1);
    EXPECT_EQ(M(a).heldInputs[6], 0);
    EXPECT_EQ(M(a).heldInputs[2], 1);
    const auto& ev = fake.events();
    ASSERT_EQ(ev.size(), 6u);
    EXPECT_EQ(ev[0], Mouse(MOUSEEVENTF_WHEEL, AbsX(0), AbsY(0), -120, 1));
    EXPECT_EQ(ev[1].data, 120);
    EXPECT_EQ(ev[2], Mouse(MOUSEEVENTF_XDOWN, AbsX(0), AbsY(0), 2, 3));
    EXPECT_EQ(ev[5], Mouse(MOUSEEVENTF_RIGHTDOWN, AbsX(0), AbsY(0), 0, 6));
}

// --- Release of held inputs ---------------------------------------------------------------------------------------

TEST_F(EngineTest, StopReleasesHeldInputsInKeyOrderWhenEnabled) {
    const std::vector<MacroItem> items = {MakeKeyItem('A', ActionPress),
                                          MakeKeyItem(0x10, ActionPress),
                                          MakeMouseItem(0, 0, MouseLeftDown | MouseLeftUp),
                                          MakeMouseItem(0, 0, WithData(MouseXDown, 2)),
                                          MakeMouseItem(0, 0, WithData(MouseWheel, -120)),
                                          Wait(10000)};
    const auto a = Add("a", items);
    Start(a);
    Ticks(6);
    fake.ClearEvents();
    fake.SetTick(99);
    engine.StopMacro(M(a), HeldInput::AsSettingSays);
    EXPECT_THAT(fake.events(), IsEmpty()); // release is off
    EXPECT_EQ(M(a).passCount, 1);
    EXPECT_EQ(M(a).runPos, M(a).itemCount());

    settings.macroOptions = OptionReleaseHeldOnStop;
    Start(a);
    Ticks(6);
    fake.ClearEvents();
    fake.SetTick(99);
    engine.StopMacro(M(a), HeldInput::AsSettingSays);
    EXPECT_THAT(fake.events(),
                ElementsAre(Mouse(MOUSEEVENTF_LEFTUP, 0, 0, 0, 99), Mouse(MOUSEEVENTF_XUP, 0, 0, XBUTTON2, 99),
                            Key(0x0B, 3, 99), Key(0x10, 3, 99), Key('A', 3, 99)));
    // What was released is forgotten: a second stop, or the end of the program, does not release it again.
    EXPECT_EQ(M(a).heldInputs['A'], 0);
    fake.ClearEvents();
    engine.StopEverything(HeldInput::Release);
    EXPECT_THAT(fake.events(), IsEmpty());
}

TEST_F(EngineTest, HangulWithoutAnInputMethodIsTypedAsKeysAndSaidOnceInTheLog) {
    fake.SetImeState(platform::ImeState::None);
    const auto a = Add("a", {MakeStringItem(Utf8ToCp949("가나"))}, 0);
    Start(a);
    Ticks(5);
    for (const FakeEvent& e : fake.events()) EXPECT_NE(e.vk, platform::VK_HANGUL);
    EXPECT_EQ(fake.NowMs(), 5u * 33) << "no pauses on the engine's thread";
    const auto notices = std::count(log.begin(), log.end(), "input method not found: Hangul typed as its keys\r\n");
    EXPECT_EQ(notices, 1);
}

TEST_F(EngineTest, TheEndReleasesWhatStoppedMacrosStillHoldWhateverTheSetting) {
    const auto a = Add("a", {MakeKeyItem('A', ActionPress), Wait(10000)});
    const auto b = Add("b", {MakeKeyItem('B', ActionPress), Wait(10000)});
    Start(a);
    Start(b);
    Ticks(2);
    engine.StopMacro(M(a), HeldInput::AsSettingSays); // release is off: A stays down
    fake.ClearEvents();
    fake.SetTick(7);
    engine.StopEverything(HeldInput::AsSettingSays);
    EXPECT_THAT(fake.events(), IsEmpty());
    EXPECT_FALSE(IsRunning(M(b)));
    engine.StopEverything(HeldInput::Release);
    EXPECT_THAT(fake.events(), ElementsAre(Key('A', 3, 7), Key('B', 3, 7)));
    EXPECT_EQ(settings.macroOptions & OptionReleaseHeldOnStop, 0) << "no setting is changed to get there";
}

TEST_F(EngineTest, StopAllReleasesMacrosFirstThenToggledKeys) {
    const auto a = Add("a", {MakeKeyItem('A', ActionPress), Wait(10000)});
    const auto b = Add("b", {MakeKeyItem('B', ActionPress), Wait(10000)});
    const auto idle = Add("idle", {MakeKeyItem('C', ActionPress)});
    Start(a);
    Start(b);
    Start(idle);
    Tick();
    ASSERT_FALSE(IsRunning(M(idle)));
    fake.SetKeyToggled(0x14, true); // Caps Lock on
    fake.SetKeyToggled(0x90, true); // Num Lock on
    fake.SetKeyDown('Q', true);     // down but not toggled
    settings.macroOptions = OptionReleaseHeldOnStop;
    engine.sequenceNumber = 1234;
    fake.ClearEvents();
    engine.StopAllMacros(HeldInput::AsSettingSays);
    EXPECT_THAT(fake.events(), ElementsAre(Key('A', 3, 1), Key('B', 3, 1), Key(0x14, 3, 1), Key(0x90, 3, 1)));
    EXPECT_FALSE(engine.runMode);
    EXPECT_EQ(engine.sequenceNumber, settings.sequenceStart);
    EXPECT_FALSE(IsRunning(M(a)));
    EXPECT_FALSE(IsRunning(M(b)));
}

// --- Loops ----------------------------------------------------------------------------------------------------------

TEST_F(EngineTest, LoopsTypeTheirCountersInOrder) {
    struct Case {
        std::vector<MacroItem> items;
        std::string typed;
    };
    const Case cases[] = {
        // Nested: the inner counter is typed.
        {{Loop(LoopEnter, 1, 1, 3), Loop(LoopEnter, 1, 1, 2), Loop(LoopOutputKeys), Loop(LoopLeave), Loop(LoopLeave)},
         "121212"},
        {{Loop(LoopEnter, -1, 3, 1), Loop(LoopOutputKeys), Loop(LoopLeave)}, "321"},
        {{Loop(LoopEnter, 1, 5, 1), Loop(LoopOutputKeys), Loop(LoopLeave)}, "5"},     // start past stop: one round
        {{Loop(LoopEnter, -5, 20, 50), Loop(LoopOutputKeys), Loop(LoopLeave)}, "20"}, // the same, downwards
        {{Loop(LoopEnter | LoopAskUser, 1, 1, 2), Loop(LoopOutputKeys), Loop(LoopLeave)}, "12"},
        {{Loop(LoopEnter, 1, INT32_MAX - 1, INT32_MAX), Loop(LoopOutputKeys), Loop(LoopLeave)},
         "21474836462147483647"}, // the counter would pass the 32-bit range
        {{Loop(LoopEnter, -1, INT32_MIN + 1, INT32_MIN), Loop(LoopOutputKeys), Loop(LoopLeave)},
         "-2147483647-2147483648"},
    };
    for (const Case& c : cases) {
        library.clear();
        fake.ClearEvents();
        const auto a = Add("a", c.items);
        Start(a);
        Ticks(40);
        EXPECT_FALSE(IsRunning(M(a))) << c.typed;
        EXPECT_TRUE(M(a).loopCounters.empty()) << c.typed;
        std::string typed;
        for (const uint8_t vk : TypedKeys()) typed += vk == 0xBD ? '-' : static_cast<char>(vk);
        EXPECT_EQ(typed, c.typed);
    }
}

TEST_F(EngineTest, LoopRoundTakesOneTickMoreThanItsBody) {
    const auto a = Add("a", {Loop(LoopEnter, 5, 20, 50), Loop(LoopOutputX), Loop(LoopLeave), KeyStroke('Z')});
    fake.SetCursor(100, 300);
    Start(a);
    Ticks(16);
    std::vector<FakeEvent> expected;
    for (int round = 0; round < 7; ++round)
        expected.push_back(
            Mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, AbsX(20 + 5 * round), AbsY(300), 0, 2 + 2 * round));
    for (const FakeEvent& e : StrokesAt({{'Z', 16}})) expected.push_back(e);
    EXPECT_THAT(fake.events(), ElementsAreArray(expected));
}

TEST_F(EngineTest, CounterMovesTheMouseOnOneAxis) {
    const auto a = Add("a", {Loop(LoopEnter, 0, 500, 500), Loop(LoopOutputX), Loop(LoopOutputY), Loop(LoopOutputX)});
    fake.SetCursor(100, 300);
    Start(a);
    Ticks(3);
    fake.SetCursorReadable(false); // an unreadable cursor moves nothing
    Tick();
    const uint32_t f = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    EXPECT_THAT(fake.events(), ElementsAre(Mouse(f, AbsX(500), AbsY(300), 0, 2), Mouse(f, AbsX(500), AbsY(500), 0, 3)));
}

TEST_F(EngineTest, LoopItemsWithoutACounterDoNothingAndLeaveGoesOn) {
    const auto a = Add("a", {Loop(LoopEnter, 1, 1, 3), Loop(LoopOutputKeys), Loop(LoopOutputX), Loop(LoopOutputY),
                             Loop(LoopLeave), KeyStroke('Z')});
    Start(a, 2); // a test run started inside the loop body
    Ticks(5);
    EXPECT_THAT(fake.events(), ElementsAreArray(StrokesAt({{'Z', 5}})));
}

TEST_F(EngineTest, LoopLeaveNeverJumpsOutsideTheItemsBeforeIt) {
    const auto a = Add("a", {Loop(LoopEnter, 1, 1, 10), Loop(LoopLeave), KeyStroke('Z')});
    for (const int32_t body : {-5, 0, 3, 1000}) {
        fake.ClearEvents();
        Start(a);
        M(a).items[2].setLoopStart(body); // as a leave without a matching enter carries it from the file
        Ticks(3);
        EXPECT_THAT(TypedKeys(), IsEmpty());
        EXPECT_EQ(fake.KeyEvents().size(), 2u) << body;
        EXPECT_FALSE(IsRunning(M(a)));
    }
}

TEST_F(EngineTest, CountersOfUnclosedLoopsDoNotPileUpOverPasses) {
    const auto a = Add("a", {Loop(LoopEnter, 1, 1, 10)}, 0); // never closed
    Start(a);
    Ticks(100);
    EXPECT_LE(M(a).loopCounters.size(), 1u);
    EXPECT_EQ(M(a).passCount, 100);
}

// --- Event log ----------------------------------------------------------------------------------------------------

TEST_F(EngineTest, LogHasOneLinePerFinishedKeyMouseDelayStringAndCallItem) {
    settings.macroOptions = OptionFollowImeState; // the item texts follow the option
    const MacroItem key = MakeKeyItem('A', ActionPress | ActionRelease);
    const MacroItem mouse = MakeMouseItem(5, 6, MouseMove | MouseAbsolute);
    const MacroItem delay = Wait(0);
    const MacroItem text = MakeStringItem("ab");
    const MacroItem call = MakeCallItem("nobody", CallParallel);
    const auto a = Add("Macro 1", {key, Loop(LoopEnter, 1, 1, 2), Loop(LoopOutputKeys), Loop(LoopLeave), mouse,
                                   MakeExclusiveItem(true), MakeExclusiveItem(false), delay, text, call});
    Start(a);
    Ticks(16);
    ASSERT_FALSE(IsRunning(M(a)));
    auto line = [](const MacroItem& item) { return "Macro 1: " + ItemText(item, OptionFollowImeState) + "\r\n"; };
    EXPECT_THAT(log, ElementsAre(line(key), line(mouse), line(delay), line(text), line(call)));
    // Without a sink nothing is built or sent.
    engine.SetLogSink(nullptr);
    Start(a);
    Ticks(16);
    EXPECT_EQ(log.size(), 5u);
}

// --- Editor tick ------------------------------------------------------------------------------------------------

TEST_F(EngineTest, EditorTickStepsItsCopyOnItsOwnTimeWithoutPasses) {
    const auto lib = Add("lib", {KeyStroke('L')});
    Macro copy = MakeNewMacro("copy");
    copy.items = {MacroItem{}, Wait(100), MakeCallItem("lib", CallParallel), KeyStroke('A')};
    engine.StopAllMacros(HeldInput::AsSettingSays); // edit mode: library macros are not stepped
    engine.StartMacro(copy, 1);
    uint32_t editorLast = fake.NowMs();
    engine.OnEditorTimer(copy, editorLast);
    EXPECT_EQ(copy.delayLeft, 100);
    fake.AdvanceMs(100);
    engine.OnEditorTimer(copy, editorLast);
    EXPECT_EQ(editorLast, fake.NowMs());
    engine.OnEditorTimer(copy, editorLast); // the call starts the library macro ...
    Tick();                                 // ... which is not stepped outside run mode
    EXPECT_TRUE(IsRunning(M(lib)));
    engine.OnEditorTimer(copy, editorLast);
    EXPECT_FALSE(IsRunning(copy));
    EXPECT_EQ(copy.passCount, 0);
    engine.OnEditorTimer(copy, editorLast);
    EXPECT_THAT(fake.events(), ElementsAreArray(StrokesAt({{'A', tickNo}})));

    // A run that ends by itself inside an exclusive section gives it up, but keeps its keys down.
    settings.macroOptions = OptionReleaseHeldOnStop;
    copy.items = {MacroItem{}, MakeExclusiveItem(true), MakeKeyItem('S', ActionPress)};
    engine.StartMacro(copy, 1);
    fake.ClearEvents();
    for (int i = 0; i < 3; ++i) engine.OnEditorTimer(copy, editorLast);
    EXPECT_FALSE(IsRunning(copy));
    EXPECT_EQ(engine.exclusiveCount, 0);
    EXPECT_FALSE(copy.holdsExclusive);
    EXPECT_EQ(fake.KeyEvents().size(), 1u);
}

// --- Run-time estimate ------------------------------------------------------------------------------------------

TEST(EstimateRunTime, SumsTicksDelaysTextsAndSequentialCalls) {
    MacroLibrary lib;
    Macro b = MakeNewMacro("B");
    b.items.push_back(Wait(200));
    Macro c = MakeNewMacro("C");
    c.items.push_back(Wait(5000));
    Macro a = MakeNewMacro("A");
    a.items.insert(a.items.end(),
                   {Wait(1000), MakeDelayItem(500, DelayTime, 3), MakeStringItem("abc"),
                    MakeStringItem("note", TextComment), KeyStroke('K'), MakeCallItem("B", CallSequential),
                    MakeCallItem("B", CallStop), MakeCallItem("C", CallParallel),
                    MakeCallItem("nobody", CallSequential), MakeDelayItem(5000, 0x07), MakeDelayItem('A', DelayKey),
                    Loop(LoopEnter, 1, 1, 100), Loop(LoopLeave)});
    lib = {a, b, c};
    int32_t counter = 0;
    const int32_t bTime = 33 * 1 + 200;
    EXPECT_EQ(EstimateRunTime(lib, lib[0], 33, counter), 33 * 13 + 1000 + 500 + 33 * 2 + 33 * 3 + 2 * bTime);
    EXPECT_EQ(counter, 3);
}

TEST(EstimateRunTime, CyclesAndLargeTreesAndSumsSaturate) {
    MacroLibrary lib;
    Macro self = MakeNewMacro("self");
    self.items.push_back(MakeCallItem("self", CallSequential));
    Macro wide = MakeNewMacro("wide");
    for (int i = 0; i < 11; ++i) wide.items.push_back(MakeCallItem("leaf", CallSequential));
    Macro leaf = MakeNewMacro("leaf");
    Macro many = MakeNewMacro("many");
    for (int i = 0; i < 25; ++i) many.items.push_back(MakeCallItem("self", CallSequential));
    Macro longDelays = MakeNewMacro("long");
    Macro negative = MakeNewMacro("negative");
    for (int i = 0; i < 3; ++i) {
        longDelays.items.push_back(Wait(INT32_MAX));
        negative.items.push_back(Wait(INT32_MIN));
    }
    Macro text = MakeNewMacro("text");
    text.items.push_back(MakeStringItem(std::string(1000, 'x')));
    lib = {self, wide, leaf, many, longDelays, negative, text};
    auto estimate = [&](std::size_t i, int32_t eventDelay = 33) {
        int32_t counter = 0;
        return EstimateRunTime(lib, lib[i], eventDelay, counter);
    };
    EXPECT_GE(estimate(0), kEstimateCycle);
    EXPECT_GE(estimate(1), kEstimateCycle); // more than ten evaluations in all
    EXPECT_EQ(estimate(2), 0);
    EXPECT_EQ(estimate(3), INT32_MAX);
    EXPECT_EQ(estimate(4), INT32_MAX);
    EXPECT_EQ(estimate(5), INT32_MIN);
    EXPECT_EQ(estimate(6, INT32_MAX), INT32_MAX);
}

} // namespace
} // namespace quillet::enginetest
