#include "platform/fake/fake_platform.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quillet::platform {
namespace {

TEST(FakePlatform, HangulKeyDownFlipsTheInputMethod) {
    FakePlatform p;
    EXPECT_EQ(p.OpenState(), ImeState::Closed);
    p.SendKeyEvent(VK_HANGUL, 0, KEYEVENTF_EXTENDEDKEY);
    EXPECT_EQ(p.OpenState(), ImeState::Open);
    p.SendKeyEvent(VK_HANGUL, 0, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP); // release changes nothing
    EXPECT_EQ(p.OpenState(), ImeState::Open);
    p.SendKeyEvent(VK_HANGUL, 0, 0);
    EXPECT_EQ(p.OpenState(), ImeState::Closed);
    EXPECT_EQ(p.hangulToggles(), 2);

    FakePlatform none(FakeIme::None);
    none.SendKeyEvent(VK_HANGUL, 0, 0);
    EXPECT_EQ(none.OpenState(), ImeState::None);
    EXPECT_EQ(none.hangulToggles(), 0);
    EXPECT_EQ(none.KeyEvents().size(), 1u);
}

TEST(FakePlatform, CursorFollowsAbsoluteAndRelativeMoves) {
    FakePlatform p;
    p.SetPrimaryScreenSize(1920, 1080);
    // Units as produced by the pixel-to-absolute conversion for 0, 100 and 1919 on 1920 pixels.
    p.SendMouseEvent(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, -17, -30, 0);
    EXPECT_EQ(p.cursor(), (ScreenPoint{0, 0}));
    p.SendMouseEvent(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 3430, 65505, 0);
    EXPECT_EQ(p.cursor(), (ScreenPoint{100, 1079}));
    p.SendMouseEvent(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 65518, 0, 0);
    EXPECT_EQ(p.cursor().x, 1919);
    p.SendMouseEvent(MOUSEEVENTF_MOVE, -20, 5, 0);
    EXPECT_EQ(p.cursor(), (ScreenPoint{1899, 5}));
    p.SendMouseEvent(MOUSEEVENTF_MOVE, 5000, -5000, 0); // stays on the screen
    EXPECT_EQ(p.cursor(), (ScreenPoint{1919, 0}));
    p.SendMouseEvent(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE, 0, 0, 0); // no MOVE: coordinates ignored
    EXPECT_EQ(p.cursor(), (ScreenPoint{1919, 0}));
    ASSERT_EQ(p.MouseEvents().size(), 6u);
    EXPECT_EQ(p.MouseEvents()[1], FakeEvent::Mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 3430, 65505, 0));
}

TEST(FakePlatform, CaptureClipsToTheScreenAndPixelIsInvalidOutside) {
    FakePlatform p;
    p.SetPrimaryScreenSize(4, 3);
    p.SetPixel(0, 0, 0x00332211);
    p.SetPixel(3, 2, 0x00FFFFFF);
    EXPECT_EQ(p.Pixel(0, 0), 0x00332211u);
    EXPECT_EQ(p.Pixel(1, 1), 0u);
    EXPECT_EQ(p.Pixel(4, 0), CLR_INVALID);
    EXPECT_EQ(p.Pixel(0, -1), CLR_INVALID);

    BgraImage img;
    ASSERT_TRUE(p.Capture({-1, -1, 2, 2}, img));
    ASSERT_EQ(img.width, 2);
    ASSERT_EQ(img.height, 2);
    const uint8_t black[4] = {0, 0, 0, 0xFF};
    const uint8_t inside[4] = {0x33, 0x22, 0x11, 0xFF}; // B, G, R, A
    EXPECT_EQ(0, std::memcmp(img.row(0), black, 4));
    EXPECT_EQ(0, std::memcmp(img.row(1), black, 4));
    EXPECT_EQ(0, std::memcmp(img.row(1) + 4, inside, 4));

    ASSERT_TRUE(p.Capture({3, 2, 2, 1}, img));
    EXPECT_EQ(img.pixels[0], 0xFF);
    EXPECT_EQ(img.pixels[4 + 2], 0); // right of the screen
    EXPECT_FALSE(p.Capture({10, 10, 2, 2}, img));
    EXPECT_FALSE(p.Capture({0, 0, 0, 2}, img));
}

TEST(FakePlatform, SleepAdvancesVirtualAndLocalTime) {
    FakePlatform p;
    p.SetNowMs(0xFFFFFFF0u);
    p.SetLocalTime(23, 59, 59);
    p.SetTick(7);
    p.Sleep(33);
    EXPECT_EQ(p.NowMs(), 0x11u); // wraps like timeGetTime
    EXPECT_EQ(p.events().back(), FakeEvent::Sleep(33, 7));
    p.AdvanceMs(967);
    const LocalTime t = p.LocalNow();
    EXPECT_EQ(t.hour, 0);
    EXPECT_EQ(t.minute, 0);
    EXPECT_EQ(t.second, 0);
}

TEST(FakePlatform, TimersFireByHandAndRawRecordsGoThroughThePoster) {
    FakePlatform p;
    int ticks = 0;
    auto timer = p.CreatePeriodicTimer();
    EXPECT_TRUE(timer->Start(33, 1, [&] { ++ticks; }));
    EXPECT_EQ(p.FireTimers(), 1);
    timer->Stop();
    EXPECT_EQ(p.FireTimers(), 0);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(p.timers()[0]->periodMs, 33u);
    timer.reset();
    EXPECT_TRUE(p.timers()[0]->destroyed);

    std::vector<std::function<void()>> posted;
    int delivered = 0;
    ASSERT_TRUE(p.Start([&](std::function<void()> f) { posted.push_back(std::move(f)); },
                        [&](const RawInputRecord&) { ++delivered; }));
    EXPECT_TRUE(p.PushRaw(RawInputRecord{}));
    EXPECT_EQ(delivered, 0);
    ASSERT_EQ(posted.size(), 1u);
    posted[0]();
    EXPECT_EQ(delivered, 1);
    p.Stop();
    EXPECT_FALSE(p.PushRaw(RawInputRecord{}));
}

TEST(FakePlatform, UsScanCodes) {
    FakePlatform p;
    EXPECT_EQ(p.ScanCodeOf('A'), 0x1E);
    EXPECT_EQ(p.ScanCodeOf('0'), 0x0B);
    EXPECT_EQ(p.ScanCodeOf(0x24), 0x47); // VK_HOME: the non-extended code
    EXPECT_EQ(p.ScanCodeOf(VK_LSHIFT), 0x2A);
    EXPECT_EQ(p.ScanCodeOf(0xA1), 0x36);
    EXPECT_EQ(p.ScanCodeOf(0xBF), 0x35);
    EXPECT_EQ(p.ScanCodeOf(VK_HANGUL), 0); // no Hangul key on a US keyboard
}

} // namespace
} // namespace quillet::platform
