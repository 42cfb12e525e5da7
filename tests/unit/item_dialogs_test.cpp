// The item dialogs' rules without widgets: opening on new and existing items, the OK arithmetic, the messages and
// what each dialog remembers for the next new item.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "../common/comma_locale.h"
#include "editing/item_dialogs.h"
#include "in_english.h"
#include "model/cp949.h"
#include "model/key_table.h"
#include "platform/fake/fake_platform.h"

namespace quillet {
namespace {

class ItemDialogsTest : public ::testing::Test {
protected:
    ItemDialogsTest() { settings.macroOptions = 0; }
    static std::string Utf8(const std::optional<std::string>& cp949) { return cp949 ? Cp949ToUtf8(*cp949) : "OK"; }

    CAppIni settings{"/nonexistent-quillet-dir/Quillet.ini", false};
    ItemDialogMemory memory;
};

TEST_F(ItemDialogsTest, KeyboardRemembersItsLastOkAndDropsRecordedScanCodes) {
    MacroItem first;
    KeyboardItemModel add(first, memory, settings);
    EXPECT_TRUE(add.isNew());
    EXPECT_EQ(Cp949ToUtf8(add.Caption()), "키보드 이벤트 추가");
    EXPECT_EQ(KeyCodeAt(add.keyIndex), 0x30);
    EXPECT_EQ(add.action, kActionClick);
    add.CaptureKey(0x41);
    add.action = kActionPress;
    add.Accept();
    EXPECT_EQ(first.keyCode(), 0x41);
    EXPECT_EQ(first.keyAction(), 1);

    MacroItem second;
    KeyboardItemModel again(second, memory, settings);
    EXPECT_EQ(KeyCodeAt(again.keyIndex), 0x41) << "the second add opens with the first one's key and action";
    EXPECT_EQ(again.action, kActionPress);
    // A pressed key the table lacks selects no row; OK then keeps the remembered key.
    for (int missing : {0xE2, 0x7C}) {
        ASSERT_LT(KeyIndexOf(missing), 0) << missing;
        again.CaptureKey(0x42);
        again.CaptureKey(missing);
        EXPECT_EQ(again.keyIndex, -1) << missing;
    }
    again.CaptureKey(0);
    EXPECT_EQ(again.keyIndex, -1) << "code 0 is no key";
    again.Accept();
    EXPECT_EQ(second.keyCode(), 0x41);

    // A recorded key with its scan code and the Hangul bit, the Hangul box disabled: OK keeps both, drops the scan.
    MacroItem recorded = MakeKeyItem(0x41, ActionPress | ActionRelease | ActionHangul, 0x1E);
    KeyboardItemModel edit(recorded, memory, settings);
    EXPECT_FALSE(edit.isNew());
    EXPECT_EQ(KeyCodeAt(edit.keyIndex), 0x41);
    EXPECT_FALSE(edit.hangulEnabled());
    EXPECT_TRUE(edit.hangul);
    edit.Accept();
    EXPECT_EQ(recorded.keyCode(), 0x41);
    EXPECT_EQ(recorded.keyAction(), 3 | ActionHangul);
}

TEST_F(ItemDialogsTest, MouseFlagsFromTheControls) {
    MacroItem item;
    MouseItemModel m(item, memory, settings);
    EXPECT_EQ(Cp949ToUtf8(m.Caption()), "마우스 이벤트 추가");
    EXPECT_TRUE(m.position);
    EXPECT_TRUE(m.absolute);
    // X2 pressed, absolute, no position, no wheel.
    m.position = false;
    m.button = MouseItemModel::X2;
    m.action = kActionPress;
    EXPECT_EQ(m.Accept(), std::nullopt);
    EXPECT_EQ(item.mouseFlags(), 0x80 | 0x8000 | 0x20000);

    // The wheel wins over an X button: -240 in the high half, no X bits.
    m.wheel = true;
    m.wheelAmount = "-240";
    m.button = MouseItemModel::X1;
    EXPECT_EQ(static_cast<uint32_t>(m.Flags()) >> 16, 0xFF10u);
    EXPECT_EQ(m.Flags() & 0x180, 0);

    // Nothing but the absolute and normalised bits: refused, the dialog stays.
    m.wheel = false;
    m.button = MouseItemModel::NoButton;
    m.normalized = true;
    EXPECT_EQ(Utf8(m.Accept()), "마우스의 아무런 기능도 선택되지 않았습니다.");
    // Unchecking "absolute" clears and disables "normalised".
    m.SetAbsolute(false);
    EXPECT_FALSE(m.normalized);
    EXPECT_FALSE(m.normalizedEnabled());
    EXPECT_EQ(Cp949ToUtf8(m.PositionCaption()), "상대위치:");

    // Opening decodes the button and action back.
    MacroItem right = MakeMouseItem(5, -6, MouseRightUp | MouseMove);
    MouseItemModel r(right, memory, settings);
    EXPECT_EQ(r.button, MouseItemModel::Right);
    EXPECT_EQ(r.action, kActionRelease);
    EXPECT_EQ(r.x, "5");
    EXPECT_EQ(r.y, "-6");
    EXPECT_EQ(r.Accept(), std::nullopt);
    EXPECT_EQ(right.mouseFlags(), MouseRightUp | MouseMove);
}

TEST_F(ItemDialogsTest, DelayKindsRoundTripThroughOpenAndOk) {
    struct Case {
        MacroItem item;
        DelayItemModel::Kind kind;
    };
    const Case cases[] = {
        {MakeDelayItem(1500, DelayTime, 3), DelayItemModel::Time},
        {MakeDelayItem((13 * 3600 + 4 * 60 + 9) * 1000, 0x07), DelayItemModel::Clock},
        {MakeDelayItem((4 * 60 + 9) * 1000, 0x05), DelayItemModel::Clock},
        {MakeDelayItem(9 * 1000, 0x03), DelayItemModel::Clock},
        {MakeDelayItem(0x41 | KeyRelease | KeyCtrl | KeyExactModifiers, DelayKey), DelayItemModel::Key},
        {MakeDelayItem(MakeColor(1, 2, 3) | (100 << 24), DelayColor, PackPoint(-7, 300)), DelayItemModel::Color},
    };
    // Opened and closed with OK, every item stays byte for byte as it was, under a comma locale too (where printf
    // would show 1.5 s as "1,500" and the field would read back as 1 s).
    const auto roundTrip = [&](const char* locale) {
        for (const Case& c : cases) {
            MacroItem item = c.item;
            DelayItemModel d(item, memory, settings);
            EXPECT_EQ(d.kind, c.kind);
            if (c.kind == DelayItemModel::Time) {
                EXPECT_EQ(d.seconds, "1.500") << locale;
            }
            EXPECT_EQ(d.Accept(), std::nullopt);
            EXPECT_EQ(item, c.item) << "kind " << c.kind << " under " << locale;
        }
    };
    roundTrip("C");
    {
        testing::CommaLocale comma;
        ASSERT_TRUE(comma.ok()) << "no " << testing::kCommaLocale << " locale: the round trip under it is unchecked";
        roundTrip(testing::kCommaLocale);
    }
    // A new item opens on what the last OK stored (the colour wait).
    MacroItem fresh;
    DelayItemModel next(fresh, memory, settings);
    EXPECT_EQ(next.kind, DelayItemModel::Color);
    EXPECT_EQ(next.posX, "-7");
    EXPECT_EQ(next.tolerance, "100");
}

TEST_F(ItemDialogsTest, DelayFieldsAreReadWithTheirLimits) {
    MacroItem item = MakeDelayItem(1000, DelayTime);
    DelayItemModel d(item, memory, settings);
    EXPECT_EQ(d.seconds, "1.000");
    EXPECT_EQ(KeyCodeAt(d.keyIndex), 0x31) << "the other groups show their defaults";
    EXPECT_EQ(d.red, "255");
    EXPECT_EQ(d.tolerance, "10");
    for (const auto& [text, ms] : std::vector<std::pair<std::string, int32_t>>{
             {"1.5", 1500}, {"0.0005", 0}, {"86401", 86400000}, {"abc", 0}, {"-3", 0}, {"1e400", 86400000},
             {"1e-400", 0}, {"-1e400", 0}, {"inf", 86400000}, {"-inf", 0}, {"nan", 0}, {"1,25", 1250}}) {
        d.seconds = text;
        d.Accept();
        EXPECT_EQ(item.delayValue(), ms) << text;
    }
    d.kind = DelayItemModel::Clock;
    d.hour = 14;
    d.minute = 0;
    d.second = 10;
    d.Accept();
    EXPECT_EQ(item.delayKind(), 0x03) << "an hour without minutes is dropped";
    EXPECT_EQ(item.delayValue(), 9000);
    d.second = 0;
    EXPECT_EQ(Utf8(d.Accept()), "지연 시각이 제대로 설정되지 않았습니다.");

    // A tolerance above 127 reopens as 127; a capture fills colour and position from the screen.
    MacroItem colour = MakeDelayItem(MakeColor(9, 9, 9) | (200 << 24), DelayColor);
    DelayItemModel c(colour, memory, settings);
    EXPECT_EQ(c.tolerance, "127");
    platform::FakePlatform fake;
    fake.SetCursor(12, 34);
    fake.SetPixel(12, 34, MakeColor(10, 20, 30));
    settings.keyMacroColorStart = 0x79;
    EXPECT_FALSE(c.Capture(0x79, false, fake, fake)) << "releases are ignored";
    EXPECT_TRUE(c.Capture(0x79, true, fake, fake));
    EXPECT_EQ(c.red + "," + c.green + "," + c.blue + " @" + c.posX + "," + c.posY, "10,20,30 @12,34");
    c.red = "300";
    c.Accept();
    EXPECT_EQ(colour.delayValue() & 0xFF, 255);
    EXPECT_EQ(static_cast<uint32_t>(colour.delayValue()) >> 24, 127u);
}

TEST_F(ItemDialogsTest, TextCallSectionAndLoopChecks) {
    MacroItem text;
    StringItemModel s(text, memory);
    EXPECT_EQ(Utf8(s.Accept()), "문자열이 비어 있습니다.");
    s.text = "\n";
    s.comment = true;
    s.random = true;
    EXPECT_FALSE(s.optionsEnabled());
    EXPECT_EQ(s.Accept(), std::nullopt);
    EXPECT_EQ(text.text(), "\r\n");
    EXPECT_EQ(text.textLength(), 2);
    EXPECT_EQ(text.textFlags(), TextComment | TextRandom) << "a disabled box still counts";

    MacroLibrary library = {MakeNewMacro("a"), MakeNewMacro("b"), MakeNewMacro("c"), MakeNewMacro("d")};
    MacroItem call = MakeCallItem("d", CallParallel);
    CallItemModel own(call, memory, library, 3);
    EXPECT_EQ(own.selection, 3);
    EXPECT_EQ(own.mode, CallParallel);
    EXPECT_EQ(Utf8(own.Accept()), "자기 자신을 호출할 수 없습니다.");
    CallItemModel adding(call, memory, library, 4);
    EXPECT_EQ(adding.Accept(), std::nullopt) << "a macro being added matches no entry";
    MacroItem renamed = MakeCallItem("gone", CallStop);
    CallItemModel missing(renamed, memory, library, 0);
    EXPECT_EQ(missing.selection, -1);
    EXPECT_EQ(Utf8(missing.Accept()), "호출할 매크로가 선택되지 않았습니다.");
    MacroItem newCall;
    CallItemModel next(newCall, memory, library, 0);
    EXPECT_EQ(newCall.calledName(), "d") << "the last macro chosen";

    MacroItem section;
    ExclusiveItemModel x(section, memory);
    EXPECT_TRUE(x.enter);
    x.enter = false;
    x.Accept();
    MacroItem section2;
    ExclusiveItemModel x2(section2, memory);
    EXPECT_FALSE(x2.enter);

    MacroItem loop;
    LoopItemModel l(loop, memory);
    l.start = "50";
    l.stop = "20";
    l.step = "5";
    EXPECT_EQ(Utf8(l.Accept()), "반복구간의 간격이 0보다 작아야 합니다.");
    l.start = "5";
    l.stop = "50";
    l.step = "65536";
    EXPECT_EQ(Utf8(l.Accept()), "반복구간의 간격이 0보다 커야 합니다.") << "65536 is cut to 0";
    l.stop = "5";
    EXPECT_EQ(l.Accept(), std::nullopt);
    l.step = "65535";
    l.kind = LoopLeave;
    EXPECT_EQ(l.Accept(), std::nullopt);
    EXPECT_EQ(loop.loopStep(), -1);
    MacroItem asked = MakeLoopItem(LoopEnter | LoopAskUser, 1, 0, 3);
    LoopItemModel a(asked, memory);
    EXPECT_TRUE(a.askUser);
    a.Accept();
    EXPECT_EQ(asked.loopKind(), LoopEnter) << "the ask-the-user bit is cleared";
}

// Captions say add or edit by the item given; the capture hints name the key from the settings.
TEST_F(ItemDialogsTest, CaptionsHintsAndMessagesInEnglish) {
    const InEnglish english;
    settings.keyMousePosCapture = 0x79;
    settings.keyMacroColorStart = 0x78;
    MacroItem newKey, oldKey = MakeKeyItem(0x41, 3);
    EXPECT_EQ(KeyboardItemModel(newKey, memory, settings).Caption(), "Add Key Event");
    EXPECT_EQ(KeyboardItemModel(oldKey, memory, settings).Caption(), "Edit Key Event");

    MacroItem mouseItem = MakeMouseItem(1, 2, MouseMove);
    MouseItemModel mouse(mouseItem, memory, settings);
    EXPECT_EQ(mouse.Caption(), "Edit Mouse Event");
    EXPECT_EQ(mouse.CaptureHint(), "Press the F10 key to capture the cursor position.");
    EXPECT_EQ(mouse.PositionCaption(), "Relative:");
    mouse.SetAbsolute(true);
    EXPECT_EQ(mouse.PositionCaption(), "Absolute:");
    mouse.position = false;
    EXPECT_EQ(Utf8(mouse.Accept()), "No mouse action is selected.");

    MacroItem delayItem;
    DelayItemModel delay(delayItem, memory, settings);
    EXPECT_EQ(delay.Caption(), "Add Wait/Delay");
    EXPECT_EQ(delay.CaptureHint(), "Press the F9 key to capture the screen color and the mouse position.");
    delay.onPress = false;
    EXPECT_EQ(delay.PressCaption(), "On release");

    MacroItem textItem;
    StringItemModel text(textItem, memory);
    EXPECT_EQ(text.Caption(), "Add Text");
    text.text.clear();
    EXPECT_EQ(Utf8(text.Accept()), "The text is empty.");

    const MacroLibrary library = {MakeNewMacro("a")};
    MacroItem callItem = MakeCallItem("a", CallSequential);
    CallItemModel call(callItem, memory, library, 0);
    EXPECT_EQ(call.Caption(), "Edit Macro Call");
    EXPECT_EQ(Utf8(call.Accept()), "A macro cannot call itself.");

    MacroItem exclusiveItem, loopItem;
    EXPECT_EQ(ExclusiveItemModel(exclusiveItem, memory).Caption(), "Add Exclusive Section");
    EXPECT_EQ(LoopItemModel(loopItem, memory).Caption(), "Add Loop");
}

} // namespace
} // namespace quillet
