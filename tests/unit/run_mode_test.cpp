// Run and edit mode, hotkeys, the toggle key, clock windows, colour conditions and waits.
#include <string>
#include <vector>

#include "model/cp949.h"
#include "model/item_text.h"
#include "trigger_fixture.h"
#include "triggers/pixel_batch.h"

namespace quillet::triggertest {
namespace {

using ::testing::ElementsAre;

constexpr int kF12 = 123;
constexpr uint8_t kLCtrl = 0xA2, kRCtrl = 0xA3, kLAlt = 0xA4, kRShift = 0xA1;

// --- Key event codes and hotkeys -------------------------------------------------------------------------------------

TEST_F(TriggerTest, KeyEventCodeSamplesEitherModifierKeyNow) {
    EXPECT_EQ(MakeKeyEventCode('A', true, fake), 'A');
    EXPECT_EQ(MakeKeyEventCode('A', false, fake), 'A' | KeyRelease);
    fake.SetKeyDown(kRCtrl, true);
    fake.SetKeyDown(kLAlt, true);
    fake.SetKeyDown(kRShift, true);
    EXPECT_EQ(MakeKeyEventCode(0x1A5, true, fake), 0xA5 | KeyCtrl | KeyAlt | KeyShift);
}

TEST_F(TriggerTest, HotkeyModifierRule) {
    const std::size_t loose = Add("loose", FlagStartKey);
    M(loose).startKey = 'A';
    const std::size_t exact = Add("exact", FlagStartKey);
    M(exact).startKey = 'B' | KeyExactModifiers | KeyCtrl;
    EnterRun();

    // Without bit 20 any modifiers are accepted.
    fake.SetKeyDown(kLAlt, true);
    fake.SetKeyDown(kRShift, true);
    Press('A');
    EXPECT_TRUE(Running(loose));

    // With bit 20 exactly the stored modifiers: Ctrl alone, left or right.
    Press('B');
    EXPECT_FALSE(Running(exact)) << "Alt and Shift held as well";
    fake.SetKeyDown(kLAlt, false);
    fake.SetKeyDown(kRShift, false);
    Press('B');
    EXPECT_FALSE(Running(exact)) << "no Ctrl";
    fake.SetKeyDown(kRCtrl, true);
    Press('B');
    EXPECT_TRUE(Running(exact));
}

TEST_F(TriggerTest, ReleaseHotkeysFireOnReleaseOnly) {
    const std::size_t m = Add("m", FlagStartKey | FlagStopKey);
    M(m).startKey = 'S' | KeyRelease;
    M(m).stopKey = 'T' | KeyRelease;
    EnterRun();
    Press('S');
    EXPECT_FALSE(Running(m));
    Release('S');
    EXPECT_TRUE(Running(m));
    Press('T');
    EXPECT_TRUE(Running(m));
    Release('T');
    EXPECT_FALSE(Running(m));
}

TEST_F(TriggerTest, OneKeyAsStartAndStopAlternatesAndEveryRepeatCounts) {
    const std::size_t m = Add("toggle", FlagStartKey | FlagStopKey);
    M(m).startKey = M(m).stopKey = 'Q';
    const std::size_t stopOnly = Add("stop only", FlagStopKey);
    M(stopOnly).stopKey = 'Q';
    EnterRun();
    // Auto-repeat: presses without a release in between.
    std::vector<bool> states;
    for (int i = 0; i < 4; ++i) {
        Press('Q');
        states.push_back(Running(m));
    }
    EXPECT_THAT(states, ElementsAre(true, false, true, false));
    EXPECT_FALSE(Running(stopOnly)) << "a stop key never starts";

    // A start-only key restarts a macro that ended in between.
    const std::size_t again = Add("again", FlagStartKey, true);
    M(again).startKey = 'R';
    Press('R');
    EngineTick();
    EXPECT_FALSE(Running(again));
    Press('R');
    EXPECT_TRUE(Running(again));
}

TEST_F(TriggerTest, TheInputRouterHandsRealEventsToTheMainWindow) {
    const std::size_t m = Add("m", FlagStartKey);
    M(m).startKey = 'A' | KeyExactModifiers | KeyShift;
    InputRouter router(fake);
    router.Push(run);
    EnterRun();
    platform::RawInputRecord key;
    key.vkey = 'A';
    key.message = platform::WM_KEYDOWN;
    key.injected = true; // our own output never triggers
    fake.SetKeyDown(platform::VK_LSHIFT, true);
    router.OnRawInput(key);
    EXPECT_FALSE(Running(m));
    key.injected = false;
    router.OnRawInput(key);
    EXPECT_TRUE(Running(m));
}

TEST_F(TriggerTest, HotkeysDoNothingInEditMode) {
    const std::size_t m = Add("m", FlagStartKey);
    M(m).startKey = 'A';
    Press('A');
    EXPECT_FALSE(Running(m));
}

// --- The run/edit toggle key -----------------------------------------------------------------------------------------

TEST_F(TriggerTest, ToggleKeySwitchesModesAndIsMatchedAfterwards) {
    const std::size_t onF12 = Add("on F12", FlagStartKey);
    M(onF12).startKey = kF12;
    const std::size_t other = Add("other", FlagAutoStart);

    // From edit mode, with modifiers held (they are not looked at).
    fake.SetKeyDown(kLCtrl, true);
    Press(kF12);
    EXPECT_TRUE(run.runMode());
    EXPECT_NE(settings.macroOptions & OptionRunModeOn, 0);
    EXPECT_TRUE(Running(onF12)) << "the toggle event itself starts a macro after entering run mode";
    EXPECT_TRUE(Running(other));

    Release(kF12); // a release never toggles
    EXPECT_TRUE(run.runMode());

    Press(kF12);
    EXPECT_FALSE(run.runMode());
    EXPECT_EQ(settings.macroOptions & OptionRunModeOn, 0);
    EXPECT_FALSE(Running(onF12));
    EXPECT_FALSE(Running(other));

    // The toggle key enters with the selection the window told last.
    settings.macroOptions |= OptionStartSelected;
    run.SetSelectedMacro(other);
    M(other).flags = 0;
    Press(kF12);
    EXPECT_TRUE(Running(other));
}

// --- Clock windows -------------------------------------------------------------------------------------------------

TEST(ClockWindow, ValuesByFormAndWindowRule) {
    const platform::LocalTime t{13, 45, 30};
    EXPECT_EQ(ClockValue(3, t), 13 * 3600 + 45 * 60 + 30);
    EXPECT_EQ(ClockValue(2, t), 45 * 60 + 30);
    EXPECT_EQ(ClockValue(1, t), 30);
    EXPECT_EQ(ClockValue(0, t), 0);
    // Wrapping window 50..10 (seconds of the minute).
    EXPECT_TRUE(InClockWindow(50, 10, 55));
    EXPECT_TRUE(InClockWindow(50, 10, 5));
    EXPECT_TRUE(InClockWindow(50, 10, 10));
    EXPECT_FALSE(InClockWindow(50, 10, 11));
    EXPECT_FALSE(InClockWindow(50, 10, 49));
    // Equal bounds: every moment.
    EXPECT_TRUE(InClockWindow(20, 20, 0));
    EXPECT_TRUE(InClockWindow(20, 20, 59));
}

TEST_F(TriggerTest, ClockWindowWrappingPastMidnightStartsAndStops) {
    const std::size_t m = Add("night", FlagTimeWindow | (3 << StartTimeFormShift) | (3 << StopTimeFormShift));
    M(m).startTime = 23 * 3600;
    M(m).stopTime = 3600;
    fake.SetLocalTime(23, 30, 0);
    ClockTick();
    EXPECT_FALSE(Running(m)) << "edit mode";
    EnterRun();
    fake.SetLocalTime(22, 59, 59);
    ClockTick();
    EXPECT_FALSE(Running(m));
    fake.SetLocalTime(23, 0, 0);
    ClockTick();
    EXPECT_TRUE(Running(m));
    fake.SetLocalTime(0, 30, 0);
    ClockTick();
    EXPECT_TRUE(Running(m));
    fake.SetLocalTime(1, 0, 0);
    ClockTick();
    EXPECT_TRUE(Running(m));
    fake.SetLocalTime(1, 0, 1);
    ClockTick();
    EXPECT_FALSE(Running(m));
}

TEST_F(TriggerTest, ClockWindowWithEqualBoundsIsAlwaysOnAndLevelTriggered) {
    const std::size_t m = Add("always", FlagTimeWindow | (2 << StartTimeFormShift), true);
    M(m).startTime = M(m).stopTime = 600;
    EnterRun();
    fake.SetLocalTime(5, 17, 3);
    ClockTick();
    EXPECT_TRUE(Running(m));
    EngineTick(); // the short macro ends inside its window ...
    EXPECT_FALSE(Running(m));
    ClockTick(); // ... and is started again at the next clock tick
    EXPECT_TRUE(Running(m));
    engine.StopMacro(M(m), HeldInput::AsSettingSays); // so is one stopped by hand
    fake.SetLocalTime(18, 0, 0);
    ClockTick();
    EXPECT_TRUE(Running(m));
}

TEST_F(TriggerTest, StopTimeOfAnotherFormIsComparedUnchanged) {
    // 10:00:00 in hours form, 30 in seconds form: the window runs from 10:00:00 to 00:00:30 the next day.
    const std::size_t m = Add("m", FlagTimeWindow | (3 << StartTimeFormShift) | (1 << StopTimeFormShift));
    M(m).startTime = 10 * 3600;
    M(m).stopTime = 30;
    EnterRun();
    fake.SetLocalTime(9, 59, 59);
    ClockTick();
    EXPECT_FALSE(Running(m));
    fake.SetLocalTime(10, 0, 0);
    ClockTick();
    EXPECT_TRUE(Running(m));
    fake.SetLocalTime(0, 0, 30);
    ClockTick();
    EXPECT_TRUE(Running(m));
    fake.SetLocalTime(0, 0, 31);
    ClockTick();
    EXPECT_FALSE(Running(m));
}

// --- Colour conditions ---------------------------------------------------------------------------------------------

TEST(ColorCondition, ToleranceBoundsAndUnreadablePixel) {
    const int32_t wanted = MakeColor(100, 150, 200);
    EXPECT_TRUE(ColorMatches(MakeColor(110, 140, 210), wanted, 10));
    EXPECT_FALSE(ColorMatches(MakeColor(111, 150, 200), wanted, 10));
    EXPECT_FALSE(ColorMatches(MakeColor(100, 150, 189), wanted, 10));
    EXPECT_TRUE(ColorMatches(platform::CLR_INVALID, MakeColor(255, 255, 255), 0));
    EXPECT_TRUE(ColorMatches(platform::CLR_INVALID, MakeColor(250, 250, 250), 5));
    EXPECT_FALSE(ColorMatches(MakeColor(0, 0, 0), 0, -1)) << "a negative tolerance matches nothing";
    EXPECT_TRUE(ColorMatches(MakeColor(0, 255, 7), 0, 0x7FFFFFFF)) << "no overflow";
}

TEST(PixelBatchTest, GivesWhatThePixelsGiveWithOneCopyWhereThatIsCheaper) {
    FakePlatform fake;
    fake.SetPrimaryScreenSize(640, 480);
    for (int i = 0; i < 200; ++i) fake.SetPixel((i * 37) % 640, (i * 91) % 480, static_cast<uint32_t>(i * 0x010305));
    const platform::ScreenRect screen = fake.VirtualScreen();
    struct Case {
        const char* what;
        std::vector<platform::ScreenPoint> points;
        bool batched;
    };
    const Case cases[] = {
        {"close together", {{37, 91}, {74, 182}, {10, 20}, {37, 91}}, true},
        {"one pixel", {{37, 91}}, false},
        {"scattered over the screen", {{0, 0}, {639, 479}}, false},
        {"close together, some off the screen", {{-1, 5}, {3, 4}, {5, -3}, {6, 9}, {700, 5}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int before = fake.captures();
        PixelBatch batch(fake, screen, c.points);
        EXPECT_EQ(batch.batched(), c.batched);
        EXPECT_EQ(fake.captures() - before, c.batched ? 1 : 0);
        for (const platform::ScreenPoint& p : c.points) EXPECT_EQ(batch.Pixel(p.x, p.y), fake.Pixel(p.x, p.y));
        EXPECT_EQ(batch.Pixel(-5, -5), platform::CLR_INVALID);
    }
}

class ColorTest : public TriggerTest {
protected:
    static constexpr uint32_t kRed = 0x0000FF;
    static constexpr uint32_t kGreen = 0x00FF00;
    std::size_t AddColor(int32_t flags, bool shortRun = false) {
        const std::size_t m = Add("colour", flags, shortRun);
        M(m).startColor = static_cast<int32_t>(kRed);
        M(m).startColorPos = PackPoint(10, 20);
        M(m).stopColor = static_cast<int32_t>(kGreen);
        M(m).stopColorPos = PackPoint(30, 40);
        M(m).colorTolerance = 0;
        return m;
    }
};

TEST_F(ColorTest, LevelModeRestartsWhileTheColourIsShown) {
    const std::size_t m = AddColor(FlagStartColor, true);
    fake.SetPixel(10, 20, kRed);
    ColorTick();
    EXPECT_FALSE(Running(m)) << "edit mode";
    EnterRun();
    ColorTick();
    EXPECT_TRUE(Running(m));
    EngineTick();
    EXPECT_FALSE(Running(m));
    ColorTick();
    EXPECT_TRUE(Running(m));
}

TEST_F(ColorTest, ChangeOnlyStartsOncePerAppearance) {
    const std::size_t m = AddColor(FlagStartColor | FlagColorOnChange, true);
    EnterRun();
    fake.SetPixel(10, 20, kRed);
    ColorTick();
    EXPECT_TRUE(Running(m));
    EngineTick();
    ColorTick();
    EXPECT_FALSE(Running(m)) << "still shown: no second start";
    fake.SetPixel(10, 20, 0);
    ColorTick();
    fake.SetPixel(10, 20, kRed);
    ColorTick();
    EXPECT_TRUE(Running(m));
}

TEST_F(ColorTest, AStartBySomethingElseClearsTheMemories) {
    const std::size_t m = AddColor(FlagStartColor | FlagStopColor | FlagColorOnChange | FlagStartKey);
    M(m).startKey = 'K';
    EnterRun();
    fake.SetPixel(30, 40, kGreen);
    Press('K');
    ColorTick();
    EXPECT_FALSE(Running(m)) << "stop colour appeared for the fresh memory";
    Press('K');
    EXPECT_TRUE(Running(m));
    ColorTick();
    EXPECT_FALSE(Running(m)) << "the hotkey start forgot that the stop colour was already seen";

    // The same for the start colour: seen once, then forgotten by a hotkey start and a stop by hand.
    fake.SetPixel(30, 40, 0);
    fake.SetPixel(10, 20, kRed);
    ColorTick();
    EXPECT_TRUE(Running(m));
    engine.StopMacro(M(m), HeldInput::AsSettingSays);
    ColorTick();
    EXPECT_FALSE(Running(m));
    Press('K');
    engine.StopMacro(M(m), HeldInput::AsSettingSays);
    ColorTick();
    EXPECT_TRUE(Running(m));
}

TEST_F(ColorTest, StartAndStopColourBothShownAlternateInLevelMode) {
    const std::size_t m = AddColor(FlagStartColor | FlagStopColor);
    EnterRun();
    fake.SetPixel(10, 20, kRed);
    fake.SetPixel(30, 40, kGreen);
    std::vector<bool> states;
    for (int i = 0; i < 4; ++i) {
        ColorTick();
        states.push_back(Running(m));
    }
    EXPECT_THAT(states, ElementsAre(true, false, true, false));
}

// --- Waits ---------------------------------------------------------------------------------------------------------

TEST_F(TriggerTest, KeyWaitsAreServedAtInputEvents) {
    const std::size_t m = Add("wait", FlagAutoStart);
    M(m).items.insert(M(m).items.begin() + 1, MakeDelayItem('K' | KeyRelease, DelayKey));
    EnterRun();
    EngineTick(); // arms the wait
    ASSERT_EQ(M(m).waitKeyPhase, WaitArmed);
    Press('K');
    Release('J');
    EngineTick();
    EXPECT_EQ(M(m).runPos, 1);
    Release('K');
    EXPECT_EQ(M(m).waitKeyPhase, WaitSatisfied);
    EngineTick();
    EXPECT_EQ(M(m).runPos, 2);
}

TEST_F(TriggerTest, ColourWaitsAreServedAtTheColourTick) {
    // Black at (0, 0) with tolerance 0: a wait whose value and position are both 0 is served too.
    const std::size_t black = Add("black", FlagAutoStart);
    M(black).items.insert(M(black).items.begin() + 1, MakeDelayItem(0, DelayColor, PackPoint(0, 0)));
    const std::size_t blue = Add("blue", FlagAutoStart);
    M(blue).items.insert(M(blue).items.begin() + 1,
                         MakeDelayItem(MakeColor(0, 0, 250) | (5 << 24), DelayColor, PackPoint(50, 60)));
    fake.SetPixel(0, 0, 0x010101);
    EnterRun();
    EngineTick();
    ColorTick();
    EXPECT_EQ(M(black).waitColorPhase, WaitArmed);
    EXPECT_EQ(M(blue).waitColorPhase, WaitArmed);
    fake.SetPixel(0, 0, 0);
    fake.SetPixel(50, 60, MakeColor(3, 2, 255));
    EngineTick();
    EXPECT_EQ(M(blue).waitColorPhase, WaitArmed) << "the engine tick does not poll colours";
    ColorTick();
    EXPECT_EQ(M(black).waitColorPhase, WaitSatisfied);
    EXPECT_EQ(M(blue).waitColorPhase, WaitSatisfied);
}

// --- Entering and leaving run mode ---------------------------------------------------------------------------------

TEST_F(TriggerTest, EnterAndLeaveRunMode) {
    const std::size_t plain = Add("plain", 0);
    const std::size_t hot = Add("hot", FlagStartKey | FlagAutoStart);
    M(hot).startKey = 'H';
    settings.colorDelay = 250;
    settings.eventDelay = 20;
    settings.sequenceStart = 77;
    engine.sequenceNumber = 5;
    engine.exclusiveCount = 1;
    std::vector<bool> told;
    run.SetRunModeSink([&](bool on) {
        told.push_back(on);
        EXPECT_FALSE(Running(hot)) << "told before the auto-start macros start and after they all stopped";
    });

    EnterRun();
    EXPECT_TRUE(engine.runMode);
    EXPECT_EQ(engine.sequenceNumber, 77);
    EXPECT_EQ(engine.exclusiveCount, 0);
    EXPECT_FALSE(Running(plain));
    EXPECT_TRUE(Running(hot));
    EXPECT_EQ(timers.Period(kTimerColor), 250u) << "a running macro's colour waits are polled";
    ASSERT_EQ(fake.timers().size(), 1u);
    EXPECT_TRUE(fake.timers()[0]->running);
    EXPECT_EQ(fake.timers()[0]->periodMs, 20u);
    EXPECT_NE(settings.macroOptions & OptionRunModeOn, 0);

    // Entering again changes nothing.
    engine.StopMacro(M(hot), HeldInput::AsSettingSays);
    EnterRun();
    EXPECT_FALSE(Running(hot));

    LeaveRun();
    EXPECT_FALSE(engine.runMode);
    EXPECT_FALSE(Running(plain));
    EXPECT_EQ(engine.sequenceNumber, 77);
    EXPECT_FALSE(fake.timers()[0]->running);
    EXPECT_EQ(timers.Period(kTimerColor), 0u);
    EXPECT_EQ(settings.macroOptions & OptionRunModeOn, 0);
    LeaveRun(); // leaving again tells nothing
    EXPECT_THAT(told, ElementsAre(true, false));
}

TEST_F(TriggerTest, TimersRunOnlyWhileTheyHaveWork) {
    const std::size_t hot = Add("hot", FlagStartKey | FlagStopKey);
    M(hot).startKey = 'H';
    M(hot).stopKey = 'J';
    settings.colorDelay = 50;
    settings.eventDelay = 10;

    // Edit mode, and run mode with a hotkey-only library and nothing running: no timer at all.
    run.UpdateTimers();
    EXPECT_TRUE(timers.running.empty());
    EnterRun();
    EXPECT_TRUE(timers.running.empty());
    EXPECT_TRUE(fake.timers().empty() || !fake.timers()[0]->running);

    // A hotkey starts the macro: the engine ticks (its first tick at once: a whole period measured), the colour
    // waits are polled; it stops and they stop.
    fake.AdvanceMs(1000);
    Press('H');
    run.UpdateTimers(); // what the session does after every start and end
    ASSERT_EQ(fake.timers().size(), 1u);
    EXPECT_TRUE(fake.timers()[0]->running);
    EXPECT_EQ(fake.timers()[0]->periodMs, 10u);
    EXPECT_EQ(fake.NowMs() - engine.lastTickTime, 10u);
    EXPECT_EQ(timers.Period(kTimerColor), 50u);
    Press('J');
    run.UpdateTimers();
    EXPECT_FALSE(fake.timers()[0]->running);
    EXPECT_TRUE(timers.running.empty());

    // Conditions that are polled keep their timers in run mode whether or not a macro runs; not in edit mode.
    const std::size_t clock = Add("clock", FlagTimeWindow);
    M(clock).startTime = M(clock).stopTime = 0;
    const std::size_t image = Add("image", FlagStartImage);
    (void)image;
    run.UpdateTimers();
    EXPECT_EQ(timers.Period(kTimerClock), 100u);
    EXPECT_EQ(timers.Period(kTimerColor), 50u);
    LeaveRun();
    EXPECT_TRUE(timers.running.empty());
}

TEST_F(TriggerTest, EnteringStartsTheSelectedMacroOnlyWithTheOptionAndASelection) {
    Add("a", 0);
    const std::size_t b = Add("b", 0);
    run.EnterRunMode(1);
    EXPECT_FALSE(Running(b)) << "option off";
    LeaveRun();

    settings.macroOptions |= OptionStartSelected;
    run.EnterRunMode(std::nullopt);
    EXPECT_FALSE(Running(0));
    EXPECT_FALSE(Running(b));
    LeaveRun();

    run.EnterRunMode(7); // stale index
    EXPECT_FALSE(Running(0));
    LeaveRun();

    run.EnterRunMode(1);
    EXPECT_FALSE(Running(0));
    EXPECT_TRUE(Running(b));
}

TEST_F(TriggerTest, StartUpRestoresTheStoredMode) {
    const std::size_t a = Add("auto", FlagAutoStart);
    run.Initialise(std::nullopt);
    EXPECT_FALSE(run.runMode());
    EXPECT_FALSE(Running(a));

    settings.macroOptions = OptionRunModeOn;
    run.Initialise(std::nullopt);
    EXPECT_TRUE(run.runMode());
    EXPECT_TRUE(Running(a));

    // Destroying the window stops everything but keeps the mode for the next start.
    run.OnMainWindowDestroyed();
    EXPECT_FALSE(Running(a));
    EXPECT_FALSE(engine.runMode);
    EXPECT_FALSE(fake.timers().back()->running);
    EXPECT_NE(settings.macroOptions & OptionRunModeOn, 0);
}

TEST_F(TriggerTest, RunListLinesAreCutAtACharacterBoundaryAndPeriodsKeptPositive) {
    // Name and " - " fill 255 bytes; the summary's first character (two bytes) would cross the 256-byte limit.
    const std::string name(252, 'n');
    const std::size_t m = Add(name, FlagStartKey);
    M(m).startKey = 'A';
    Add("plain", 0);
    ASSERT_GT(RunListText(M(m)).size(), 256u);
    EXPECT_THAT(RunListLines(library), ElementsAre(name + " - ", "plain"));
    settings.colorDelay = 0;
    settings.eventDelay = -5;
    EnterRun();
    Press('A');
    run.UpdateTimers();
    EXPECT_EQ(timers.Period(kTimerColor), 1u);
    EXPECT_EQ(fake.timers()[0]->periodMs, 1u);
}

} // namespace
} // namespace quillet::triggertest
