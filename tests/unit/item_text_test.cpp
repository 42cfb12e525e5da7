#include "model/item_text.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "in_english.h"
#include "model/cp949.h"
#include "model/text_fill.h"

namespace quillet {
namespace {

std::string K(std::string_view utf8) {
    return Utf8ToCp949(utf8);
}

std::string Text(const MacroItem& item, int32_t macroOptions = 0) {
    return ItemText(item, macroOptions);
}

MacroItem Item(int32_t type, int32_t p0, int32_t p1, int32_t p2) {
    MacroItem it;
    it.type = type;
    it.param = {p0, p1, p2};
    return it;
}

TEST(ItemText, StartExclusiveAndUnknownTypes) {
    EXPECT_EQ(Text(MacroItem{}), K("    (시작)"));
    EXPECT_EQ(Text(MakeExclusiveItem(true)), K("< 독점실행구간으로 들어감"));
    EXPECT_EQ(Text(MakeExclusiveItem(false)), K("> 독점실행구간으로부터 나옴"));
    EXPECT_EQ(Text(Item(ItemExclusive, 3, 0, 0)), K("< 독점실행구간으로 들어감")) << "only bit 0 counts";
    EXPECT_EQ(Text(Item(8, 1, 2, 3)), "");
    EXPECT_EQ(Text(Item(-1, 1, 2, 3)), "");
}

TEST(ItemText, KeyItems) {
    EXPECT_EQ(Text(MakeKeyItem(0x41, 3)), K("    키보드 A key  ")) << "press and release shows no word";
    EXPECT_EQ(Text(MakeKeyItem(0x41, ActionPress | ActionHangul), 1), K("    키보드 A key 누르기 [한글] "));
    EXPECT_EQ(Text(MakeKeyItem(0x41, ActionRelease), 1), K("    키보드 A key 떼기 [영어] "));
    EXPECT_EQ(Text(MakeKeyItem(0x41, ActionRelease | ActionHangul), 0), K("    키보드 A key 떼기 "));
    EXPECT_EQ(Text(MakeKeyItem(0x41, 0), 1), K("    키보드 A key "));
    EXPECT_EQ(Text(MakeKeyItem(0x41, ActionExtended), 0), K("    키보드 A key  "));
    EXPECT_EQ(Text(MakeKeyItem(0x71, ActionPress, 0x3C)), K("    키보드 F2 key 누르기 ")) << "scan code ignored";
    EXPECT_EQ(Text(MakeKeyItem(0x07, ActionPress)), K("    키보드 (Unknown) 누르기 "));
}

TEST(ItemText, MouseItems) {
    EXPECT_EQ(Text(MakeMouseItem(100, 200, 0x8203)), K("    마우스 절대위치(100, 200) *SI왼버튼_누르기 "));
    EXPECT_EQ(Text(MakeMouseItem(100, 200, 0x8001)), K("    마우스 절대위치(100, 200) "));
    EXPECT_EQ(Text(MakeMouseItem(-5, 7, 0x0001)), K("    마우스 상대위치(-5, 7) "));
    EXPECT_EQ(Text(MakeMouseItem(0, 0, static_cast<int32_t>(0xFF880800u))), K("    마우스 휠(-120) "));
    EXPECT_EQ(Text(MakeMouseItem(0, 0, 0x10180)), K("    마우스 X1버튼_클릭 "));
    EXPECT_EQ(Text(MakeMouseItem(0, 0, 0x20100)), K("    마우스 X2버튼_떼기 "));
    EXPECT_EQ(Text(MakeMouseItem(0, 0, 0x0180)), K("    마우스 ")) << "X button without a number";
    EXPECT_EQ(Text(MakeMouseItem(0, 0, 0x780980)), K("    마우스 휠(120) ")) << "wheel amount is no X number";
    EXPECT_EQ(Text(MakeMouseItem(0, 0, 0x10980)), K("    마우스 휠(1) X1버튼_클릭 "))
        << "bits 7..8 with a wheel amount of 1 still name X1";
    EXPECT_EQ(Text(MakeMouseItem(0, 0, 0x0004 | 0x0018 | 0x0020)),
              K("    마우스 왼버튼_떼기 오른버튼_클릭 중앙버튼_누르기 "));
    EXPECT_EQ(Text(MakeMouseItem(-32768, 65535, 0x0001 | 0x0040)),
              K("    마우스 상대위치(-32768, 65535) 중앙버튼_떼기 "));
    EXPECT_EQ(Text(MakeMouseItem(0, 0, 0)), K("    마우스 "));
}

TEST(ItemText, TimeDelays) {
    EXPECT_EQ(Text(MakeDelayItem(1500, DelayTime, 3)), K("    시간지연 1.500 초, 랜덤 지연 +- 30% 추가"));
    EXPECT_EQ(Text(MakeDelayItem(1500, DelayTime, 15)), K("    시간지연 1.500 초, 랜덤 지연 +- 100% 추가"));
    EXPECT_EQ(Text(MakeDelayItem(1, DelayTime, 0)), K("    시간지연 0.001 초"));
    EXPECT_EQ(Text(MakeDelayItem(0, DelayTime, -4)), K("    시간지연 0.000 초"));
    EXPECT_EQ(Text(MakeDelayItem(86400000, DelayTime)), K("    시간지연 86400.000 초"));
    EXPECT_EQ(Text(MakeDelayItem(-2500, DelayTime)), K("    시간지연 -2.500 초"));
    EXPECT_EQ(Text(MakeDelayItem(33, 0x0E)), K("    시간지연 0.033 초")) << "form bits alone leave a time delay";
}

TEST(ItemText, ClockWaits) {
    const int32_t v = 13 * 3600000 + 5 * 60000 + 9 * 1000 + 999;
    EXPECT_EQ(Text(MakeDelayItem(v, 0x07)), K("    지연시각 13시 5분 9초 까지"));
    EXPECT_EQ(Text(MakeDelayItem(v, 0x05)), K("    지연시각 --시 5분 9초 까지"));
    EXPECT_EQ(Text(MakeDelayItem(v, 0x03)), K("    지연시각 --시 --분 9초 까지"));
    EXPECT_EQ(Text(MakeDelayItem(v, 0x01)), K("    지연시각 --시 --분 --초 까지"));
    EXPECT_EQ(Text(MakeDelayItem(25 * 3600000, 0x07)), K("    지연시각 1시 0분 0초 까지")) << "hours wrap at 24";
}

TEST(ItemText, KeyWaits) {
    EXPECT_EQ(Text(MakeDelayItem(0x41, DelayKey)), K("    키입력대기 A key 누름"));
    EXPECT_EQ(Text(MakeDelayItem(0x41 | KeyRelease | KeyCtrl | KeyShift | KeyExactModifiers, DelayKey)),
              K("    키입력대기 A key 뗌, Ctrl , Shift "));
    EXPECT_EQ(Text(MakeDelayItem(0x72 | KeyCtrl | KeyAlt | KeyShift, DelayKey)), K("    키입력대기 F3 key 누름"))
        << "modifiers shown only when they must match";
    EXPECT_EQ(Text(MakeDelayItem(0x0B | KeyAlt | KeyExactModifiers, DelayKey)),
              K("    키입력대기 Mouse scroll down 누름, Alt "));
    EXPECT_EQ(Text(MakeDelayItem(0, DelayKey)), K("    키입력대기 (Unknown) 누름"));
}

TEST(ItemText, ColourWaitsAndOtherDelayKinds) {
    const int32_t value = static_cast<int32_t>(MakeColor(255, 0, 10) | (200u << 24));
    EXPECT_EQ(Text(MakeDelayItem(value, DelayColor, PackPoint(-5, 40))),
              K("    화면색대기(255, 0, 10) 허용(200) 위치(-5, 40) "));
    EXPECT_EQ(Text(MakeDelayItem(-1, DelayColor, PackPoint(32767, -32768))),
              K("    화면색대기(255, 255, 255) 허용(255) 위치(32767, -32768) "));
    EXPECT_EQ(Text(MakeDelayItem(1000, 0x40)), "");
    EXPECT_EQ(Text(MakeDelayItem(1000, 0x11)), "");
}

TEST(ItemText, StringItems) {
    EXPECT_EQ(Text(MakeStringItem("hello")), K("    문자열 'hello'"));
    EXPECT_EQ(Text(MakeStringItem("note", TextComment)), K("    # note"));
    EXPECT_EQ(Text(MakeStringItem("a\r\nb", TextRandom | TextSequence)), K("    문자열 'a\r\nb'"));
    const std::string hundred(100, 'x');
    EXPECT_EQ(Text(MakeStringItem(hundred)), K("    문자열 '") + std::string(64, 'x') + "'");
    EXPECT_EQ(Text(MakeStringItem(hundred, TextComment)), K("    # ") + std::string(64, 'x'));
    EXPECT_EQ(Text(MakeStringItem(std::string("ab\0cd", 5))), K("    문자열 'ab'")) << "stops at an embedded NUL";
    EXPECT_EQ(Text(MakeStringItem("")), K("    문자열 ''"));

    // A list row is one line: breaks and tabs show as marks there; the item text itself keeps them.
    EXPECT_EQ(ItemRowText(MakeStringItem("a\r\nb\rc\nd\te"), 0), K("    문자열 'a¶b¶c¶d→e'"));
    EXPECT_EQ(ItemRowText(MakeStringItem(K("안녕\r\n\r\n"), TextComment), 0), K("    # 안녕¶¶"));
    EXPECT_EQ(ItemRowText(MakeStringItem("plain"), 0), Text(MakeStringItem("plain")));
    EXPECT_EQ(ItemRowText(MakeKeyItem(0x41, 3), 0), Text(MakeKeyItem(0x41, 3)));
}

TEST(ItemText, ShownTextNeverEndsInHalfACharacter) {
    // 63 ASCII bytes, then a two-byte character whose second byte would be byte 65.
    const std::string text = std::string(63, 'a') + K("가나");
    EXPECT_EQ(Text(MakeStringItem(text)), K("    문자열 '") + std::string(63, 'a') + "'");
    // 62 ASCII bytes and one whole two-byte character fill the 64 bytes exactly.
    const std::string fits = std::string(62, 'a') + K("가나");
    EXPECT_EQ(Text(MakeStringItem(fits, TextComment)), K("    # ") + std::string(62, 'a') + K("가"));
    EXPECT_EQ(Text(MakeStringItem(K("한글 문장"))), K("    문자열 '한글 문장'"));
}

TEST(ItemText, CallItems) {
    EXPECT_EQ(Text(MakeCallItem("Other", CallSequential)), K("    매크로 순차 호출 'Other'"));
    EXPECT_EQ(Text(MakeCallItem("Other", CallParallel)), K("    매크로 병렬 호출 'Other'"));
    EXPECT_EQ(Text(MakeCallItem("Other", CallStop)), K("    매크로 실행 중단 'Other'"));
    EXPECT_EQ(Text(MakeCallItem("Other", 3)), "");
    EXPECT_EQ(Text(MakeCallItem("Other", 4 | CallParallel)), K("    매크로 병렬 호출 'Other'"));
    EXPECT_EQ(Text(MakeCallItem(std::string(200, 'n'), CallStop)),
              K("    매크로 실행 중단 '") + std::string(64, 'n') + "'");
}

TEST(ItemText, LoopItems) {
    EXPECT_EQ(Text(MakeLoopItem(LoopEnter, -2, 1, 10)), K("[   반복구간으로 들어감 (1 ~ 10 : -2)  "));
    EXPECT_EQ(Text(MakeLoopItem(LoopEnter | LoopAskUser, 32767, -5, 2147483647)),
              K("[   반복구간으로 들어감 (-5 ~ 2147483647 : 32767) *"));
    EXPECT_EQ(Text(MakeLoopItem(LoopEnter, 0xFFFF, 0, 0)), K("[   반복구간으로 들어감 (0 ~ 0 : -1)  "));
    EXPECT_EQ(Text(MakeLoopItem(LoopOutputKeys)), K("    반복 숫자를 키보드 이벤트로 출력"));
    EXPECT_EQ(Text(MakeLoopItem(LoopOutputX)), K("    반복 숫자를 마우스 X 위치로 출력"));
    EXPECT_EQ(Text(MakeLoopItem(LoopOutputY)), K("    반복 숫자를 마우스 Y 위치로 출력"));
    EXPECT_EQ(Text(MakeLoopItem(LoopLeave | LoopAskUser, 5, 2, 50)), K("]   반복구간에서 나옴"));
    for (int kind : {4, 5, 6}) EXPECT_EQ(Text(MakeLoopItem(kind)), "") << kind;
}

TEST(BoundedLineTest, CutsAt255BytesAndNeverInsideACharacter) {
    BoundedLine line;
    line.Append(std::string(250, 'a'));
    line.AppendInt(-12);
    EXPECT_EQ(line.str(), std::string(250, 'a') + "-12");
    line.Append("xyz");
    EXPECT_EQ(line.view().size(), 255u);
    EXPECT_EQ(line.str(), std::string(250, 'a') + "-12xy");
    line.Append("more");
    EXPECT_EQ(line.view().size(), 255u);

    BoundedLine korean;
    korean.Append(std::string(254, 'a'));
    korean.Append(K("가"));
    korean.Append("b");
    EXPECT_EQ(korean.str(), std::string(254, 'a')) << "a cut piece ends the line";

    BoundedLine fixed;
    fixed.AppendFixed3(0.0005);
    fixed.Append(" ");
    fixed.AppendFixed3(2147483.647);
    EXPECT_EQ(fixed.str(), "0.001 2147483.647");
}

TEST(ConditionSummaryTest, StartAndStopConditions) {
    EXPECT_EQ(ConditionSummary(0x10024, 0x71 | KeyCtrl | KeyExactModifiers, 0x72), K("시작: Ctrl F2키,중지: F3키,"));
    EXPECT_EQ(ConditionSummary(FlagStopKey | FlagStartImage, 0x71, 0x72), "");
    EXPECT_EQ(ConditionSummary(FlagStopColor | FlagColorOnChange | FlagImageOnChange | 0xFF0000, 0, 0), "");
    EXPECT_EQ(ConditionSummary(FlagStartColor | FlagStopColor, 0, 0), K("시작: 색,색,"));
    EXPECT_EQ(ConditionSummary(FlagAutoStart | FlagTimeWindow | (3 << StartTimeFormShift), 0, 0),
              K("시작: 자동,시간,"));
    EXPECT_EQ(ConditionSummary(FlagStartKey, 0x41 | KeyCtrl | KeyAlt | KeyShift | KeyRelease, 0), K("시작: A키,"))
        << "modifiers only with bit 20, release never shown";
    EXPECT_EQ(ConditionSummary(FlagStartKey | FlagStopKey, 0xA4 | KeyAlt | KeyShift | KeyExactModifiers,
                               0xF0 | KeyCtrl | KeyAlt | KeyShift | KeyExactModifiers),
              K("시작: Alt Shift LM키,중지: Ctrl Alt Shift (Unknown)키,"));
    EXPECT_EQ(ConditionSummary(0x7E, 0x0A, 0x0B), K("시작: 자동,MSU키,시간,색,중지: MSD키,색,"));
}

TEST(MacroTextTest, RunListLineAndClipboardExport) {
    Macro m = MakeNewMacro(K("매크로 1"));
    m.startKey = 0x71;
    m.stopKey = 0x72;
    EXPECT_EQ(RunListText(m), K("매크로 1 - 시작: F2키,중지: F3키,"));
    m.flags = FlagStopKey;
    EXPECT_EQ(RunListText(m), K("매크로 1"));

    m.items.push_back(MakeKeyItem(0x41, ActionPress | ActionHangul));
    m.items.push_back(MakeDelayItem(250, DelayTime));
    EXPECT_EQ(MacroText(m, 1), K("매크로 이름: 매크로 1\r\n\r\n    (시작)\r\n    키보드 A key 누르기 [한글] \r\n"
                                 "    시간지연 0.250 초\r\n"));
    Macro empty;
    EXPECT_EQ(MacroText(empty, 0), K("매크로 이름: \r\n\r\n"));
}

TEST(FillTextTest, PlaceholdersAreFilledOnceInTheirOwnOrder) {
    EXPECT_EQ(FillText("%2 then %1, %1 again", {"a", "b"}), "b then a, a again");
    // What an argument holds is copied, never read as a placeholder; lone '%' and unfilled numbers stay.
    EXPECT_EQ(FillText("'%1' %2", {"%2%1%", "x"}), "'%2%1%' x");
    EXPECT_EQ(FillText("100% %3 %0 %", {"a"}), "100% %3 %0 %");
    // CP949 text around a placeholder keeps its bytes.
    EXPECT_EQ(FillText(K("%1를 눌러"), {"F10 key"}), "F10 key" + K("를 눌러"));
}

bool IsAscii(char c) {
    return static_cast<unsigned char>(c) < 0x80;
}

// Every line an item can show, in English: the words a person expects, and plain ASCII (stored data aside).
TEST(ItemTextInEnglish, EveryItemTypeReadsAsEnglish) {
    const InEnglish english;
    const int32_t colour = static_cast<int32_t>(MakeColor(255, 0, 10) | (200u << 24));
    const int32_t clock = 13 * 3600000 + 5 * 60000 + 9 * 1000;
    const struct {
        MacroItem item;
        int32_t options;
        const char* text;
    } cases[] = {
        {MacroItem{}, 0, "    (Start)"},
        {MakeKeyItem(0x41, 3), 0, "    Press and release A key "},
        {MakeKeyItem(0x41, ActionPress | ActionHangul), 1, "    Press A key [Hangul] "},
        {MakeKeyItem(0x0D, ActionRelease), 1, "    Release ENTER key [English] "},
        {MakeKeyItem(0x41, 0), 1, "    Keyboard A key "},
        {MakeKeyItem(0x07, ActionExtended), 0, "    Keyboard (Unknown)  "},
        {MakeMouseItem(100, 200, 0x8203), 0, "    Mouse move to (100, 200) *SI left button down "},
        {MakeMouseItem(-5, 7, 0x0001 | 0x0040), 0, "    Mouse move by (-5, 7) middle button up "},
        {MakeMouseItem(0, 0, static_cast<int32_t>(0xFF880800u)), 0, "    Mouse wheel -120 "},
        {MakeMouseItem(0, 0, 0x0004 | 0x0018), 0, "    Mouse left button up right click "},
        {MakeMouseItem(0, 0, 0x10180), 0, "    Mouse X1 click "},
        {MakeMouseItem(0, 0, 0x20080), 0, "    Mouse X2 button down "},
        {MakeDelayItem(1500, DelayTime, 3), 0, "    Delay 1.500 s, random +/- 30%"},
        {MakeDelayItem(250, DelayTime), 0, "    Delay 0.250 s"},
        {MakeDelayItem(clock, 0x07), 0, "    Wait until 13h 5m 9s"},
        {MakeDelayItem(clock, 0x05), 0, "    Wait until --h 5m 9s"},
        {MakeDelayItem(clock, 0x03), 0, "    Wait until --h --m 9s"},
        {MakeDelayItem(clock, 0x01), 0, "    Wait until --h --m --s"},
        {MakeDelayItem(0x41, DelayKey), 0, "    Wait for A key press"},
        {MakeDelayItem(0x41 | KeyRelease | KeyCtrl | KeyExactModifiers, DelayKey), 0,
         "    Wait for A key release, Ctrl "},
        {MakeDelayItem(colour, DelayColor, PackPoint(-5, 40)), 0,
         "    Wait for color (255, 0, 10) tolerance 200 at (-5, 40) "},
        {MakeStringItem("50% off %1"), 0, "    Type '50% off %1'"},
        {MakeStringItem("note", TextComment), 0, "    # note"},
        {MakeCallItem("Other", CallSequential), 0, "    Call macro 'Other'"},
        {MakeCallItem("Other", CallParallel), 0, "    Call macro 'Other' in parallel"},
        {MakeCallItem("Other", CallStop), 0, "    Stop macro 'Other'"},
        {MakeExclusiveItem(true), 0, "< Enter exclusive section"},
        {MakeExclusiveItem(false), 0, "> Leave exclusive section"},
        {MakeLoopItem(LoopEnter, -2, 10, 1), 0, "[   Loop (10 to 1, step -2)  "},
        {MakeLoopItem(LoopEnter | LoopAskUser, 1, 1, 5), 0, "[   Loop (1 to 5, step 1) *"},
        {MakeLoopItem(LoopOutputKeys), 0, "    Type the loop counter"},
        {MakeLoopItem(LoopOutputX), 0, "    Loop counter to mouse X"},
        {MakeLoopItem(LoopOutputY), 0, "    Loop counter to mouse Y"},
        {MakeLoopItem(LoopLeave), 0, "]   End loop"},
    };
    for (const auto& c : cases) {
        const std::string text = Text(c.item, c.options);
        EXPECT_EQ(text, c.text);
        EXPECT_TRUE(std::all_of(text.begin(), text.end(), IsAscii)) << text;
    }
    // Stored text is never translated: a Korean name stays the CP949 bytes it is.
    EXPECT_EQ(Text(MakeCallItem(K("매크로 1"), CallSequential)), "    Call macro '" + K("매크로 1") + "'");
    EXPECT_EQ(ItemRowText(MakeStringItem("a\r\nb"), 0), "    Type 'a" + K("¶") + "b'");

    EXPECT_EQ(ConditionSummary(0x10024, 0x71 | KeyCtrl | KeyExactModifiers, 0x72),
              "Start: Ctrl F2 key, Stop: F3 key, ");
    EXPECT_EQ(ConditionSummary(0x7E, 0x0A, 0x0B), "Start: auto, MSU key, time, color, Stop: MSD key, color, ");
    EXPECT_EQ(ConditionSummary(FlagStopKey, 0x71, 0x72), "");
}

TEST(ItemTextInEnglish, ClipboardExportAndLanguageSwitches) {
    Macro m = MakeNewMacro(K("매크로 1"));
    m.items.push_back(MakeKeyItem(0x41, ActionPress | ActionHangul));
    m.items.push_back(MakeDelayItem(250, DelayTime));
    const std::string korean = MacroText(m, 1);
    {
        const InEnglish english;
        EXPECT_EQ(MacroText(m, 1), "Macro name: " + K("매크로 1") +
                                       "\r\n\r\n    (Start)\r\n    Press A key [Hangul] \r\n    Delay 0.250 s\r\n");
        m.flags = FlagStartKey;
        m.startKey = 0x71;
        EXPECT_EQ(RunListText(m), K("매크로 1") + " - Start: F2 key, ");
    }
    // The words made for one language are not kept for the other.
    EXPECT_EQ(MacroText(m, 1), korean);
    EXPECT_EQ(RunListText(m), K("매크로 1 - 시작: F2키,"));
}

} // namespace
} // namespace quillet
