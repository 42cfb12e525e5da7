// Scheduler, delays and waits, exclusive sections and calls, run tick by tick on virtual time.
#include "engine/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine_fixture.h"

namespace quillet::enginetest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr int32_t kClockForm3 = 0x07; // clock wait, hours minutes seconds
constexpr int32_t kClockForm2 = 0x05;
constexpr int32_t kClockForm1 = 0x03;
constexpr int32_t kClockForm0 = 0x01;

MacroItem KeyWait(int32_t condition) {
    return MakeDelayItem(condition, DelayKey);
}
MacroItem ColorWait(int r, int g, int b, int tolerance, int x, int y) {
    return MakeDelayItem(MakeColor(r, g, b) | (tolerance << 24), DelayColor, PackPoint(x, y));
}

// --- Passes and repeats -------------------------------------------------------------------------------------------

TEST_F(EngineTest, RepeatCountStopsAfterThatManyPassesAndZeroRepeatsForever) {
    const auto three = Add("three", {KeyStroke('A')}, 3);
    const auto endless = Add("endless", {KeyStroke('B')}, 0);
    Start(three);
    Start(endless);
    Ticks(5);
    EXPECT_FALSE(IsRunning(M(three)));
    EXPECT_EQ(M(three).passCount, 3);
    EXPECT_EQ(M(three).runPos, M(three).itemCount());
    EXPECT_EQ(fake.KeyEvents().size(), 2u * 3 + 2u * 5);
    Ticks(45);
    EXPECT_TRUE(IsRunning(M(endless)));
    EXPECT_EQ(M(endless).passCount, 50);
}

TEST_F(EngineTest, MacrosAreSteppedOnlyInRunModeAndFromItemOne) {
    const auto a = Add("a", {KeyStroke('A')}, 0);
    const auto onlyStart = Add("start only", {}, 0);
    Start(a);
    Start(onlyStart);
    EXPECT_FALSE(IsRunning(M(onlyStart))); // runPos 1 is past its single item: never stepped, no pass
    engine.runMode = false;
    Tick();
    EXPECT_TRUE(fake.events().empty());
    EXPECT_EQ(engine.lastTickTime, fake.NowMs()); // the tick time moves on in edit mode too
    engine.runMode = true;
    Start(a, 0); // position 0 counts as running but is never stepped
    Tick();
    EXPECT_TRUE(fake.events().empty());
    EXPECT_EQ(M(onlyStart).passCount, 0);
}

TEST_F(EngineTest, PassesRestartAtItemOneKeepingTheRestOfTheRunState) {
    const auto a = Add("a", {MakeKeyItem('S', ActionPress), KeyStroke('A')}, 2);
    Start(a);
    Ticks(2);
    EXPECT_EQ(M(a).runPos, 1);
    EXPECT_EQ(M(a).heldInputs['S'], 1);
    Ticks(2);
    EXPECT_EQ(M(a).passCount, 2);
    EXPECT_EQ(fake.KeyEvents().size(), 6u);
}

// --- Delays -------------------------------------------------------------------------------------------------------

TEST_F(EngineTest, DelayArmsWithoutCountingAndFinishesWhenTheTimeIsUsedUp) {
    const auto a = Add("a", {Wait(100), KeyStroke('A')});
    const auto b = Add("b", {Wait(99), KeyStroke('B')});
    const auto c = Add("c", {Wait(0), KeyStroke('C')});
    Start(a);
    Start(b);
    Start(c);
    Tick();
    EXPECT_EQ(M(a).delayLeft, 100);
    Ticks(5);
    // 100 ms: armed at 1, 67, 34, 1, finished at 5, next item at 6. 99 ms reaches 0 at 4. 0 ms finishes at once.
    EXPECT_THAT(fake.events(), ElementsAreArray(StrokesAt({{'C', 2}, {'B', 5}, {'A', 6}})));
    EXPECT_EQ(M(a).delayLeft, 0); // the overshoot is dropped
}

TEST_F(EngineTest, RandomSpreadStaysWithinItsLevel) {
    struct Case {
        int level;
        int32_t low, high;
    };
    for (const Case& c : {Case{5, 500, 1500}, Case{1, 900, 1100}, Case{10, 0, 2000}, Case{20, 0, 2000}}) {
        library.clear();
        const auto a = Add("a", {MakeDelayItem(1000, DelayTime, c.level)});
        int32_t low = INT32_MAX, high = INT32_MIN;
        double sum = 0;
        constexpr int kRuns = 20000;
        for (int i = 0; i < kRuns; ++i) {
            Start(a);
            engine.StepMacro(M(a), 0);
            const int32_t v = M(a).delayLeft;
            low = std::min(low, v);
            high = std::max(high, v);
            sum += v;
        }
        SCOPED_TRACE(c.level);
        EXPECT_GE(low, c.low);
        EXPECT_LE(high, c.high);
        // The extremes are nearly reached, and the mean is that of rand() mod (2h + 1) over all 32768 results
        // (slightly below the delay: the low remainders are one result more frequent).
        const int32_t slack = (c.high - c.low) / 50;
        EXPECT_LE(low, c.low + slack);
        EXPECT_GE(high, c.high - slack);
        const int h = std::min(c.level, 10) * 100;
        double expected = 0;
        for (int k = 0; k < 32768; ++k) expected += 1000 + static_cast<int>(1000 * ((k % (2 * h + 1) - h) / 1000.0));
        expected /= 32768;
        EXPECT_NEAR(sum / kRuns, expected, 8.0);
    }
    // Negative levels count as none.
    library.clear();
    const auto a = Add("a", {MakeDelayItem(1000, DelayTime, -4)});
    Start(a);
    engine.StepMacro(M(a), 0);
    EXPECT_EQ(M(a).delayLeft, 1000);
}

TEST_F(EngineTest, HugeDelaysAndElapsedTimesDoNotOverflow) {
    const auto a = Add("a", {MakeDelayItem(INT32_MAX, DelayTime, 10)});
    const auto b = Add("b", {Wait(INT32_MAX)});
    for (int i = 0; i < 200; ++i) {
        Start(a);
        engine.StepMacro(M(a), 0);
        ASSERT_GE(M(a).delayLeft, 0);
    }
    Start(b);
    engine.StepMacro(M(b), 0);
    engine.StepMacro(M(b), INT32_MIN); // a negative elapsed time never wraps the countdown
    EXPECT_EQ(M(b).delayLeft, INT32_MAX);
}

TEST_F(EngineTest, ClockWaitsCountFromTheLocalTimeOfTheArmingStep) {
    struct Case {
        int h, m, s;
        int32_t target, kind, expected;
    };
    const Case cases[] = {
        {0, 0, 10, 86399000, kClockForm3, 86389000}, // 23:59:59 reached at 00:00:10: same day
        {0, 0, 10, 10000, kClockForm3, 86400000},    // the current second: a whole day
        {10, 5, 30, 300000, kClockForm2, 3570000},   // minute 5 has passed: next hour
        {10, 5, 30, 400000, kClockForm2, 70000},     //
        {10, 5, 30, 45000, kClockForm1, 15000},      //
        {10, 5, 30, 15000, kClockForm1, 45000},      //
        {10, 5, 30, 12345678, kClockForm0, 1000},    // no time form: one second
    };
    for (const Case& c : cases) {
        library.clear();
        const auto a = Add("a", {MakeDelayItem(c.target, c.kind)});
        fake.SetLocalTime(c.h, c.m, c.s);
        Start(a);
        engine.StepMacro(M(a), 0);
        EXPECT_EQ(M(a).delayLeft, c.expected) << c.target;
    }
    // Once armed, the clock is not read again.
    library.clear();
    const auto a = Add("a", {MakeDelayItem(12 * 3600000 + 2000, kClockForm3), KeyStroke('A')});
    fake.SetLocalTime(12, 0, 0);
    Start(a);
    Tick();
    EXPECT_EQ(M(a).delayLeft, 2000);
    fake.SetLocalTime(18, 0, 0);
    Tick(1000);
    Tick(1000);
    Tick();
    EXPECT_THAT(fake.events(), ElementsAreArray(StrokeEvents('A', 4)));
}

TEST_F(EngineTest, ElapsedTimeIsMeasuredAcrossTheClockWrap) {
    const auto a = Add("a", {Wait(100), KeyStroke('A')});
    fake.SetNowMs(0xFFFFFFE0u);
    engine.lastTickTime = fake.NowMs();
    Start(a);
    Tick(33); // the clock wraps here
    EXPECT_LT(fake.NowMs(), 100u);
    Tick(50);
    EXPECT_EQ(M(a).delayLeft, 50);
    Tick(50);
    Tick(50);
    EXPECT_THAT(fake.events(), ElementsAreArray(StrokeEvents('A', 4)));
}

TEST_F(EngineTest, FirstTickWithAHugeElapsedTimeShortensNoDelay) {
    for (const uint32_t gap : {2000000000u, 3000000000u}) { // the second one reads as negative
        library.clear();
        const auto a = Add("a", {Wait(100), KeyStroke('A')});
        engine.lastTickTime = 0;
        fake.SetNowMs(0);
        Start(a);
        Tick(gap);
        EXPECT_EQ(M(a).delayLeft, 100) << gap;
    }
}

TEST_F(EngineTest, StoppedMacroLosesItsDelayAndRestartsFresh) {
    const auto a = Add("a", {KeyStroke('A'), Wait(1000), KeyStroke('B')});
    Start(a);
    Ticks(3);
    EXPECT_EQ(M(a).delayLeft, 967);
    engine.StopMacro(M(a), HeldInput::AsSettingSays);
    Start(a);
    EXPECT_EQ(M(a).delayLeft, 0);
    EXPECT_EQ(M(a).runPos, 1);
}

TEST_F(EngineTest, UnknownDelayKindWaitsUntilStopped) {
    const auto a = Add("a", {MakeDelayItem(10, 0x40), KeyStroke('A')});
    Start(a);
    Ticks(20);
    EXPECT_EQ(M(a).runPos, 1);
    EXPECT_TRUE(fake.events().empty());
}

// --- Key and colour waits -------------------------------------------------------------------------------------------

TEST(KeyConditionMatches, FollowsTheHotkeyRule) {
    const int32_t a = 'A';
    EXPECT_TRUE(KeyConditionMatches(a, a));
    EXPECT_TRUE(KeyConditionMatches(a, a | KeyCtrl | KeyShift)); // modifiers ignored without bit 20
    EXPECT_FALSE(KeyConditionMatches(a, 'B'));
    EXPECT_FALSE(KeyConditionMatches(a, a | KeyRelease));
    EXPECT_TRUE(KeyConditionMatches(a | KeyRelease, a | KeyRelease));
    EXPECT_FALSE(KeyConditionMatches(a | KeyRelease, a));
    EXPECT_TRUE(KeyConditionMatches(a | KeyExactModifiers | KeyCtrl, a | KeyCtrl));
    EXPECT_FALSE(KeyConditionMatches(a | KeyExactModifiers | KeyCtrl, a | KeyCtrl | KeyShift));
    EXPECT_FALSE(KeyConditionMatches(a | KeyExactModifiers | KeyCtrl, a));
    EXPECT_TRUE(KeyConditionMatches(a | KeyExactModifiers, a));
    EXPECT_FALSE(KeyConditionMatches(a | KeyExactModifiers, a | KeyAlt));
    // Hotkeys keep code 0 literal; a key wait without a key takes any key.
    EXPECT_FALSE(KeyConditionMatches(0, a));
    EXPECT_TRUE(KeyWaitMatches(0, a));
    EXPECT_TRUE(KeyWaitMatches(0, 1)); // a mouse button is a key here too
    EXPECT_FALSE(KeyWaitMatches(0, a | KeyRelease));
    EXPECT_TRUE(KeyWaitMatches(KeyRelease, a | KeyRelease));
    EXPECT_FALSE(KeyWaitMatches(KeyExactModifiers | KeyCtrl, a));
    EXPECT_TRUE(KeyWaitMatches(KeyExactModifiers | KeyCtrl, a | KeyCtrl));
    EXPECT_FALSE(KeyWaitMatches('B', a));
}

TEST_F(EngineTest, KeyWaitCountsOnlyEventsAfterItWasReached) {
    const auto a = Add("a", {KeyWait('A' | KeyRelease), KeyStroke('B')});
    Start(a);
    engine.OnKeyEventForWaits('A' | KeyRelease); // before the item is reached
    Tick();
    Tick();
    EXPECT_EQ(M(a).runPos, 1);
    engine.OnKeyEventForWaits('A'); // a press does not satisfy a release wait
    Tick();
    EXPECT_EQ(M(a).runPos, 1);
    engine.OnKeyEventForWaits('A' | KeyRelease | KeyShift);
    Tick();
    EXPECT_EQ(M(a).runPos, 2);
    EXPECT_EQ(M(a).waitKey, 0);
    EXPECT_EQ(M(a).waitKeyPhase, WaitNone);
    Tick();
    EXPECT_THAT(fake.events(), ElementsAreArray(StrokeEvents('B', 5)));
}

TEST_F(EngineTest, KeyWaitWithoutAKeyWaitsForAnyKey) {
    const auto press = Add("press", {KeyWait(0), KeyStroke('B')});
    const auto release = Add("release", {KeyWait(KeyRelease), KeyStroke('C')});
    Start(press);
    Start(release);
    Tick();
    engine.OnKeyEventForWaits('Q');
    Tick();
    EXPECT_EQ(M(press).runPos, 2);
    EXPECT_EQ(M(release).runPos, 1);
    engine.OnKeyEventForWaits(0x0A | KeyRelease);
    Tick();
    EXPECT_EQ(M(release).runPos, 2);
}

TEST_F(EngineTest, KeyWaitsAreServedOnlyForRunningMacros) {
    const auto a = Add("a", {KeyWait('A'), KeyStroke('B')});
    Start(a);
    Tick();
    engine.StopMacro(M(a), HeldInput::AsSettingSays);
    engine.OnKeyEventForWaits('A');
    EXPECT_NE(M(a).waitKeyPhase, WaitSatisfied);
    Start(a); // a restart never inherits a wait
    EXPECT_EQ(M(a).waitKeyPhase, WaitNone);
    EXPECT_EQ(M(a).waitKey, 0);
    // The editor's working copy is served on its own.
    Macro copy = M(a);
    engine.StartMacro(copy, 1);
    engine.StepMacro(copy, 0);
    EXPECT_FALSE(Engine::NoteKeyEvent(copy, 'B'));
    EXPECT_TRUE(Engine::NoteKeyEvent(copy, 'A'));
    engine.StepMacro(copy, 0);
    EXPECT_EQ(copy.runPos, 2);
}

TEST(ColorWithinTolerance, BoundsIncludedAndToleranceUnsigned) {
    const int32_t wanted = MakeColor(100, 150, 200) | (10 << 24);
    EXPECT_TRUE(ColorWithinTolerance(static_cast<uint32_t>(MakeColor(110, 140, 190)), wanted));
    EXPECT_TRUE(ColorWithinTolerance(static_cast<uint32_t>(MakeColor(90, 160, 210)), wanted));
    EXPECT_FALSE(ColorWithinTolerance(static_cast<uint32_t>(MakeColor(111, 150, 200)), wanted));
    EXPECT_FALSE(ColorWithinTolerance(static_cast<uint32_t>(MakeColor(100, 139, 200)), wanted));
    EXPECT_FALSE(ColorWithinTolerance(static_cast<uint32_t>(MakeColor(100, 150, 211)), wanted));
    EXPECT_TRUE(ColorWithinTolerance(0, 0)); // black, tolerance 0
    EXPECT_FALSE(ColorWithinTolerance(1, 0));
    const int32_t wide = static_cast<int32_t>(0xC8000000u); // black with tolerance 200: a negative word
    EXPECT_TRUE(ColorWithinTolerance(static_cast<uint32_t>(MakeColor(200, 200, 200)), wide));
    EXPECT_FALSE(ColorWithinTolerance(static_cast<uint32_t>(MakeColor(201, 0, 0)), wide));
    EXPECT_TRUE(ColorWithinTolerance(0xFFFFFFFFu, MakeColor(255, 255, 255))); // an unreadable pixel reads as white
}

TEST_F(EngineTest, ColorWaitIsServedByThePollerAndFinishesAtTheNextStep) {
    const auto a = Add("a", {ColorWait(100, 150, 200, 10, 50, 60), KeyStroke('B')});
    Start(a);
    fake.SetPixel(50, 60, static_cast<uint32_t>(MakeColor(110, 140, 190)));
    engine.ServeColorWaits(fake); // not armed yet
    Tick();
    EXPECT_EQ(M(a).waitColorPhase, WaitArmed);
    fake.SetPixel(50, 60, static_cast<uint32_t>(MakeColor(111, 150, 200)));
    engine.ServeColorWaits(fake);
    Tick();
    EXPECT_EQ(M(a).runPos, 1);
    fake.SetPixel(50, 60, static_cast<uint32_t>(MakeColor(110, 140, 190)));
    engine.ServeColorWaits(fake);
    Tick();
    EXPECT_EQ(M(a).runPos, 2);
    EXPECT_EQ(M(a).waitColor, 0);
    EXPECT_EQ(M(a).waitColorPos, 0);
    Tick();
    EXPECT_THAT(fake.events(), ElementsAreArray(StrokeEvents('B', 4)));
}

TEST_F(EngineTest, ColorWaitsForBlackAtTheOriginAndWideTolerancesAreServed) {
    const auto black = Add("black", {ColorWait(0, 0, 0, 0, 0, 0)}); // item value 0 and position 0, 0
    const auto wide = Add("wide", {ColorWait(0, 0, 0, 200, 5, 5)}); // item value negative
    const auto offScreen = Add("off", {ColorWait(255, 255, 255, 0, -3000, -3000)});
    Start(black);
    Start(wide);
    Start(offScreen);
    fake.SetPixel(0, 0, 0);
    fake.SetPixel(5, 5, static_cast<uint32_t>(MakeColor(201, 0, 0)));
    Tick();
    engine.ServeColorWaits(fake);
    EXPECT_EQ(M(black).waitColorPhase, WaitSatisfied);
    EXPECT_EQ(M(wide).waitColorPhase, WaitArmed);
    EXPECT_EQ(M(offScreen).waitColorPhase, WaitSatisfied);
    fake.SetPixel(5, 5, static_cast<uint32_t>(MakeColor(200, 0, 200)));
    engine.ServeColorWaits(fake);
    Tick();
    EXPECT_EQ(M(black).passCount, 1);
    EXPECT_EQ(M(wide).passCount, 1);
    EXPECT_EQ(M(offScreen).passCount, 1);
}

// --- Exclusive sections -----------------------------------------------------------------------------------------

TEST_F(EngineTest, ExclusiveSectionFreezesOtherMacrosWithTheirDelays) {
    const auto a =
        Add("a", {MakeExclusiveItem(true), KeyStroke('X'), KeyStroke('Y'), MakeExclusiveItem(false), KeyStroke('Z')});
    const auto b = Add("b", {Wait(66), KeyStroke('B')});
    Start(b);
    Tick(); // b arms 66
    Start(a);
    Tick(); // a enters
    EXPECT_EQ(engine.exclusiveCount, 1);
    EXPECT_TRUE(M(a).holdsExclusive);
    Ticks(2); // X, Y
    EXPECT_EQ(M(b).delayLeft, 66);
    Tick(); // a leaves; b, after a in the library, counts in the same tick
    EXPECT_EQ(engine.exclusiveCount, 0);
    EXPECT_EQ(M(b).delayLeft, 33);
    Ticks(2);
    EXPECT_THAT(fake.events(), ElementsAreArray(StrokesAt({{'X', 3}, {'Y', 4}, {'Z', 6}, {'B', 7}})));
}

TEST_F(EngineTest, FrozenMacroCanBeStoppedAndHolderStopReleasesTheSection) {
    const auto a = Add("a", {MakeExclusiveItem(true), Wait(10000)});
    const auto b = Add("b", {KeyStroke('B')}, 0);
    const auto c = Add("c", {KeyWait('K'), KeyStroke('C')});
    Start(b);
    Start(c);
    Tick(); // b types, c arms its wait
    Start(a);
    Ticks(3);
    EXPECT_EQ(fake.KeyEvents().size(), 2u);
    engine.OnKeyEventForWaits('K'); // noticed while frozen
    engine.StopMacro(M(b), HeldInput::AsSettingSays);         // its stop key still works
    EXPECT_FALSE(IsRunning(M(b)));
    engine.StopMacro(M(a), HeldInput::AsSettingSays);
    EXPECT_EQ(engine.exclusiveCount, 0);
    EXPECT_FALSE(M(a).holdsExclusive);
    Ticks(2);
    EXPECT_THAT(fake.events(), ElementsAreArray(StrokesAt({{'B', 1}, {'C', 6}})));
}

TEST_F(EngineTest, ExclusiveEnterDoesNotNestAndLeaveWithoutHoldingChangesNothing) {
    const auto b = Add("b", {MakeExclusiveItem(false), KeyStroke('B')});
    const auto a =
        Add("a", {MakeExclusiveItem(true), MakeExclusiveItem(true), MakeExclusiveItem(false), KeyStroke('A')});
    Start(a);
    Ticks(2);
    EXPECT_EQ(engine.exclusiveCount, 1);
    Start(b); // started while the section is taken: waits at its first item
    Tick();
    EXPECT_EQ(M(b).runPos, 1);
    EXPECT_EQ(engine.exclusiveCount, 0);
    Tick(); // b's leave without holding changes nothing
    EXPECT_EQ(engine.exclusiveCount, 0);
    EXPECT_EQ(M(b).runPos, 2);
    EXPECT_FALSE(M(b).holdsExclusive);
}

TEST_F(EngineTest, RestartingOrStoppingAllReleasesTheSection) {
    const auto a = Add("a", {MakeExclusiveItem(true), Wait(10000)});
    Start(a);
    Tick();
    ASSERT_EQ(engine.exclusiveCount, 1);
    Start(a); // a trigger restarting the holder must not leave the section taken by nobody
    EXPECT_EQ(engine.exclusiveCount, 0);
    Tick();
    ASSERT_EQ(engine.exclusiveCount, 1);
    engine.StopAllMacros(HeldInput::AsSettingSays);
    EXPECT_EQ(engine.exclusiveCount, 0);
    EXPECT_FALSE(engine.runMode);
}

// --- Calls --------------------------------------------------------------------------------------------------------

TEST_F(EngineTest, ParallelCallRunsTheCalledMacroInTheSameTickOnlyWhenItComesLater) {
    {
        const auto a = Add("A", {MakeCallItem("B", CallParallel), KeyStroke('1')});
        Add("B", {KeyStroke('2')});
        Start(a);
        Ticks(2);
        EXPECT_THAT(fake.events(), ElementsAreArray(StrokesAt({{'2', 1}, {'1', 2}})));
    }
    library.clear();
    fake.ClearEvents();
    {
        Add("B", {KeyStroke('2')});
        const auto a = Add("A", {MakeCallItem("B", CallParallel), KeyStroke('1')});
        Start(a);
        Ticks(2);
        EXPECT_THAT(fake.events(), ElementsAreArray(StrokesAt({{'2', tickNo}, {'1', tickNo}})));
    }
}

TEST_F(EngineTest, SequentialCallWaitsForAllPassesOfTheCalledMacro) {
    {
        const auto a = Add("A", {MakeCallItem("B", CallSequential), KeyStroke('1')});
        Add("B", {KeyStroke('2'), KeyStroke('3')}, 2);
        Start(a);
        Ticks(6);
        EXPECT_THAT(fake.events(), ElementsAreArray(StrokesAt({{'2', 1}, {'3', 2}, {'2', 3}, {'3', 4}, {'1', 6}})));
    }
    library.clear();
    fake.ClearEvents();
    tickNo = 0;
    {
        // Called macro first in the library: the caller sees it idle in the tick it ends.
        Add("B", {KeyStroke('2'), KeyStroke('3')});
        const auto a = Add("A", {MakeCallItem("B", CallSequential), KeyStroke('1')});
        Start(a);
        Ticks(4);
        EXPECT_THAT(fake.events(), ElementsAreArray(StrokesAt({{'2', 2}, {'3', 3}, {'1', 4}})));
        EXPECT_EQ(M(a).itemProgress, 0);
    }
}

TEST_F(EngineTest, SequentialCallOfARunningMacroWaitsWithoutRestartingIt) {
    const auto a = Add("A", {MakeCallItem("B", CallSequential), KeyStroke('1')});
    const auto b = Add("B", {Wait(1000), KeyStroke('2')});
    Start(b);
    Tick();
    Start(a);
    Tick();
    EXPECT_EQ(M(b).delayLeft, 967);
    EXPECT_EQ(M(a).itemProgress, 1);
    engine.StopMacro(M(b), HeldInput::AsSettingSays); // its stop key
    Ticks(2);
    EXPECT_THAT(fake.events(), ElementsAreArray(StrokeEvents('1', 4)));
}

TEST_F(EngineTest, CallStopAndUnknownNames) {
    settings.macroOptions = OptionReleaseHeldOnStop;
    const auto a = Add("A", {MakeCallItem("B", CallStop), MakeCallItem("nobody", CallSequential),
                             MakeCallItem("C", CallStop), KeyStroke('1')});
    Add("B", {});
    const auto c = Add("C", {MakeKeyItem('S', ActionPress), Wait(10000)});
    Start(c);
    Start(a);
    Ticks(5);
    EXPECT_FALSE(IsRunning(M(c)));
    // c pressed S in tick 1 and is stopped (releasing S) by a in tick 3.
    EXPECT_THAT(fake.events(), ElementsAre(Key('S', 0, 1), Key('S', 3, 3), Key('1', 0, 4), Key('1', 2, 4)));
    EXPECT_EQ(log.size(), 5u);
}

TEST_F(EngineTest, MacroStoppingItselfEndsThereAndReleasesOnce) {
    settings.macroOptions = OptionReleaseHeldOnStop;
    for (const int repeat : {0, 2}) {
        library.clear();
        fake.ClearEvents();
        tickNo = 0;
        const auto a = Add("A", {MakeKeyItem('S', ActionPress), MakeCallItem("A", CallStop), KeyStroke('Z')}, repeat);
        Start(a);
        Ticks(4);
        EXPECT_FALSE(IsRunning(M(a))) << repeat;
        EXPECT_EQ(M(a).passCount, repeat);
        EXPECT_THAT(fake.events(), ElementsAre(Key('S', 0, 1), Key('S', 3, 2)));
    }
}

TEST_F(EngineTest, SchedulerCopesWithTheLibraryChangingDuringAPass) {
    const auto a = Add("A", {KeyStroke('1')}, 0);
    Add("B", {KeyStroke('2')}, 0);
    Start(0);
    Start(1);
    bool grown = false;
    engine.SetLogSink([&](const std::string&) {
        if (grown) return;
        grown = true;
        Macro extra = MakeNewMacro("C");
        extra.items.push_back(KeyStroke('3'));
        library.push_back(std::move(extra));
        engine.StartMacro(library.back(), 1);
    });
    Tick();
    EXPECT_EQ(fake.KeyEvents().size(), 6u); // the macro added during the pass ran in it
    engine.SetLogSink([&](const std::string&) { library.pop_back(); });
    Tick();
    EXPECT_EQ(library.size(), 1u);
    EXPECT_TRUE(IsRunning(M(a)));
}

// --- Run events -----------------------------------------------------------------------------------------------------

TEST_F(EngineTest, RunEventsTellEveryStartAndEndOnceAndInTheirPlaceAmongTheItemLines) {
    // One list for both sinks: "A" an item line of A, "+A" started, "-A" stopped, "=A" finished.
    std::vector<std::string> seen;
    engine.SetLogSink([&](const std::string& line) { seen.push_back(line.substr(0, line.find(':'))); });
    engine.SetRunSink([&](const Macro& m, Engine::RunEvent event) {
        const char* mark = event == Engine::RunEvent::Started ? "+" : event == Engine::RunEvent::Stopped ? "-" : "=";
        seen.push_back(mark + m.name);
    });
    const auto took = [&] { return std::exchange(seen, {}); };
    using V = std::vector<std::string>;

    // Finished after the last pass only; a macro started by a call is started before the caller's call line.
    const auto a = Add("A", {KeyStroke('1')}, 2);
    const auto caller = Add("P", {MakeCallItem("Q", CallParallel)});
    Add("Q", {KeyStroke('2')});
    Start(a);
    Start(caller);
    Ticks(3);
    EXPECT_EQ(took(), (V{"+A", "+P", "A", "+Q", "P", "=P", "Q", "=Q", "A", "=A"}));

    // Only the start item: started and at once finished; no step ends it again.
    const auto only = Add("S", {});
    Start(only);
    Ticks(2);
    EXPECT_EQ(took(), (V{"+S", "=S"}));

    // A restart of a running macro ends the old run first; stopping a macro that does not run tells nothing.
    const auto holder = Add("L", {MakeKeyItem(0x10, ActionPress), Wait(100000)});
    Start(holder);
    Tick();
    Start(holder);
    engine.StopMacro(M(a), HeldInput::AsSettingSays);
    EXPECT_EQ(took(), (V{"+L", "L", "-L", "+L"}));

    // Leaving run mode stops it; the release of what it still holds at the end of the program tells nothing more.
    Tick();
    engine.StopAllMacros(HeldInput::AsSettingSays);
    EXPECT_EQ(took(), (V{"L", "-L"}));
    fake.ClearEvents();
    engine.StopEverything(HeldInput::Release);
    EXPECT_EQ(fake.KeyEvents().size(), 1u) << "the Shift held by L is released";
    EXPECT_EQ(took(), V{});

    // The editor's working copy: its test run ends by itself in the editor's tick.
    Macro copy = M(a);
    copy.setRepeatCount(1);
    uint32_t editorLastTick = fake.NowMs();
    engine.StartMacro(copy, 1);
    fake.AdvanceMs(33);
    engine.OnEditorTimer(copy, editorLastTick);
    engine.OnEditorTimer(copy, editorLastTick);
    EXPECT_EQ(took(), (V{"+A", "A", "=A"}));
}

} // namespace
} // namespace quillet::enginetest
