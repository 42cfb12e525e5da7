// Recorder rules: live input sequences against the option combinations, on the fake platform's virtual clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "editing/recorder_dialog.h"
#include "engine/input_synth.h"
#include "in_english.h"
#include "input/input_router.h"
#include "model/cp949.h"
#include "model/item_text.h"
#include "platform/fake/fake_platform.h"
#include "recorder/recorder.h"

namespace quillet {

// Readable items in failure messages.
void PrintTo(const MacroItem& item, std::ostream* os) {
    *os << "{type " << item.type << std::hex << " 0x" << item.param[0] << " 0x" << item.param[1] << " 0x"
        << item.param[2] << std::dec << "}";
}

namespace {

using platform::RawInputRecord;
using ::testing::ElementsAre;

MacroItem Start() {
    return MacroItem{};
}
MacroItem Key(int code, int32_t action, int scan = 0) {
    return MakeKeyItem(code, action, scan);
}
MacroItem Mouse(int32_t x, int32_t y, int32_t flags) {
    return MakeMouseItem(x, y, flags);
}
MacroItem Delay(int32_t ms) {
    return MakeDelayItem(ms, DelayTime, 0);
}

class RecorderTest : public ::testing::Test {
protected:
    RecorderTest() {
        fake.SetPrimaryScreenSize(1920, 1080);
        fake.SetNowMs(5000);
        settings.keyMacroRecord = 0x7A; // F11
    }
    // Opens the recorder on a fresh macro with these options, published to the router.
    MacroRecorder& Open(int32_t options) {
        settings.recOptions = options;
        if (capture) router.Remove(*capture);
        rec = std::make_unique<MacroRecorder>(macro, library, settings, fake, fake, lastPos);
        capture = std::make_unique<RecorderCapture>(*rec, router, settings, fake);
        router.Push(*capture);
        return *rec;
    }
    MacroRecorder& OpenRecording(int32_t options) {
        Open(options).ToggleRecording(true);
        return *rec;
    }
    void KeyDown(uint16_t vk, uint16_t scan = 0) { Push(vk, platform::WM_KEYDOWN, scan); }
    void KeyUp(uint16_t vk, uint16_t scan = 0) { Push(vk, platform::WM_KEYUP, scan); }
    void Push(uint16_t vk, uint32_t message, uint16_t scan) {
        RawInputRecord r;
        r.device = RawInputRecord::Device::Keyboard;
        r.vkey = vk;
        r.makeCode = scan;
        r.message = message;
        router.OnRawInput(r);
    }
    // A mouse record with the cursor at (x, y) when it is handled.
    void MouseAt(int32_t x, int32_t y, uint16_t flags, bool moved = false, int16_t data = 0) {
        fake.SetCursor(x, y);
        RawInputRecord r;
        r.device = RawInputRecord::Device::Mouse;
        r.buttonFlags = flags;
        r.buttonData = data;
        r.lastX = moved ? 1 : 0;
        router.OnRawInput(r);
    }
    void MoveTo(int32_t x, int32_t y) { MouseAt(x, y, 0, true); }
    const std::vector<MacroItem>& items() const { return macro.items; }

    platform::FakePlatform fake;
    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    MacroLibrary library;
    Macro macro;
    Point lastPos;
    InputRouter router{fake};
    std::unique_ptr<RecorderCapture> capture;
    std::unique_ptr<MacroRecorder> rec;
};

constexpr uint16_t LeftDown = platform::RI_MOUSE_LEFT_BUTTON_DOWN;
constexpr uint16_t LeftUp = platform::RI_MOUSE_LEFT_BUTTON_UP;

// --- Opening, toggling, closing ---

TEST_F(RecorderTest, NewMacroAndStoredOptions) {
    library.push_back(MakeNewMacro("Macro Rec. 1"));
    library.push_back(MakeNewMacro("Macro Rec. 3"));
    settings.recMouseDistance = 25;
    MacroRecorder& r =
        Open(static_cast<int32_t>(0xFFFF0040u)); // foreign bits and "resolution-independent" without "absolute"
    EXPECT_EQ(macro.name, "Macro Rec. 2");
    EXPECT_EQ(macro.startKey, 113);
    EXPECT_EQ(macro.stopKey, 114);
    EXPECT_EQ(macro.flags, 0x10024);
    EXPECT_THAT(items(), ElementsAre(Start()));
    EXPECT_EQ(settings.recOptions, 0);
    EXPECT_FALSE(r.IsRecording());
    EXPECT_EQ(r.mouseDistanceField, 25);
    EXPECT_EQ(r.repeatCountField, 1);
    EXPECT_EQ(Cp949ToUtf8(r.HelpText()), "F11 key로 매크로 기록을 시작하거나 중지합니다.");
    EXPECT_EQ(Cp949ToUtf8(r.RecordButtonCaption()), "기록 대기 중");
    EXPECT_EQ(Cp949ToUtf8(r.SummaryText()), "0개 항목이 기록됨 (0 초)");

    EXPECT_FALSE(r.NormalizedEnabled());
    r.SetOption(RecNormalized, true); // not available without absolute positions
    EXPECT_EQ(settings.recOptions, 0);
    r.SetOption(RecAbsolute, true);
    r.SetOption(RecNormalized, true);
    EXPECT_EQ(settings.recOptions, 0xC0);
    r.SetOption(RecAbsolute, false); // clears "resolution-independent" with it
    EXPECT_EQ(settings.recOptions, 0);

    // While recording the options and fields are locked.
    int notified = 0;
    r.onRecordingChanged = [&] { ++notified; };
    r.ToggleRecording(true);
    EXPECT_FALSE(r.OptionsEnabled());
    r.SetOption(RecKeys, true);
    EXPECT_EQ(settings.recOptions, 0);
    EXPECT_EQ(Cp949ToUtf8(r.RecordButtonCaption()), "매크로 기록 중");
    EXPECT_EQ(notified, 1);

    // A macro that already has a name is recorded into as it is.
    Macro named = MakeNewMacro("Mine");
    named.items.push_back(Key(0x41, 3));
    MacroRecorder other(named, library, settings, fake, fake, lastPos);
    EXPECT_EQ(named.name, "Mine");
    EXPECT_EQ(named.itemCount(), 2);
}

TEST_F(RecorderTest, OkAndCancelStoreFields) {
    MacroRecorder& r = Open(0xB7);
    r.mouseDistanceField = 4;
    r.eventTimeIntervalField = 250;
    r.repeatCountField = 70000;
    r.ToggleRecording(true);
    // Fields are stored at every toggle.
    EXPECT_EQ(settings.recMouseDistance, 4);
    EXPECT_EQ(settings.recEventTimeInterval, 250);
    r.Ok();
    EXPECT_FALSE(r.IsRecording());
    EXPECT_EQ(macro.repeatCount(), 65535);
    EXPECT_EQ(macro.flags & 0xFFFF, 0x24); // the low half stays
    r.repeatCountField = -3;
    r.Ok();
    EXPECT_EQ(macro.repeatCount(), 0);

    r.repeatCountField = 7;
    r.mouseDistanceField = 9;
    r.SetOption(RecWheel, true);
    r.Cancel();
    EXPECT_EQ(macro.repeatCount(), 0);       // Cancel leaves the repeat count
    EXPECT_EQ(settings.recMouseDistance, 9); // but the settings stay changed
    EXPECT_EQ(settings.recOptions, 0xBF);
}

// --- Keys ---

TEST_F(RecorderTest, RecordKeySessionWithPausesAndMerging) {
    Open(0xB7); // keys, buttons, movement, pauses, merging, absolute
    fake.AdvanceMs(1000);
    KeyDown(0x7A, 0x57); // starts recording and is recorded
    fake.AdvanceMs(50);
    KeyUp(0x7A, 0x57); // joins the press: the pause was shorter than 100 ms
    fake.AdvanceMs(250);
    KeyDown(0x41, 0x1E);
    fake.AdvanceMs(99);
    KeyUp(0x41, 0x1E);
    fake.AdvanceMs(100);
    KeyDown(0x42, 0x30); // a pause of exactly the interval is a delay item
    fake.AdvanceMs(100);
    KeyUp(0x42, 0x30);   // and with a delay item between them, press and release stay apart
    KeyDown(0x7A, 0x57); // stops recording and is not recorded
    KeyUp(0x7A, 0x57);
    KeyDown(0x43);
    EXPECT_THAT(items(), ElementsAre(Start(), Key(0x7A, 3, 0x57), Delay(250), Key(0x41, 3, 0x1E), Delay(100),
                                     Key(0x42, 1, 0x30), Delay(100), Key(0x42, 2, 0x30)));
    EXPECT_FALSE(rec->IsRecording());
    // 7 items of 33 ms each plus 450 ms of pauses.
    EXPECT_EQ(Cp949ToUtf8(rec->SummaryText()), "7개 항목이 기록됨 (0.681 초)");
}

TEST_F(RecorderTest, KeyMergeRules) {
    OpenRecording(RecKeys | RecMerge); // no pause items: gaps of any length merge
    fake.SetImeState(platform::ImeState::Open);
    KeyDown(0x41, 0x1E);
    fake.SetImeState(platform::ImeState::Closed);
    fake.AdvanceMs(5000);
    KeyUp(0x41, 0x1E); // the Hangul bit of the press stays
    KeyUp(0x41, 0x1E); // nothing left to merge into: a lone release
    KeyDown(0x41, 0x1E);
    KeyUp(0x41, 0x1F); // another scan code is another key
    KeyDown(0x10);
    KeyDown(0x41);
    KeyUp(0x10); // the last item is not the shift press
    EXPECT_THAT(items(), ElementsAre(Start(), Key(0x41, 0x13, 0x1E), Key(0x41, 2, 0x1E), Key(0x41, 1, 0x1E),
                                     Key(0x41, 2, 0x1F), Key(0x10, 1), Key(0x41, 1), Key(0x10, 2)));
    EXPECT_EQ(rec->lastEventTime(), 5000u); // without pause items it keeps the start of recording

    macro = Macro{};
    OpenRecording(RecKeys); // no merging
    KeyDown(0x41);
    KeyUp(0x41);
    EXPECT_THAT(items(), ElementsAre(Start(), Key(0x41, 1), Key(0x41, 2)));
}

TEST_F(RecorderTest, PauseAcrossClockWrapAndListUpdates) {
    fake.SetNowMs(0xFFFFFF00u);
    MacroRecorder& r = OpenRecording(RecKeys | RecPauses | RecMerge);
    auto list = r.TakeListUpdate(); // the dialog's first fill
    ASSERT_TRUE(list);
    EXPECT_EQ(list->keepLines, 0);
    EXPECT_EQ(list->newLines.size(), 1u);
    EXPECT_FALSE(r.TakeListUpdate());

    fake.AdvanceMs(0x200); // the clock wraps
    KeyDown(0x41);
    list = r.TakeListUpdate();
    EXPECT_EQ(list->keepLines, 1);
    EXPECT_EQ(list->newLines.size(), 2u);
    EXPECT_EQ(items()[1], Delay(0x200));

    KeyUp(0x41); // the merge drops the last line so it is written again
    list = r.TakeListUpdate();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->keepLines, 2);
    EXPECT_THAT(list->newLines, ElementsAre(ItemText(Key(0x41, 3), settings.macroOptions)));
}

// --- Mouse ---

TEST_F(RecorderTest, ButtonsAbsoluteNormalizedWithPosition) {
    OpenRecording(RecButtons | RecMerge | RecAbsolute | RecNormalized | RecButtonPosition);
    MouseAt(960, 540, LeftDown);
    MouseAt(960, 540, LeftUp);
    MouseAt(0, 1079, platform::RI_MOUSE_RIGHT_BUTTON_DOWN);
    const int32_t x = ToAbsolute(960, 1920), y = ToAbsolute(540, 1080);
    EXPECT_THAT(items(),
                ElementsAre(Start(), Mouse(x, y, 0x8207), Mouse(ToAbsolute(0, 1920), ToAbsolute(1079, 1080), 0x8209)));
    EXPECT_EQ(lastPos, (Point{ToAbsolute(0, 1920), ToAbsolute(1079, 1080)}));
}

TEST_F(RecorderTest, ButtonsRelativeWithPosition) {
    lastPos = {100, 100};
    OpenRecording(RecButtons | RecMerge | RecButtonPosition);
    MouseAt(150, 120, LeftDown);
    MouseAt(150, 120, LeftUp); // offset (0, 0): the press had (50, 20), so no merge
    MouseAt(150, 120, LeftDown);
    MouseAt(150, 120, LeftUp); // both (0, 0): merged
    EXPECT_THAT(items(), ElementsAre(Start(), Mouse(50, 20, 0x3), Mouse(0, 0, 0x5), Mouse(0, 0, 0x7)));
    EXPECT_EQ(lastPos, (Point{150, 120}));
}

TEST_F(RecorderTest, ButtonsWithoutPositionAndXButtons) {
    lastPos = {7, 7};
    OpenRecording(RecButtons | RecMerge | RecAbsolute);
    MouseAt(10, 20, LeftDown);
    MouseAt(11, 20, LeftUp); // another place: no merge
    MouseAt(10, 20, platform::RI_MOUSE_BUTTON_4_DOWN);
    MouseAt(10, 20, platform::RI_MOUSE_BUTTON_4_UP);
    MouseAt(10, 20, platform::RI_MOUSE_BUTTON_5_DOWN);
    MouseAt(10, 20, platform::RI_MOUSE_BUTTON_4_DOWN);
    MouseAt(10, 20, platform::RI_MOUSE_BUTTON_5_UP); // closes X2's press only, not the X1 press before it
    MouseAt(10, 20, platform::RI_MOUSE_MIDDLE_BUTTON_DOWN);
    MouseAt(10, 20, platform::RI_MOUSE_MIDDLE_BUTTON_UP);
    EXPECT_THAT(items(), ElementsAre(Start(), Mouse(10, 20, 0x2), Mouse(11, 20, 0x4), Mouse(10, 20, 0x10180),
                                     Mouse(10, 20, 0x20080), Mouse(10, 20, 0x10080), Mouse(10, 20, 0x20100),
                                     Mouse(10, 20, 0x60)));
    EXPECT_EQ(lastPos, (Point{7, 7})); // positions without the move flag do not count

    // Buttons are not recorded without their option; keys are not recorded by the mouse path.
    macro = Macro{};
    OpenRecording(RecKeys | RecAbsolute);
    MouseAt(10, 20, LeftDown);
    EXPECT_THAT(items(), ElementsAre(Start()));
}

TEST_F(RecorderTest, RelativeMovement) {
    lastPos = {100, 100}; // left by an earlier recording
    settings.recMouseDistance = 10;
    OpenRecording(RecMovement);
    MoveTo(106, 108); // exactly 10 pixels
    MoveTo(110, 110); // 4 from there: skipped
    MoveTo(115, 108); // 9.8 from (106, 108): still skipped, not measured from the skipped point
    MoveTo(116, 108); // 10
    MoveTo(116, 108); // 0
    EXPECT_THAT(items(), ElementsAre(Start(), Mouse(6, 8, 0x1), Mouse(10, 0, 0x1)));
    EXPECT_EQ(lastPos, (Point{116, 108}));
}

TEST_F(RecorderTest, AbsoluteMovementAgainstLastItem) {
    settings.recMouseDistance = 10;
    lastPos = {500, 500};
    OpenRecording(RecMovement | RecAbsolute | RecKeys);
    MoveTo(3, 4);   // no move item yet: always stored
    MoveTo(9, 12);  // exactly 10 from (3, 4)
    MoveTo(10, 12); // 1
    KeyDown(0x41);  // the last item is no move now
    MoveTo(10, 13);
    EXPECT_THAT(items(),
                ElementsAre(Start(), Mouse(3, 4, 0x8001), Mouse(9, 12, 0x8001), Key(0x41, 1), Mouse(10, 13, 0x8001)));
    EXPECT_EQ(lastPos, (Point{10, 13}));

    // Normalised: the last position is converted back to pixels for the distance.
    macro = Macro{};
    OpenRecording(RecMovement | RecAbsolute | RecNormalized);
    MoveTo(1919, 1079);
    MoveTo(1910, 1079); // 9 pixels
    MoveTo(1909, 1079); // 10 pixels from the stored one, after the round trip through absolute units
    const int32_t y = ToAbsolute(1079, 1080);
    EXPECT_THAT(items(), ElementsAre(Start(), Mouse(ToAbsolute(1919, 1920), y, 0x8201),
                                     Mouse(ToAbsolute(1909, 1920), y, 0x8201)));
}

TEST_F(RecorderTest, ButtonWithMovementGivesButtonThenMove) {
    settings.recMouseDistance = 0;
    OpenRecording(RecButtons | RecMovement | RecAbsolute | RecNormalized | RecButtonPosition);
    MouseAt(333, 444, LeftDown, true);
    const int32_t x = ToAbsolute(333, 1920), y = ToAbsolute(444, 1080);
    // Each item converted once from the pixel position: both at the same place.
    EXPECT_THAT(items(), ElementsAre(Start(), Mouse(x, y, 0x8203), Mouse(x, y, 0x8201)));

    // With the usual distance the move item right at the button item is not stored; relative mode measures the
    // move from the button's position.
    macro = Macro{};
    settings.recMouseDistance = 10;
    lastPos = {0, 0};
    OpenRecording(RecButtons | RecMovement | RecButtonPosition);
    MouseAt(30, 40, LeftDown, true);
    MouseAt(36, 48, LeftUp, true);
    EXPECT_THAT(items(), ElementsAre(Start(), Mouse(30, 40, 0x3), Mouse(6, 8, 0x5)));
}

TEST_F(RecorderTest, WheelTurns) {
    OpenRecording(RecWheel | RecMerge | RecAbsolute | RecNormalized | RecButtonPosition);
    MouseAt(5, 6, platform::RI_MOUSE_WHEEL, false, 120);
    MouseAt(5, 6, platform::RI_MOUSE_WHEEL, false, -240);
    MouseAt(5, 6, platform::RI_MOUSE_WHEEL, false, 0);
    MouseAt(5, 6, platform::RI_MOUSE_HWHEEL, false, 120); // the horizontal wheel is not recorded
    EXPECT_THAT(items(), ElementsAre(Start(), Mouse(5, 6, 0x800 | (120 << 16)),
                                     Mouse(5, 6, static_cast<int32_t>(0xFF100800u)), Mouse(5, 6, 0x800)));
    EXPECT_EQ(items()[2].mouseData(), -240);

    macro = Macro{};
    OpenRecording(RecButtons | RecMovement);
    MouseAt(5, 6, platform::RI_MOUSE_WHEEL, false, 120);
    EXPECT_THAT(items(), ElementsAre(Start()));
}

TEST_F(RecorderTest, MouseButtonAsRecordKey) {
    settings.keyMacroRecord = 4; // middle button
    Open(RecButtons | RecMerge | RecKeys);
    MouseAt(1, 2, LeftDown); // waiting: not recorded
    MouseAt(1, 2, platform::RI_MOUSE_MIDDLE_BUTTON_DOWN);
    MouseAt(1, 2, platform::RI_MOUSE_MIDDLE_BUTTON_UP);
    MouseAt(1, 2, platform::RI_MOUSE_MIDDLE_BUTTON_DOWN);
    MouseAt(1, 2, platform::RI_MOUSE_MIDDLE_BUTTON_UP);
    EXPECT_THAT(items(), ElementsAre(Start(), Mouse(1, 2, 0x60)));
    EXPECT_FALSE(rec->IsRecording());
}

TEST_F(RecorderTest, SummaryReportsCallCycle) {
    Macro loop = MakeNewMacro("Loop");
    loop.items.push_back(MakeCallItem("Loop", CallSequential));
    library.push_back(loop);
    MacroRecorder& r = Open(0xB7);
    macro.items.push_back(MakeCallItem("Loop", CallSequential));
    EXPECT_EQ(Cp949ToUtf8(r.SummaryText()), "1개 항목이 기록됨 (순환호출!)");
    macro.items.back() = Delay(123456789);
    EXPECT_EQ(Cp949ToUtf8(r.SummaryText()), "1개 항목이 기록됨 (순환호출!)");
    macro.items.back() = Delay(99999966); // 99,999,999 ms: 99999.999 s, six digits in %g
    EXPECT_EQ(Cp949ToUtf8(r.SummaryText()), "1개 항목이 기록됨 (100000 초)");
    macro.items.back() = Delay(1201);
    EXPECT_EQ(Cp949ToUtf8(r.SummaryText()), "1개 항목이 기록됨 (1.234 초)");
}

TEST_F(RecorderTest, TextsInEnglish) {
    const InEnglish english;
    MacroRecorder& r = Open(0);
    EXPECT_EQ(r.HelpText(), "Press the F11 key to start or stop recording.");
    EXPECT_EQ(r.RecordButtonCaption(), "Ready to record");
    EXPECT_EQ(r.SummaryText(), "Items: 0 (0 s)");
    r.ToggleRecording(true);
    EXPECT_EQ(r.RecordButtonCaption(), "Recording");
}

} // namespace
} // namespace quillet
