#include "engine/typing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>

#include "model/cp949.h"
#include "platform/fake/fake_platform.h"

namespace quillet {
namespace {

using platform::FakeEvent;
using platform::FakeIme;
using platform::FakePlatform;
using platform::ImeState;
using platform::VK_HANGUL;
using platform::VK_LSHIFT;

// The layout tables as the keyboard charts give them: jamo, 2-set, 3-set 390, 3-set final. Rows are in the order
// of the Unicode syllable decomposition.
struct JamoRow {
    const char* jamo;
    const char* keys[3];
};
// clang-format off
const JamoRow kInitialRows[] = {
    {"ㄱ", {"R", "K", "K"}},   {"ㄲ", {"#R", "KK", "KK"}}, {"ㄴ", {"S", "H", "H"}},   {"ㄷ", {"E", "U", "U"}},
    {"ㄸ", {"#E", "UU", "UU"}}, {"ㄹ", {"F", "Y", "Y"}},    {"ㅁ", {"A", "I", "I"}},   {"ㅂ", {"Q", ";", ";"}},
    {"ㅃ", {"#Q", ";;", ";;"}}, {"ㅅ", {"T", "N", "N"}},    {"ㅆ", {"#T", "NN", "NN"}}, {"ㅇ", {"D", "J", "J"}},
    {"ㅈ", {"W", "L", "L"}},   {"ㅉ", {"#W", "LL", "LL"}}, {"ㅊ", {"C", "O", "O"}},   {"ㅋ", {"Z", "0", "0"}},
    {"ㅌ", {"X", "'", "'"}},   {"ㅍ", {"V", "P", "P"}},    {"ㅎ", {"G", "M", "M"}},
};
const JamoRow kVowelRows[] = {
    {"ㅏ", {"K", "F", "F"}},    {"ㅐ", {"O", "R", "R"}},    {"ㅑ", {"I", "6", "6"}},    {"ㅒ", {"#O", "#R", "#G"}},
    {"ㅓ", {"J", "T", "T"}},    {"ㅔ", {"P", "C", "C"}},    {"ㅕ", {"U", "E", "E"}},    {"ㅖ", {"#P", "7", "7"}},
    {"ㅗ", {"H", "V", "V"}},    {"ㅘ", {"HK", "VF", "VF"}}, {"ㅙ", {"HO", "VR", "VR"}}, {"ㅚ", {"HL", "VD", "VD"}},
    {"ㅛ", {"Y", "4", "4"}},    {"ㅜ", {"N", "B", "B"}},    {"ㅝ", {"NJ", "BT", "BT"}}, {"ㅞ", {"NP", "BC", "BC"}},
    {"ㅟ", {"NL", "BD", "BD"}}, {"ㅠ", {"B", "5", "5"}},    {"ㅡ", {"M", "G", "G"}},    {"ㅢ", {"ML", "8", "8"}},
    {"ㅣ", {"L", "D", "D"}},
};
const JamoRow kFinalRows[] = {
    {"ㄱ", {"R", "X", "X"}},     {"ㄲ", {"#R", "#F", "#1"}},   {"ㄳ", {"RT", "XQ", "XQ"}}, {"ㄴ", {"S", "S", "S"}},
    {"ㄵ", {"SW", "S#1", "S#3"}}, {"ㄶ", {"SG", "#S", "S1"}},   {"ㄷ", {"E", "#A", "#A"}},  {"ㄹ", {"F", "W", "W"}},
    {"ㄺ", {"FR", "#D", "#2"}},  {"ㄻ", {"FA", "#C", "#F"}},   {"ㄼ", {"FQ", "W3", "W3"}}, {"ㄽ", {"FT", "WQ", "WQ"}},
    {"ㄾ", {"FX", "W#W", "#5"}}, {"ㄿ", {"FV", "W#Q", "#4"}},  {"ㅀ", {"FG", "#V", "#R"}},  {"ㅁ", {"A", "Z", "Z"}},
    {"ㅂ", {"Q", "3", "3"}},     {"ㅄ", {"QT", "3Q", "3Q"}},   {"ㅅ", {"T", "Q", "Q"}},    {"ㅆ", {"#T", "2", "2"}},
    {"ㅇ", {"D", "A", "A"}},     {"ㅈ", {"W", "#1", "#3"}},    {"ㅊ", {"C", "#Z", "#Z"}},  {"ㅋ", {"Z", "E", "#C"}},
    {"ㅌ", {"X", "#W", "#W"}},   {"ㅍ", {"V", "#Q", "#Q"}},    {"ㅎ", {"G", "1", "1"}},
};
// clang-format on

std::string KeyName(uint8_t vk) {
    if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return std::string(1, static_cast<char>(vk));
    if (vk == 0xBA) return ";";
    if (vk == 0xDE) return "'";
    if (vk == 0xBF) return "/";
    char buf[8];
    std::snprintf(buf, sizeof buf, "<%02X>", vk);
    return buf;
}

// The typed keys in the layout-table notation ('#' before a shifted key, <XX> for keys without a short name).
// Every key must follow the typed key pattern with the right scan codes; a break in it shows as '!'.
std::string Typed(FakePlatform& p) {
    const std::vector<FakeEvent> ev = p.KeyEvents();
    std::string out;
    std::size_t i = 0;
    while (i < ev.size()) {
        const bool shift = ev[i].vk == VK_LSHIFT;
        if (shift && (ev[i].flags != 0x1 || ev[i].scan != 0x2A)) return out + "!";
        const std::size_t k = shift ? i + 1 : i;
        if (k + 1 >= ev.size()) return out + "!";
        const FakeEvent& down = ev[k];
        // Every typed key is extended, except the Enter of a line break, which is the main Enter key.
        const uint32_t flags = down.vk == platform::VK_RETURN ? 0x0 : 0x1;
        if (down.flags != flags || down.scan != p.ScanCodeOf(down.vk)) return out + "!";
        if (ev[k + 1] != FakeEvent::Key(down.vk, down.scan, flags | 0x2, ev[k + 1].tick)) return out + "!";
        if (shift && (k + 2 >= ev.size() || ev[k + 2] != FakeEvent::Key(VK_LSHIFT, 0x2A, 0x3, ev[k + 2].tick)))
            return out + "!";
        out += (shift ? "#" : "") + KeyName(down.vk);
        i = k + (shift ? 3 : 2);
    }
    return out;
}

class TypingTest : public ::testing::Test {
protected:
    explicit TypingTest(FakeIme ime = FakeIme::Closed) : p(ime), synth(p, p, p), typist(synth, random) {}

    // Runs a string item to its end, one step per tick (ticks count from 1); returns the number of steps.
    int RunString(const MacroItem& item, int layout = Hangul2Set) {
        int32_t progress = 0;
        for (int step = 1; step <= 1000; ++step) {
            p.SetTick(static_cast<uint64_t>(step));
            if (typist.StepString(item, progress, sequence, layout)) {
                EXPECT_EQ(progress, 0);
                return step;
            }
        }
        ADD_FAILURE() << "string never finished";
        return -1;
    }

    // Types one character given in UTF-8 with the input method already in Hangul, and returns the keys.
    std::string TypeSyllable(const std::string& utf8, int layout) {
        const std::string cp = Utf8ToCp949(utf8);
        EXPECT_EQ(cp.size(), 2u) << utf8;
        p.SetImeState(ImeState::Open);
        p.ClearEvents();
        typist.TypeHangulSyllable(static_cast<uint8_t>(cp[0]), static_cast<uint8_t>(cp[1]), layout);
        return Typed(p);
    }

    FakePlatform p;
    InputSynth synth;
    RandomSource random;
    Typist typist;
    int32_t sequence = 1000;
};

TEST_F(TypingTest, LowerCaseLettersTypeOnePerTickThenFinish) {
    EXPECT_EQ(RunString(MakeStringItem("ab")), 3);
    const std::vector<FakeEvent> expected = {FakeEvent::Key('A', 0x1E, 0x1, 1), FakeEvent::Key('A', 0x1E, 0x3, 1),
                                             FakeEvent::Key('B', 0x30, 0x1, 2), FakeEvent::Key('B', 0x30, 0x3, 2)};
    EXPECT_EQ(p.events(), expected);
}

TEST_F(TypingTest, UpperCaseIsShiftedAndEveryEventExtended) {
    EXPECT_EQ(RunString(MakeStringItem("A")), 2);
    const std::vector<FakeEvent> expected = {FakeEvent::Key(VK_LSHIFT, 0x2A, 0x1, 1), FakeEvent::Key('A', 0x1E, 0x1, 1),
                                             FakeEvent::Key('A', 0x1E, 0x3, 1),
                                             FakeEvent::Key(VK_LSHIFT, 0x2A, 0x3, 1)};
    EXPECT_EQ(p.events(), expected);
}

TEST_F(TypingTest, PunctuationAndDigitsTypeAsOnAUsKeyboard) {
    RunString(MakeStringItem("!\"#$%&'()*+,-./09:;<=>?@[\\]^_`{|}~ \t"));
    EXPECT_EQ(Typed(p), "#1#'#3#4#5#7'#9#0#8#<BB><BC><BD><BE>/09#;;#<BC><BB>#<BE>#/#2<DB><DC><DD>#6#<BD><C0>#<DB>#<"
                        "DC>#<DD>#<C0><20><09>");
}

TEST_F(TypingTest, PlaceholdersAreReplacedOnlyWithTheirFlag) {
    EXPECT_EQ(RunString(MakeStringItem("#*?$")), 5);
    EXPECT_EQ(Typed(p), "#3#8#/#4");
    EXPECT_EQ(sequence, 1000);

    p.ClearEvents();
    random.Seed(7);
    RandomSource same(7);
    const char upper = static_cast<char>('A' + same.Next() % 26);
    const char lower = static_cast<char>('A' + same.Next() % 26);
    const char digit = static_cast<char>('0' + same.Next() % 10);
    EXPECT_EQ(RunString(MakeStringItem("#*?", TextRandom)), 4);
    EXPECT_EQ(Typed(p), std::string("#") + upper + lower + digit);
}

TEST_F(TypingTest, SequenceNumberIsTypedWholeInOneTickAndAdvances) {
    EXPECT_EQ(RunString(MakeStringItem("$-$", TextSequence)), 4);
    EXPECT_EQ(Typed(p), "1000<BD>1001");
    EXPECT_EQ(sequence, 1002);
    EXPECT_EQ(p.KeyEvents().front().tick, 1u);
    EXPECT_EQ(p.KeyEvents().back().tick, 3u);

    p.ClearEvents();
    sequence = std::numeric_limits<int32_t>::max();
    RunString(MakeStringItem("$$", TextSequence));
    EXPECT_EQ(Typed(p), "2147483647<BD>2147483648");
    EXPECT_EQ(sequence, std::numeric_limits<int32_t>::min() + 1);
}

TEST_F(TypingTest, ControlBytesCarriageReturnAndLineFeed) {
    // CR and bytes below 7 type nothing but take a tick; the line feed of a line break types Enter.
    EXPECT_EQ(RunString(MakeStringItem(std::string("a\r\n\x01\x06\x07", 6))), 7);
    EXPECT_EQ(Typed(p), "A<0D><07>");
    // The main Enter key, not the keypad's: no extended flag.
    EXPECT_EQ(p.KeyEvents()[2], FakeEvent::Key(platform::VK_RETURN, 0x1C, 0x0, 3));
    EXPECT_EQ(p.KeyEvents()[3], FakeEvent::Key(platform::VK_RETURN, 0x1C, 0x2, 3));
}

TEST_F(TypingTest, EmptyTextAndCommentsFinishAtOnceWithoutTouchingTheInputMethod) {
    EXPECT_EQ(RunString(MakeStringItem("")), 1);
    EXPECT_EQ(RunString(MakeStringItem("a한", TextComment)), 1);
    EXPECT_TRUE(p.events().empty());
}

TEST_F(TypingTest, DamagedLengthNeverReadsPastTheText) {
    MacroItem longer = MakeStringItem("ab");
    longer.param[0] = 1000000;
    EXPECT_EQ(RunString(longer), 3);
    MacroItem shorter = MakeStringItem("ab");
    shorter.param[0] = 1;
    EXPECT_EQ(RunString(shorter), 2);
    MacroItem negative = MakeStringItem("ab");
    negative.param[0] = -5;
    EXPECT_EQ(RunString(negative), 1);
    EXPECT_EQ(Typed(p), "ABA");
    int32_t progress = -3; // a corrupt progress restarts rather than indexing before the text
    EXPECT_TRUE(typist.StepString(MakeStringItem("ab"), progress, sequence, Hangul2Set));
    EXPECT_EQ(progress, 0);
}

TEST_F(TypingTest, InputMethodSwitchesAtEachChangeOfScript) {
    RunString(MakeStringItem(Utf8ToCp949("a한국b")), Hangul2Set);
    const std::vector<FakeEvent> toHangul = {FakeEvent::Key(VK_HANGUL, 0, 0x1, 2), FakeEvent::Sleep(33, 2),
                                             FakeEvent::Key(VK_HANGUL, 0, 0x3, 2), FakeEvent::Sleep(33, 2)};
    ASSERT_GE(p.events().size(), 6u);
    EXPECT_EQ(std::vector<FakeEvent>(p.events().begin() + 2, p.events().begin() + 6), toHangul);
    EXPECT_EQ(p.hangulToggles(), 2);
    EXPECT_EQ(p.OpenState(), ImeState::Closed);
    EXPECT_EQ(p.NowMs(), 4u * 33);
}

TEST_F(TypingTest, SyllablesOfTheSpecExamples) {
    EXPECT_EQ(TypeSyllable("한", Hangul2Set), "GKS");
    EXPECT_EQ(TypeSyllable("한", Hangul3Set390), "MFS");
    EXPECT_EQ(TypeSyllable("값", Hangul3SetFinal), "KF3Q");
    EXPECT_EQ(TypeSyllable("똠", Hangul2Set), "#EHA") << "an extended syllable of the code page";
    EXPECT_EQ(TypeSyllable("뷁", Hangul3Set390), ";BC#D") << "an extended syllable of the code page";
}

// Every one of the 11,172 modern syllables, in every layout, types its initial, vowel and final as the charts say.
TEST_F(TypingTest, EverySyllableTypesItsJamoInEveryLayout) {
    for (int layout = 0; layout < 3; ++layout) {
        int mismatches = 0;
        for (int i = 0; i < 19; ++i)
            for (int v = 0; v < 21; ++v)
                for (int f = 0; f < 28; ++f) {
                    const unsigned s = 0xAC00 + static_cast<unsigned>((i * 21 + v) * 28 + f);
                    const std::string utf8 = {static_cast<char>(0xE0 | (s >> 12)),
                                              static_cast<char>(0x80 | ((s >> 6) & 0x3F)),
                                              static_cast<char>(0x80 | (s & 0x3F))};
                    const std::string want = std::string(kInitialRows[i].keys[layout]) + kVowelRows[v].keys[layout] +
                                             (f == 0 ? "" : kFinalRows[f - 1].keys[layout]);
                    const std::string got = TypeSyllable(utf8, layout);
                    if (got != want && ++mismatches <= 5)
                        ADD_FAILURE() << "layout " << layout << " " << utf8 << " (" << kInitialRows[i].jamo
                                      << kVowelRows[v].jamo << (f == 0 ? "" : kFinalRows[f - 1].jamo) << "): got "
                                      << got << ", want " << want;
                }
        EXPECT_EQ(mismatches, 0) << "layout " << layout;
    }
}

TEST_F(TypingTest, NonSyllablesTypeNothingAndLeaveTheInputMethod) {
    // A symbol, a Hanja, a lone jamo, a lead byte with the terminating NUL, a byte no character starts with.
    RunString(MakeStringItem(Utf8ToCp949("·漢ㄱ") + "\xFF\x41" + "\xB0"), Hangul2Set);
    EXPECT_TRUE(p.events().empty());
    EXPECT_EQ(p.OpenState(), ImeState::Closed);
}

TEST_F(TypingTest, UnknownLayoutSwitchesTheInputMethodButTypesNoKey) {
    EXPECT_EQ(RunString(MakeStringItem(Utf8ToCp949("한")), 3), 2);
    EXPECT_EQ(p.OpenState(), ImeState::Open);
    EXPECT_EQ(p.KeyEvents().size(), 2u); // the Hangul key press and release
}

TEST_F(TypingTest, KeySequenceShiftMarksOneKeyOnly) {
    typist.TypeKeySequence("#RR;'/#1");
    EXPECT_EQ(Typed(p), "#RR;'/#1");
    p.ClearEvents();
    typist.TypeNumber(-5);
    EXPECT_EQ(Typed(p), "<BD>5");
}

class TypingNoImeTest : public TypingTest {
protected:
    TypingNoImeTest() : TypingTest(FakeIme::None) {}
};

TEST_F(TypingNoImeTest, WithoutAnInputMethodSyllablesAreTypedAsTheirKeysWithoutPauses) {
    RunString(MakeStringItem(Utf8ToCp949("a한")), Hangul2Set);
    for (const FakeEvent& e : p.KeyEvents()) EXPECT_NE(e.vk, VK_HANGUL);
    EXPECT_EQ(Typed(p), "AGKS"); // the key names of a, then 한 on the 2-set layout: ㅎ ㅏ ㄴ
    EXPECT_EQ(p.NowMs(), 0u);
}

} // namespace
} // namespace quillet
