#include "engine/input_synth.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/fake/fake_platform.h"

namespace quillet {
namespace {

using platform::FakeEvent;
using platform::FakeIme;
using platform::FakePlatform;
using platform::ImeState;
using platform::VK_HANGUL;
using platform::VK_LSHIFT;

TEST(ToAbsolute, ConvertsPixelsToAbsoluteUnits) {
    EXPECT_EQ(ToAbsolute(0, 1920), -17);
    EXPECT_EQ(ToAbsolute(-1, 1920), -51);
    EXPECT_EQ(ToAbsolute(1919, 1920), 65518);
    EXPECT_EQ(ToAbsolute(100, 1920), 3430);
    EXPECT_EQ(ToAbsolute(-100, 1920), -3430);
    EXPECT_EQ(ToAbsolute(1079, 1080), 65505);
    // Degenerate screens and far-off coordinates give defined values.
    EXPECT_EQ(ToAbsolute(500, 0), 0);
    EXPECT_EQ(ToAbsolute(500, -1920), 0);
    EXPECT_EQ(ToAbsolute(std::numeric_limits<int32_t>::max(), 1), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(ToAbsolute(std::numeric_limits<int32_t>::min(), 1), std::numeric_limits<int32_t>::min());
}

class InputSynthTest : public ::testing::Test {
protected:
    explicit InputSynthTest(FakeIme ime = FakeIme::Closed) : p(ime), synth(p, p, p) {}
    FakePlatform p;
    InputSynth synth;
};

TEST_F(InputSynthTest, ConversionsReadTheScreenAtEveryCall) {
    EXPECT_EQ(synth.ToAbsoluteX(0), -17);
    p.SetPrimaryScreenSize(1024, 768);
    EXPECT_EQ(synth.ToAbsoluteX(0), -32);
    EXPECT_EQ(synth.ToAbsoluteY(767), 65493);
}

TEST_F(InputSynthTest, TypedKeyPatternIsExtendedOnBothEdges) {
    synth.TypeKey('A', false);
    synth.TypeKey('1', true);
    const std::vector<FakeEvent> expected = {
        FakeEvent::Key('A', 0x1E, 0x1), FakeEvent::Key('A', 0x1E, 0x3), FakeEvent::Key(VK_LSHIFT, 0x2A, 0x1),
        FakeEvent::Key('1', 0x02, 0x1), FakeEvent::Key('1', 0x02, 0x3), FakeEvent::Key(VK_LSHIFT, 0x2A, 0x3),
    };
    EXPECT_EQ(p.events(), expected);
}

TEST_F(InputSynthTest, ClosedInputMethodIsToggledOnceAndOnlyWhenNeeded) {
    p.SetScanCode(VK_HANGUL, 0xF2);
    synth.SetImeHangul(false);
    EXPECT_TRUE(p.events().empty());
    synth.SetImeHangul(true);
    const std::vector<FakeEvent> toggle = {FakeEvent::Key(VK_HANGUL, 0xF2, 0x1), FakeEvent::Sleep(33),
                                           FakeEvent::Key(VK_HANGUL, 0xF2, 0x3), FakeEvent::Sleep(33)};
    EXPECT_EQ(p.events(), toggle);
    EXPECT_EQ(p.OpenState(), ImeState::Open);
    synth.SetImeHangul(true);
    EXPECT_EQ(p.events().size(), 4u);
    synth.SetImeHangul(false);
    EXPECT_EQ(p.OpenState(), ImeState::Closed);
    EXPECT_EQ(p.hangulToggles(), 2);
    EXPECT_EQ(p.NowMs(), 4u * 33);
}

class InputSynthNoImeTest : public InputSynthTest {
protected:
    InputSynthNoImeTest() : InputSynthTest(FakeIme::None) {}
};

TEST_F(InputSynthNoImeTest, AnInputMethodThatCannotBeAskedIsNotToggledBlind) {
    int missing = 0;
    synth.onImeMissing = [&] { ++missing; };
    synth.SetImeHangul(false);
    EXPECT_EQ(missing, 0) << "English needs no input method";
    synth.SetImeHangul(true);
    synth.SetImeHangul(true);
    EXPECT_TRUE(p.events().empty());
    EXPECT_EQ(p.NowMs(), 0u) << "no pauses";
    EXPECT_EQ(missing, 1) << "said once";
}

TEST_F(InputSynthTest, SendsPassThroughUnchanged) {
    synth.SendKey(0x41, 0x99, 0x2);
    synth.SendMouse(platform::MOUSEEVENTF_WHEEL, 0, 0, -120);
    EXPECT_EQ(p.events()[0], FakeEvent::Key(0x41, 0x99, 0x2));
    EXPECT_EQ(p.events()[1], FakeEvent::Mouse(platform::MOUSEEVENTF_WHEEL, 0, 0, -120));
}

} // namespace
} // namespace quillet
