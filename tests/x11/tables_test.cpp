// The backend's pure parts: key tables, coordinate conversion, the own-event filter and raw-record decoding.
#include "platform/platform.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <cmath>

#include "platform/x11/keysym_table.h"
#include "platform/x11/own_event_filter.h"
#include "platform/x11/raw_decoder.h"
#include "platform/x11/screen_layout.h"
#include "platform/x11/x11_platform.h"

namespace quillet::platform::x11 {
namespace {

TEST(KeysymTable, ExtendedFlagPicksTwinKeys) {
    EXPECT_EQ(KeysymForVk(0x0D, false), XK_Return);
    EXPECT_EQ(KeysymForVk(0x0D, true), XK_KP_Enter);
    EXPECT_EQ(KeysymForVk(0x11, false), XK_Control_L);
    EXPECT_EQ(KeysymForVk(0x11, true), XK_Control_R);
    EXPECT_EQ(KeysymForVk(0x12, true), XK_Alt_R);
    EXPECT_EQ(KeysymForVk(0xA3, false), XK_Control_R);
    EXPECT_EQ(KeysymForVk(0xA2, true), XK_Control_L);
    // Typed text sends every key extended; keys without a twin ignore the flag.
    EXPECT_EQ(KeysymForVk(0xA0, true), XK_Shift_L);
    EXPECT_EQ(KeysymForVk('A', true), XK_a);
    EXPECT_EQ(KeysymForVk(0xBA, true), XK_semicolon);
    // Navigation keys are the dedicated keys either way (the keypad ones would type digits under Num Lock).
    for (uint8_t vk : {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x2D, 0x2E}) {
        EXPECT_EQ(KeysymForVk(vk, false), KeysymForVk(vk, true)) << int(vk);
        EXPECT_FALSE(IsKeypadKeysym(KeysymForVk(vk, false))) << int(vk);
    }
    EXPECT_EQ(KeysymForVk(0x60, false), XK_KP_0);
    EXPECT_EQ(KeysymForVk(0x15, false), XK_Hangul);
    EXPECT_EQ(KeysymForVk(0x19, false), XK_Hangul_Hanja);
    EXPECT_EQ(KeysymForVk(0xAF, false), XF86XK_AudioRaiseVolume);
    EXPECT_EQ(KeysymForVk(0x01, false), 0u); // mouse buttons are no keys
    EXPECT_EQ(KeysymForVk(0xFF, false), 0u);
}

TEST(KeysymTable, ReverseLookupReportsWhatRawInputReports) {
    // Raw input names either Shift, Ctrl or Alt by the generic key.
    EXPECT_EQ(VkForKeysym(XK_Shift_R), 0x10);
    EXPECT_EQ(VkForKeysym(XK_Control_R), 0x11);
    EXPECT_EQ(VkForKeysym(XK_ISO_Level3_Shift), 0x12);
    EXPECT_EQ(VkForKeysym(XK_KP_Enter), 0x0D);
    EXPECT_EQ(VkForKeysym(XK_KP_Home), 0x24);
    EXPECT_EQ(VkForKeysym(XK_KP_7), 0x67);
    EXPECT_EQ(VkForKeysym(XK_Q), 'Q');
    EXPECT_EQ(VkForKeysym(XK_Print), 0x2C);
    EXPECT_EQ(VkForKeysym(XK_eacute), 0);
    EXPECT_EQ(SidedVkForKeysym(XK_Shift_R), 0xA1);
    EXPECT_EQ(SidedVkForKeysym(XK_Alt_L), 0xA4);
    EXPECT_EQ(SidedVkForKeysym(XK_a), 0);
    // Every key the table sends comes back as itself or as its generic modifier.
    for (int vk = 1; vk < 256; ++vk) {
        for (bool ext : {false, true}) {
            const uint32_t sym = KeysymForVk(static_cast<uint8_t>(vk), ext);
            if (sym == 0) continue;
            const uint8_t back = VkForKeysym(sym);
            const bool same = back == vk || (vk >= 0xA0 && vk <= 0xA5 && back == 0x10 + (vk - 0xA0) / 2) ||
                              (vk == 0x2A && back == 0x2C); // VK_PRINT and VK_SNAPSHOT share the Print key
            EXPECT_TRUE(same) << std::hex << vk << " ext " << ext << " came back as " << int(back);
        }
    }
}

TEST(KeysymTable, ScanCodesOfKeysBeyondTheBasicBlock) {
    const ScanCode kpEnter = ScanCodeForEvdev(96);
    EXPECT_EQ(kpEnter.make, 0x1C);
    EXPECT_TRUE(kpEnter.e0);
    EXPECT_FALSE(ScanCodeForEvdev(28).e0);       // the main Enter
    EXPECT_TRUE(ScanCodeForEvdev(119).e1);       // Pause
    EXPECT_EQ(ScanCodeForEvdev(122).make, 0x72); // Hangul
    EXPECT_EQ(ScanCodeForEvdev(0).make, 0);
    EXPECT_EQ(ScanCodeForEvdev(700).make, 0);
    EXPECT_EQ(VkForEvdevPosition(39), 0xBA); // ; on a US keyboard, whatever the layout puts there
}

// The engine's conversion of a pixel to absolute units.
int32_t ToAbsolute(int32_t v, int32_t extent) {
    const double a = v > 0 ? v + 0.5 : v - 0.5;
    return static_cast<int32_t>(a * 65536.0 / extent);
}

TEST(AbsoluteToPixel, InvertsTheEnginesConversion) {
    for (int32_t extent : {640, 1024, 1080, 1280, 1366, 1920, 2560, 3840, 7680}) {
        for (int32_t v = -2; v <= extent; ++v)
            ASSERT_EQ(AbsoluteToPixel(ToAbsolute(v, extent), extent), v) << "extent " << extent;
    }
    EXPECT_EQ(ToAbsolute(0, 1920), -17);
    EXPECT_EQ(AbsoluteToPixel(65535, 1920), 1919);
    EXPECT_EQ(AbsoluteToPixel(0x7FFFFFFF, 1920), int32_t(int64_t{0x7FFFFFFF} * 1920 / 65536));
}

TEST(ScreenLayout, ProgramCoordinatesStartAtThePrimaryMonitor) {
    ScreenLayout l;
    l.primary = {1920, 0, 1280, 1024};
    l.all = {0, 0, 3200, 1080};
    EXPECT_EQ(l.ToRootX(0), 1920);
    EXPECT_EQ(l.FromRootX(0), -1920);
    EXPECT_EQ(l.VirtualScreen(), (ScreenRect{-1920, 0, 3200, 1080}));
}

class OwnEventFilterTest : public ::testing::Test {
protected:
    OwnEventFilter f;
    OwnEventFilter::Time t0 = std::chrono::steady_clock::now();
};

TEST_F(OwnEventFilterTest, MatchesOurRequestsOnlyOnXtestDevices) {
    f.Expect(100, RawKind::KeyDown, 38, t0);
    f.Expect(101, RawKind::KeyUp, 38, t0);
    // A person's key with the same keycode in between is not ours, and does not use up our record.
    EXPECT_FALSE(f.Classify(100, RawKind::KeyDown, 38, false, t0));
    EXPECT_TRUE(f.Classify(100, RawKind::KeyDown, 38, true, t0));
    EXPECT_TRUE(f.Classify(101, RawKind::KeyUp, 38, true, t0));
    EXPECT_EQ(f.pending(), 0u);
}

TEST_F(OwnEventFilterTest, AnotherProgramsFakeInputIsNotOurs) {
    // The other program's press was processed before our request 50 (the event carries our last serial, 49).
    f.Expect(50, RawKind::ButtonDown, 1, t0);
    EXPECT_FALSE(f.Classify(49, RawKind::ButtonDown, 1, true, t0));
    EXPECT_TRUE(f.Classify(50, RawKind::ButtonDown, 1, true, t0));
    // After ours: no record left.
    EXPECT_FALSE(f.Classify(50, RawKind::ButtonDown, 1, true, t0));
    // Different detail or kind never matches.
    f.Expect(51, RawKind::ButtonDown, 1, t0);
    EXPECT_FALSE(f.Classify(51, RawKind::ButtonDown, 3, true, t0));
    EXPECT_FALSE(f.Classify(51, RawKind::ButtonUp, 1, true, t0));
}

TEST_F(OwnEventFilterTest, RequestsWithoutEventsExpire) {
    // A release of a key that is not down produces no event; a later event proves it will never come.
    f.Expect(10, RawKind::KeyUp, 40, t0);
    f.Expect(11, RawKind::Motion, 0, t0);
    EXPECT_TRUE(f.Classify(11, RawKind::Motion, 0, true, t0));
    EXPECT_EQ(f.pending(), 0u);
    EXPECT_FALSE(f.Classify(12, RawKind::KeyUp, 40, true, t0));
    // An idle connection: records are dropped by age.
    f.Expect(20, RawKind::KeyDown, 40, t0);
    EXPECT_FALSE(f.Classify(19, RawKind::KeyDown, 41, false, t0 + OwnEventFilter::kMaxAge + std::chrono::seconds(1)));
    EXPECT_EQ(f.pending(), 0u);
}

TEST_F(OwnEventFilterTest, UnmatchedPressOfAKeyWeHoldIsNotOurs) {
    // The server makes no raw events for auto-repeat: another press of our held key is another program's.
    f.Expect(5, RawKind::KeyDown, 50, t0);
    EXPECT_TRUE(f.Classify(5, RawKind::KeyDown, 50, true, t0));
    EXPECT_FALSE(f.Classify(9, RawKind::KeyDown, 50, true, t0));
    EXPECT_FALSE(f.Classify(9, RawKind::KeyUp, 50, true, t0));
}

TEST(RawRecords, KeyRecordsCarryScanCodeFlagsAndMessage) {
    const RawInputRecord a = KeyRecord('A', 30, true, false);
    EXPECT_EQ(a.device, RawInputRecord::Device::Keyboard);
    EXPECT_EQ(a.vkey, 'A');
    EXPECT_EQ(a.makeCode, 0x1E);
    EXPECT_EQ(a.keyFlags, 0);
    EXPECT_EQ(a.message, WM_KEYDOWN);
    const RawInputRecord up = KeyRecord(0x0D, 96, false, false);
    EXPECT_EQ(up.keyFlags, 1 | 2); // break, E0
    EXPECT_EQ(up.message, WM_KEYUP);
    EXPECT_EQ(KeyRecord(0x12, 56, true, true).message, WM_SYSKEYDOWN);
    EXPECT_EQ(KeyRecord(0x12, 56, false, true).message, WM_SYSKEYUP);
}

TEST(RawRecords, SmoothScrollingBecomesWholeNotches) {
    ScrollAccumulator acc;
    EXPECT_EQ(acc.Add(4, 16), 0);
    EXPECT_EQ(acc.Add(4, 16), 0);
    EXPECT_EQ(acc.Add(4, 16), 0);
    EXPECT_EQ(acc.Add(4, 16), 1);
    EXPECT_EQ(acc.Add(-48, 16), -3);
    EXPECT_EQ(acc.Add(8, 16), 0);
    EXPECT_EQ(acc.Add(-16, 16), 0); // -0.5 so far
    EXPECT_EQ(acc.Add(-8, 16), -1);
    EXPECT_EQ(acc.Add(1e300, 0), 0);
    EXPECT_EQ(acc.Add(NAN, 15), 0);
}

TEST(SessionProblem, WarnsInWaylandSessionsOnly) {
    EXPECT_EQ(DescribeSessionProblem(nullptr, nullptr), "");
    EXPECT_EQ(DescribeSessionProblem("", "x11"), "");
    EXPECT_NE(DescribeSessionProblem("wayland-0", nullptr).find("Wayland"), std::string::npos);
    EXPECT_NE(DescribeSessionProblem(nullptr, "wayland"), "");
}

} // namespace
} // namespace quillet::platform::x11
